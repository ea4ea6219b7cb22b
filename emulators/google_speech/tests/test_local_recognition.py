"""Local recognition with pocketsphinx on utterances spoken by espeak-ng."""
import subprocess

import grpc
import pytest
from conftest import Stream, audio_request, config_request, silence_ms

from emukit.process import EmulatorProcess
from google_speech.local_recognition import EndPointer


def speak(tmp_path, text, rate):
    wav = tmp_path / "spoken.wav"
    subprocess.run(["espeak-ng", "-w", str(wav), text], check=True)
    # -R: sox's dither is repeatable, so the same text gives the same samples every run.
    raw = subprocess.run(["sox", "-R", str(wav), "-t", "raw", "-r", str(rate), "-e", "signed", "-b", "16",
                          "-c", "1", "-"], check=True, capture_output=True).stdout
    return raw


def chunks(audio, rate, ms=100):
    step = 2 * rate * ms // 1000
    return [audio[i:i + step] for i in range(0, len(audio), step)]


@pytest.fixture(scope="module")
def local(tmp_path_factory):
    records = tmp_path_factory.mktemp("local")
    with EmulatorProcess("google_speech", ["--local-recognition", "--record-dir", records]) as emu, \
            grpc.insecure_channel(emu.target) as ch:
        yield ch


def recognize(channel, audio, rate, **config):
    stream = Stream(channel)
    stream.send(config_request(rate=rate, **config))
    stream.send(*[audio_request(c) for c in chunks(audio, rate)])
    responses, code, details = stream.half_close().finish()
    assert code == grpc.StatusCode.OK, details
    return responses


def finals(responses):
    return [(r.results[0].alternatives[0].transcript, r.results[0].alternatives[0].confidence)
            for r in responses if r.results and r.results[0].is_final]


@pytest.mark.parametrize("text,rate,phrases,expected", [
    ("yes", 8000, ["Yes", "no", "call home"], "Yes"),
    ("one", 8000, ["one", "two", "three"], "one"),
    ("call home", 16000, ["yes", "no", "call home"], "call home"),
    ("yes", 16000, [], "yes"),
])
def test_single_utterance(local, tmp_path, text, rate, phrases, expected):
    spoken = speak(tmp_path, text, rate)
    responses = recognize(local, spoken + silence_ms(1000, rate), rate, single=True, phrases=phrases)
    assert responses[0].speech_event_type == responses[0].END_OF_SINGLE_UTTERANCE
    got = finals(responses[1:])
    assert len(got) == 1 and len(responses) == 2
    assert got[0][0] == expected  # the phrase as written in the speech context
    assert 0 < got[0][1] <= 1
    # The result ends where the speech did, not where the end was noticed.
    spoken_ms = len(spoken) * 1000 // (2 * rate)
    assert responses[1].results[0].result_end_time.ToMilliseconds() <= spoken_ms + 200


def test_continuous_recognition_gives_one_final_per_utterance(local, tmp_path):
    rate = 16000
    audio = (speak(tmp_path, "yes", rate) + silence_ms(1000, rate)
             + speak(tmp_path, "no", rate))  # the second ends at the half-close
    responses = recognize(local, audio, rate, phrases=["yes", "no"])
    assert [t for t, _ in finals(responses)] == ["yes", "no"]
    assert all(not r.speech_event_type for r in responses)


def test_silence_gives_no_result(local):
    assert recognize(local, silence_ms(1500, 8000), 8000, single=True) == []


def test_end_pointer_segments():
    rate = 8000
    loud = (b"\x00\x40" * (rate // 10))  # 100 ms at about -6 dBFS
    ep = EndPointer(rate, end_silence_ms=300, pad_ms=0)
    assert ep.feed(silence_ms(200) + loud) == []
    assert ep.in_speech
    first = len(silence_ms(200))
    segments = ep.feed(silence_ms(400) + loud + silence_ms(100))
    assert segments == [(first, first + len(loud))]
    second = first + len(loud + silence_ms(400))
    assert ep.in_speech and ep.flush() == (second, second + len(loud + silence_ms(100)))
    assert ep.flush() is None
