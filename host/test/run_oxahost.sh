#!/bin/sh
# Runs oxahost and checks its exit status and that its output holds a pattern.
# Usage: run_oxahost.sh STATUS PATTERN OXAHOST [ARGS...]
expected=$1
pattern=$2
shift 2
output=$("$@" 2>&1)
status=$?
printf '%s\n' "$output"
if [ "$status" -ne "$expected" ]; then
  echo "run_oxahost: exit status $status, expected $expected" >&2
  exit 1
fi
if ! printf '%s\n' "$output" | grep -Eq -- "$pattern"; then
  echo "run_oxahost: output lacks /$pattern/" >&2
  exit 1
fi
