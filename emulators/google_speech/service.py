"""StreamingRecognize of google.cloud.speech.v1 and v1p1beta1, behaving as the
service does for the parts our recognizer uses:

- the first request carries only the streaming configuration, every later one only
  audio; anything else ends the call with INVALID_ARGUMENT (malordered data);
- a bad encoding, sample rate or language code gives INVALID_ARGUMENT;
- at most 25600 bytes of audio per request;
- each response carries either a speech event or results; results hold at most one
  final result, first, followed by interim ones; stability only on interim results,
  confidence only on the top alternative of a final result; result_end_time and
  language_code on every result;
- END_OF_SINGLE_UTTERANCE only with single_utterance; after it no more audio is
  processed and at most one final result follows;
- the call ends (OK) once the client has half-closed and everything due is sent;
- OUT_OF_RANGE when no audio arrives for the audio timeout, or at the stream limit.

What results come, and when, is the per-stream script's (script.py) or local
recognition's."""
import asyncio
import collections
import re
import time

import grpc
from google.protobuf import json_format

from emukit.records import metadata_dict
from emukit.serve import log
from google_speech import local_recognition
from google_speech.script import Alternative, Result, ScriptError, Step

AUDIO_LIMIT_BYTES = 25600
MIN_RATE, MAX_RATE = 8000, 48000
DEFAULT_FINAL_CONFIDENCE = 0.9
DEFAULT_STABILITY = 0.9

MALORDERED = "Malordered Data Received. Send exactly one config, followed by audio data."
AUDIO_TIMEOUT = ("Audio Timeout Error: Long duration elapsed without audio. "
                 "Audio should be sent close to real time.")
STREAM_TOO_LONG = "Exceeded maximum allowed stream duration of 305 seconds."
BAD_LANGUAGE = "Invalid recognition 'config': bad language code."
BAD_ENCODING = "Invalid recognition 'config': bad encoding.."
UNAUTHENTICATED = ("Request had invalid authentication credentials. Expected OAuth 2 access "
                   "token, login cookie or other valid authentication credential.")

# Primary language subtags the service recognizes; a code is a known subtag with an
# optional script (Hans) and region (US, 419).
LANGUAGES = set("""
af am ar az bg bn bs ca cmn cs cy da de el en es et eu fa fi fil fr gl gu he hi hr hu hy id
is it iw ja jv ka kk km kn ko lo lt lv mk ml mn mr ms my nb ne nl no pa pl pt ro ru rw si sk
sl sq sr ss st su sv sw ta te th tn tr ts uk ur uz ve vi xh yue zh zu
""".split())
LANGUAGE_RE = re.compile(r"^([a-z]{2,3})(-[a-z]{4})?(-([a-z]{2}|[0-9]{3}))?$")


class StreamError(Exception):
    def __init__(self, code, message):
        super().__init__(message)
        self.code = code
        self.message = message


def language_ok(code):
    m = LANGUAGE_RE.match(code.lower())
    return bool(m) and m.group(1) in LANGUAGES


class Api:
    """One published API version: its generated modules and method path."""

    def __init__(self, name, pb2, pb2_grpc):
        self.name = name
        self.pb2 = pb2
        self.pb2_grpc = pb2_grpc
        self.method = f"/google.cloud.speech.{name}.Speech/StreamingRecognize"
        enums = pb2.StreamingRecognizeResponse.SpeechEventType
        self.speech_events = {n: enums.Value(n) for n in enums.keys() if n != "SPEECH_EVENT_UNSPECIFIED"}
        encodings = pb2.RecognitionConfig.AudioEncoding
        self.linear16 = encodings.Value("LINEAR16")
        self.mulaw = encodings.Value("MULAW")


class Runtime:
    """What all streams of one emulator share."""

    def __init__(self, scripts, records, audio_timeout_ms, max_stream_ms, recognizer=None,
                 require_auth=False):
        self.require_auth = require_auth
        self.scripts = scripts
        self.records = records
        self.audio_timeout_ms = audio_timeout_ms
        self.max_stream_ms = max_stream_ms
        self.recognizer = recognizer
        self._count = 0

    def next_number(self):
        self._count += 1
        return self._count


def add_to_server(server, api, runtime):
    """Serves the API's Speech service: StreamingRecognize, and UNIMPLEMENTED for the
    calls our recognizer never makes."""

    async def streaming_recognize(self, request_iterator, context):
        del request_iterator  # requests are read with context.read()
        await StreamSession(runtime, api, context).run()

    async def unimplemented(self, request, context):
        await context.abort(grpc.StatusCode.UNIMPLEMENTED, "Not served by the emulator.")

    servicer = type("SpeechServicer", (api.pb2_grpc.SpeechServicer,), {
        "StreamingRecognize": streaming_recognize,
        "Recognize": unimplemented,
        "LongRunningRecognize": unimplemented,
    })
    api.pb2_grpc.add_SpeechServicer_to_server(servicer(), server)


