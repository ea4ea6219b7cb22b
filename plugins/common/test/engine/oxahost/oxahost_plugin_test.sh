#!/usr/bin/env bash
# One plugin through oxahost: documents it cannot use fail the engine open with its message;
# channel usage reaches the log and the status files; every request and an idle CLOSE are answered.
# Usage: oxahost_plugin_test.sh OXAHOST PLUGIN_LIBRARY PLUGIN_NAME
set -euo pipefail
oxahost=$1
plugin=$2
name=$3
here=$(cd "$(dirname "$0")" && pwd)

# A usable document's root attributes and required elements, beyond what the test needs.
attrs= required=
case $name in
  oxazorv) failure="Failed to Load OXA ZORV Config" word=ZORV tag=zorv kind=recog
    # A credentials file must exist; with insecure transport nothing is read from it.
    attrs=' gapp-credentials-file="google-credentials.json"'
    required='<streaming-recognition secure-transport="false"/>' ;;
  oxavesk) failure="Failed to Load OXA Vesk Config" word=Vesk tag=vesk kind=recog ;;
  oxalumo) failure="Failed to Load OXA Lumo Config" word=Lumo tag=lumo kind=synth ;;
  *) echo "unknown plugin $name"; exit 2 ;;
esac

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/conf" "$root/data"
echo '{}' >"$root/data/google-credentials.json"
conf=$root/conf/$name.xml
checks=0

fail() {
  echo "FAILED: $*"
  echo "--- oxahost output"; cat "$root/out"
  echo "--- log"; cat "$root/log"
  exit 1
}
pass() { checks=$((checks + 1)); }
run() { "$oxahost" -l DEBUG -m 6 -r "$root" "$plugin" "$1" >"$root/out" 2>"$root/log"; }

# Documents that fail the open: missing, malformed, root name in other letter case.
upper=$(echo "$name" | tr '[:lower:]' '[:upper:]')
for doc in missing malformed root-case; do
  rm -f "$conf"
  case $doc in
    malformed) printf '<%s><monitoring-agent></%s>' "$name" "$name" >"$conf" ;;
    root-case) printf '<%s/>' "$upper" >"$conf" ;;
  esac
  run "$here/engine_open_fails.oxa" || fail "$doc document: oxahost did not see the open fail"
  grep -qF "$failure" "$root/log" || fail "$doc document: no '$failure' in the log"
  pass
done

# A usable document: mixed-case names, a bad boolean, relative and absolute status files.
cat >"$conf" <<XML
<?xml version="1.0"?>
<$name$attrs>
  $required
  <Monitoring-Agent refresh-period="1">
    <Usage-Change-Handler>
      <Log-Usage enable="true" priority="NOTICE"/>
      <update-usage enable="true" status-file="usage.txt"/>
      <dump-channels enable="true" status-file="$root/channels.txt"/>
    </Usage-Change-Handler>
    <usage-refresh-handler>
      <log-usage enable="TRUE"/>
    </usage-refresh-handler>
  </Monitoring-Agent>
</$name>
XML
run "$here/channels_$kind.oxa" || fail "channel session"
pass

grep -qF "Unexpected Value <TRUE> for Boolean Attribute <enable>" "$root/log" || fail "no bad boolean warning"
grep -qF "Set Usage Refresh Timer" "$root/log" && fail "refresh timer started though its handler does nothing"
pass

for id in 5e1f00c1 5e1f00c2; do
  grep -qF "Open <$id@$tag>" "$root/log" || fail "no open line of $id"
  grep -qF "Close <$id@$tag>" "$root/log" || fail "no close line of $id"
done
pass

usage=$(grep -o "$word Usage: [0-9/]*" "$root/log" | sed "s/^$word Usage: //" | tr '\n' ' ')
expected="0/0/6 0/0/6 1/1/6 2/2/6 1/2/6 0/2/6 0/2/6 "
[ "$usage" = "$expected" ] || fail "usage lines '$usage', expected '$expected'"
pass

printf 'in-use channels: 0\nmax used channels: 2\ntotal channels: 6\n' | cmp -s - "$root/var/status/usage.txt" ||
  fail "usage file: $(cat "$root/var/status/usage.txt")"
[ -f "$root/channels.txt" ] && [ ! -s "$root/channels.txt" ] || fail "channel dump file not empty or missing"
pass

echo "$name through oxahost: $checks passed, 0 failed"
