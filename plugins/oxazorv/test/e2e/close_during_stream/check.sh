$PY - <<'PY'
from e2echeck import *
lines = text("LOG").splitlines()
def first(pattern):
    for i, line in enumerate(lines):
        if re.search(pattern, line):
            return i
    return None
close = first(r"\[ZORV-PLUGIN\] Close <")
finished = first(r"Process gRPC Event: name \[finishing\]")
answered = first(r"Send Close Response")
expect(None not in (close, finished, answered), f"close {close}, finish {finished}, answer {answered}")
expect(close < finished < answered, "the close was answered before the stream finished")
expect("RECOGNITION-COMPLETE" not in text("OUT"), "a RECOGNITION-COMPLETE was sent after CLOSE")
PY