class StreamSession:
    def __init__(self, runtime, api, context):
        self.rt = runtime
        self.api = api
        self.pb = api.pb2
        self.ctx = context
        self.number = runtime.next_number()
        self.loop = asyncio.get_running_loop()
        self.started = self.loop.time()
        self.started_wall = time.time()
        self.metadata = metadata_dict((m.key, m.value) for m in context.invocation_metadata())
        self.queue = asyncio.Queue()
        self.steps = collections.deque()
        self.head_ready_at = None  # when the first step's trigger was met
        self.entry = None
        self.label = None
        self.config = None  # StreamingRecognitionConfig once received
        self.config_at = None
        self.half_closed = False
        self.last_audio_at = None
        self.requests = 0
        self.audio = bytearray()
        self.audio_chunks = []
        self.processed_bytes = 0  # audio that recognition took in (none after the utterance ended)
        self.utterance_over = False
        self.end_of_utterance_sent = False
        self._mulaw = False
        self.final_sent = False
        self.last_final_end_ms = 0.0
        self.responses = []
        self.endpointer = None

    # ---- the call ----

    async def run(self):
        reader = asyncio.ensure_future(self._read_requests())
        status = (grpc.StatusCode.OK, "")
        try:
            if self.rt.require_auth and not self.metadata.get("authorization", "").startswith("Bearer "):
                raise StreamError(grpc.StatusCode.UNAUTHENTICATED, UNAUTHENTICATED)
            try:
                self.label, self.entry = self.rt.scripts.select(self.metadata)
            except ScriptError as e:
                raise StreamError(grpc.StatusCode.INTERNAL, f"emulator script: {e}") from None
            self.steps.extend(self.entry.steps)
            await self._serve()
        except StreamError as e:
            status = (e.code, e.message)
        except asyncio.CancelledError:
            self._write_record(None, cancelled=True)
            raise
        finally:
            reader.cancel()
        self._write_record(status)
        if status[0] != grpc.StatusCode.OK:
            log(f"stream {self.number}: {status[0].name} {status[1]}")
            self.ctx.set_code(status[0])
            self.ctx.set_details(status[1])

    async def _read_requests(self):
        try:
            while True:
                request = await self.ctx.read()
                if request is grpc.aio.EOF:
                    self.queue.put_nowait(("eof", None))
                    return
                self.queue.put_nowait(("request", request))
        except asyncio.CancelledError:
            raise
        except Exception as e:  # the call broke; the handler learns it from the queue
            self.queue.put_nowait(("broken", e))

    def _limit_ms(self, name):
        value = getattr(self.entry, name) if self.entry else None
        return value if value is not None else getattr(self.rt, name)

    async def _serve(self):
        while True:
            await self._run_due_steps()
            if self.half_closed and not self.steps:
                return
            if self.loop.time() >= self._stream_deadline():
                raise StreamError(grpc.StatusCode.OUT_OF_RANGE, STREAM_TOO_LONG)
            try:
                kind, request = await asyncio.wait_for(self.queue.get(), self._wait_seconds())
            except asyncio.TimeoutError:
                # Nothing arrived while waiting, so the audio clock is up to date.
                if self._audio_deadline() is not None and self.loop.time() >= self._audio_deadline():
                    raise StreamError(grpc.StatusCode.OUT_OF_RANGE, AUDIO_TIMEOUT) from None
                continue
            if kind == "eof":
                self._on_half_close()
            elif kind == "broken":
                raise StreamError(grpc.StatusCode.CANCELLED, f"stream broken: {request}")
            else:
                self._on_request(request)

    def _stream_deadline(self):
        return self.started + self._limit_ms("max_stream_ms") / 1000

    def _audio_deadline(self):
        # Counted from the configuration on: the client sends it when speech starts.
        if self.config is None or self.half_closed:
            return None
        return self.last_audio_at + self._limit_ms("audio_timeout_ms") / 1000

    def _wait_seconds(self):
        deadlines = [self._stream_deadline()]
        if self._audio_deadline() is not None:
            deadlines.append(self._audio_deadline())
        if self.head_ready_at is not None:
            deadlines.append(self.head_ready_at + self.steps[0].delay_ms / 1000)
        return max(0.0, min(deadlines) - self.loop.time())

    # ---- requests ----

    def _on_request(self, request):
        self.requests += 1
        kind = request.WhichOneof("streaming_request")
        if self.config is None:
            if kind != "streaming_config":
                raise StreamError(grpc.StatusCode.INVALID_ARGUMENT, MALORDERED)
            self._accept_config(request.streaming_config)
            return
        if kind == "streaming_config":
            raise StreamError(grpc.StatusCode.INVALID_ARGUMENT, MALORDERED)
        chunk = request.audio_content
        if len(chunk) > AUDIO_LIMIT_BYTES:
            raise StreamError(
                grpc.StatusCode.INVALID_ARGUMENT,
                f"Request audio can be a maximum of {AUDIO_LIMIT_BYTES} bytes. "
                "Reduce the size of each audio chunk.")
        self.last_audio_at = self.loop.time()
        self.audio += chunk
        self.audio_chunks.append(len(chunk))
        if self.utterance_over:
            return  # the service takes no more audio after the end of the utterance
        self.processed_bytes += len(chunk)
        if self.endpointer is not None:
            pcm = local_recognition.to_linear16(chunk, self._mulaw)
            for segment in self.endpointer.feed(pcm):
                self._queue_local_result(*segment)

    def _accept_config(self, streaming_config):
        rc = streaming_config.config
        if rc.encoding not in (self.api.linear16, self.api.mulaw):
            raise StreamError(grpc.StatusCode.INVALID_ARGUMENT, BAD_ENCODING)
        if not MIN_RATE <= rc.sample_rate_hertz <= MAX_RATE:
            raise StreamError(
                grpc.StatusCode.INVALID_ARGUMENT,
                f"Invalid recognition 'config': sample_rate_hertz ({rc.sample_rate_hertz}) "
                f"must be within {MIN_RATE} and {MAX_RATE}.")
        for code in [rc.language_code, *rc.alternative_language_codes]:
            if not language_ok(code):
                raise StreamError(grpc.StatusCode.INVALID_ARGUMENT, BAD_LANGUAGE)
        self.config = streaming_config
        self.config_at = self.last_audio_at = self.loop.time()
        self._mulaw = rc.encoding == self.api.mulaw
        if self.entry.local_recognition:
            if self.rt.recognizer is None:
                raise StreamError(grpc.StatusCode.INTERNAL,
                                  "emulator: local recognition is not available")
            silence = self.entry.end_silence_ms or 700
            self.endpointer = local_recognition.EndPointer(rc.sample_rate_hertz, silence)

    def _on_half_close(self):
        self.half_closed = True
        if self.endpointer is not None and not self.utterance_over:
            segment = self.endpointer.flush()
            if segment:
                self._queue_local_result(*segment)

    def _ms(self, nbytes):
        if self.config is None:
            return 0.0
        width = 1 if self._mulaw else 2
        return nbytes * 1000.0 / (width * self.config.config.sample_rate_hertz)

    @property
    def audio_ms(self):
        """Audio the recognition has taken in: the clock of results and triggers."""
        return self._ms(self.processed_bytes)

    # ---- steps ----

    def _ready(self, step):
        if step.on == "start":
            return True
        if step.on == "half_close":
            return self.half_closed
        if self.config is None:
            return False
        if step.on == "config":
            return True
        return self.utterance_over or self.audio_ms >= step.after_audio_ms

    async def _run_due_steps(self):
        while self.steps:
            step = self.steps[0]
            if self.head_ready_at is None:
                if not self._ready(step):
                    if self.half_closed:  # that much audio will never come
                        self.steps.popleft()
                        continue
                    return
                self.head_ready_at = self.loop.time()
            if self.loop.time() < self.head_ready_at + step.delay_ms / 1000:
                return
            self.steps.popleft()
            self.head_ready_at = None
            await self._fire(step)

    async def _fire(self, step):
        if step.error is not None:
            raise StreamError(*step.error)
        if step.hang:
            log(f"stream {self.number}: hanging as scripted")
            await asyncio.Event().wait()  # until the client cancels
        if step.response is not None:
            response = json_format.ParseDict(step.response, self.pb.StreamingRecognizeResponse())
            await self._write(response)
        elif step.speech_event is not None:
            await self._speech_event(step.speech_event)
        elif step.local_audio is not None:
            await self._local_result(step)
        else:
            await self._results(step.results)

    async def _write(self, response):
        self.responses.append(json_format.MessageToDict(response))
        await self.ctx.write(response)

    async def _speech_event(self, name):
        sc = self.config
        if name == "END_OF_SINGLE_UTTERANCE":
            if not sc.single_utterance or self.end_of_utterance_sent:
                return
            self.end_of_utterance_sent = self.utterance_over = True
        elif not getattr(sc, "enable_voice_activity_events", False):
            return
        response = self.pb.StreamingRecognizeResponse(
            speech_event_type=self.api.speech_events[name])
        if hasattr(response, "speech_event_time"):
            response.speech_event_time.FromMilliseconds(int(self.audio_ms))
        await self._write(response)

    async def _results(self, wanted):
        single = self.config.single_utterance
        if single and self.final_sent:
            return  # one utterance, one final result
        if self.end_of_utterance_sent and not any(r.final for r in wanted):
            return  # after the end of the utterance only its final result comes
        if any(r.final for r in wanted) and single and not self.half_closed:
            await self._speech_event("END_OF_SINGLE_UTTERANCE")
        response = self.pb.StreamingRecognizeResponse()
        for want in wanted:
            self._fill_result(response.results.add(), want)
        if any(r.final for r in wanted):
            self.final_sent = True
        await self._write(response)

    def _fill_result(self, result, want):
        rc = self.config.config
        end_ms = want.result_end_ms if want.result_end_ms is not None else self.audio_ms
        alternatives = want.alternatives if want.final else want.alternatives[:1]
        alternatives = alternatives[:max(1, rc.max_alternatives)]
        for i, alt in enumerate(alternatives):
            out = result.alternatives.add(transcript=alt.transcript)
            if want.final and i == 0:
                out.confidence = alt.confidence if alt.confidence is not None else DEFAULT_FINAL_CONFIDENCE
            if want.final and (rc.enable_word_time_offsets or rc.enable_word_confidence):
                self._fill_words(out, alt.transcript, end_ms, out.confidence)
        result.is_final = want.final
        if not want.final:
            result.stability = want.stability if want.stability is not None else DEFAULT_STABILITY
        result.result_end_time.FromMilliseconds(int(end_ms))
        # The service reports the language in lower case.
        result.language_code = (want.language_code or rc.language_code).lower()
        if want.final:
            self.last_final_end_ms = end_ms

    def _fill_words(self, alternative, transcript, end_ms, confidence):
        rc = self.config.config
        words = transcript.split()
        if not words:
            return
        start_ms = min(self.last_final_end_ms, end_ms)
        span = (end_ms - start_ms) / len(words)
        for i, word in enumerate(words):
            info = alternative.words.add(word=word)
            if rc.enable_word_time_offsets:
                info.start_time.FromMilliseconds(int(start_ms + i * span))
                info.end_time.FromMilliseconds(int(start_ms + (i + 1) * span))
            if rc.enable_word_confidence:
                info.confidence = confidence

    # ---- local recognition ----

    def _queue_local_result(self, start, end):
        if self.config.single_utterance:
            self.steps.append(Step(speech_event="END_OF_SINGLE_UTTERANCE"))
            self.utterance_over = True  # from here on audio is no longer processed
        self.steps.append(Step(local_audio=bytes(self.endpointer.buffer[start:end]),
                               local_end_ms=end * 1000.0 / (2 * self.config.config.sample_rate_hertz)))

    async def _local_result(self, step):
        phrases = [p for ctx in self.config.config.speech_contexts for p in ctx.phrases]
        rate = self.config.config.sample_rate_hertz
        hypothesis = await self.rt.recognizer.recognize(step.local_audio, rate, phrases)
        log(f"stream {self.number}: recognized {len(step.local_audio) // 2} samples at {rate} Hz "
            f"with {len(phrases)} phrases: {hypothesis}")
        if hypothesis is None:
            return
        transcript, confidence = hypothesis
        await self._results([Result(True, [Alternative(transcript, confidence)],
                                    result_end_ms=step.local_end_ms)])

    # ---- record ----

    def _write_record(self, status, cancelled=False):
        record = {
            "stream": self.number,
            "api": self.api.name,
            "method": self.api.method,
            "peer": self.ctx.peer(),
            "metadata": self.metadata,
            "script_entry": self.label,
            "config": json_format.MessageToDict(self.config) if self.config is not None else None,
            "requests": self.requests,
            "audio_requests": len(self.audio_chunks),
            "audio_chunks": self.audio_chunks,
            "audio_bytes": len(self.audio),
            "audio_ms": self._ms(len(self.audio)),
            "half_closed": self.half_closed,
            "responses": self.responses,
            "cancelled": cancelled,
            "status": None if status is None else {"code": status[0].name, "message": status[1]},
            "started": self.started_wall,
            "duration_ms": round((self.loop.time() - self.started) * 1000, 1),
        }
        self.rt.records.write(self.number, record, bytes(self.audio))
