$PY - <<'PY'
from e2echeck import *
expect_equal(len(records()), 2, "streams")
expect(log_lines(r"No Such Builtin Speech Grammar \[no-such-context\]"), "unknown context not logged")
expect(log_lines(r"Not Supported Media-Type \[audio/ogg\]"), "media type not logged")
expect(log_lines(r"Init Speech Detector: .*vad-mode=3"), "Sensitivity-Level 0.8 did not give VAD mode 3")
expect_equal(len(log_lines(r"Create gRPC Channel \[")), 2, "gRPC channels made (one per MRCP channel)")
expect(log_lines(r"Unknown API \[v2\]"), "unknown API not logged")
PY
