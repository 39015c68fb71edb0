"""The suite runs against a build: QDPARSE_LIBRARY (libqdparse.so), QDPARSE_TOOL
(the qdparse tool, the reference for every record) and QDPARSE_SAMPLES (the
sample generator)."""

import json
import os
import shutil
import subprocess

import pytest

os.environ.setdefault("TZ", "UTC")  # capture times are shown in host local time


def _program(name):
    path = os.environ.get(name)
    if not path:
        pytest.skip(f"{name} is not set")
    return path


@pytest.fixture(scope="session")
def tool():
    path = _program("QDPARSE_TOOL")

    def run(*args, check=True):
        done = subprocess.run([path, *map(str, args)], capture_output=True, env=os.environ)
        if check and done.returncode not in (0, 1):
            raise AssertionError(done.stderr.decode())
        return done

    return run


@pytest.fixture(scope="session")
def samples(tmp_path_factory):
    """The sample of every kind, and a file the library refuses."""
    folder = tmp_path_factory.mktemp("samples")
    subprocess.run([_program("QDPARSE_SAMPLES"), str(folder)], check=True, capture_output=True)
    (folder / "notes.txt").write_bytes(b"not a camera file, and long enough not to be merely too short\n" * 8)
    return folder


@pytest.fixture(scope="session")
def info(tool):
    """`qdparse info --json` of a path, as a dict."""
    return lambda path: json.loads(tool("info", "--json", path).stdout)


@pytest.fixture(scope="session")
def sample_paths(samples):
    return sorted(samples.iterdir())


def copy_tree(samples, folder, copies):
    """`copies` copies of every sample under `folder`, in two levels."""
    paths = []
    for i in range(copies):
        sub = folder / f"set{i % 4}" / f"n{i:04d}"
        sub.mkdir(parents=True, exist_ok=True)
        for s in sorted(samples.iterdir()):
            shutil.copyfile(s, sub / s.name)
            paths.append(sub / s.name)
    return paths
