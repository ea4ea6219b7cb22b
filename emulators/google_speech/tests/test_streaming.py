"""StreamingRecognize as a real gRPC client sees it."""
import os

import grpc
import pytest
from conftest import audio_request, config_request, silence_ms, v1


def kinds(responses):
    out = []
    for r in responses:
        if r.speech_event_type:
            out.append(v1.StreamingRecognizeResponse.SpeechEventType.Name(r.speech_event_type))
        else:
            out.append("+".join("final" if x.is_final else "interim" for x in r.results))
    return out


@pytest.mark.parametrize("requests", [
    pytest.param([audio_request(b"\1\2")], id="audio-first"),
    pytest.param([config_request(), config_request()], id="config-twice"),
    pytest.param([config_request(), audio_request(b"\0" * 320), config_request()],
                 id="config-after-audio"),
    pytest.param([v1.StreamingRecognizeRequest()], id="empty-first"),
])
def test_malordered_data(open_stream, requests):
    stream, _ = open_stream("silent")
    _, code, details = stream.send(*requests).half_close().finish()
    assert code == grpc.StatusCode.INVALID_ARGUMENT
    assert details == "Malordered Data Received. Send exactly one config, followed by audio data."


@pytest.mark.parametrize("kwargs,ok", [
    ({}, True),
    ({"rate": 16000, "language": "fr-FR"}, True),
    ({"rate": 48000, "language": "cmn-Hans-CN"}, True),
    ({"language": "es-419", "alternative_languages": ["de-DE", "it"]}, True),
    ({"language": "xx-XX"}, False),
    ({"language": ""}, False),
    ({"language": "en_US"}, False),
    ({"alternative_languages": ["klingon"]}, False),
    ({"rate": 0}, False),
    ({"rate": 7999}, False),
    ({"rate": 96000}, False),
    ({"encoding": v1.RecognitionConfig.ENCODING_UNSPECIFIED}, False),
])
def test_configuration_checks(open_stream, kwargs, ok):
    stream, _ = open_stream("silent")
    _, code, details = stream.send(config_request(**kwargs)).half_close().finish()
    if ok:
        assert code == grpc.StatusCode.OK, details
    else:
        assert code == grpc.StatusCode.INVALID_ARGUMENT
        assert details.startswith("Invalid recognition 'config'")


@pytest.mark.parametrize("size,code", [(25600, grpc.StatusCode.OK),
                                       (25601, grpc.StatusCode.INVALID_ARGUMENT)])
def test_audio_per_request_limit(open_stream, record_of, size, code):
    stream, tag = open_stream("silent")
    stream.send(config_request(rate=16000), audio_request(b"\0" * 3200), audio_request(b"\0" * size))
    assert stream.half_close().finish()[1] == code
    record = record_of(tag)
    assert record["audio_chunks"] == ([3200, size] if code == grpc.StatusCode.OK else [3200])


@pytest.mark.parametrize("single", [True, False])
def test_single_utterance_ends_recognition(open_stream, record_of, single):
    stream, tag = open_stream("utterance")
    stream.send(config_request(single=single, interim=True, max_alternatives=2))
    # 600 ms of audio in 100 ms requests; the script answers at 100, 300 and 500 ms.
    stream.send(*[audio_request(silence_ms(100)) for _ in range(6)])
    first = [stream.next_response() for _ in range(3)]
    # The stream stays open after the final result: more audio is still taken.
    stream.send(audio_request(silence_ms(100)))
    rest, code, _ = stream.half_close().finish()
    responses = first + rest
    assert code == grpc.StatusCode.OK
    if single:
        assert kinds(responses) == ["interim", "END_OF_SINGLE_UTTERANCE", "final"]
        final = responses[2].results[0]
        # Audio after the end of the utterance is not processed.
        assert final.result_end_time.ToMilliseconds() == 300
    else:
        assert kinds(responses) == ["interim", "final", "final"]
        assert responses[2].results[0].alternatives[0].transcript == "and again"
    assert record_of(tag)["audio_bytes"] == 7 * len(silence_ms(100))


@pytest.mark.parametrize("single,expected", [
    (True, ["END_OF_SINGLE_UTTERANCE", "final"]),
    (False, ["interim", "final"]),  # the event belongs to single-utterance mode only
])
def test_scripted_end_of_utterance(open_stream, single, expected):
    stream, _ = open_stream("explicit_end")
    stream.send(config_request(single=single, interim=True),
                *[audio_request(silence_ms(100)) for _ in range(3)])
    responses, code, _ = stream.half_close().finish()
    assert code == grpc.StatusCode.OK
    assert kinds(responses) == expected


def test_result_fields_follow_the_service_rules(open_stream):
    stream, _ = open_stream("mixed")
    responses, code, _ = stream.send(config_request(language="en-GB", max_alternatives=2)) \
        .half_close().finish()
    assert code == grpc.StatusCode.OK
    assert kinds(responses) == ["final+interim+interim"]
    final, interim1, interim2 = responses[0].results
    # max_alternatives caps the list; only the top alternative of a final has a confidence.
    assert [a.transcript for a in final.alternatives] == ["one", "won"]
    assert [a.confidence for a in final.alternatives] == [pytest.approx(0.7), 0.0]
    assert final.stability == 0.0
    assert interim1.stability == pytest.approx(0.9) and interim2.stability == pytest.approx(0.01)
    assert interim2.alternatives[0].confidence == 0.0
    for r in responses[0].results:
        assert r.language_code == "en-gb"
        assert r.HasField("result_end_time")


