import csv
import io
import time

import pandas as pd
import pytest

distributed = pytest.importorskip("distributed")
fsspec = pytest.importorskip("fsspec")

import qdparse.__main__  # noqa: E402
import qdparse.dask  # noqa: E402
from conftest import copy_tree  # noqa: E402

# What the library reads of a sample at most: the metadata, never the image data.
METADATA_BOUND = 64 << 10
CSV_COLUMNS = ["file", "type", "make", "model", "width", "height", "dateTime", "exposureTime", "fNumber", "iso",
               "errorName"]


def _text(v):
    """A value as the tool's CSV writes it."""
    if v is None or pd.isna(v):
        return ""
    return repr(v) if isinstance(v, float) else str(v)


def _scan_rows(tool, folder):
    out = tool("scan", "--format", "csv", "--jobs", "2", folder).stdout.decode()
    return {r["file"]: [r[c] for c in CSV_COLUMNS] for r in csv.DictReader(io.StringIO(out, newline=""))}


def test_read_metadata_on_a_local_cluster(samples, tool, tmp_path):
    paths = copy_tree(samples, tmp_path / "archive", 40)
    expected = _scan_rows(tool, tmp_path / "archive")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=2, processes=True, dashboard_address=None) as cluster, \
            distributed.Client(cluster):
        start = time.monotonic()
        frame = qdparse.dask.read_metadata(str(tmp_path / "archive" / "**" / "*"), files_per_partition=50).compute()
        seconds = time.monotonic() - start
        # The command line over the same cluster writes the same rows.
        out = tmp_path / "index.csv"
        assert qdparse.__main__.main(["scan", str(tmp_path / "archive"), "--scheduler", cluster.scheduler_address,
                                      "-o", str(out)]) == 0
        command = {r["file"]: [r[c] for c in CSV_COLUMNS] for r in csv.DictReader(out.open(newline=""))}
    print(f"\nLocalCluster (2 worker processes): {len(frame)} rows in {seconds:.2f} s")
    assert len(frame) == len(paths) == len(expected)
    assert list(frame["file"]) == sorted(frame["file"])
    got = {r["file"]: [_text(r[c]) for c in CSV_COLUMNS] for r in frame.to_dict(orient="records")}
    assert got == expected == command
    assert frame["bytesRead"].max() <= METADATA_BOUND
    assert frame["errorName"].notna().sum() == len(paths) // len(list(samples.iterdir()))


def test_bytes_fetched_through_a_counting_filesystem(samples):
    """A file of 32 MiB on an fsspec filesystem: the library fetches its metadata only."""
    memory = fsspec.filesystem("memory")
    data = (samples / "exif.jpg").read_bytes()
    memory.pipe("/big/exif.jpg", data[:-2] + bytes(32 << 20) + b"\xff\xd9")
    memory.pipe("/big/small.jpg", data)
    wave = (samples / "memo.wav").read_bytes()
    memory.pipe("/big/memo.wav", wave)
    frame = qdparse.dask.read_metadata("memory://big/*").compute(scheduler="sync")
    print("\nbytes fetched per file:", dict(zip(frame["file"], frame["bytesRead"])))
    assert list(frame["type"]) == ["exif-jpeg", "wave", "exif-jpeg"]
    assert frame["bytesRead"].max() <= METADATA_BOUND
    assert frame["bytesRead"].iloc[0] == frame["bytesRead"].iloc[2]
    assert frame["bytesRead"].iloc[1] < len(wave) // 4  # the sound data is not read
