import concurrent.futures
import io
import re
import shutil
from pathlib import Path

import pytest

import qdparse
from qdparse import _abi

HEADERS = Path(__file__).resolve().parents[2] / "include"


def test_result_names_match_the_headers():
    defined = {}
    for header in ("qdparse.h", "qdparse_host.h"):
        text = (HEADERS / header).read_text()
        for name, value in re.findall(r"#define\s+(QDH?_(?:OK|E_\w+))\s+(0x[0-9A-Fa-f]+)u", text):
            defined[int(value, 16)] = name
    assert defined == _abi.RESULT_NAMES


def test_record_sizes_match_the_header():
    text = (HEADERS / "qdparse.h").read_text()
    asserted = {name: int(size) for name, size in re.findall(r"sizeof\((\w+)\) == (\d+)", text)}
    for record, size in _abi.LAYOUT.items():
        import ctypes

        assert ctypes.sizeof(record) == size, record.__name__
        if record.__name__ in asserted and record is not _abi.QdlStream:
            assert asserted[record.__name__] == size, record.__name__
    for record, field, offset in ((_abi.QdImageInfo, "compressedBitsPerPixel", 0x30), (_abi.QdImageInfo, "flags", 0x4D),
                                  (_abi.ExifCaptureInfo, "imageType", 40), (_abi.ExifShotValues, "settingFlag", 18)):
        assert getattr(record, field).offset == offset


class Counting(io.RawIOBase):
    """A file object that counts the bytes it delivers."""

    def __init__(self, data):
        self._f = io.BytesIO(data)
        self.delivered = 0

    def read(self, n=-1):
        data = self._f.read(n)
        self.delivered += len(data)
        return data

    def seek(self, offset, whence=0):
        return self._f.seek(offset, whence)

    def tell(self):
        return self._f.tell()


SOURCES = {"path": lambda p: p, "str": str, "bytes": lambda p: p.read_bytes(),
           "file": lambda p: io.BytesIO(p.read_bytes())}


@pytest.mark.parametrize("form", SOURCES)
def test_read_gives_info_json(sample_paths, info, form):
    for path in sample_paths:
        expected = info(path)
        if "error" in expected:
            with pytest.raises(qdparse.Error) as refused:
                qdparse.read(SOURCES[form](path))
            assert (refused.value.code, refused.value.name) == (expected["error"]["code"], expected["error"]["name"])
            continue
        got = qdparse.read(SOURCES[form](path))
        if form not in ("path", "str"):
            got["file"] = expected["file"]
        assert got == expected, path.name


def test_reads_only_the_metadata_of_a_large_file(samples):
    data = (samples / "exif.jpg").read_bytes()
    # The image data is never read: a 32 MiB file costs what the small one does.
    big = data[:-2] + bytes(32 << 20) + b"\xff\xd9"
    small, large = Counting(data), Counting(big)
    assert qdparse.read(large)["type"] == qdparse.read(small)["type"] == "exif-jpeg"
    assert large.delivered <= max(small.delivered, 64 << 10)


def test_thumbnail_and_wave_match_the_tool(samples, tool, tmp_path):
    for name in ("exif.jpg", "heap-file.heap"):
        tool("thumb", samples / name, "-o", tmp_path / name)
        assert qdparse.thumbnail(samples / name) == (tmp_path / name).read_bytes()
    with pytest.raises(qdparse.Error):
        qdparse.thumbnail(samples / "notes.txt")
    import json

    expected = json.loads(tool("wav", "--json", samples / "memo.wav").stdout)
    assert qdparse.wave(samples / "memo.wav") == {k: expected[k] for k in ("wave", "sound")}


def test_several_threads_parse_at_once(sample_paths):
    single = {p: qdparse.describe(p) for p in sample_paths}
    with concurrent.futures.ThreadPoolExecutor(8) as pool:
        for path, got in zip(sample_paths * 25, pool.map(qdparse.describe, sample_paths * 25)):
            assert got == single[path]


@pytest.mark.parametrize("name,change,check", [
    ("exif.jpg", {"orientation": 6, "iso": 400, "exposure": "1/250"},
     lambda r: r["exposure"]["iso"] == 400 and r["exposure"]["time"] == "1/250"),
    ("exif.tif", {"exposure": 0.004}, lambda r: r["exposure"]["time"] == "1/250"),
    ("exif.jpg", {"fnumber": 7.1, "comment": "new comment"}, lambda r: r["exposure"]["fNumber"] == 7.1),
    ("heap-file.heap", {"datetime": "2024:02:29 13:14:15"},
     lambda r: r["capture"]["dateTime"] == "2024-02-29T13:14:15" and r["capture"]["owner"] == "Demo Owner"),
    ("exif.jpg", {"datetime": "2024:02:29 13:14:15"}, lambda r: r["capture"]["dateTime"] == "2024-02-29T13:14:15"),
])
def test_set_changes_in_place(samples, tmp_path, name, change, check):
    path = tmp_path / name
    shutil.copyfile(samples / name, path)
    before = path.stat().st_size
    assert qdparse.set(path, **change)
    assert path.stat().st_size == before
    assert not qdparse.set(path, **change)  # nothing left to change
    assert check(qdparse.read(path))


@pytest.mark.parametrize("name,change", [("notes.txt", {"iso": 100}), ("memo.wav", {"orientation": 3})])
def test_refused_set_leaves_the_file(samples, tmp_path, name, change):
    path = tmp_path / name
    shutil.copyfile(samples / name, path)
    before = path.read_bytes()
    with pytest.raises(qdparse.Error):
        qdparse.set(path, **change)
    assert path.read_bytes() == before


def test_a_failing_file_object_is_a_host_error(samples):
    class Broken(Counting):
        def read(self, n=-1):
            raise OSError("connection reset")

    with pytest.raises(qdparse.Error) as refused:
        qdparse.read(Broken((samples / "exif.jpg").read_bytes()))
    assert refused.value.name == "QDH_E_IO" and isinstance(refused.value.cause, OSError)
