"""Per-stream behaviour scripts (format documented in docs/emulators.md).

A script is checked as a whole when it is loaded, so a mistake shows up at once
instead of as a stream that quietly behaves differently."""
import dataclasses
import json
import threading
from typing import Optional

import grpc

SELECT_KEY = "x-emulator-stream"

TRIGGERS = ("start", "config", "audio", "half_close")
ACTIONS = ("results", "interim", "final", "speech_event", "error", "hang", "response")


class ScriptError(Exception):
    pass


@dataclasses.dataclass
class Alternative:
    transcript: str
    confidence: Optional[float] = None


@dataclasses.dataclass
class Result:
    final: bool
    alternatives: list
    stability: Optional[float] = None
    result_end_ms: Optional[float] = None
    language_code: Optional[str] = None


@dataclasses.dataclass
class Step:
    on: str = "audio"
    after_audio_ms: float = 0
    delay_ms: float = 0
    results: Optional[list] = None
    speech_event: Optional[str] = None
    error: Optional[tuple] = None  # (grpc.StatusCode, message)
    hang: bool = False
    response: Optional[dict] = None
    local_audio: Optional[bytes] = None  # local recognition's, never a script's
    local_end_ms: float = 0


@dataclasses.dataclass
class Entry:
    steps: list = dataclasses.field(default_factory=list)
    local_recognition: bool = False
    audio_timeout_ms: Optional[float] = None
    max_stream_ms: Optional[float] = None
    end_silence_ms: Optional[float] = None


def _expect(cond, where, what):
    if not cond:
        raise ScriptError(f"{where}: {what}")


def _number(value, where, minimum=0):
    _expect(isinstance(value, (int, float)) and not isinstance(value, bool) and value >= minimum,
            where, f"expected a number >= {minimum}, got {value!r}")
    return float(value)


def _known_keys(obj, allowed, where):
    _expect(isinstance(obj, dict), where, f"expected an object, got {obj!r}")
    unknown = sorted(set(obj) - set(allowed))
    _expect(not unknown, where, f"unknown keys {unknown}")


def _alternative(obj, where):
    if isinstance(obj, str):
        return Alternative(obj)
    _known_keys(obj, ("transcript", "confidence"), where)
    _expect(isinstance(obj.get("transcript"), str), where, "transcript must be a string")
    conf = obj.get("confidence")
    if conf is not None:
        conf = _number(conf, where + ".confidence")
        _expect(conf <= 1.0, where, "confidence must be within 0..1")
    return Alternative(obj["transcript"], conf)


def _result(obj, where, final=None):
    if isinstance(obj, str):
        obj = {"transcript": obj}
    allowed = ["transcript", "confidence", "alternatives", "stability", "result_end_ms",
               "language_code"]
    if final is None:
        allowed.append("final")
    _known_keys(obj, allowed, where)
    if final is None:
        final = obj.get("final", False)
        _expect(isinstance(final, bool), where, "final must be true or false")
    if "alternatives" in obj:
        _expect("transcript" not in obj and "confidence" not in obj, where,
                "give either transcript/confidence or alternatives")
        alts = obj["alternatives"]
        _expect(isinstance(alts, list) and alts, where, "alternatives must be a non-empty list")
        alternatives = [_alternative(a, f"{where}.alternatives[{i}]") for i, a in enumerate(alts)]
    else:
        _expect("transcript" in obj, where, "a result needs a transcript or alternatives")
        alternatives = [_alternative({k: obj[k] for k in ("transcript", "confidence") if k in obj},
                                     where)]
    stability = obj.get("stability")
    if stability is not None:
        stability = _number(stability, where + ".stability")
        _expect(stability <= 1.0, where, "stability must be within 0..1")
    end = obj.get("result_end_ms")
    if end is not None:
        end = _number(end, where + ".result_end_ms")
    lang = obj.get("language_code")
    _expect(lang is None or isinstance(lang, str), where, "language_code must be a string")
    return Result(final, alternatives, stability, end, lang)


