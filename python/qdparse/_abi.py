"""The library's binary interface: the shared library, its packed records,
the stream callbacks and the names of its result codes. Everything else in
the package goes through this module."""

import ctypes
import ctypes.util
import os
import sys

# Callbacks and exports use the platform's C convention: CFUNCTYPE. Only a
# 32-bit Windows build would need WINFUNCTYPE (stdcall).
_FUNCTYPE = ctypes.WINFUNCTYPE if (sys.platform == "win32" and ctypes.sizeof(ctypes.c_void_p) == 4) \
    else ctypes.CFUNCTYPE

u8, u16, u32, i32, f32 = ctypes.c_uint8, ctypes.c_uint16, ctypes.c_uint32, ctypes.c_int32, ctypes.c_float
P_U32 = ctypes.POINTER(u32)

# Result codes, as include/qdparse.h and include/qdparse_host.h define them
# (tests/test_abi.py reads both headers and compares).
RESULT_NAMES = {
    0x00000000: "QD_OK",
    0x04000002: "QD_E_FAILED",
    0x04000003: "QD_E_NO_MEMORY",
    0x04000004: "QD_E_BLOCK_CHECK",
    0x04000007: "QD_E_OTHER_MAKER",
    0x0400002A: "QD_E_RESERVED_2A",
    0x0400002C: "QD_E_UNSUPPORTED",
    0x0400002D: "QD_E_CORRUPT",
    0x04000050: "QD_E_NOT_APPLICABLE",
    0x04000051: "QD_E_OUT_OF_RANGE",
    0x04000060: "QD_E_INVALID_ARG",
    0x04000065: "QD_E_SIZE_MISMATCH",
    0x040000A7: "QD_E_SHORT_READ",
    0x040000A8: "QD_E_SHORT_WRITE",
    0x08000001: "QDH_E_INVALID_ARG",
    0x08000002: "QDH_E_NO_MEMORY",
    0x08000003: "QDH_E_BAD_MODE",
    0x08000004: "QDH_E_BAD_ORIGIN",
    0x08000005: "QDH_E_NOT_OPEN",
    0x08000006: "QDH_E_ALREADY_OPEN",
    0x08000007: "QDH_E_OPEN_FAILED",
    0x08000008: "QDH_E_IO",
    0x08000009: "QDH_E_TOO_LARGE",
    0x0800000A: "QDH_E_SEEK_BEFORE_START",
    0x0800000B: "QDH_E_READ_ONLY",
    0x0800000C: "QDH_E_NO_SPACE",
}
CODES = {name: code for code, name in RESULT_NAMES.items()}

OPEN_READ, OPEN_UPDATE, OPEN_WRITE = 1, 2, 3
SEEK_START, SEEK_CURRENT, SEEK_END = 1, 2, 3

OpenProc = _FUNCTYPE(u32, ctypes.c_void_p, u32, P_U32)
CloseProc = _FUNCTYPE(u32, ctypes.c_void_p, P_U32)
ReadProc = _FUNCTYPE(u32, ctypes.c_void_p, ctypes.c_void_p, P_U32, P_U32)
WriteProc = _FUNCTYPE(u32, ctypes.c_void_p, ctypes.c_void_p, P_U32, P_U32)
SeekProc = _FUNCTYPE(u32, ctypes.c_void_p, u32, i32, P_U32)
TellProc = _FUNCTYPE(u32, ctypes.c_void_p, P_U32)
AuxProc = _FUNCTYPE(u32, ctypes.c_void_p, u32, P_U32)


class _Packed(ctypes.Structure):
    _pack_ = 1


class QdlStream(_Packed):
    _fields_ = [("context", ctypes.c_void_p), ("reserved", ctypes.c_void_p), ("open", OpenProc),
                ("close", CloseProc), ("read", ReadProc), ("write", WriteProc), ("seek", SeekProc),
                ("tell", TellProc), ("aux", AuxProc)]


_DESCRIPTION = [("model", ctypes.c_char * 32), ("format", u8), ("bitsPerSample", u8), ("bitsPerPixel", u8),
                ("colour", u8), ("width", u16), ("height", u16), ("aspect", f32), ("xResolution", u16),
                ("yResolution", u16)]


class QdThumbnailInfo(_Packed):
    _fields_ = _DESCRIPTION


class ExifImageInfo(_Packed):
    _fields_ = [("valid" if n == "format" else n, t) for n, t in _DESCRIPTION]


