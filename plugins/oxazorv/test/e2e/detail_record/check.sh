$PY - <<'PY'
import json, os
from e2echeck import *
folder = os.path.join(os.environ["ROOT"], "var", "rdr")
def load(name):
    with open(os.path.join(folder, name)) as f:
        return json.load(f)["recog-details-record"]
speech = load("oxazorv-4d4d0001-1.json")
expect_equal(speech["language"], "en-US", "language")
expect_equal(speech["sampling-rate"], "8000 Hz", "sampling-rate")
expect_equal(speech["max-alternatives"], 2, "max-alternatives")
expect_equal(speech["input"]["type"], "speech", "input type")
expect_equal(speech["completion-cause"], "success", "cause")
alternatives = speech["recog-results"][0]["alternatives"]
expect_equal([a["transcript"] for a in alternatives], ["one", "won"], "alternatives")
r = records()[0]
expect_equal(speech["gRPC"]["sent"], "%d bytes" % r["audio_bytes"], "bytes sent")
expect_equal(speech["gRPC"].get("end-of-utterance"), True, "end of utterance")
dtmf = load("oxazorv-4d4d0001-2.json")
expect_equal(dtmf["input"]["type"], "dtmf", "input type")
expect("duration" not in dtmf["input"] and "recog-results" not in dtmf and "gRPC" not in dtmf, "speech items in a DTMF record")
expect_equal(dtmf["dtmfs"], "77", "digits")
PY
