"""Camera file metadata through the qdparse shared library.

    import qdparse
    info = qdparse.read("IMG_0001.JPG")       # the fields of `qdparse info --json`
    info["model"], info["image"]["width"], info["capture"]["dateTime"]
    qdparse.thumbnail(open("IMG_0001.JPG", "rb"))  # JPEG bytes
    qdparse.set("IMG_0001.JPG", orientation=6)   # in place

Sources are paths, bytes, or binary file objects with read/seek/tell (fsspec
files included); the library reads only the bytes it needs. Refused files
raise qdparse.Error.
"""

import ctypes
import os
import struct
import time

from . import _abi
from ._stream import Output, Source, Stream

__all__ = ["Error", "read", "properties", "thumbnail", "wave", "set", "describe"]

_NO_TYPE = 0xFF
_FILE_TYPES = {1: ("heap-file", "heap file"), 2: ("jpeg-heap", "JPEG with heap"), 3: ("tiff-raw", "TIFF RAW"),
               5: ("exif-jpeg", "Exif JPEG"), 8: ("exif-tiff", "Exif TIFF"),
               9: ("tiff-raw-16", "TIFF RAW, 16-bit samples")}
_FORMATS = {0: "none", 1: "RAW image (heap)", 2: "JPEG image", 3: "uncompressed image (heap)",
            5: "Exif JPEG image", 6: "the JPEG file itself", 8: "Exif TIFF image",
            9: "uncompressed 16-bit image (heap)", 10: "auxiliary image", 11: "RAW image in an Exif TIFF",
            12: "K-model TIFF (known by Make and Model)"}

# Property record codes of the values read first.
_ISO, _EXPOSURE_TIME, _F_NUMBER, _MAKE = 0x000C, 0x002D, 0x002E, 0x0080
_COMMENT, _ORIENTATION = 0x0001, 0x0007
# Absent values of ExifShotValues.
_ABSENT_APERTURE, _ABSENT_SHUTTER, _ABSENT_COMPENSATION, _ABSENT_EV = -1.0, 100.0, 100.0, -1.0
_NO_NUMBER = 0xFFFFFFFF


class Error(Exception):
    """A file the library refused: `code` (the result code), `name`
    ("QD_E_UNSUPPORTED"; None for a host callback's own code) and `message`."""

    def __init__(self, code, message, cause=None):
        self.code = code
        self.name = _abi.RESULT_NAMES.get(code)
        self.message = message
        self.cause = cause
        super().__init__(f"{message}: 0x{code:08X} {self.name or ''}".rstrip())

    def as_dict(self):
        return {"code": self.code, "name": self.name, "message": self.message}


def _check(result, stream, what):
    if result != 0:
        failure = stream.failure if stream is not None else None
        raise Error(result, what + (f" ({failure})" if failure else ""), failure)


def _text(raw):
    return raw.split(b"\0", 1)[0].decode("utf-8", "replace")


def _short(value):
    return float("%.7g" % value)


def _type_key(code):
    return _FILE_TYPES.get(code, ("type 0x%02X" % code,))[0]


def _type_name(code):
    return _FILE_TYPES[code][1] if code in _FILE_TYPES else "file type 0x%02X" % code


def _records(data):
    """{code: payload} of a property record stream (first of each code)."""
    out, at = [], 0
    while at + 6 <= len(data):
        code, size = struct.unpack_from("<HI", data, at)
        if size > len(data) - at - 6:
            break
        out.append((code, data[at + 6:at + 6 + size]))
        at += 6 + size
    return out


def _exposure_text(seconds):
    if 0 < seconds < 0.25001:
        return "1/%.0f" % (1 / seconds)
    text = "%.1f" % seconds
    return text[:-2] if text.endswith(".0") else text


def _rational(payload):
    if len(payload) < 8:
        return None
    n, d = struct.unpack_from("<II", payload)
    return n / d if d else None


def _image(d, main=False):
    if d.format == 0:
        return None
    j = {"format": d.format, "formatName": _FORMATS.get(d.format, "format 0x%02X" % d.format),
         "model": _text(d.model), "width": d.width, "height": d.height, "bitsPerSample": d.bitsPerSample,
         "bitsPerPixel": d.bitsPerPixel, "colour": d.colour != 0, "aspect": _short(d.aspect),
         "xResolution": d.xResolution, "yResolution": d.yResolution}
    if main:
        j["compressedBitsPerPixel"] = _short(d.compressedBitsPerPixel)
        j["dataCode"] = d.dataCode
        j["fullView"] = {"width": d.fullWidth, "height": d.fullHeight, "aspect": _short(d.fullAspect),
                         "xResolution": d.fullXResolution, "yResolution": d.fullYResolution}
        j["flags"] = d.flags
        j["pathValues"] = [None if v == _NO_NUMBER else v for v in d.pathValues]
    return j


