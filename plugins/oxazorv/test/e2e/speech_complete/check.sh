$PY - <<'PY'
from e2echeck import *
r = records()[0]
expect(log_lines(r"Phrase Matched \[speak to a representative\]"), "no exact phrase match logged")
# The utterance lasts well over a second; input ended soon after the interim result.
expect(r["audio_ms"] < 900, f"input went on for {r['audio_ms']} ms after the match")
expect(r["half_closed"], "no half-close")
PY