class QdAuxImageInfo(_Packed):
    _fields_ = _DESCRIPTION + [("extra", u16 * 3)]


class QdImageInfo(_Packed):
    _fields_ = _DESCRIPTION + [
        ("compressedBitsPerPixel", f32), ("dataCode", u8), ("fullWidth", u16), ("fullHeight", u16),
        ("fullAspect", f32), ("fullXResolution", u16), ("fullYResolution", u16), ("pathValues", u32 * 3),
        ("flags", u8)]


class ExifCaptureInfo(_Packed):
    _fields_ = [("time", i32), ("fileNumber", u32), ("owner", ctypes.c_char * 32),
                ("imageType", ctypes.c_char * 32)]


class ExifShotValues(_Packed):
    _fields_ = [("aperture", f32), ("shutterSpeed", f32), ("exposureCompensation", f32), ("additionalEv", f32),
                ("settingWord", u16), ("settingFlag", u8)]


class QdWaveInfo(_Packed):
    _fields_ = [("formatTag", u16), ("channels", u16), ("sampleRate", u32), ("bytesPerSecond", u32),
                ("bitsPerSample", u16)]


class QdSoundProperties(_Packed):
    _fields_ = [("value", u32), ("fileNumber", u32), ("duration", f32), ("sampleRate", u32), ("fixed", u8 * 2),
                ("bitsPerSample", u8)]


# Sizes the header asserts; the pointer record only on 32-bit targets.
LAYOUT = {QdThumbnailInfo: 48, ExifImageInfo: 48, QdAuxImageInfo: 54, QdImageInfo: 78, ExifCaptureInfo: 72,
          ExifShotValues: 19, QdWaveInfo: 14, QdSoundProperties: 19,
          QdlStream: 9 * ctypes.sizeof(ctypes.c_void_p)}

_S = ctypes.POINTER(QdlStream)
_PROTOTYPES = {
    "QDParseStream2": [_S, ctypes.POINTER(QdThumbnailInfo), ctypes.POINTER(QdImageInfo),
                       ctypes.POINTER(QdAuxImageInfo), ctypes.POINTER(ExifCaptureInfo),
                       ctypes.POINTER(ExifShotValues), ctypes.POINTER(u8)],
    "QDParseThumbnailFileStreamEx2": [_S, u32, ctypes.POINTER(QdThumbnailInfo), ctypes.POINTER(QdImageInfo),
                                      ctypes.POINTER(QdAuxImageInfo), ctypes.POINTER(ExifCaptureInfo),
                                      ctypes.POINTER(ExifShotValues), _S, _S, _S, _S],
    "QDParseGetDCFThumbnail": [_S, _S],
    "QDParseHasVedraOptionalData": [_S, ctypes.POINTER(ctypes.c_uint16)],
    "qdParseGetJpegDataFromQdRAW": [_S, u8, _S],
    "QDParseGetWAVEInfo": [_S, ctypes.POINTER(QdWaveInfo)],
    "QDParseSoundProperties": [_S, ctypes.POINTER(QdSoundProperties), u32],
    "QDParseReplaceProperties": [_S, ctypes.POINTER(ExifImageInfo), ctypes.POINTER(ExifCaptureInfo),
                                 ctypes.POINTER(ExifShotValues), ctypes.POINTER(ctypes.c_void_p)],
}


def _find_library():
    """QDPARSE_LIBRARY, then a copy beside the package, then the system loader."""
    explicit = os.environ.get("QDPARSE_LIBRARY")
    if explicit:
        return explicit
    here = os.path.dirname(os.path.abspath(__file__))
    for name in sorted(os.listdir(here)):
        if name.startswith("libqdparse.so"):
            return os.path.join(here, name)
    return ctypes.util.find_library("qdparse") or "libqdparse.so"


_lib = None


def lib():
    """The loaded library with its prototypes set (loaded on first use)."""
    global _lib
    if _lib is None:
        path = _find_library()
        try:
            loaded = ctypes.CDLL(path)
        except OSError as e:
            raise ImportError(f"qdparse: cannot load the shared library {path!r} ({e}); "
                              "set QDPARSE_LIBRARY to libqdparse.so") from e
        for name, args in _PROTOTYPES.items():
            f = getattr(loaded, name)
            f.argtypes = args
            f.restype = u32
        _lib = loaded
    return _lib
