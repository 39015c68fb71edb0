"""`qdparse scan` stopped by a signal leaves whole records of the files done, in path order."""

import json
import os
import signal
import subprocess
import time

import pytest

from conftest import copy_tree


@pytest.mark.parametrize("sig", [signal.SIGINT, signal.SIGTERM])
def test_an_interrupted_scan_leaves_a_valid_output(samples, tmp_path, sig):
    total = len(copy_tree(samples, tmp_path / "tree", 500))
    out = tmp_path / "index.jsonl"
    scan = subprocess.Popen([os.environ["QDPARSE_TOOL"], "scan", "--jobs", "2", str(tmp_path / "tree"), "-o", str(out)],
                            stderr=subprocess.PIPE)
    while scan.poll() is None and (not out.exists() or out.stat().st_size == 0):
        time.sleep(0.001)
    scan.send_signal(sig)
    _, errors = scan.communicate(timeout=60)
    lines = out.read_text().split("\n")
    assert lines.pop() == ""  # ends with a whole line
    files = [json.loads(line)["file"] for line in lines]
    assert files == sorted(files) and len(set(files)) == len(files)
    if len(files) < total:
        assert scan.returncode == 130 and b"interrupted" in errors
    else:  # finished before the signal came
        assert scan.returncode == 0
