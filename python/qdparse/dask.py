"""Metadata of many files as a Dask DataFrame: one row per file, each file
opened on a worker through fsspec and read lazily by the library.

    import qdparse.dask
    df = qdparse.dask.read_metadata("s3://archive/**/*.JPG", storage_options={"anon": True})
    df[df.type == "exif-jpeg"].groupby("model").size().compute()
"""

import pandas as pd

from . import describe

# The columns of `qdparse scan --format csv`, plus the error code and the
# bytes the library fetched from each file.
COLUMNS = ["file", "type", "make", "model", "width", "height", "dateTime", "exposureTime", "fNumber", "iso",
           "errorCode", "errorName", "errorMessage", "bytesRead"]
_DTYPES = {"width": "Int64", "height": "Int64", "iso": "Int64", "errorCode": "Int64", "bytesRead": "Int64",
           "fNumber": "float64"}


class _Counting:
    """Passes read/seek/tell through and counts the bytes read."""

    def __init__(self, f):
        self._f = f
        self.count = 0
        self.path = getattr(f, "path", None)

    def read(self, n=-1):
        data = self._f.read(n)
        self.count += len(data)
        return data

    def seek(self, *args):
        return self._f.seek(*args)

    def tell(self):
        return self._f.tell()


def row(record, bytes_read=None):
    """A flat row of COLUMNS from an `info --json` record or an error record."""
    image = record.get("image") or {}
    error = record.get("error") or {}
    return {"file": record.get("file"), "type": record.get("type"), "make": record.get("make"),
            "model": record.get("model"), "width": image.get("width"), "height": image.get("height"),
            "dateTime": (record.get("capture") or {}).get("dateTime"),
            "exposureTime": (record.get("exposure") or {}).get("time"),
            "fNumber": (record.get("exposure") or {}).get("fNumber"),
            "iso": (record.get("exposure") or {}).get("iso"), "errorCode": error.get("code"),
            "errorName": error.get("name"), "errorMessage": error.get("message"), "bytesRead": bytes_read}


def _frame(rows):
    frame = pd.DataFrame(rows, columns=COLUMNS)
    return frame.astype(_DTYPES)


def _read_partition(fs, paths):
    rows = []
    for path in paths:
        # Block size 0 where the filesystem allows it: no read-ahead beyond what the library asks for.
        with fs.open(path, "rb", block_size=0) if _unbuffered(fs) else fs.open(path, "rb") as f:
            counted = _Counting(f)
            record = describe(counted)
            record["file"] = path
            rows.append(row(record, counted.count))
    return _frame(rows)


def _unbuffered(fs):
    from fsspec.implementations.local import LocalFileSystem

    return not isinstance(fs, LocalFileSystem)


def read_metadata(urlpath, storage_options=None, files_per_partition=64):
    """A dask DataFrame of COLUMNS, one row per file, sorted by path.
    `urlpath`: a glob, a path or a list of them, on any fsspec filesystem."""
    import dask.dataframe as dd
    from dask import delayed
    from fsspec.core import get_fs_token_paths

    fs, _, paths = get_fs_token_paths(urlpath, mode="rb", storage_options=storage_options or {})
    paths = sorted(p for p in paths if fs.isfile(p))
    parts = [paths[i:i + files_per_partition] for i in range(0, len(paths), files_per_partition)] or [[]]
    meta = _frame([])
    return dd.from_delayed([delayed(_read_partition)(fs, part) for part in parts], meta=meta,
                           verify_meta=False)
