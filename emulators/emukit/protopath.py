"""Finds the Python code generated from protocol definitions in the build tree."""
import os
import sys

_EMULATORS_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
_REPO_DIR = os.path.dirname(_EMULATORS_DIR)

ENV_VAR = "OXA_PROTO_PYTHON"


def default_dir():
    """The generated-code folder of the default build tree."""
    return os.path.join(_REPO_DIR, "build", "emulators", "python")


def add_generated_path(explicit=None):
    """Puts the generated-code folder on sys.path: the given one, else $OXA_PROTO_PYTHON,
    else the default build tree's. Returns the folder used."""
    path = explicit or os.environ.get(ENV_VAR) or default_dir()
    path = os.path.abspath(path)
    if not os.path.isdir(os.path.join(path, "google")):
        raise SystemExit(
            f"generated protocol code not found in {path}: build the project first "
            f"(or pass --proto-python / set {ENV_VAR})")
    if path not in sys.path:
        sys.path.insert(0, path)
    return path
