#!/usr/bin/env bash
# The recognition demo: installs and builds what it needs (scripts/setup.sh), starts the Google
# speech emulator with local recognition (pocketsphinx) on a free loopback port, points the
# oxazorv plugin at it, and runs voxprobe twice: the default run (grammar.xml, one-8kHz.pcm,
# profile kel2) and a run with the speech-context document yesno.xml on yes.wav. Each prints the
# NLSML result of the recognizer; the script then checks that the words spoken were recognized.
#
# Usage: scripts/demo.sh
# BUILD_DIR (environment) chooses the build directory (default: build).
# VOXPROBE_LOG_PRIO (environment): voxprobe's log priority, 0-7 (default 4, warnings and errors).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
log_prio=${VOXPROBE_LOG_PRIO:-4}

OXA_TARGETS="voxprobe oxazorv demo_data oxa_emulator_google_protos" "$top/scripts/setup.sh" "$build"

root=$build/demo
if [ ! -f "$build/lib/oxazorv.so" ]; then
  echo "demo: $build/lib/oxazorv.so was not built" >&2
  exit 1
fi

state=$(mktemp -d)
cleanup() {
  OXA_BUILD_DIR=$build "$top/emulators/run_google_emulator.sh" stop "$state" || true
  rm -rf "$state"
}
trap cleanup EXIT

port=$(OXA_BUILD_DIR=$build "$top/emulators/run_google_emulator.sh" start "$state" --local-recognition)
echo "demo: Google speech emulator (local recognition) on 127.0.0.1:$port"
sed "s/@PORT@/$port/" "$top/demo/conf/oxazorv.xml.in" >"$root/conf/oxazorv.xml"

status=0
# run: the command line for voxprobe, then a word the result must hold.
run() {
  local command=$1 expected=$2 output
  echo
  echo "demo: voxprobe> $command"
  # exit waits for the run in progress; every wait of the client has a time limit.
  output=$(printf '%s\nexit\n' "$command" | "$build/bin/voxprobe" -r "$root" -l "$log_prio")
  # The prompts are not part of the result.
  output=${output//>Recog Result/Recog Result}
  output=${output#>}
  printf '%s\n' "$output"
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
