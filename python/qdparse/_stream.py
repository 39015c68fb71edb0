"""qdlStreams over Python objects: a binary file object read lazily (only the
bytes the library asks for), a bytes buffer, and a growable output buffer.

Each stream keeps its callbacks alive for as long as the stream lives; a
stream serves one call at a time, several streams may run on several
threads (ctypes releases the GIL around the library's calls)."""

import ctypes
import io
import os

from . import _abi

_HOST_IO = _abi.CODES["QDH_E_IO"]
_BAD_ORIGIN = _abi.CODES["QDH_E_BAD_ORIGIN"]
_BEFORE_START = _abi.CODES["QDH_E_SEEK_BEFORE_START"]
_READ_ONLY = _abi.CODES["QDH_E_READ_ONLY"]
_TOO_LARGE = _abi.CODES["QDH_E_TOO_LARGE"]
_LIMIT = 0xFFFFFFFF


class Stream:
    """A qdlStream over `f`, a binary file object with read/seek/tell (and
    write for update mode). Exceptions in callbacks become host errors: the
    library hands the code back, and the exception is kept in `.failure`."""

    def __init__(self, f, writable=False):
        self._f = f
        self._writable = writable
        self.failure = None
        self.delivered = 0  # bytes handed to the library
        self._callbacks = (_abi.OpenProc(self._open), _abi.CloseProc(self._close), _abi.ReadProc(self._read),
                           _abi.WriteProc(self._write), _abi.SeekProc(self._seek), _abi.TellProc(self._tell))
        s = _abi.QdlStream()
        s.open, s.close, s.read, s.write, s.seek, s.tell = self._callbacks
        self.struct = s
        self.ref = ctypes.byref(s)

    def _fail(self, error, code, exc=None):
        if exc is not None and self.failure is None:
            self.failure = exc
        error[0] = code
        return 0

    def _open(self, _context, mode, error):
        if mode != _abi.OPEN_READ and not self._writable:
            return self._fail(error, _READ_ONLY)
        try:
            self._f.seek(0)
        except Exception as e:  # noqa: BLE001 - any failure is the host's error
            return self._fail(error, _HOST_IO, e)
        error[0] = 0
        return 0

    def _close(self, _context, error):
        error[0] = 0
        return 0

    def _read(self, _context, buffer, count, error):
        try:
            data = self._f.read(count[0])
        except Exception as e:  # noqa: BLE001
            count[0] = 0
            return self._fail(error, _HOST_IO, e)
        n = len(data)
        if n:
            ctypes.memmove(buffer, data, n)
        count[0] = n
        self.delivered += n
        error[0] = 0
        return 0

    def _write(self, _context, buffer, count, error):
        if not self._writable:
            count[0] = 0
            return self._fail(error, _READ_ONLY)
        try:
            n = self._f.write(ctypes.string_at(buffer, count[0]))
        except Exception as e:  # noqa: BLE001
            count[0] = 0
            return self._fail(error, _HOST_IO, e)
        count[0] = count[0] if n is None else n
        error[0] = 0
        return 0

    def _seek(self, _context, origin, offset, error):
        try:
            if origin == _abi.SEEK_START:
                target = offset & _LIMIT  # a position passed as its 32-bit pattern
            elif origin == _abi.SEEK_CURRENT:
                target = self._f.tell() + offset
            elif origin == _abi.SEEK_END:
                target = self._f.seek(0, io.SEEK_END) + offset
            else:
                return self._fail(error, _BAD_ORIGIN)
            if target < 0:
                return self._fail(error, _BEFORE_START)
            if target > _LIMIT:
                return self._fail(error, _TOO_LARGE)
            self._f.seek(target)
        except Exception as e:  # noqa: BLE001
            return self._fail(error, _HOST_IO, e)
        error[0] = 0
        return 0

    def _tell(self, _context, error):
        try:
            position = self._f.tell()
        except Exception as e:  # noqa: BLE001
            return self._fail(error, _HOST_IO, e)
        if position > _LIMIT:
            return self._fail(error, _TOO_LARGE)
        error[0] = 0
        return position

    def peek(self, n):
        """The first `n` bytes (fewer when shorter); b"" when unreadable."""
        try:
            self._f.seek(0)
            data = self._f.read(n)
        except Exception:  # noqa: BLE001
            return b""
        self.delivered += len(data)
        return data

    def size(self):
        """The source's length, or 0 when it cannot be told; the position is kept."""
        try:
            here = self._f.tell()
            end = self._f.seek(0, io.SEEK_END)
            self._f.seek(here)
            return end if end <= _LIMIT else 0
        except Exception:  # noqa: BLE001
            return 0


class Output(Stream):
    """A growable stream the library writes into; `.value()` gives the bytes."""

    def __init__(self):
        super().__init__(io.BytesIO(), writable=True)

    def value(self):
        return self._f.getvalue()


class Source:
    """A path, bytes-like or binary file object, opened for the length of a `with`."""

    def __init__(self, source):
        self._source = source
        self._owned = None
        self.name = None

    def __enter__(self):
        s = self._source
        if isinstance(s, (str, os.PathLike)):
            self.name = os.fspath(s)
            self._owned = open(s, "rb")
            f = self._owned
        elif isinstance(s, (bytes, bytearray, memoryview)):
            f = io.BytesIO(bytes(s))
        elif all(hasattr(s, a) for a in ("read", "seek", "tell")):
            f = s
            self.name = getattr(s, "path", None) or getattr(s, "name", None)
            if not isinstance(self.name, str):
                self.name = None
        else:
            raise TypeError("source must be a path, bytes, or a binary file object with read, seek and tell")
        return Stream(f)

    def __exit__(self, *exc):
        if self._owned is not None:
            self._owned.close()
        return False
