# The stream carried the configuration the default settings imply, then speech only.
$PY - <<'PY'
from e2echeck import *
recs = records()
expect_equal(len(recs), 1, "streams")
r = recs[0]
expect_equal(r["api"], "v1", "api")
expect_equal(r["config"], {
    "config": {"encoding": "LINEAR16", "sampleRateHertz": 8000, "languageCode": "en-US", "maxAlternatives": 1,
               "enableSpokenPunctuation": False, "enableSpokenEmojis": False},
    "singleUtterance": True, "interimResults": True}, "streaming config")
expect(r["audio_bytes"] > 0 and r["half_closed"], "speech and a half-close")
expect_equal(r["status"]["code"], "OK", "status")
PY
