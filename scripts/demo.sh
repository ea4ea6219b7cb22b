#!/usr/bin/env bash
# Builds oxahost and the host's test plugin (via scripts/setup.sh) and runs a session script
# through oxahost, printing the MRCP exchange.
# Usage: scripts/demo.sh [plugin [script]]   (default: the test plugin and host/test/scripts/demo.oxa)
# BUILD_DIR (environment) chooses the build directory (default: build).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}

OXA_TARGETS="oxahost hosttestplugin" "$top/scripts/setup.sh" "$build"

plugin=${1:-$build/lib/libhosttestplugin.so}
script=${2:-$top/host/test/scripts/demo.oxa}
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

echo "demo: $(basename "$plugin") running $(basename "$script")"
DATA_DIR=$top/host/test/data OUT_DIR=$root "$build/bin/oxahost" -l WARNING -r "$root" "$plugin" "$script"
