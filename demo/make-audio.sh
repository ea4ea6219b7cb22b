#!/usr/bin/env bash
# Speaks the demo utterances with espeak-ng and converts them with sox:
# one-8kHz.pcm and yes.pcm (headerless 16-bit mono), one.wav, yes.wav, speak_to_representative.wav.
# Usage: demo/make-audio.sh OUTDIR
set -euo pipefail
out=${1:?usage: make-audio.sh OUTDIR}
mkdir -p "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

speak() { # text name
  espeak-ng -v en-us -s 140 -w "$tmp/$2.raw.wav" "$1"
  # Half a second of silence around the words, as a caller's line would have.
  sox "$tmp/$2.raw.wav" "$tmp/$2.padded.wav" pad 0.5 0.8
}

speak "one" one
speak "yes" yes
speak "speak to a representative" rep

sox "$tmp/one.padded.wav" -r 8000 -c 1 -b 16 -e signed-integer -t raw "$out/one-8kHz.pcm"
sox "$tmp/one.padded.wav" -r 8000 -c 1 -b 16 -e signed-integer "$out/one.wav"
sox "$tmp/yes.padded.wav" -r 8000 -c 1 -b 16 -e signed-integer "$out/yes.wav"
sox "$tmp/yes.padded.wav" -r 8000 -c 1 -b 16 -e signed-integer -t raw "$out/yes.pcm"
sox "$tmp/rep.padded.wav" -r 8000 -c 1 -b 16 -e signed-integer "$out/speak_to_representative.wav"
sox "$tmp/one.padded.wav" -r 16000 -c 1 -b 16 -e signed-integer "$out/one-16kHz.wav"
