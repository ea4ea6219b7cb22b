$PY - <<'PY'
from e2echeck import *
expect(log_lines(r"Create gRPC Stream Timed out"), "no timeout logged")
PY
