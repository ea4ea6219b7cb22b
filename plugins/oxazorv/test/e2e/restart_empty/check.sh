$PY - <<'PY'
from e2echeck import *
recs = records()
expect_equal(len(recs), 2, "streams")
first, second = recs
expect(first["half_closed"] and first["status"]["code"] == "OK", "the empty stream did not end normally")
expect(not any("results" in r for r in first["responses"]), "the first stream had results")
expect(second["config"] is not None and second["audio_bytes"] > 0, "the second stream got no speech")
expect(log_lines(r"Skip Empty Result"), "no restart logged")
PY
