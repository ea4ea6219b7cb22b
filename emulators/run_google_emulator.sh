#!/usr/bin/env bash
# Starts and stops the Google speech emulator for tests written in any language.
#
#   run_google_emulator.sh start STATE_DIR [emulator options...]
#       starts it in the background on a free loopback port and returns once it
#       listens; STATE_DIR/port holds the port, STATE_DIR/pid the process id,
#       STATE_DIR/stdout.log its "PORT"/"RECORD" lines, STATE_DIR/stderr.log its log.
#   run_google_emulator.sh stop STATE_DIR
#       stops it and waits until it has exited.
#   run_google_emulator.sh run [emulator options...]
#       runs it in the foreground (first stdout line "PORT <n>").
#
# The generated protocol code is taken from $OXA_PROTO_PYTHON, else from
# $OXA_BUILD_DIR/emulators/python, else from <repo>/build/emulators/python.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${OXA_BUILD_DIR:-$(dirname "$here")/build}
export OXA_PROTO_PYTHON=${OXA_PROTO_PYTHON:-$build/emulators/python}
export PYTHONPATH=$here${PYTHONPATH:+:$PYTHONPATH}
export PYTHONDONTWRITEBYTECODE=1
python=/usr/bin/python3

usage() {
  sed -n '2,16p' "$0" >&2
  exit 2
}

[ $# -ge 1 ] || usage
cmd=$1
shift
case $cmd in
  run)
    exec "$python" -m google_speech "$@"
    ;;
  start)
    [ $# -ge 1 ] || usage
    state=$1
    shift
    mkdir -p "$state"
    rm -f "$state/port" "$state/pid" "$state/ready"
    mkfifo "$state/ready"
    # Opened read-write so that neither side blocks in open(); read -t bounds the wait.
    exec 3<>"$state/ready"
    setsid "$python" -m google_speech --port 0 --port-file "$state/ready" "$@" \
      >"$state/stdout.log" 2>"$state/stderr.log" </dev/null &
    pid=$!
    echo "$pid" >"$state/pid"
    # The emulator writes its port, or FAIL when it cannot start.
    if ! read -r -t 30 -u 3 port || [ "$port" = FAIL ]; then
      exec 3<&-
      rm -f "$state/ready"
      kill "$pid" 2>/dev/null || true
      echo "google emulator did not start:" >&2
      cat "$state/stderr.log" >&2
      exit 1
    fi
    exec 3<&-
    rm -f "$state/ready"
    echo "$port" >"$state/port"
    echo "$port"
    ;;
  stop)
    [ $# -ge 1 ] || usage
    state=$1
    [ -f "$state/pid" ] || exit 0
    pid=$(cat "$state/pid")
    if kill "$pid" 2>/dev/null; then
      # Not our child here, so `wait` cannot be used; a zombie counts as gone.
      alive() { [ -e "/proc/$pid" ] && ! grep -qs '^State:[[:space:]]*Z' "/proc/$pid/status"; }
      for _ in $(seq 200); do
        alive || break
        sleep 0.05
      done
      if alive; then kill -9 "$pid" 2>/dev/null || true; fi
    fi
    rm -f "$state/pid"
    ;;
  *)
    usage
    ;;
esac
