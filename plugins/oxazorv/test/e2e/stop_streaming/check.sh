# The stopped stream was half-closed and cancelled; the emulator keeps no record of a stream
# cancelled while it answers, so the log tells.
$PY - <<'PY'
from e2echeck import *
expect(log_lines(r"Send Done Message") and log_lines(r"Cancel Streaming Recognize"), "the stream was not ended")
expect(log_lines(r"gRPC Status: CANCELLED"), "the stopped stream did not end cancelled")
recs = records()
expect(recs and recs[-1]["status"]["code"] == "OK" and recs[-1]["audio_bytes"] > 0, "the second stream")
PY
