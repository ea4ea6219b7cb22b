#!/usr/bin/env bash
# Runs the recognition demo on a built tree: starts the Google speech emulator with local
# recognition (pocketsphinx) on a free loopback port, writes the oxazorv document naming it under
# ROOT/conf, and runs voxprobe twice: the default run (grammar.xml, one-8kHz.pcm, profile kel2)
# and the speech-context document yesno.xml on yes.wav. Prints each NLSML result and fails when
# the words spoken were not recognized.
# Usage: demo/run-demo.sh BUILD_DIR ROOT     (ROOT: a demo root with conf/ and data/, e.g. BUILD_DIR/demo)
# VOXPROBE_LOG_PRIO (environment): voxprobe's log priority, 0-7 (default 4, warnings and errors).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$here")
build=${1:?usage: run-demo.sh BUILD_DIR ROOT}
root=${2:?usage: run-demo.sh BUILD_DIR ROOT}
log_prio=${VOXPROBE_LOG_PRIO:-4}

for needed in "$build/bin/voxprobe" "$build/lib/oxazorv.so" "$root/data/one-8kHz.pcm"; do
  if [ ! -e "$needed" ]; then
    echo "demo: $needed is missing (build the targets voxprobe, oxazorv and demo_data)" >&2
    exit 1
  fi
done
mkdir -p "$root/conf"

state=$(mktemp -d)
cleanup() {
  OXA_BUILD_DIR=$build "$top/emulators/run_google_emulator.sh" stop "$state" || true
  rm -rf "$state"
}
trap cleanup EXIT
port=$(OXA_BUILD_DIR=$build "$top/emulators/run_google_emulator.sh" start "$state" --local-recognition)
echo "demo: Google speech emulator (local recognition) on 127.0.0.1:$port"
sed "s/@PORT@/$port/" "$here/conf/oxazorv.xml.in" >"$root/conf/oxazorv.xml"

status=0
# run COMMAND WORD: one voxprobe command; the result must hold WORD as the spoken input.
run() {
  local command=$1 expected=$2 output
  echo
  echo "demo: voxprobe> $command"
  # exit waits for the run in progress; every wait of the client has a time limit.
  output=$(printf '%s\nexit\n' "$command" | "$build/bin/voxprobe" -r "$root" -l "$log_prio")
  output=$(sed 's/^>*//' <<<"$output")  # the prompts
  printf '%s\n' "${output:-(no result)}"
  if grep -qi "<input mode=\"speech\"[^>]*>$expected</input>" <<<"$output"; then
    echo "demo: recognized \"$expected\""
  else
    echo "demo: FAILED: \"$expected\" was not recognized" >&2
    status=1
  fi
}

run "run" "one"
run "run yesno.xml yes.wav" "yes"
exit $status
