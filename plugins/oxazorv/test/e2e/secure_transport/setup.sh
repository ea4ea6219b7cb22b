# A test CA, the emulator's certificate and a service-account file; a second name for the same
# account is what requests ask for.
"$TOP/emulators/certs/make_test_ca.sh" "$ROOT/data/tls"
cp "$ROOT/data/tls/service-account.json" "$ROOT/data/tls/other-account.json"
