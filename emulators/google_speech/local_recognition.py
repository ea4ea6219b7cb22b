"""Recognition on this machine for demos: an energy end-pointer and Debian's
pocketsphinx with its US English model. Phrases of the request's speech contexts
become a grammar; without usable phrases the general language model transcribes."""
import array
import asyncio
import math
import os
import re
import shutil
import tempfile
import wave

MODEL_DIR = "/usr/share/pocketsphinx/model/en-us"
DECODER = "pocketsphinx_continuous"
MODEL_RATE = 16000


def _ulaw_table():
    table = []
    for byte in range(256):
        u = ~byte & 0xFF
        t = ((u & 0x0F) << 3) + 0x84
        t <<= (u & 0x70) >> 4
        table.append((0x84 - t) if u & 0x80 else (t - 0x84))
    return table


_ULAW = _ulaw_table()


def to_linear16(audio, mulaw):
    """Audio of the stream as 16-bit little-endian linear samples."""
    if not mulaw:
        return audio[: len(audio) - len(audio) % 2]
    return array.array("h", (_ULAW[b] for b in audio)).tobytes()


class EndPointer:
    """Finds spoken segments in a stream of 16-bit samples from frame energy.
    A segment starts after `start_frames` loud 10 ms frames in a row and ends after
    `end_silence_ms` of quiet ones; each segment is padded so word edges survive."""

    def __init__(self, rate, end_silence_ms=700, threshold=300, start_frames=3, pad_ms=200):
        self.frame = 2 * rate // 100
        self.threshold = threshold
        self.start_frames = start_frames
        self.end_frames = max(1, int(end_silence_ms // 10))
        self.pad = 2 * rate * pad_ms // 1000
        self.buffer = bytearray()
        self._pending = b""
        self._loud = 0
        self._quiet = 0
        self._start = None  # byte offset of the current segment, when in speech
        self._scanned = 0

    @property
    def in_speech(self):
        return self._start is not None

    def feed(self, pcm):
        """Adds samples; returns the segments that ended within them, as (start, end)
        byte offsets into self.buffer."""
        self.buffer += pcm
        ended = []
        while self._scanned + self.frame <= len(self.buffer):
            frame = array.array("h", bytes(self.buffer[self._scanned:self._scanned + self.frame]))
            self._scanned += self.frame
            rms = math.sqrt(sum(s * s for s in frame) / len(frame))
            loud = rms >= self.threshold
            if self._start is None:
                self._loud = self._loud + 1 if loud else 0
                if self._loud >= self.start_frames:
                    begin = self._scanned - self._loud * self.frame
                    self._start = max(0, begin - self.pad)
                    self._quiet = 0
            else:
                self._quiet = 0 if loud else self._quiet + 1
                if self._quiet >= self.end_frames:
                    end = min(len(self.buffer), self._scanned - self._quiet * self.frame + self.pad)
                    ended.append((self._start, end))
                    self._start = None
                    self._loud = 0
        return ended

    def flush(self):
        """The segment in progress, if any, as (start, end) (at the end of the stream)."""
        if self._start is None:
            return None
        segment = (self._start, len(self.buffer))
        self._start = None
        return segment


def _normalize(text):
    return " ".join(re.sub(r"[^a-z0-9' ]+", " ", text.lower()).split())


class PocketSphinx:
    def __init__(self, model_dir=MODEL_DIR, decoder=DECODER):
        self.model_dir = model_dir
        self.decoder = shutil.which(decoder)
        self._words = None

    def check(self):
        """A reason why local recognition cannot run, or None."""
        if not self.decoder:
            return f"{DECODER} not found (Debian package pocketsphinx)"
        for part in ("en-us", "en-us.lm.bin", "cmudict-en-us.dict"):
            if not os.path.exists(os.path.join(self.model_dir, part)):
                return f"{self.model_dir}/{part} missing (Debian package pocketsphinx-en-us)"
        return None

    def _dictionary_words(self):
        if self._words is None:
            words = set()
            with open(os.path.join(self.model_dir, "cmudict-en-us.dict"), encoding="utf-8",
                      errors="replace") as f:
                for line in f:
                    head = line.split(" ", 1)[0]
                    words.add(head.split("(", 1)[0])
            self._words = words
        return self._words

    def grammar(self, phrases):
        """(JSGF text, {normalized phrase: phrase as written}) for the phrases whose
        words the dictionary knows; (None, {}) when none is usable."""
        words = self._dictionary_words()
        usable = {}
        for phrase in phrases:
            norm = _normalize(phrase)
            if norm and all(w in words for w in norm.split()):
                usable.setdefault(norm, phrase)
        if not usable:
            return None, {}
        body = " | ".join(usable)
        return f"#JSGF V1.0;\ngrammar phrases;\npublic <phrase> = {body};\n", usable

    async def recognize(self, pcm, rate, phrases=()):
        """Transcribes 16-bit mono samples. Returns (transcript, confidence) or None."""
        jsgf, written = self.grammar(phrases) if phrases else (None, {})
        with tempfile.TemporaryDirectory(prefix="oxa-sphinx-") as tmp:
            wav = os.path.join(tmp, "in.wav")
            await self._write_model_rate_wav(pcm, rate, wav)
            args = [self.decoder, "-infile", wav, "-hmm", os.path.join(self.model_dir, "en-us"),
                    "-dict", os.path.join(self.model_dir, "cmudict-en-us.dict"),
                    "-time", "yes", "-logfn", os.devnull,
                    # Dither keeps empty (upsampled) bands from hurting the features;
                    # a fixed seed keeps the same audio giving the same transcript.
                    "-dither", "yes", "-seed", "1"]
            if jsgf:
                grammar_path = os.path.join(tmp, "phrases.jsgf")
                with open(grammar_path, "w") as f:
                    f.write(jsgf)
                args += ["-jsgf", grammar_path]
            else:
                args += ["-lm", os.path.join(self.model_dir, "en-us.lm.bin")]
            proc = await asyncio.create_subprocess_exec(
                *args, stdout=asyncio.subprocess.PIPE, stderr=asyncio.subprocess.DEVNULL)
            out, _ = await proc.communicate()
        return self._parse(out.decode("utf-8", "replace"), written)

    async def _write_model_rate_wav(self, pcm, rate, path):
        if rate == MODEL_RATE:
            with wave.open(path, "wb") as w:
                w.setnchannels(1)
                w.setsampwidth(2)
                w.setframerate(rate)
                w.writeframes(pcm)
            return
        proc = await asyncio.create_subprocess_exec(
            "sox", "-q", "-R", "-t", "raw", "-r", str(rate), "-e", "signed", "-b", "16", "-c", "1", "-",
            "-r", str(MODEL_RATE), path, stdin=asyncio.subprocess.PIPE)
        await proc.communicate(pcm)
        if proc.returncode != 0:
            raise RuntimeError(f"sox failed resampling {rate} Hz audio")

    @staticmethod
    def _parse(output, written):
        hypotheses, probs = [], []
        for line in output.splitlines():
            fields = line.split()
            if len(fields) == 4 and re.fullmatch(r"[\d.]+", fields[3]) and \
                    re.fullmatch(r"[\d.]+", fields[1]):
                word = fields[0]
                if not (word.startswith("<") or word.startswith("[")):
                    probs.append(min(1.0, max(0.0, float(fields[3]))))
            elif line.strip():
                hypotheses.append(line.strip())
        text = " ".join(hypotheses)
        if not text:
            return None
        confidence = sum(probs) / len(probs) if probs else 0.5
        return written.get(_normalize(text), text), confidence
