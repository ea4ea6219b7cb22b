import json
import os
import queue
import sys

import pytest

EMULATORS = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
if EMULATORS not in sys.path:
    sys.path.insert(0, EMULATORS)

from emukit import protopath  # noqa: E402

protopath.add_generated_path()

import grpc  # noqa: E402
from google.cloud.speech.v1 import cloud_speech_pb2 as v1, cloud_speech_pb2_grpc as v1_grpc  # noqa: E402
from google.cloud.speech.v1p1beta1 import (  # noqa: E402
    cloud_speech_pb2 as b1, cloud_speech_pb2_grpc as b1_grpc)

from emukit.process import EmulatorProcess  # noqa: E402

APIS = {"v1": (v1, v1_grpc), "v1p1beta1": (b1, b1_grpc)}


def config_request(pb=v1, rate=8000, language="en-US", single=False, interim=False,
                   max_alternatives=0, phrases=(), alternative_languages=(), encoding=None,
                   **recognition):
    rc = pb.RecognitionConfig(
        encoding=pb.RecognitionConfig.LINEAR16 if encoding is None else encoding,
        sample_rate_hertz=rate, language_code=language, max_alternatives=max_alternatives,
        alternative_language_codes=list(alternative_languages), **recognition)
    if phrases:
        rc.speech_contexts.add(phrases=list(phrases))
    return pb.StreamingRecognizeRequest(streaming_config=pb.StreamingRecognitionConfig(
        config=rc, single_utterance=single, interim_results=interim))


def audio_request(data, pb=v1):
    return pb.StreamingRecognizeRequest(audio_content=data)


def silence_ms(ms, rate=8000):
    return b"\0" * (2 * rate * ms // 1000)


class Stream:
    """One StreamingRecognize call whose requests the test feeds one by one."""

    def __init__(self, channel, api="v1", metadata=(), timeout=None):
        self.pb, pb_grpc = APIS[api]
        self._requests = queue.Queue()
        stub = pb_grpc.SpeechStub(channel)
        self.call = stub.StreamingRecognize(iter(self._requests.get, None),
                                            metadata=list(metadata), timeout=timeout)

    def send(self, *requests):
        for r in requests:
            self._requests.put(r)
        return self

    def half_close(self):
        self._requests.put(None)
        return self

    def next_response(self):
        return next(self.call)

    def finish(self):
        """Remaining responses and the final status (code, details)."""
        responses = []
        try:
            for r in self.call:
                responses.append(r)
        except grpc.RpcError:
            pass
        self._requests.put(None)  # releases gRPC's request thread if still waiting
        return responses, self.call.code(), self.call.details()


# Named entries of the shared emulator's script; tests pick theirs by metadata.
SCRIPT = {
    "named": {
        "silent": {},
        "utterance": {"steps": [
            {"after_audio_ms": 100, "interim": {"transcript": "call", "stability": 0.4}},
            {"after_audio_ms": 300, "final": {"alternatives": [
                {"transcript": "call home", "confidence": 0.91},
                {"transcript": "call Holm", "confidence": 0.5}]}},
            {"after_audio_ms": 500, "final": {"transcript": "and again", "confidence": 0.8}},
        ]},
        "mixed": {"steps": [
            {"on": "config", "results": [
                {"final": True, "alternatives": [
                    {"transcript": "one", "confidence": 0.7},
                    {"transcript": "won", "confidence": 0.2},
                    {"transcript": "juan", "confidence": 0.1}]},
                {"transcript": "two", "stability": 0.9},
                {"transcript": "two three", "stability": 0.01, "confidence": 0.5}]},
        ]},
        "explicit_end": {"steps": [
            {"after_audio_ms": 200, "speech_event": "END_OF_SINGLE_UTTERANCE"},
            {"interim": "after the end"},
            {"final": "the utterance"}]},
        "late": {"steps": [{"delay_ms": 150, "final": "late result"}]},
        "at_end": {"steps": [{"on": "half_close", "final": "at the end"}]},
        "short_audio_timeout": {"audio_timeout_ms": 150},
        "short_stream": {"max_stream_ms": 200},
        "error_midway": {"steps": [
            {"after_audio_ms": 100, "interim": "hel"},
            {"after_audio_ms": 200, "error": {"code": "UNAVAILABLE", "message": "backend gone"}}]},
        "error_at_start": {"steps": [
            {"on": "start", "error": {"code": "PERMISSION_DENIED", "message": "no access"}}]},
        "hang": {"steps": [{"on": "start", "hang": True}]},
    },
}


@pytest.fixture(scope="session")
def emulator(tmp_path_factory):
    base = tmp_path_factory.mktemp("google")
    script = base / "script.json"
    script.write_text(json.dumps(SCRIPT))
    with EmulatorProcess("google_speech", ["--script", script, "--record-dir", base / "records"]) as emu:
        yield emu


@pytest.fixture(scope="session")
def channel(emulator):
    with grpc.insecure_channel(emulator.target) as ch:
        yield ch


_counter = [0]


@pytest.fixture
def open_stream(channel, emulator):
    """open_stream(entry, api="v1", timeout=None) -> (Stream, tag); the tag finds the
    stream's record: emulator.wait_record(lambda r: r["metadata"].get("x-test") == tag)."""

    def make(entry, api="v1", timeout=None, extra_metadata=()):
        _counter[0] += 1
        tag = f"t{_counter[0]}"
        md = [("x-emulator-stream", entry), ("x-test", tag), *extra_metadata]
        return Stream(channel, api, md, timeout), tag

    return make


@pytest.fixture
def record_of(emulator):
    def find(tag):
        return emulator.wait_record(lambda r: r["metadata"].get("x-test") == tag)

    return find
