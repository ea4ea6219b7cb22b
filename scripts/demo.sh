#!/usr/bin/env bash
# The recognition demo: installs and builds what it needs (scripts/setup.sh), then runs
# demo/run-demo.sh: voxprobe recognizes spoken audio through the oxazorv plugin and the Google
# speech emulator with local recognition, printing the NLSML results.
# Usage: scripts/demo.sh
# BUILD_DIR (environment) chooses the build directory (default: build).
# VOXPROBE_LOG_PRIO (environment): voxprobe's log priority, 0-7 (default 4, warnings and errors).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}

OXA_TARGETS="voxprobe oxazorv demo_data oxa_emulator_google_protos" "$top/scripts/setup.sh" "$build"
exec "$top/demo/run-demo.sh" "$build" "$build/demo"
