$PY - <<'PY'
from e2echeck import *
expect_equal(len(records()), 0, "streams")
expect(not log_lines(r"gRPC Streaming Recognize"), "a stream was started")
PY
