"""The Google speech emulator with a clock on its final results, for the oxazorv benchmark.

Every final result goes out with the transcript "s<stream number>", and the wall-clock time
(CLOCK_REALTIME, as time.time() reads it) just before it is handed to gRPC is appended to the
file named by $OXA_BENCH_FINALS as "<stream number> <time>". The benchmark matches the
transcript in RECOGNITION-COMPLETE with this line. Options are the emulator's own."""
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
        _finals.write(f"{self.number} {time.time():.6f}\n")
    await _write(self, response)


service.StreamSession._write = _timed_write
server.main()
