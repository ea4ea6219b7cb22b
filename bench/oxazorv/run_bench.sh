#!/usr/bin/env bash
# The oxazorv benchmark: N concurrent real-time recognitions in the host's server side against
# the Google speech emulator (its final results clocked), then the latency from the emulator
# handing a final result to gRPC to the host receiving RECOGNITION-COMPLETE.
# Usage: bench/oxazorv/run_bench.sh BUILD_DIR [STREAMS [ROUNDS]]   (BUILD_DIR configured with
# -DOXA_BENCH=ON; targets oxazorv_bench, oxazorv, demo_data, oxa_emulator_google_protos)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
build=$(cd "${1:?usage: run_bench.sh BUILD_DIR [STREAMS [ROUNDS]]}" && pwd)
streams=${2:-100}
rounds=${3:-3}

work=$(mktemp -d)
pid=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/root/conf" "$work/root/data"
echo '{}' >"$work/root/data/service-account.json"

# The detector ends the input; the service answers the half-close with the final result.
cat >"$work/script.json" <<JSON
{"default": {"steps": [{"on": "half_close", "final": {"transcript": "x", "confidence": 0.9}}]}}
JSON
mkfifo "$work/port"
exec 3<>"$work/port"
OXA_EMULATORS_DIR=$top/emulators OXA_BENCH_FINALS=$work/finals OXA_PROTO_PYTHON=$build/emulators/python \
  PYTHONPATH=$top/emulators /usr/bin/python3 "$here/timed_emulator.py" --port 0 --port-file "$work/port" \
  --script "$work/script.json" >"$work/emulator.out" 2>"$work/emulator.log" &
pid=$!
read -r -t 30 -u 3 port && [ "$port" != FAIL ] || { cat "$work/emulator.log"; exit 1; }
exec 3<&-

cat >"$work/root/conf/oxazorv.xml" <<XML
<oxazorv gapp-credentials-file="service-account.json">
  <streaming-recognition service-uri="127.0.0.1:$port" secure-transport="false" start-of-input="internal"/>
  <speech-dtmf-input-detector speech-start-timeout="150" speech-complete-timeout="400" noinput-timeout="5000"/>
</oxazorv>
XML

"$build/bin/oxazorv_bench" "$work/root" "$build/lib/oxazorv.so" "$build/demo/data/one.wav" "$streams" "$rounds" \
  "$work/completions" 2>"$work/bench.log" || { tail -20 "$work/bench.log"; exit 1; }

/usr/bin/python3 - "$work/finals" "$work/completions" <<'PY'
import sys
marks = {"final": {}, "end": {}}
for line in open(sys.argv[1]):
    kind, stream, when = line.split()
    marks[kind][stream] = float(when)
done = [line.split() for line in open(sys.argv[2])]
for kind, what in (("final", "final result sent"), ("end", "stream status sent")):
    lat = sorted((float(t) - marks[kind][s]) * 1000 for s, t in done if s in marks[kind])
    if not lat:
        sys.exit("no completion matched the emulator's clock")
    pick = lambda q: lat[min(len(lat) - 1, int(q * len(lat)))]
    print(f"{what} to RECOGNITION-COMPLETE, {len(lat)} recognitions: "
          f"p50 {pick(0.5):.2f} ms, p99 {pick(0.99):.2f} ms, max {lat[-1]:.2f} ms")
PY
