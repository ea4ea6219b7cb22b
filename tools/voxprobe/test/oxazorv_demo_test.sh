#!/usr/bin/env bash
# The demo as a test: voxprobe through oxazorv and the Google speech emulator, in a root of its
# own (the build's demo data, a fresh conf/) so a running demo is left alone.
# Usage: oxazorv_demo_test.sh BUILD_DIR
set -euo pipefail
top=$(cd "$(dirname "$0")/../../.." && pwd)
build=${1:?usage: oxazorv_demo_test.sh BUILD_DIR}
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/conf"
ln -s "$build/demo/data" "$root/data"
"$top/demo/run-demo.sh" "$build" "$root"
