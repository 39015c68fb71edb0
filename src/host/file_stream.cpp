// A qdlStream over a file, through stdio so that the library's many small
// reads are buffered.
//
// The stream keeps its own position and length. A seek only moves the logical
// position; the FILE is placed before the next transfer, which also provides
// the repositioning stdio requires between a write and a read.

// Large-file offsets on 32-bit POSIX targets: positions up to 4 GiB - 1 and
// the size check at open must not fail with EOVERFLOW.
#if !defined(_WIN32) && !defined(_FILE_OFFSET_BITS)
#define _FILE_OFFSET_BITS 64
#endif

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if !defined(_WIN32)
#include <sys/stat.h>
#include <sys/types.h>
#endif

#include "host_stream.h"

namespace qdh {
namespace {

#if defined(_WIN32)
using FileOffset = __int64;
int SeekFile(FILE* f, FileOffset offset, int whence) { return _fseeki64(f, offset, whence); }
FileOffset TellFile(FILE* f) { return _ftelli64(f); }
#else
using FileOffset = off_t;
static_assert(sizeof(off_t) >= 8, "file offsets must hold positions up to 4 GiB - 1");
int SeekFile(FILE* f, FileOffset offset, int whence) { return fseeko(f, offset, whence); }
FileOffset TellFile(FILE* f) { return ftello(f); }
#endif

enum class Direction { kNone, kRead, kWrite };

struct FileContext {
  char* path;
  FILE* file;            // null while closed
  uint32_t mode;         // the open mode; 0 while closed
  uint64_t position;     // logical position, at most kMaxPosition
  uint64_t size;         // file length as this stream knows it, at most kMaxPosition
  Direction last;        // direction of the last transfer
  bool placed;           // the FILE's position is `position`
  int osError;           // errno of the last OS failure
};

FileContext* Context(void* context) { return static_cast<FileContext*>(context); }

uint32_t OsFailure(FileContext* c, uint32_t code) {
  c->osError = errno;
  return code;
}

// Puts the FILE at the logical position when a seek moved it or the transfer
// direction changes (stdio needs a seek between output and input).
uint32_t Place(FileContext* c, Direction direction) {
  if (!c->placed || (c->last != Direction::kNone && c->last != direction)) {
    if (SeekFile(c->file, static_cast<FileOffset>(c->position), SEEK_SET) != 0) {
      c->placed = false;
      return OsFailure(c, QDH_E_IO);
    }
    c->placed = true;
  }
  c->last = direction;
  clearerr(c->file);
  return 0;
}

const char* FopenMode(uint32_t mode) {
  switch (mode) {
    case QD_OPEN_READ: return "rb";
    case QD_OPEN_UPDATE: return "r+b";
    default: return "w+b";
  }
}

uint32_t QD_CALLBACK FileOpen(void* context, uint32_t mode, uint32_t* error) {
  FileContext* c = Context(context);
  if (c == nullptr) return Finish(error, QDH_E_INVALID_ARG);
  if (!ValidMode(mode)) return Finish(error, QDH_E_BAD_MODE);
  if (c->file != nullptr) return Finish(error, QDH_E_ALREADY_OPEN);

  errno = 0;
  FILE* f = std::fopen(c->path, FopenMode(mode));
  if (f == nullptr) return Finish(error, OsFailure(c, QDH_E_OPEN_FAILED));

  uint32_t code = 0;
#if !defined(_WIN32)
  // fopen succeeds on a directory for reading; its reads fail only later.
  struct stat info;
  if (fstat(fileno(f), &info) == 0 && S_ISDIR(info.st_mode)) {
    c->osError = EISDIR;
    code = QDH_E_OPEN_FAILED;
  }
#endif
  FileOffset end = 0;
  if (code == 0) {
    if (SeekFile(f, 0, SEEK_END) != 0 || (end = TellFile(f)) < 0) {
      code = OsFailure(c, QDH_E_IO);
    } else if (static_cast<uint64_t>(end) > kMaxPosition) {
      c->osError = 0;
      code = QDH_E_TOO_LARGE;
    }
  }
  if (code != 0) {
    std::fclose(f);
    return Finish(error, code);
  }

  c->file = f;
  c->mode = mode;
  c->position = 0;
  c->size = static_cast<uint64_t>(end);
  c->last = Direction::kNone;
  c->placed = false;
  return Finish(error, 0);
}

uint32_t QD_CALLBACK FileClose(void* context, uint32_t* error) {
  FileContext* c = Context(context);
  if (c == nullptr || c->file == nullptr) return Finish(error, QDH_E_NOT_OPEN);
  errno = 0;
  const int rc = std::fclose(c->file);  // the final flush can fail (disk full)
  c->file = nullptr;
  c->mode = 0;
  return Finish(error, rc != 0 ? OsFailure(c, QDH_E_IO) : 0);
}

uint32_t QD_CALLBACK FileRead(void* context, void* buffer, uint32_t* count, uint32_t* error) {
  FileContext* c = Context(context);
  if (count == nullptr) return Finish(error, QDH_E_INVALID_ARG);
  const uint32_t asked = *count;
  *count = 0;
  if (c == nullptr || c->file == nullptr) return Finish(error, QDH_E_NOT_OPEN);
  if (buffer == nullptr && asked != 0) return Finish(error, QDH_E_INVALID_ARG);
  // Never read past the last position a 32-bit tell can report.
  const uint64_t room = kMaxPosition - c->position;
  const size_t wanted = static_cast<size_t>(asked < room ? asked : room);
  if (wanted == 0) return Finish(error, 0);

  if (const uint32_t code = Place(c, Direction::kRead)) return Finish(error, code);
  errno = 0;
  const size_t got = std::fread(buffer, 1, wanted, c->file);
  c->position += got;
  *count = static_cast<uint32_t>(got);
  if (got < wanted && std::ferror(c->file)) {
    c->placed = false;
    return Finish(error, OsFailure(c, QDH_E_IO));
  }
  // Anything short of that is the end of the file: a 0-byte delivery is not an error here.
  return Finish(error, 0);
}

uint32_t QD_CALLBACK FileWrite(void* context, const void* buffer, uint32_t* count,
                               uint32_t* error) {
  FileContext* c = Context(context);
  if (count == nullptr) return Finish(error, QDH_E_INVALID_ARG);
  const uint32_t offered = *count;
  *count = 0;
  if (c == nullptr || c->file == nullptr) return Finish(error, QDH_E_NOT_OPEN);
  if (c->mode == QD_OPEN_READ) return Finish(error, QDH_E_READ_ONLY);
  if (buffer == nullptr && offered != 0) return Finish(error, QDH_E_INVALID_ARG);
  if (offered > kMaxPosition - c->position) return Finish(error, QDH_E_TOO_LARGE);
  if (offered == 0) return Finish(error, 0);

  if (const uint32_t code = Place(c, Direction::kWrite)) return Finish(error, code);
  errno = 0;
  const size_t put = std::fwrite(buffer, 1, offered, c->file);
  c->position += put;
  if (c->position > c->size) c->size = c->position;
  *count = static_cast<uint32_t>(put);
  if (put < offered) {
    c->placed = false;
    return Finish(error, OsFailure(c, QDH_E_IO));
  }
  return Finish(error, 0);
}

uint32_t QD_CALLBACK FileSeek(void* context, uint32_t origin, int32_t offset, uint32_t* error) {
  FileContext* c = Context(context);
  if (c == nullptr || c->file == nullptr) return Finish(error, QDH_E_NOT_OPEN);
  uint64_t target = 0;
  if (const uint32_t code = ResolveSeek(origin, offset, c->position, c->size, &target)) {
    return Finish(error, code);
  }
  if (target != c->position) {
    c->position = target;
    c->placed = false;
  }
  return Finish(error, 0);
}

uint32_t QD_CALLBACK FileTell(void* context, uint32_t* error) {
  FileContext* c = Context(context);
  if (c == nullptr || c->file == nullptr) {
    Finish(error, QDH_E_NOT_OPEN);
    return 0;
  }
  Finish(error, 0);
  return static_cast<uint32_t>(c->position);
}

}  // namespace

bool IsFileStream(const qdlStream* stream) {
  return stream->context != nullptr && stream->read == FileRead;
}

void ReleaseFileContext(void* context) {
  FileContext* c = Context(context);
  if (c->file != nullptr) std::fclose(c->file);
  std::free(c->path);
  std::free(c);
}

}  // namespace qdh

extern "C" {

uint32_t qdhFileStreamInit(qdlStream* stream, const char* path) {
  if (stream == nullptr) return QDH_E_INVALID_ARG;
  std::memset(stream, 0, sizeof *stream);
  if (path == nullptr) return QDH_E_INVALID_ARG;

  auto* c = static_cast<qdh::FileContext*>(std::calloc(1, sizeof(qdh::FileContext)));
  const size_t length = std::strlen(path);
  char* copy = static_cast<char*>(std::malloc(length + 1));
  if (c == nullptr || copy == nullptr) {
    std::free(c);
    std::free(copy);
    return QDH_E_NO_MEMORY;
  }
  std::memcpy(copy, path, length + 1);
  c->path = copy;

  stream->context = c;
  stream->open = qdh::FileOpen;
  stream->close = qdh::FileClose;
  stream->read = qdh::FileRead;
  stream->write = qdh::FileWrite;
  stream->seek = qdh::FileSeek;
  stream->tell = qdh::FileTell;
  return 0;
}

int qdhFileStreamOsError(const qdlStream* stream) {
  if (stream == nullptr || !qdh::IsFileStream(stream)) return 0;
  return static_cast<const qdh::FileContext*>(stream->context)->osError;
}

}  // extern "C"
