#!/usr/bin/env bash
# Runs every test: the normal build, then the same suite under ASan+UBSan,
# then the threaded units under ThreadSanitizer. Ends with ctest's summary.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
export CCACHE_DIR=${CCACHE_DIR:-/var/cache/oxa-ccache}

"$top/scripts/setup.sh" "$top/build"
OXA_TARGETS=oxa_tsan_tests "$top/scripts/setup.sh" "$top/build-tsan" -DOXA_TSAN=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
"$top/scripts/setup.sh" "$top/build-asan" -DOXA_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

status=0
echo "== tests (RelWithDebInfo) =="
ctest --test-dir "$top/build" -j "$jobs" --output-on-failure || status=1
echo "== threaded units (ThreadSanitizer) =="
ctest --test-dir "$top/build-tsan" -j "$jobs" -L tsan --output-on-failure || status=1
echo "== tests (ASan+UBSan) =="
ctest --test-dir "$top/build-asan" -j "$jobs" --output-on-failure || status=1
exit $status
