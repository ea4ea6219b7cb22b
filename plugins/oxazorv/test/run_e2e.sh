#!/usr/bin/env bash
# One end-to-end case of oxazorv: the plugin driven by oxahost against a Google speech emulator of
# its own on a free loopback port.
#
#   run_e2e.sh OXAHOST PLUGIN BUILD_DIR CASE_DIR
#
# CASE_DIR holds:
#   session.oxa     the oxahost session script (required); it sees ${DATA_DIR} (demo audio and
#                   grammars), ${ROOT}, ${REC_DIR}, ${PORT} and ${CASE_DIR}
#   emulator.json   the emulator's script (optional)
#   setup.sh        run first (optional), with ROOT and TOP (the source tree) in the environment
#   emulator.args   further emulator options, one line (optional), e.g. --blackhole; @ROOT@
#                   becomes the plugin's root directory
#   oxazorv.xml     the plugin's document (optional; default: ../oxazorv.xml.in); @PORT@ becomes
#                   the emulator's port
#   check.sh        run after oxahost passed (optional), with ROOT, REC_DIR, OUT (oxahost's
#                   output), LOG (the log), CASE_DIR and PY (a Python with the emulator's modules)
#                   in the environment; a non-zero exit fails the case
# Every wait is bounded: oxahost's by its script, the emulator's start by run_google_emulator.sh.
set -euo pipefail
oxahost=${1:?usage: run_e2e.sh OXAHOST PLUGIN BUILD_DIR CASE_DIR}
plugin=${2:?}
build=${3:?}
case_dir=$(cd "${4:?}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../../.." && pwd)
name=$(basename "$case_dir")

work=$(mktemp -d)
state=$work/emulator
root=$work/root
rec=$work/records
export OXA_BUILD_DIR=$build
cleanup() {
  "$top/emulators/run_google_emulator.sh" stop "$state" >/dev/null 2>&1 || true
  if [ "${KEEP_E2E:-}" = 1 ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
mkdir -p "$root/conf" "$root/data" "$rec"

fail() {
  echo "FAILED ($name): $*"
  echo "--- oxahost output"; cat "$work/out" 2>/dev/null || true
  echo "--- log (last 150 lines)"; tail -n 150 "$work/log" 2>/dev/null || true
  echo "--- emulator log"; cat "$state/stderr.log" 2>/dev/null || true
  exit 1
}

if [ -f "$case_dir/setup.sh" ]; then
  ROOT=$root TOP=$top bash "$case_dir/setup.sh" >"$work/setup.log" 2>&1 || fail "setup.sh: $(cat "$work/setup.log")"
fi

emulator_args=(--record-dir "$rec")
[ -f "$case_dir/emulator.json" ] && emulator_args+=(--script "$case_dir/emulator.json")
if [ -f "$case_dir/emulator.args" ]; then
  read -r -a extra < <(sed "s|@ROOT@|$root|g" "$case_dir/emulator.args")
  emulator_args+=("${extra[@]}")
fi
port=$("$top/emulators/run_google_emulator.sh" start "$state" "${emulator_args[@]}") || fail "emulator did not start"

# A placeholder: with insecure transport no token is made from it, but the file must be there.
echo '{}' >"$root/data/service-account.json"
cp "$build/demo/data/"* "$root/data/"
conf=$case_dir/oxazorv.xml
[ -f "$conf" ] || conf=$here/oxazorv.xml.in
sed "s/@PORT@/$port/g" "$conf" >"$root/conf/oxazorv.xml"

"$oxahost" -l DEBUG -t 10s -r "$root" \
  -D DATA_DIR="$root/data" -D ROOT="$root" -D REC_DIR="$rec" -D PORT="$port" -D CASE_DIR="$case_dir" \
  "$plugin" "$case_dir/session.oxa" >"$work/out" 2>"$work/log" || fail "oxahost session"

# Stopped first: the records of streams the plugin cancelled are then on disk.
"$top/emulators/run_google_emulator.sh" stop "$state" >/dev/null 2>&1 || true
if [ -f "$case_dir/check.sh" ]; then
  export PYTHONPATH=$here${PYTHONPATH:+:$PYTHONPATH}
  ROOT=$root REC_DIR=$rec OUT=$work/out LOG=$work/log CASE_DIR=$case_dir PY=/usr/bin/python3 \
    bash "$case_dir/check.sh" || fail "check.sh"
fi
echo "oxazorv e2e $name: passed"
