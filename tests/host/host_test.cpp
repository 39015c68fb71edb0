// The host's ready-made streams and code names. Every callback is called with
// an error value that is not cleared, as the library passes it, so a callback
// that forgets to store 0 on success fails.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "format/property_codes.h"
#include "frame/result_codes.h"
#include "qdparse_host.h"

namespace {

constexpr uint32_t kUncleared = 0xA5A5A5A5u;

// Released on every path, so the leak checker sees what release misses.
struct OwnedStream {
  qdlStream s{};
  ~OwnedStream() { qdhStreamRelease(&s); }
};

// A file in the temp directory, holding `bytes` unless null; removed at the end.
struct TempFile {
  explicit TempFile(const char* name, const char* bytes = nullptr)
      : path(testing::TempDir() + "qdh_" + std::to_string(getpid()) + name) {
    if (bytes != nullptr) std::ofstream(path, std::ios::binary) << bytes;
  }
  ~TempFile() { std::remove(path.c_str()); }
  std::string Contents() const {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::string path;
};

// Calls one callback and returns the error value it stored, which is also its return value.
template <typename Callback, typename... Args>
uint32_t Call(const qdlStream& s, Callback callback, Args... args) {
  uint32_t error = kUncleared;
  EXPECT_EQ(callback(s.context, args..., &error), error);
  return error;
}
uint32_t Open(const qdlStream& s, uint32_t mode) { return Call(s, s.open, mode); }
uint32_t Close(const qdlStream& s) { return Call(s, s.close); }
uint32_t Seek(const qdlStream& s, uint32_t origin, int32_t offset) {
  return Call(s, s.seek, origin, offset);
}
// The position, or kUncleared when tell failed.
uint32_t Tell(const qdlStream& s) {
  uint32_t error = kUncleared;
  const uint32_t position = s.tell(s.context, &error);
  return error == 0 ? position : kUncleared;
}
// One read of `asked` bytes; *got receives what was delivered.
uint32_t Read(const qdlStream& s, uint32_t asked, std::string* got) {
  got->assign(asked, '\0');
  uint32_t count = asked;
  const uint32_t error = Call(s, s.read, got->data(), &count);
  EXPECT_LE(count, asked);
  got->resize(std::min(count, asked));
  return error;
}
uint32_t Write(const qdlStream& s, std::string_view data, uint32_t* taken = nullptr) {
  uint32_t count = static_cast<uint32_t>(data.size());
  const uint32_t error = Call(s, s.write, data.data(), &count);
  if (taken != nullptr) *taken = count;
  return error;
}
std::string Content(const qdlStream& s) {
  const void* data = nullptr;
  uint32_t size = 0;
  EXPECT_EQ(0u, qdhMemoryStreamData(&s, &data, &size));
  return size == 0 ? std::string() : std::string(static_cast<const char*>(data), size);
}

// The rules all three kinds keep, each over "0123456789".
TEST(HostStream, EveryKindKeepsTheSameStatesBoundsAndPositions) {
  char memory[] = "0123456789";
  TempFile path("common", memory);
  OwnedStream file, fixed, growable;
  ASSERT_EQ(0u, qdhFileStreamInit(&file.s, path.path.c_str()));
  ASSERT_EQ(0u, qdhMemoryStreamInitWritable(&fixed.s, memory, 10));
  ASSERT_EQ(0u, qdhGrowableStreamInit(&growable.s));
  ASSERT_EQ(0u, Open(growable.s, QD_OPEN_WRITE));
  ASSERT_EQ(0u, Write(growable.s, memory));
  ASSERT_EQ(0u, Close(growable.s));
  for (OwnedStream* o : {&file, &fixed, &growable}) {
    const qdlStream& s = o->s;
    SCOPED_TRACE(o == &file ? "file" : o == &fixed ? "fixed memory" : "growable");
    std::string got;
    EXPECT_EQ(QDH_E_NOT_OPEN, Read(s, 1, &got));
    EXPECT_EQ(QDH_E_BAD_MODE, Open(s, 4));
    ASSERT_EQ(0u, Open(s, QD_OPEN_UPDATE));
    EXPECT_EQ(QDH_E_ALREADY_OPEN, Open(s, QD_OPEN_READ));
    EXPECT_EQ(QDH_E_BAD_ORIGIN, Seek(s, 0, 0));
    // Directions alternate without seeks (stdio needs repositioning in between).
    ASSERT_EQ(0u, Read(s, 2, &got));
    EXPECT_EQ(0u, Write(s, "ab"));
    ASSERT_EQ(0u, Read(s, 2, &got));
    EXPECT_EQ("45", got);
    ASSERT_EQ(0u, Seek(s, QD_SEEK_END, -3));
    ASSERT_EQ(0u, Read(s, 100, &got));  // what there is
    EXPECT_EQ("789", got);
    ASSERT_EQ(0u, Read(s, 5, &got));  // at the end: nothing, and no error
    EXPECT_EQ("", got);
    EXPECT_EQ(QDH_E_SEEK_BEFORE_START, Seek(s, QD_SEEK_END, -11));
    EXPECT_EQ(QDH_E_SEEK_BEFORE_START, Seek(s, QD_SEEK_CURRENT, INT32_MIN));
    EXPECT_EQ(10u, Tell(s));  // a refused seek does not move
    // From the start the offset is an unsigned position; nothing goes past 4 GiB - 1.
    ASSERT_EQ(0u, Seek(s, QD_SEEK_START, -1));
    EXPECT_EQ(0xFFFFFFFFu, Tell(s));
    EXPECT_EQ(QDH_E_TOO_LARGE, Seek(s, QD_SEEK_CURRENT, 1));
    EXPECT_EQ(0u, Close(s));
    EXPECT_EQ(QDH_E_NOT_OPEN, Close(s));
  }
  EXPECT_EQ("01ab456789", path.Contents());
  EXPECT_EQ("01ab456789", Content(growable.s));
  EXPECT_STREQ("01ab456789", memory);
}

TEST(HostStream, FilesOpenOnlyWhatExistsAndFitsAndTruncateForWriting) {
  TempFile absent("absent"), f("f", "0123456789"), big("big", "");
  OwnedStream a, s, b;
  ASSERT_EQ(0u, qdhFileStreamInit(&a.s, absent.path.c_str()));
  EXPECT_EQ(QDH_E_OPEN_FAILED, Open(a.s, QD_OPEN_UPDATE));
  EXPECT_EQ(ENOENT, qdhFileStreamOsError(&a.s));
  EXPECT_FALSE(std::filesystem::exists(absent.path));  // update never creates

  ASSERT_EQ(0u, qdhFileStreamInit(&s.s, f.path.c_str()));
  ASSERT_EQ(0u, Open(s.s, QD_OPEN_READ));
  uint32_t taken = 1;
  EXPECT_EQ(QDH_E_READ_ONLY, Write(s.s, "x", &taken));
  EXPECT_EQ(0u, taken);
  EXPECT_EQ(0u, Close(s.s));
  ASSERT_EQ(0u, Open(s.s, QD_OPEN_WRITE));
  ASSERT_EQ(0u, Seek(s.s, QD_SEEK_START, 2));
  EXPECT_EQ(0u, Write(s.s, "z"));  // past the end: a zero-filled gap
  qdhStreamRelease(&s.s);          // left open: release closes and flushes it
  EXPECT_EQ(nullptr, s.s.read);
  EXPECT_EQ(std::string("\0\0z", 3), f.Contents());

  std::error_code ec;
  std::filesystem::resize_file(big.path, uint64_t{1} << 32, ec);  // sparse where it can be
  if (ec) GTEST_SKIP() << "cannot make a 4 GiB file here: " << ec.message();
  ASSERT_EQ(0u, qdhFileStreamInit(&b.s, big.path.c_str()));
  EXPECT_EQ(QDH_E_TOO_LARGE, Open(b.s, QD_OPEN_READ));
  EXPECT_EQ(kUncleared, Tell(b.s));  // left closed
}

TEST(HostStream, MemoryKeepsToItsCapacityAndAGrowableStreamToZeroedGaps) {
  const char fixed[] = "abcdef";
  OwnedStream m, w, g;
  ASSERT_EQ(0u, qdhMemoryStreamInit(&m.s, fixed, 6));
  EXPECT_EQ(QDH_E_READ_ONLY, Open(m.s, QD_OPEN_UPDATE));
  char bytes[] = "0123456789";  // the stream gets the first 8
  ASSERT_EQ(0u, qdhMemoryStreamInitWritable(&w.s, bytes, 8));
  ASSERT_EQ(0u, Open(w.s, QD_OPEN_WRITE));  // empties the content; it grows back
  ASSERT_EQ(0u, Write(w.s, "XYZ"));
  ASSERT_EQ(0u, Seek(w.s, QD_SEEK_START, 7));
  uint32_t taken = 9;
  EXPECT_EQ(QDH_E_NO_SPACE, Write(w.s, "xy", &taken));  // straddles the end: nothing taken
  EXPECT_EQ(0u, taken);
  EXPECT_EQ("XYZ", Content(w.s));
  EXPECT_STREQ("XYZ3456789", bytes);

  ASSERT_EQ(0u, qdhGrowableStreamInit(&g.s));
  ASSERT_EQ(0u, Open(g.s, QD_OPEN_WRITE));
  std::string expected;
  for (uint32_t i = 0; i < 2000; ++i) {  // many growth steps, chunks of 0 to 96 bytes
    const std::string chunk(i % 97, static_cast<char>('a' + i % 26));
    ASSERT_EQ(0u, Write(g.s, chunk));
    expected += chunk;
  }
  EXPECT_EQ(expected, Content(g.s));
  ASSERT_EQ(0u, Close(g.s));
  // Write mode empties; a gap before a write past the end is zeros, not what was there.
  ASSERT_EQ(0u, Open(g.s, QD_OPEN_WRITE));
  ASSERT_EQ(0u, Seek(g.s, QD_SEEK_START, 6));
  ASSERT_EQ(0u, Write(g.s, "y"));
  EXPECT_EQ(std::string(6, '\0') + "y", Content(g.s));
  ASSERT_EQ(0u, Seek(g.s, QD_SEEK_START, -1));
  EXPECT_EQ(QDH_E_TOO_LARGE, Write(g.s, "z"));  // nothing allocated
  qdhStreamRelease(&g.s);  // open, with a grown block: both go
  EXPECT_EQ(nullptr, g.s.context);
  const void* data = nullptr;
  uint32_t size = 0;
  EXPECT_EQ(QDH_E_INVALID_ARG, qdhMemoryStreamData(&g.s, &data, &size));
  EXPECT_EQ(QDH_E_INVALID_ARG, qdhMemoryStreamInit(&g.s, nullptr, 1));
}

TEST(HostCodeNames, EveryResultCodeFindsItsOwnName) {
  EXPECT_EQ(nullptr, qdhResultName(QDH_E_IO));  // the host's own errors are not the library's
  for (const qd::ResultCodeEntry& e : qd::kResultCodes) {  // a duplicate would hide an entry
    EXPECT_STREQ(e.name, qdhResultName(e.code));
  }
  EXPECT_STREQ("u32 angle, u16 mirrored", qdhPropertyLayout(qd::kPropOrientation));
}

}  // namespace
