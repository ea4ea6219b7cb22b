"""The Google speech emulator with a clock on its final results, for the oxazorv benchmark.

Every final result goes out with the transcript "s<stream number>", and the wall-clock time
(CLOCK_REALTIME, as time.time() reads it) just before it is handed to gRPC is appended to the
file named by $OXA_BENCH_FINALS as "final <stream number> <time>"; the time the stream's status
is about to go out follows as "end <stream number> <time>". The benchmark matches the
transcript in RECOGNITION-COMPLETE with these lines. Options are the emulator's own."""
import os
import sys
import time

sys.path.insert(0, os.environ["OXA_EMULATORS_DIR"])

from google_speech import server, service  # noqa: E402

_finals = open(os.environ["OXA_BENCH_FINALS"], "a", buffering=1)
_write = service.StreamSession._write


async def _timed_write(self, response):
    final = [r for r in response.results if r.is_final]
    if final:
        for alternative in final[0].alternatives:
            alternative.transcript = f"s{self.number}"
        _finals.write(f"final {self.number} {time.time():.6f}\n")
    await _write(self, response)


_write_record = service.StreamSession._write_record


def _timed_write_record(self, status, cancelled=False):
    _write_record(self, status, cancelled=cancelled)
    _finals.write(f"end {self.number} {time.time():.6f}\n")


service.StreamSession._write = _timed_write
service.StreamSession._write_record = _timed_write_record
server.main()