def _step(obj, where, speech_events):
    _known_keys(obj, ("on", "after_audio_ms", "delay_ms") + ACTIONS, where)
    step = Step()
    step.on = obj.get("on", "audio")
    _expect(step.on in TRIGGERS, where, f"on must be one of {TRIGGERS}")
    if "after_audio_ms" in obj:
        _expect(step.on == "audio", where, "after_audio_ms goes with on=audio")
        step.after_audio_ms = _number(obj["after_audio_ms"], where + ".after_audio_ms")
    step.delay_ms = _number(obj.get("delay_ms", 0), where + ".delay_ms")
    actions = [a for a in ACTIONS if a in obj]
    _expect(len(actions) == 1, where, f"exactly one action of {ACTIONS} per step")
    action = actions[0]
    value = obj[action]
    if action == "results":
        _expect(isinstance(value, list) and value, where, "results must be a non-empty list")
        step.results = [_result(r, f"{where}.results[{i}]") for i, r in enumerate(value)]
    elif action in ("interim", "final"):
        step.results = [_result(value, f"{where}.{action}", final=(action == "final"))]
    elif action == "speech_event":
        _expect(value in speech_events, where, f"speech_event must be one of {sorted(speech_events)}")
        step.speech_event = value
    elif action == "error":
        _known_keys(value, ("code", "message"), where + ".error")
        code = value.get("code")
        _expect(isinstance(code, str) and code in grpc.StatusCode.__members__ and code != "OK",
                where, f"error code must be a gRPC status name other than OK, got {code!r}")
        step.error = (grpc.StatusCode[code], str(value.get("message", "")))
    elif action == "hang":
        _expect(value is True, where, "hang must be true")
        step.hang = True
    else:
        _expect(isinstance(value, dict), where, "response must be an object")
        step.response = value
    _expect(step.on != "start" or action in ("error", "hang"), where,
            "before the configuration only error and hang can happen")
    if step.results is not None:
        finals = [i for i, r in enumerate(step.results) if r.final]
        _expect(finals in ([], [0]), where,
                "a response holds at most one final result, and it comes first")
    return step


def parse_entry(obj, where, speech_events):
    _known_keys(obj, ("steps", "local_recognition", "audio_timeout_ms", "max_stream_ms",
                      "end_silence_ms", "comment"), where)
    entry = Entry()
    steps = obj.get("steps", [])
    _expect(isinstance(steps, list), where, "steps must be a list")
    entry.steps = [_step(s, f"{where}.steps[{i}]", speech_events) for i, s in enumerate(steps)]
    entry.local_recognition = obj.get("local_recognition", False)
    _expect(isinstance(entry.local_recognition, bool), where, "local_recognition must be a boolean")
    for key in ("audio_timeout_ms", "max_stream_ms", "end_silence_ms"):
        if key in obj:
            setattr(entry, key, _number(obj[key], f"{where}.{key}", minimum=1))
    return entry


def parse_script(obj, speech_events):
    """Parses the whole script: {"streams": [...], "named": {...}, "default": {...}}."""
    _known_keys(obj, ("streams", "named", "default", "comment"), "script")
    streams = obj.get("streams", [])
    _expect(isinstance(streams, list), "script", "streams must be a list")
    named = obj.get("named", {})
    _expect(isinstance(named, dict), "script", "named must be an object")
    return {
        "streams": [parse_entry(e, f"streams[{i}]", speech_events) for i, e in enumerate(streams)],
        "named": {k: parse_entry(e, f"named.{k}", speech_events) for k, e in named.items()},
        "default": parse_entry(obj["default"], "default", speech_events) if "default" in obj else None,
    }


class ScriptSource:
    """Picks the entry for each new stream. The file is read again when its contents
    change, and the order of streams then starts again from the first entry, so one
    emulator can serve a sequence of tests that each write their own script."""

    def __init__(self, path, speech_events, local_by_default=False):
        self._path = path
        self._speech_events = speech_events
        self._local_by_default = local_by_default
        self._lock = threading.Lock()
        self._text = None  # guarded by _lock
        self._script = parse_script({}, speech_events)  # guarded by _lock
        self._next = 0  # guarded by _lock
        if path:
            self._reload()

    def _reload(self):
        with open(self._path, "rb") as f:
            text = f.read()
        if text == self._text:
            return
        try:
            obj = json.loads(text)
        except ValueError as e:
            raise ScriptError(f"{self._path}: not JSON: {e}") from None
        self._script = parse_script(obj, self._speech_events)
        self._text = text
        self._next = 0

    def select(self, metadata):
        """Returns (label, Entry) for a stream with the given invocation metadata."""
        with self._lock:
            if self._path:
                self._reload()
            name = metadata.get(SELECT_KEY)
            if name is not None:
                entry = self._script["named"].get(name)
                if entry is None:
                    raise ScriptError(f"no named script entry {name!r}")
                return f"named:{name}", entry
            if self._next < len(self._script["streams"]):
                self._next += 1
                return f"streams[{self._next - 1}]", self._script["streams"][self._next - 1]
            if self._script["default"] is not None:
                return "default", self._script["default"]
            return None, Entry(local_recognition=self._local_by_default)
