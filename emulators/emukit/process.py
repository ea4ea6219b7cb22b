"""Runs an emulator as a child process for a test: reads the announced port and
follows the "RECORD <path>" lines, so a test waits on events, never on the clock."""
import json
import os
import subprocess
import threading

EMULATORS_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PYTHON = "/usr/bin/python3"


class EmulatorProcess:
    """EmulatorProcess("google_speech", ["--script", path]) starts
    `python3 -m google_speech --port 0 ...`; use as a context manager or call stop()."""

    def __init__(self, module, args=(), env=None, start_timeout=30):
        child_env = dict(os.environ if env is None else env)
        paths = [EMULATORS_DIR] + [p for p in child_env.get("PYTHONPATH", "").split(":") if p]
        child_env["PYTHONPATH"] = ":".join(paths)
        child_env.setdefault("PYTHONDONTWRITEBYTECODE", "1")
        cmd = [PYTHON, "-m", module, "--port", "0", *map(str, args)]
        self._proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, env=child_env, text=True)
        self._cond = threading.Condition()
        self._records = []  # guarded by _cond
        self._port = None  # guarded by _cond
        self._ended = False  # guarded by _cond
        self._reader = threading.Thread(target=self._follow, daemon=True)
        self._reader.start()
        with self._cond:
            self._cond.wait_for(lambda: self._port is not None or self._ended, start_timeout)
            if self._port is None:
                self.stop()
                raise RuntimeError(f"{module} did not announce its port: {cmd}")
        self.port = self._port

    def _follow(self):
        for line in self._proc.stdout:
            word, _, rest = line.rstrip("\n").partition(" ")
            with self._cond:
                if word == "PORT" and self._port is None:
                    self._port = int(rest)
                elif word == "RECORD":
                    self._records.append(rest)
                self._cond.notify_all()
        with self._cond:
            self._ended = True
            self._cond.notify_all()

    @property
    def target(self):
        return f"127.0.0.1:{self.port}"

    def record_paths(self):
        with self._cond:
            return list(self._records)

    def wait_records(self, count, timeout=10):
        """The first `count` stream records (parsed), waiting for them to be written."""
        with self._cond:
            if not self._cond.wait_for(lambda: len(self._records) >= count or self._ended, timeout) \
                    or len(self._records) < count:
                raise TimeoutError(f"{len(self._records)} of {count} stream records written")
            paths = self._records[:count]
        return [load_record(p) for p in paths]

    def wait_record(self, predicate, timeout=10):
        """The first record (parsed) for which predicate(record) holds."""
        seen = 0
        found = []

        def check():
            nonlocal seen
            while seen < len(self._records):
                record = load_record(self._records[seen])
                seen += 1
                if predicate(record):
                    found.append(record)
                    return True
            return self._ended

        with self._cond:
            self._cond.wait_for(check, timeout)
        if not found:
            raise TimeoutError("no matching stream record")
        return found[0]

    def stop(self):
        if self._proc.poll() is None:
            self._proc.terminate()
            try:
                self._proc.wait(10)
            except subprocess.TimeoutExpired:
                self._proc.kill()
                self._proc.wait()
        self._reader.join(5)
        return self._proc.returncode

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


def load_record(path):
    with open(path) as f:
        record = json.load(f)
    record["_path"] = path
    return record
