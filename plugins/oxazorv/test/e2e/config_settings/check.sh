$PY - <<'PY'
from e2echeck import *
r = records()[0]
expect_equal(r["config"], {"config": {
    "encoding": "LINEAR16", "sampleRateHertz": 16000, "languageCode": "en-GB", "maxAlternatives": 2,
    "profanityFilter": True, "enableWordTimeOffsets": True, "enableWordConfidence": True,
    "enableAutomaticPunctuation": True, "enableSpokenPunctuation": True, "enableSpokenEmojis": True,
    "useEnhanced": True, "model": "latest_short",
    "alternativeLanguageCodes": ["fr-FR", "de-DE", "it-IT"],
    "diarizationConfig": {"enableSpeakerDiarization": True, "minSpeakerCount": 1, "maxSpeakerCount": 3},
    "adaptation": {"phraseSets": [{"phrases": [{"value": "call home", "boost": 5.0}]}]}}}, "streaming config")
expect(log_lines(r"Word\[0\]: start-time \[\d+:\d+\] end-time \[\d+:\d+\] speaker-tag \[\d+\] call"), "no word log")
PY
