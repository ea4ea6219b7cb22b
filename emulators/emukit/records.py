"""One JSON record (and the raw payload) per served stream, for tests to inspect."""
import base64
import json
import os
import sys


class RecordWriter:
    """Writes <dir>/stream-NNNN.json and stream-NNNN.raw. Each record is complete on
    disk before "RECORD <path>" is printed on stdout, and the servers write it before
    they send the stream's final status, so a client that has seen the status can read
    the record at once."""

    def __init__(self, directory):
        self.directory = os.path.abspath(directory) if directory else None
        if self.directory:
            os.makedirs(self.directory, exist_ok=True)

    def write(self, number, record, payload=b""):
        if not self.directory:
            return None
        stem = os.path.join(self.directory, f"stream-{number:04d}")
        record = dict(record)
        record["audio_file"] = os.path.basename(stem + ".raw")
        with open(stem + ".raw", "wb") as f:
            f.write(payload)
        tmp = stem + ".json.tmp"
        with open(tmp, "w") as f:
            json.dump(record, f, indent=2, sort_keys=True)
            f.write("\n")
        os.replace(tmp, stem + ".json")
        sys.stdout.write(f"RECORD {stem}.json\n")
        sys.stdout.flush()
        return stem + ".json"


def metadata_dict(pairs):
    """Invocation metadata as a dict; repeated keys are joined with ", " as HTTP does."""
    out = {}
    for key, value in pairs:
        if isinstance(value, bytes):
            value = base64.b64encode(value).decode("ascii")
        out[key] = f"{out[key]}, {value}" if key in out else value
    return out
