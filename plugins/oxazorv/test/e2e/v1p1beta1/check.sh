$PY - <<'PY'
from e2echeck import *
r = records()[0]
expect_equal(r["api"], "v1p1beta1", "api")
expect_equal(r["method"], "/google.cloud.speech.v1p1beta1.Speech/StreamingRecognize", "method")
expect_equal(config(r).get("transcriptNormalization"),
             {"entries": [{"search": "one", "replace": "1", "caseSensitive": True}]}, "transcript normalization")
PY
