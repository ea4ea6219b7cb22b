$PY - <<'PY'
import os, struct, wave
from e2echeck import *
path = os.path.join(os.environ["ROOT"], "var", "utterances", "oxazorv-5a7e0001-1-tag7.wav")
expect(os.path.isfile(path), f"{path} missing")
with open(path, "rb") as f:
    data = f.read()
expect_equal(data[:4] + data[8:16], b"RIFFWAVEfmt ", "header")
length = struct.unpack("<I", data[40:44])[0]
expect_equal(struct.unpack("<I", data[4:8])[0], length + 36, "RIFF length")
expect_equal(length, len(data) - 44, "data length")
with wave.open(path) as w:
    expect_equal((w.getnchannels(), w.getsampwidth(), w.getframerate()), (1, 2, 8000), "format")
# The file holds exactly the audio the service received.
r = records()[0]
with open(os.path.join(os.environ["REC_DIR"], r["audio_file"]), "rb") as f:
    expect(f.read() == data[44:], "the WAV data differs from the streamed audio")
size = re.search(r"Waveform-URI: .*;size=(\d+);duration=(\d+)", text("OUT"))
# The detector hands out a little more than is streamed once the service has ended the utterance.
expect(int(size.group(1)) >= length, f"size in Waveform-URI {size.group(1)} below the {length} bytes streamed")
files = os.listdir(os.path.dirname(path))
expect_equal(files, ["oxazorv-5a7e0001-1-tag7.wav"], "recordings")
PY
