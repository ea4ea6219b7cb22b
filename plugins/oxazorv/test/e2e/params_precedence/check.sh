$PY - <<'PY'
from e2echeck import *
recs = records()
expect_equal(len(recs), 3, "streams")
first, second, third = (config(r) for r in recs)
expect_equal(first["languageCode"], "fr-FR", "vendor-specific parameter over the document")
expect_equal(first["model"], "phone_call", "quoted value")
expect("singleUtterance" not in recs[0]["config"], "single-utterance=false ignored")
expect_equal(second["languageCode"], "de-DE", "header over the vendor-specific parameter")
expect_equal(second["maxAlternatives"], 3, "N-Best-List-Length")
expect_equal(second.get("profanityFilter"), True, "profanity-filter")
expect("model" not in second, "a parameter of the previous request stayed")
expect_equal(third["languageCode"], "es-419", "grammar parameter over the header")
expect_equal(third.get("profanityFilter"), True, "grammar parameter")
expect(log_lines(r"Failed to Add Webhook Param \[a, 2\]"), "no duplicate webhook parameter warning")
expect(log_lines(r"Unknown Parameter \[no-such-parameter\]"), "no unknown parameter warning")
PY