def _exposure(records, shot):
    first = {}
    for code, payload in records:
        first.setdefault(code, payload)
    e = {"time": None, "timeFromApex": False, "fNumber": None, "fNumberFromApex": False, "iso": None}
    v = _rational(first.get(_EXPOSURE_TIME, b""))
    if v is not None:
        e["time"] = _exposure_text(v)
    elif shot.shutterSpeed != _ABSENT_SHUTTER:
        e["time"], e["timeFromApex"] = _exposure_text(2.0 ** -shot.shutterSpeed), True
    v = _rational(first.get(_F_NUMBER, b""))
    if v is not None:
        e["fNumber"] = float("%.1f" % v)
    elif shot.aperture != _ABSENT_APERTURE:
        e["fNumber"], e["fNumberFromApex"] = float("%.1f" % (2.0 ** (shot.aperture / 2))), True
    iso = first.get(_ISO, b"")
    if len(iso) >= 2:
        e["iso"] = iso[0] | iso[1] << 8
    return e, _counted_text(first.get(_MAKE, b""))


def _counted_text(payload):
    """A u32 length, then the text; None when absent, empty or cut short."""
    if len(payload) < 4:
        return None
    n = struct.unpack_from("<I", payload)[0]
    return (_text(payload[4:4 + n]) or None) if n <= len(payload) - 4 else None


def _clock(seconds):
    # The camera's clock was read as host local time: the local calendar gives it back.
    return time.strftime("%Y-%m-%dT%H:%M:%S", time.localtime(seconds))


def _absent(is_absent, value):
    return None if is_absent else value


class _Parsed:
    def __init__(self):
        self.type = ctypes.c_uint8(_NO_TYPE)
        self.image, self.thumb, self.aux = _abi.QdImageInfo(), _abi.QdThumbnailInfo(), _abi.QdAuxImageInfo()
        self.capture, self.shot = _abi.ExifCaptureInfo(), _abi.ExifShotValues()


def _parse(stream, properties_out=None, comment_out=None):
    """The type (first, output-free call) and the descriptions. Returns (result, parsed)."""
    lib = _abi.lib()
    p = _Parsed()
    result = lib.QDParseStream2(stream.ref, None, None, None, None, None, ctypes.byref(p.type))
    if result != 0:
        return result, p
    result = lib.QDParseThumbnailFileStreamEx2(
        stream.ref, stream.size(), ctypes.byref(p.thumb), ctypes.byref(p.image), ctypes.byref(p.aux),
        ctypes.byref(p.capture), ctypes.byref(p.shot), None,
        comment_out.ref if comment_out else None, properties_out.ref if properties_out else None, None)
    return result, p


def _wave_facts(stream):
    lib = _abi.lib()
    w, s = _abi.QdWaveInfo(), _abi.QdSoundProperties()
    result = lib.QDParseGetWAVEInfo(stream.ref, ctypes.byref(w))
    if result == 0:
        result = lib.QDParseSoundProperties(stream.ref, ctypes.byref(s), 0)
    return result, w, s


def _wave_json(w, s):
    return {"wave": {"formatTag": w.formatTag, "channels": w.channels, "sampleRate": w.sampleRate,
                     "bytesPerSecond": w.bytesPerSecond, "bitsPerSample": w.bitsPerSample},
            "sound": {"duration": _short(s.duration), "sampleRate": s.sampleRate,
                      "bitsPerSample": s.bitsPerSample}}


def _wave_record(name, w, s):
    return dict({"file": name, "type": "wave", "typeCode": None, "typeName": "WAVE sound"}, **_wave_json(w, s))


def _is_host_error(code):
    return code & 0xFF000000 != 0x04000000