def test_word_information_on_final_results(open_stream):
    stream, _ = open_stream("utterance")
    stream.send(config_request(enable_word_time_offsets=True, enable_word_confidence=True))
    stream.send(*[audio_request(silence_ms(100)) for _ in range(4)])
    responses, _, _ = stream.half_close().finish()
    final = [r for r in responses if r.results and r.results[0].is_final][0].results[0]
    words = final.alternatives[0].words
    assert [w.word for w in words] == ["call", "home"]
    assert words[0].start_time.ToMilliseconds() == 0
    assert words[1].end_time.ToMilliseconds() == 300
    assert words[0].confidence == pytest.approx(0.91)
    interim = [r for r in responses if r.results and not r.results[0].is_final][0]
    assert not interim.results[0].alternatives[0].words


def test_delayed_result_still_comes_after_half_close(open_stream):
    stream, _ = open_stream("late")
    stream.send(config_request(), audio_request(silence_ms(100)))
    responses, code, _ = stream.half_close().finish()
    assert code == grpc.StatusCode.OK
    assert [r.results[0].alternatives[0].transcript for r in responses] == ["late result"]


def test_result_at_half_close_has_no_end_of_utterance_event(open_stream):
    stream, _ = open_stream("at_end")
    stream.send(config_request(single=True), audio_request(silence_ms(200)))
    responses, code, _ = stream.half_close().finish()
    assert code == grpc.StatusCode.OK
    assert kinds(responses) == ["final"]


def test_audio_timeout(open_stream, record_of):
    stream, tag = open_stream("short_audio_timeout")
    stream.send(config_request(), audio_request(silence_ms(100)))
    _, code, details = stream.finish()  # no more audio, no half-close
    assert code == grpc.StatusCode.OUT_OF_RANGE
    assert details == ("Audio Timeout Error: Long duration elapsed without audio. "
                       "Audio should be sent close to real time.")
    assert record_of(tag)["status"]["code"] == "OUT_OF_RANGE"


def test_stream_duration_limit(open_stream):
    stream, _ = open_stream("short_stream")
    stream.send(config_request(), audio_request(silence_ms(100)))
    _, code, details = stream.finish()
    assert code == grpc.StatusCode.OUT_OF_RANGE
    assert details == "Exceeded maximum allowed stream duration of 305 seconds."


@pytest.mark.parametrize("entry,code,details,before", [
    ("error_midway", grpc.StatusCode.UNAVAILABLE, "backend gone", ["interim"]),
    ("error_at_start", grpc.StatusCode.PERMISSION_DENIED, "no access", []),
])
def test_scripted_error(open_stream, entry, code, details, before):
    stream, _ = open_stream(entry)
    stream.send(config_request(), *[audio_request(silence_ms(100)) for _ in range(3)])
    responses, got_code, got_details = stream.half_close().finish()
    assert (got_code, got_details) == (code, details)
    assert kinds(responses) == before


def test_stream_that_never_answers(open_stream, record_of):
    stream, tag = open_stream("hang", timeout=0.3)
    stream.send(config_request(), audio_request(silence_ms(100)))
    responses, code, _ = stream.half_close().finish()
    assert responses == [] and code == grpc.StatusCode.DEADLINE_EXCEEDED
    record = record_of(tag)
    assert record["cancelled"] is True and record["status"] is None


@pytest.mark.parametrize("api", ["v1", "v1p1beta1"])
def test_record_contents(open_stream, record_of, api):
    from conftest import APIS
    pb = APIS[api][0]
    audio = [os.urandom(320), os.urandom(1000), b""]
    stream, tag = open_stream("utterance", api=api, extra_metadata=[("authorization", "Bearer abc")])
    stream.send(config_request(pb=pb, rate=16000, single=True, phrases=["call home", "yes"],
                               enable_spoken_punctuation={"value": False}))
    stream.send(*[audio_request(a, pb=pb) for a in audio])
    assert stream.half_close().finish()[1] == grpc.StatusCode.OK
    record = record_of(tag)
    assert record["api"] == api
    assert record["method"] == f"/google.cloud.speech.{api}.Speech/StreamingRecognize"
    assert record["config"]["singleUtterance"] is True
    assert record["config"]["config"]["sampleRateHertz"] == 16000
    assert record["config"]["config"]["speechContexts"] == [{"phrases": ["call home", "yes"]}]
    assert record["config"]["config"]["enableSpokenPunctuation"] is False
    assert record["metadata"]["authorization"] == "Bearer abc"
    assert (record["requests"], record["audio_requests"]) == (4, 3)
    assert record["audio_chunks"] == [320, 1000, 0]
    assert record["audio_bytes"] == 1320
    assert record["half_closed"] is True
    assert record["status"] == {"code": "OK", "message": ""}
    raw = os.path.join(os.path.dirname(record["_path"]), record["audio_file"])
    with open(raw, "rb") as f:
        assert f.read() == b"".join(audio)


def test_unknown_named_entry_is_reported(open_stream):
    stream, _ = open_stream("no-such-entry")
    _, code, details = stream.send(config_request()).half_close().finish()
    assert code == grpc.StatusCode.INTERNAL
    assert "no-such-entry" in details
