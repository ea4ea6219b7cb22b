$PY - <<'PY'
from e2echeck import *
recs = records()
expect_equal(len(recs), 3, "streams")
for r in recs:
    expect(r["metadata"].get("authorization", "").startswith("Bearer "), "no bearer token")
expect_equal(len(log_lines(r"Create Credentials \[.*other-account\.json\]")), 1, "credentials created")
expect_equal(len(log_lines(r"Find Credentials \[.*other-account\.json\]")), 2, "credentials looked up")
PY