def _describe(stream, name):
    # A sound memo goes to the sound exports first: the parse exports refuse
    # it anyway, and only after reading it whole.
    if stream.peek(12)[8:12] == b"WAVE":
        result, w, s = _wave_facts(stream)
        if result == 0:
            return _wave_record(name, w, s)
    props = Output()
    result, p = _parse(stream, props)
    t = p.type.value
    if result == 0:
        records = _records(props.value())
        exposure, make = _exposure(records, p.shot)
        c, s = p.capture, p.shot
        j = {"file": name, "type": _type_key(t), "typeCode": t, "typeName": _type_name(t), "make": make,
             "model": _text(p.image.model), "exposure": exposure, "image": _image(p.image, main=True),
             "thumbnail": _image(p.thumb), "auxiliary": _image(p.aux)}
        if p.aux.format != 0:
            j["auxiliary"]["extra"] = list(p.aux.extra)
        j["capture"] = {"time": c.time or None, "dateTime": _clock(c.time) if c.time else None,
                        "fileNumber": _absent(c.fileNumber == _NO_NUMBER, c.fileNumber),
                        "owner": _text(c.owner), "imageType": _text(c.imageType)}
        j["shot"] = {"aperture": _absent(s.aperture == _ABSENT_APERTURE, _short(s.aperture)),
                     "shutterSpeed": _absent(s.shutterSpeed == _ABSENT_SHUTTER, _short(s.shutterSpeed)),
                     "exposureCompensation": _absent(s.exposureCompensation == _ABSENT_COMPENSATION,
                                                     _short(s.exposureCompensation)),
                     "additionalEv": _absent(s.additionalEv == _ABSENT_EV, _short(s.additionalEv)),
                     "settingWord": _absent(s.settingWord == 0xFFFF, s.settingWord),
                     "settingFlag": _absent(s.settingFlag == 0xFF, s.settingFlag)}
        present = ctypes.c_uint16(0)
        _check(_abi.lib().QDParseHasVedraOptionalData(stream.ref, ctypes.byref(present)), stream, "cannot read")
        j["optionalData"] = present.value == 1
        return j
    if t == _NO_TYPE and not _is_host_error(result):
        wave_result, w, s = _wave_facts(stream)
        if wave_result == 0:
            return _wave_record(name, w, s)
    if t != _NO_TYPE:
        _check(result, stream, "refused as " + _type_name(t))
    _check(result, stream, "cannot read" if _is_host_error(result) else "not a camera file the library reads")
    raise AssertionError("unreachable")


def read(source):
    """The fields of `qdparse info --json` for one file, as a dict."""
    with Source(source) as stream:
        return _describe(stream, _source_name(source))


def _source_name(source):
    if isinstance(source, (str, os.PathLike)):
        return os.fspath(source)
    name = getattr(source, "path", None) or getattr(source, "name", None)
    return name if isinstance(name, str) else None


def describe(source):
    """read(), but a refusal gives the error record `info --json` prints
    ({"file", "error": {"code", "name", "message"}}) instead of raising."""
    try:
        return read(source)
    except Error as e:
        return {"file": _source_name(source), "error": e.as_dict()}


def properties(source):
    """The property records the parse exports write: [{"code", "payload"}]."""
    with Source(source) as stream:
        out = Output()
        result, p = _parse(stream, out)
        _check(result, stream, "not a camera file the library reads")
        return [{"code": code, "payload": payload} for code, payload in _records(out.value())]


def thumbnail(source):
    """The DCF thumbnail of an Exif file or the embedded JPEG of a heap file, as bytes."""
    lib = _abi.lib()
    with Source(source) as stream:
        t = ctypes.c_uint8(_NO_TYPE)
        _check(lib.QDParseStream2(stream.ref, None, None, None, None, None, ctypes.byref(t)), stream,
               "not a camera file the library reads")
        if t.value in (5, 8):
            out = Output()
            _check(lib.QDParseGetDCFThumbnail(stream.ref, out.ref), stream, "DCF thumbnail refused")
            if out.value():
                return out.value()
            raise Error(_abi.CODES["QD_E_FAILED"], "no DCF thumbnail")
        if t.value == 1:
            result = 0
            for which in (1, 2):
                out = Output()
                result = lib.qdParseGetJpegDataFromQdRAW(stream.ref, which, out.ref)
                if result == 0:
                    return out.value()
            raise Error(result, "no embedded JPEG in this heap file")
        raise Error(_abi.CODES["QD_E_NOT_APPLICABLE"],
                    "a " + _type_name(t.value) + " has no thumbnail the library extracts here")


def wave(source):
    """The format chunk and sound properties of a WAVE sound memo."""
    with Source(source) as stream:
        result, w, s = _wave_facts(stream)
        _check(result, stream, "not a WAVE sound memo")
        return _wave_json(w, s)


