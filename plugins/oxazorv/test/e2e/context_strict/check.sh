# The context's phrases went to the service as hints, grouped by boost.
$PY - <<'PY'
from e2echeck import *
recs = records()
expect_equal(len(recs), 2, "streams")
for r in recs:
    expect_equal(config(r).get("speechContexts"), [{"phrases": ["no"]}, {"phrases": ["yes"], "boost": 10.0}],
                 "speech contexts")
PY
