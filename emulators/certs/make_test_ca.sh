#!/usr/bin/env bash
# Makes a throw-away test CA and a server certificate it signed, for the emulators'
# TLS mode, plus a service-account credentials file with a fresh key (clients that
# sign their own tokens need one; nothing checks it).
# Usage: emulators/certs/make_test_ca.sh OUTDIR [server-name]
# Writes OUTDIR/ca.pem (trusted root for clients), ca.key, server.pem, server.key,
# service-account.json. The certificate names server-name (default localhost),
# 127.0.0.1 and ::1.
set -euo pipefail
if [ $# -lt 1 ]; then
  echo "usage: $0 OUTDIR [server-name]" >&2
  exit 2
fi
out=$1
name=${2:-localhost}
mkdir -p "$out"
cd "$out"

openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
  -keyout ca.key -out ca.pem -days 2 -subj "/CN=oxa test CA" \
  -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null

openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
  -keyout server.key -out server.csr -subj "/CN=$name" 2>/dev/null
cat >server.ext <<EXT
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature,keyEncipherment
extendedKeyUsage=serverAuth
subjectAltName=DNS:$name,IP:127.0.0.1,IP:::1
EXT
openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial \
  -out server.pem -days 2 -extfile server.ext 2>/dev/null
rm -f server.csr server.ext ca.srl

openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out sa.key 2>/dev/null
key=$(awk '{printf "%s\\n", $0}' sa.key)
cat >service-account.json <<JSON
{
  "type": "service_account",
  "project_id": "oxa-test",
  "private_key_id": "0123456789abcdef0123456789abcdef01234567",
  "private_key": "$key",
  "client_email": "oxa-test@oxa-test.iam.gserviceaccount.com",
  "client_id": "100000000000000000000",
  "auth_uri": "https://accounts.google.com/o/oauth2/auth",
  "token_uri": "https://oauth2.googleapis.com/token"
}
JSON
rm -f sa.key
chmod 600 ca.key server.key service-account.json
