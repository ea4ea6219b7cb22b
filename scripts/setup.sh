#!/usr/bin/env bash
# Installs every Debian package the project needs, then configures and builds.
# Usage: scripts/setup.sh [build-dir] [extra cmake args...]
# OXA_TARGETS (environment) limits the build to the named targets.
# Idempotent: packages already present are not fetched again.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
shift || true

mapfile -t pkgs < <(grep -v '^\s*#' "$top/scripts/packages.txt" | sed '/^\s*$/d')
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Node's npm fetches the pinned speech protocol definitions at build time.
if ! command -v npm >/dev/null 2>&1; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends nodejs npm >/dev/null
fi

"$top/scripts/fetch-protos.sh" "$build"
export CCACHE_DIR=${CCACHE_DIR:-/var/cache/oxa-ccache}
mkdir -p "$CCACHE_DIR"
cmake -S "$top" -B "$build" -G Ninja "$@" >/dev/null
cmake --build "$build" -j "$(nproc)" ${OXA_TARGETS:+--target $OXA_TARGETS}
