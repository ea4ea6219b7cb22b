#!/usr/bin/env bash
# Fetches Google's published API protocol definitions (npm package google-proto-files,
# pinned below) into <build-dir>/protos/google-proto-files/. The tree is a build
# product and is never committed.
# Usage: scripts/fetch-protos.sh <build-dir>
# Idempotent: does nothing when the pinned version is already unpacked there.
set -euo pipefail

version=4.2.0
# sha256 of google-proto-files-4.2.0.tgz as served by the npm registry.
sha256=01ad3f6f6391886326fe80221e9f0b5ad64ebe0708e61c2c2cd4c5e7343fbfee

if [ $# -ne 1 ]; then
  echo "usage: $0 <build-dir>" >&2
  exit 2
fi
mkdir -p "$1"
dest=$(cd "$1" && pwd)/protos/google-proto-files
stamp=$dest/.version

# Several build steps may call this at once: one fetch at a time per build tree.
mkdir -p "$(dirname "$dest")"
exec 9>"$(dirname "$dest")/.fetch.lock"
flock 9

if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$version" ]; then
  exit 0
fi

if ! command -v npm >/dev/null 2>&1; then
  echo "fetch-protos: npm is needed to fetch google-proto-files $version" >&2
  exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/oxa-protos.XXXXXX")
trap 'rm -rf "$work"' EXIT

# npm keeps its own cache, so a second build tree does not download again.
(cd "$work" && npm pack --silent --prefer-offline "google-proto-files@$version" >/dev/null)
tarball=$work/google-proto-files-$version.tgz
if [ ! -f "$tarball" ]; then
  echo "fetch-protos: npm pack gave no $tarball" >&2
  exit 1
fi
echo "$sha256  $tarball" | sha256sum --check --quiet - || {
  echo "fetch-protos: checksum mismatch for google-proto-files $version" >&2
  exit 1
}

# Unpack beside the destination and swap it in whole, so an interrupted run
# never leaves a half tree that looks complete.
staging=$dest.new
rm -rf "$staging"
mkdir -p "$staging"
tar -xzf "$tarball" -C "$staging" --strip-components=1 --wildcards 'package/google/*.proto'
for f in google/cloud/speech/v1/cloud_speech.proto google/cloud/speech/v1p1beta1/cloud_speech.proto \
         google/rpc/status.proto google/longrunning/operations.proto google/api/annotations.proto; do
  if [ ! -f "$staging/$f" ]; then
    echo "fetch-protos: google-proto-files $version lacks $f" >&2
    exit 1
  fi
done
echo "$version" >"$staging/.version"
rm -rf "$dest"
mv "$staging" "$dest"
echo "fetch-protos: google-proto-files $version in $dest"
