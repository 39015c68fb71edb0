// The host's ready-made streams and code names. Every callback is called with
// an error value that is not cleared, as the library passes it, so a callback
// that forgets to store 0 on success fails.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "format/property_codes.h"
#include "frame/result_codes.h"
#include "qdparse_host.h"

namespace {

namespace fs = std::filesystem;
constexpr uint32_t kUncleared = 0xA5A5A5A5u;

// Released on every path, so the leak checker sees what release misses.
struct OwnedStream {
  qdlStream s{};
  ~OwnedStream() { qdhStreamRelease(&s); }
};

uint32_t Open(const qdlStream& s, uint32_t mode) {
  uint32_t error = kUncleared;
  EXPECT_EQ(s.open(s.context, mode, &error), error);
  return error;
}
uint32_t Close(const qdlStream& s) {
  uint32_t error = kUncleared;
  EXPECT_EQ(s.close(s.context, &error), error);
  return error;
}
uint32_t Seek(const qdlStream& s, uint32_t origin, int32_t offset) {
  uint32_t error = kUncleared;
  EXPECT_EQ(s.seek(s.context, origin, offset, &error), error);
  return error;
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
  uint32_t count = asked, error = kUncleared;
  EXPECT_EQ(s.read(s.context, got->data(), &count, &error), error);
  EXPECT_LE(count, asked);
  got->resize(std::min(count, asked));
  return error;
}
uint32_t Write(const qdlStream& s, std::string_view data, uint32_t* taken = nullptr) {
  uint32_t count = static_cast<uint32_t>(data.size()), error = kUncleared;
  EXPECT_EQ(s.write(s.context, data.data(), &count, &error), error);
  if (taken != nullptr) *taken = count;
  return error;
}
std::string Content(const qdlStream& s) {
  const void* data = nullptr;
  uint32_t size = 0;
  EXPECT_EQ(0u, qdhMemoryStreamData(&s, &data, &size));
  return size == 0 ? std::string() : std::string(static_cast<const char*>(data), size);
}

class HostFileStream : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = testing::TempDir() + "qdh_file_XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  // A stream over `name` in the temp directory, created with `bytes` unless null.
  void Init(OwnedStream& o, const char* name, const char* bytes = nullptr) {
    if (bytes != nullptr) std::ofstream(Path(name), std::ios::binary) << bytes;
    ASSERT_EQ(0u, qdhFileStreamInit(&o.s, Path(name).c_str()));
  }
  std::string Path(const char* name) const { return (dir_ / name).string(); }
  std::string Contents(const char* name) const {
    std::ifstream in(Path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  fs::path dir_;
};

TEST_F(HostFileStream, OpenModesAndTheStatesCallbacksNeed) {
  OwnedStream missing, directory, f, out;
  Init(missing, "absent");
  EXPECT_EQ(QDH_E_OPEN_FAILED, Open(missing.s, QD_OPEN_UPDATE));
  EXPECT_EQ(ENOENT, qdhFileStreamOsError(&missing.s));
  EXPECT_FALSE(fs::exists(Path("absent")));  // update never creates
  ASSERT_EQ(0u, qdhFileStreamInit(&directory.s, dir_.c_str()));
  EXPECT_EQ(QDH_E_OPEN_FAILED, Open(directory.s, QD_OPEN_READ));

  Init(f, "f", "abc");
  std::string got;
  EXPECT_EQ(QDH_E_NOT_OPEN, Read(f.s, 1, &got));
  EXPECT_EQ(QDH_E_BAD_MODE, Open(f.s, 4));
  ASSERT_EQ(0u, Open(f.s, QD_OPEN_READ));
  EXPECT_EQ(QDH_E_ALREADY_OPEN, Open(f.s, QD_OPEN_WRITE));
  uint32_t taken = 1;
  EXPECT_EQ(QDH_E_READ_ONLY, Write(f.s, "x", &taken));
  EXPECT_EQ(0u, taken);
  EXPECT_EQ(QDH_E_BAD_ORIGIN, Seek(f.s, 0, 0));
  EXPECT_EQ(0u, Close(f.s));
  EXPECT_EQ(QDH_E_NOT_OPEN, Close(f.s));
  EXPECT_EQ("abc", Contents("f"));

  Init(out, "out", "0123456789");  // write truncates
  ASSERT_EQ(0u, Open(out.s, QD_OPEN_WRITE));
  EXPECT_EQ(0u, Write(out.s, "xy"));
  qdhStreamRelease(&out.s);  // left open: release closes and flushes it
  EXPECT_EQ(nullptr, out.s.read);
  EXPECT_EQ("xy", Contents("out"));
}

TEST_F(HostFileStream, UpdatesInPlaceAndPositionsAtAndAroundTheEnds) {
  OwnedStream f;
  Init(f, "f", "0123456789");
  ASSERT_EQ(0u, Open(f.s, QD_OPEN_UPDATE));
  std::string got;
  // Directions alternate without seeks: stdio needs repositioning in between.
  ASSERT_EQ(0u, Read(f.s, 2, &got));
  EXPECT_EQ(0u, Write(f.s, "ab"));
  ASSERT_EQ(0u, Read(f.s, 2, &got));
  EXPECT_EQ("45", got);
  EXPECT_EQ(0u, Write(f.s, "c"));
  EXPECT_EQ(7u, Tell(f.s));

  ASSERT_EQ(0u, Seek(f.s, QD_SEEK_END, -3));
  ASSERT_EQ(0u, Read(f.s, 100, &got));  // what there is
  EXPECT_EQ("789", got);
  ASSERT_EQ(0u, Read(f.s, 5, &got));  // at the end: nothing, and no error
  EXPECT_EQ("", got);
  EXPECT_EQ(QDH_E_SEEK_BEFORE_START, Seek(f.s, QD_SEEK_END, -11));
  EXPECT_EQ(QDH_E_SEEK_BEFORE_START, Seek(f.s, QD_SEEK_CURRENT, INT32_MIN));
  EXPECT_EQ(10u, Tell(f.s));  // a refused seek does not move

  // Past the end writing leaves a zero-filled gap; from the start the offset
  // is an unsigned position, and nothing goes past 4 GiB - 1.
  ASSERT_EQ(0u, Seek(f.s, QD_SEEK_CURRENT, 2));
  EXPECT_EQ(0u, Write(f.s, "z"));
  ASSERT_EQ(0u, Seek(f.s, QD_SEEK_START, -1));
  EXPECT_EQ(0xFFFFFFFFu, Tell(f.s));
  EXPECT_EQ(QDH_E_TOO_LARGE, Seek(f.s, QD_SEEK_CURRENT, 1));
  EXPECT_EQ(QDH_E_TOO_LARGE, Write(f.s, "x"));
  EXPECT_EQ(0u, Close(f.s));
  EXPECT_EQ(std::string("01ab45c789\0\0z", 13), Contents("f"));
}

TEST_F(HostFileStream, FilesBeyondFourGiBMinusOneAreRefused) {
  constexpr uint64_t k4GiB = uint64_t{1} << 32;
  OwnedStream f;
  Init(f, "big", "");
  std::error_code ec;
  fs::resize_file(Path("big"), k4GiB, ec);  // sparse where the filesystem allows
  if (ec) GTEST_SKIP() << "cannot make a 4 GiB file here: " << ec.message();
  EXPECT_EQ(QDH_E_TOO_LARGE, Open(f.s, QD_OPEN_READ));
  EXPECT_EQ(kUncleared, Tell(f.s));  // left closed

  // One byte less is the largest file that opens; its last byte is readable.
  fs::resize_file(Path("big"), k4GiB - 1);
  ASSERT_EQ(0u, Open(f.s, QD_OPEN_READ));
  ASSERT_EQ(0u, Seek(f.s, QD_SEEK_END, -1));
  std::string got;
  ASSERT_EQ(0u, Read(f.s, 4, &got));
  EXPECT_EQ(std::string(1, '\0'), got);
  EXPECT_EQ(0u, Close(f.s));
}

TEST(HostMemoryStream, CallerMemoryIsReadOrWrittenOnlyInsideItsBounds) {
  const char fixed[] = "abcdef";
  OwnedStream m;
  ASSERT_EQ(0u, qdhMemoryStreamInit(&m.s, fixed, 6));
  EXPECT_EQ(QDH_E_READ_ONLY, Open(m.s, QD_OPEN_UPDATE));
  ASSERT_EQ(0u, Open(m.s, QD_OPEN_READ));
  EXPECT_EQ(QDH_E_READ_ONLY, Write(m.s, "x"));
  std::string got;
  ASSERT_EQ(0u, Seek(m.s, QD_SEEK_END, -2));
  ASSERT_EQ(0u, Read(m.s, 9, &got));
  EXPECT_EQ("ef", got);
  EXPECT_EQ(QDH_E_SEEK_BEFORE_START, Seek(m.s, QD_SEEK_CURRENT, -7));
  EXPECT_EQ(6u, Tell(m.s));

  char bytes[] = "0123456789";  // the stream gets the first 8
  OwnedStream w;
  ASSERT_EQ(0u, qdhMemoryStreamInitWritable(&w.s, bytes, 8));
  ASSERT_EQ(0u, Open(w.s, QD_OPEN_UPDATE));
  ASSERT_EQ(0u, Seek(w.s, QD_SEEK_START, 2));
  EXPECT_EQ(0u, Write(w.s, "ab"));
  ASSERT_EQ(0u, Seek(w.s, QD_SEEK_END, -1));
  uint32_t taken = 9;
  EXPECT_EQ(QDH_E_NO_SPACE, Write(w.s, "xy", &taken));  // straddles the end: nothing taken
  EXPECT_EQ(0u, taken);
  EXPECT_EQ(0u, Close(w.s));
  EXPECT_STREQ("01ab456789", bytes);
  // Write mode empties the content; it grows back up to the capacity.
  ASSERT_EQ(0u, Open(w.s, QD_OPEN_WRITE));
  EXPECT_EQ(0u, Write(w.s, "XYZ"));
  EXPECT_EQ(0u, Close(w.s));
  EXPECT_EQ("XYZ", Content(w.s));
  EXPECT_STREQ("XYZb456789", bytes);
}

TEST(HostMemoryStream, GrowableStreamGrowsEmptiesAndFillsGapsWithZeros) {
  OwnedStream g;
  ASSERT_EQ(0u, qdhGrowableStreamInit(&g.s));
  ASSERT_EQ(0u, Open(g.s, QD_OPEN_WRITE));
  std::string expected;
  for (uint32_t i = 0; i < 2000; ++i) {  // many growth steps, chunks of 0 to 96 bytes
    const std::string chunk(i % 97, static_cast<char>('a' + i % 26));
    ASSERT_EQ(0u, Write(g.s, chunk));
    expected += chunk;
  }
  ASSERT_EQ(0u, Seek(g.s, QD_SEEK_START, 5));
  ASSERT_EQ(0u, Write(g.s, "HELLO"));
  expected.replace(5, 5, "HELLO");
  EXPECT_EQ(0u, Close(g.s));
  EXPECT_EQ(expected, Content(g.s));

  // Write mode empties; the gap before a write past the end is zeros, not
  // the earlier content.
  ASSERT_EQ(0u, Open(g.s, QD_OPEN_WRITE));
  ASSERT_EQ(0u, Seek(g.s, QD_SEEK_START, 6));
  ASSERT_EQ(0u, Write(g.s, "y"));
  EXPECT_EQ(std::string(6, '\0') + "y", Content(g.s));
  // Nothing is allocated for a write that would pass 4 GiB - 1.
  ASSERT_EQ(0u, Seek(g.s, QD_SEEK_START, -1));
  EXPECT_EQ(QDH_E_TOO_LARGE, Write(g.s, "z"));
  qdhStreamRelease(&g.s);  // open, with a grown block: both go
  EXPECT_EQ(nullptr, g.s.context);
  qdhStreamRelease(&g.s);  // a zeroed record is left alone

  qdlStream s{};
  EXPECT_EQ(QDH_E_INVALID_ARG, qdhMemoryStreamInit(&s, nullptr, 1));
  EXPECT_EQ(nullptr, s.read);
  OwnedStream f;  // content belongs to memory streams only
  ASSERT_EQ(0u, qdhFileStreamInit(&f.s, "unused"));
  const void* data = nullptr;
  uint32_t size = 0;
  EXPECT_EQ(QDH_E_INVALID_ARG, qdhMemoryStreamData(&f.s, &data, &size));
}

TEST(HostCodeNames, ResultAndPropertyCodes) {
  EXPECT_STREQ("inconsistent structure", qdhResultText(QD_E_CORRUPT));
  EXPECT_EQ(nullptr, qdhResultName(QDH_E_IO));  // the host's own errors are not the library's
  EXPECT_EQ(nullptr, qdhResultText(7));
  for (const qd::ResultCodeEntry& e : qd::kResultCodes) {  // a duplicate would hide an entry
    EXPECT_STREQ(e.name, qdhResultName(e.code));
  }
  EXPECT_STREQ("ExposureTime", qdhPropertyName(qd::kPropExposureTime));
  EXPECT_STREQ("u32 angle, u16 mirrored", qdhPropertyLayout(qd::kPropOrientation));
  EXPECT_EQ(nullptr, qdhPropertyName(0x00));
  EXPECT_EQ(nullptr, qdhPropertyLayout(0x3D));
}

}  // namespace
