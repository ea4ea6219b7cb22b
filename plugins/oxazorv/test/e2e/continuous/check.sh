$PY - <<'PY'
from e2echeck import *
r = records()[0]
expect("singleUtterance" not in r["config"], "single utterance was asked for")
PY
