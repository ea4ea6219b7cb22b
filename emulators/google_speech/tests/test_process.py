"""Starting the emulator: scripts chosen by stream order, TLS, launchers."""
import json
import os
import socket
import subprocess

import grpc
import pytest
from conftest import EMULATORS, Stream, audio_request, config_request, silence_ms

from emukit.process import EmulatorProcess
from google_speech import script

EVENTS = {"END_OF_SINGLE_UTTERANCE", "SPEECH_ACTIVITY_BEGIN"}


def final_transcripts(stream):
    stream.send(config_request(), audio_request(silence_ms(100)))
    responses, code, details = stream.half_close().finish()
    assert code == grpc.StatusCode.OK, details
    return [r.results[0].alternatives[0].transcript for r in responses]


def entry_saying(text):
    return {"steps": [{"final": text}]}


def test_streams_take_entries_in_order_and_a_changed_script_starts_again(tmp_path):
    path = tmp_path / "script.json"
    path.write_text(json.dumps({"streams": [entry_saying("first"), entry_saying("second")],
                                "default": entry_saying("other")}))
    with EmulatorProcess("google_speech", ["--script", path]) as emu, \
            grpc.insecure_channel(emu.target) as ch:
        said = [final_transcripts(Stream(ch)) for _ in range(3)]
        assert said == [["first"], ["second"], ["other"]]
        path.write_text(json.dumps({"streams": [entry_saying("anew")]}))
        said = [final_transcripts(Stream(ch)) for _ in range(2)]
        assert said == [["anew"], []]


@pytest.mark.parametrize("doc,message", [
    ({"streams": [{"steps": [{"results": [{"transcript": "a"}, {"transcript": "b", "final": True}]}]}]},
     "at most one final result, and it comes first"),
    ({"streams": [{"steps": [{"results": [{"transcript": "a", "final": True},
                                          {"transcript": "b", "final": True}]}]}]},
     "at most one final result"),
    ({"streams": [{"steps": [{"on": "start", "final": "x"}]}]}, "only error and hang"),
    ({"streams": [{"steps": [{"final": "x", "interim": "y"}]}]}, "exactly one action"),
    ({"streams": [{"steps": [{"finale": "x"}]}]}, "unknown keys ['finale']"),
    ({"streams": [{"steps": [{"error": {"code": "NOPE"}}]}]}, "gRPC status name"),
    ({"streams": [{"steps": [{"speech_event": "END_OF_SPEECH"}]}]}, "speech_event must be one of"),
    ({"streams": [{"steps": [{"on": "config", "after_audio_ms": 5, "final": "x"}]}]},
     "after_audio_ms goes with on=audio"),
    ({"named": {"a": {"steps": [{"final": {"transcript": "x", "confidence": 1.5}}]}}},
     "confidence must be within 0..1"),
    ({"default": {"audio_timeout_ms": 0}}, "expected a number >= 1"),
])
def test_script_mistakes_are_refused(doc, message):
    with pytest.raises(script.ScriptError) as err:
        script.parse_script(doc, EVENTS)
    assert message in str(err.value)


def test_invalid_script_stops_start_up(tmp_path):
    path = tmp_path / "bad.json"
    path.write_text('{"streams": [{"steps": [{"finale": "x"}]}]}')
    with pytest.raises(RuntimeError):
        EmulatorProcess("google_speech", ["--script", path])


@pytest.fixture(scope="module")
def test_ca(tmp_path_factory):
    out = tmp_path_factory.mktemp("ca")
    subprocess.run([os.path.join(EMULATORS, "certs", "make_test_ca.sh"), str(out)], check=True)
    return out


def test_tls_with_generated_ca(test_ca):
    args = ["--tls-cert", test_ca / "server.pem", "--tls-key", test_ca / "server.key", "--require-auth"]
    with EmulatorProcess("google_speech", args) as emu:
        tls = grpc.ssl_channel_credentials((test_ca / "ca.pem").read_bytes())
        token = grpc.access_token_call_credentials("test-token")
        for host in ("localhost", "127.0.0.1"):
            with grpc.secure_channel(f"{host}:{emu.port}",
                                     grpc.composite_channel_credentials(tls, token)) as ch:
                _, code, details = Stream(ch).send(config_request()).half_close().finish()
                assert code == grpc.StatusCode.OK, details
        # Without a token the call is refused, as the service refuses it.
        with grpc.secure_channel(f"localhost:{emu.port}", tls) as ch:
            _, code, _ = Stream(ch).send(config_request()).half_close().finish()
            assert code == grpc.StatusCode.UNAUTHENTICATED
        # A client that does not trust the test CA cannot talk to it.
        with grpc.secure_channel(emu.target, grpc.ssl_channel_credentials()) as ch:
            _, code, _ = Stream(ch, timeout=5).send(config_request()).half_close().finish()
            assert code == grpc.StatusCode.UNAVAILABLE
    sa = json.loads((test_ca / "service-account.json").read_text())
    assert sa["type"] == "service_account" and "BEGIN PRIVATE KEY" in sa["private_key"]


def test_blackhole_accepts_but_never_answers():
    with EmulatorProcess("google_speech", ["--blackhole"]) as emu:
        socket.create_connection(("127.0.0.1", emu.port)).close()
        with grpc.insecure_channel(emu.target) as ch:
            _, code, _ = Stream(ch, timeout=0.3).send(config_request()).half_close().finish()
            assert code == grpc.StatusCode.DEADLINE_EXCEEDED


def test_shell_launcher_start_and_stop(tmp_path):
    launcher = os.path.join(EMULATORS, "run_google_emulator.sh")
    state = tmp_path / "state"
    out = subprocess.run([launcher, "start", str(state), "--record-dir", str(tmp_path / "rec")],
                         check=True, capture_output=True, text=True).stdout
    port = int((state / "port").read_text())
    assert out.strip() == str(port)
    try:
        with grpc.insecure_channel(f"127.0.0.1:{port}") as ch:
            final_transcripts(Stream(ch))
        assert (tmp_path / "rec" / "stream-0001.json").exists()
        pid = int((state / "pid").read_text())
    finally:
        subprocess.run([launcher, "stop", str(state)], check=True)
    assert not os.path.exists(f"/proc/{pid}") or "Z" in open(f"/proc/{pid}/stat").read().split()[2]
    assert (state / "stdout.log").read_text().splitlines() == [
        f"PORT {port}", f"RECORD {tmp_path / 'rec' / 'stream-0001.json'}"]


def test_shell_launcher_reports_a_failed_start(tmp_path):
    launcher = os.path.join(EMULATORS, "run_google_emulator.sh")
    (tmp_path / "bad.json").write_text("{")
    done = subprocess.run([launcher, "start", str(tmp_path / "s"), "--script", str(tmp_path / "bad.json")],
                          capture_output=True, text=True)
    assert done.returncode == 1
    assert "not JSON" in done.stderr