_ORIENTATIONS = {1: (0, 0), 2: (0, 1), 3: (180, 0), 4: (180, 1), 5: (270, 1), 6: (90, 0), 7: (90, 1), 8: (270, 0)}


def _as_rational(value):
    """"1/250", "0.5", 7.1 or (n, d) as (n, d)."""
    if isinstance(value, tuple):
        n, d = value
    elif isinstance(value, str) and "/" in value:
        n, d = (int(x) for x in value.split("/", 1))
    else:
        v = float(value)
        if not 1e-6 <= v <= 1e6:
            raise ValueError(f"{value!r} is out of range")
        n, d = (1, round(1 / v)) if v < 1 else (round(v * 10), 10)
    if d == 0:
        raise ValueError(f"{value!r} has a zero denominator")
    return n, d


def _record(code, payload):
    return struct.pack("<HI", code, len(payload)) + payload


def set(path, orientation=None, datetime=None, comment=None, exposure=None, fnumber=None, iso=None):  # noqa: A001
    """Changes properties of the file at `path` in place (values the file has;
    none added). The change is made on a copy in memory first: when the
    library refuses it, the file is left as it was and Error is raised.
    Returns whether the file changed."""
    records = []
    if orientation is not None:
        if orientation not in _ORIENTATIONS:
            raise ValueError("orientation must be 1 to 8")
        angle, mirrored = _ORIENTATIONS[orientation]
        records.append(_record(_ORIENTATION, struct.pack("<IBB", angle, mirrored, 0)))
    if comment is not None:
        records.append(_record(_COMMENT, comment.encode("utf-8") if isinstance(comment, str) else bytes(comment)))
    if exposure is not None:
        records.append(_record(_EXPOSURE_TIME, struct.pack("<II", *_as_rational(exposure))))
    if fnumber is not None:
        records.append(_record(_F_NUMBER, struct.pack("<II", *_as_rational(fnumber))))
    if iso is not None:
        records.append(_record(_ISO, struct.pack("<H", iso)))
    capture = None
    with open(path, "rb") as f:
        before = f.read()
    if len(before) > 0xFFFFFFFF:
        raise Error(_abi.CODES["QDH_E_TOO_LARGE"], "longer than 4 GiB - 1")
    if datetime is not None:
        # The capture record also carries owner, file number and image type: the file's own go back.
        result, p = _parse(Stream(_BytesView(before)))
        _check(result, None, "cannot read its capture data")
        capture = p.capture
        # Read as standard time: the library writes it back with the zone's standard offset.
        capture.time = int(time.mktime(time.strptime(datetime, "%Y:%m:%d %H:%M:%S")[:8] + (0,)))
    if not records and capture is None:
        raise ValueError("nothing to change: give at least one value")

    def change(stream):
        buffers = [ctypes.create_string_buffer(r, len(r)) for r in records]
        array = (ctypes.c_void_p * (len(buffers) + 1))(*[ctypes.addressof(b) for b in buffers], None)
        cap = None
        if capture is not None:
            cap = _abi.ExifCaptureInfo.from_buffer_copy(capture)  # the library shifts its time in place
        return _abi.lib().QDParseReplaceProperties(stream.ref, None, ctypes.byref(cap) if cap else None, None,
                                                   array)

    copy = bytearray(before)
    trial = Stream(_BytesView(copy), writable=True)
    _check(change(trial), trial, "change refused, file left as it was")
    if len(copy) != len(before):
        raise Error(_abi.CODES["QD_E_SIZE_MISMATCH"], "the change would resize the file; left as it was")
    if copy == before:
        return False
    with open(path, "r+b") as f:
        stream = Stream(f, writable=True)
        _check(change(stream), stream, "change failed")
    return True


class _BytesView:
    """A fixed-length, writable file object over a bytearray (update in place)."""

    def __init__(self, data):
        self._data = data if isinstance(data, bytearray) else bytearray(data)
        self._at = 0

    def read(self, n=-1):
        end = len(self._data) if n < 0 else min(len(self._data), self._at + n)
        chunk = bytes(self._data[self._at:end])
        self._at = max(self._at, end)
        return chunk

    def write(self, b):
        n = min(len(b), len(self._data) - self._at)
        self._data[self._at:self._at + n] = b[:n]
        self._at += n
        return n

    def seek(self, offset, whence=0):
        self._at = offset if whence == 0 else (self._at + offset if whence == 1 else len(self._data) + offset)
        return self._at

    def tell(self):
        return self._at

