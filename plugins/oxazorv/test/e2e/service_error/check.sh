$PY - <<'PY'
from e2echeck import *
expect(log_lines(r"gRPC Status: backend went away"), "the service's status was not logged")
PY
