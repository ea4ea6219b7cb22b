"""What an end-to-end case's check.sh reads: the emulator's stream records, the oxahost output
and the log, with an assertion that names what went wrong."""
import glob
import json
import os
import re
import sys


def records():
    """The stream records, in stream order."""
    paths = sorted(glob.glob(os.path.join(os.environ["REC_DIR"], "stream-*.json")))
    out = []
    for path in paths:
        with open(path) as f:
            out.append(json.load(f))
    return out


def config(record):
    """The RecognitionConfig the stream received (protobuf JSON names)."""
    return ((record.get("config") or {}).get("config")) or {}


def text(name):
    with open(os.environ[name], errors="replace") as f:
        return f.read()


def log_lines(pattern):
    return [line for line in text("LOG").splitlines() if re.search(pattern, line)]


def expect(condition, message):
    if not condition:
        print("check failed:", message)
        sys.exit(1)


def expect_equal(actual, expected, what):
    expect(actual == expected, f"{what}: {actual!r}, expected {expected!r}")
