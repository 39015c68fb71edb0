#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "stream_calls.h"

namespace {

using namespace host_test;
namespace fs = std::filesystem;

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
  EXPECT_EQ(QDH_E_OPEN_FAILED, Open(missing.s, QD_OPEN_READ));
  EXPECT_EQ(ENOENT, qdhFileStreamOsError(&missing.s));
  EXPECT_EQ(QDH_E_OPEN_FAILED, Open(missing.s, QD_OPEN_UPDATE));
  EXPECT_FALSE(fs::exists(Path("absent")));  // update never creates
  ASSERT_EQ(0u, qdhFileStreamInit(&directory.s, dir_.c_str()));
  EXPECT_EQ(QDH_E_OPEN_FAILED, Open(directory.s, QD_OPEN_READ));
  EXPECT_EQ(EISDIR, qdhFileStreamOsError(&directory.s));

  Init(f, "f", "abc");
  std::string got;
  EXPECT_EQ(QDH_E_NOT_OPEN, Read(f.s, 1, &got));
  EXPECT_EQ(QDH_E_NOT_OPEN, Close(f.s));
  EXPECT_EQ(QDH_E_BAD_MODE, Open(f.s, 4));
  ASSERT_EQ(0u, Open(f.s, QD_OPEN_READ));
  EXPECT_EQ(QDH_E_ALREADY_OPEN, Open(f.s, QD_OPEN_WRITE));
  uint32_t taken = 1;
  EXPECT_EQ(QDH_E_READ_ONLY, Write(f.s, "x", &taken));
  EXPECT_EQ(0u, taken);
  EXPECT_EQ(QDH_E_BAD_ORIGIN, Seek(f.s, 0, 0));
  EXPECT_EQ(0u, Close(f.s));
  EXPECT_EQ(QDH_E_NOT_OPEN, Seek(f.s, QD_SEEK_START, 0));
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

  // Past the end: reading finds nothing, writing leaves a zero-filled gap.
  ASSERT_EQ(0u, Seek(f.s, QD_SEEK_CURRENT, 2));
  ASSERT_EQ(0u, Read(f.s, 1, &got));
  EXPECT_EQ("", got);
  EXPECT_EQ(0u, Write(f.s, "z"));
  ASSERT_EQ(0u, Seek(f.s, QD_SEEK_END, 0));
  EXPECT_EQ(13u, Tell(f.s));
  // From the start the offset is an unsigned position; nothing goes past 4 GiB - 1.
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
  EXPECT_EQ(QDH_E_TOO_LARGE, Open(f.s, QD_OPEN_UPDATE));
  EXPECT_EQ(kUncleared, Tell(f.s));  // left closed

  // One byte less is the largest file that opens; its last byte is readable.
  fs::resize_file(Path("big"), k4GiB - 1);
  ASSERT_EQ(0u, Open(f.s, QD_OPEN_READ));
  ASSERT_EQ(0u, Seek(f.s, QD_SEEK_END, -1));
  EXPECT_EQ(0xFFFFFFFEu, Tell(f.s));
  std::string got;
  ASSERT_EQ(0u, Read(f.s, 4, &got));
  EXPECT_EQ(std::string(1, '\0'), got);
  EXPECT_EQ(0u, Close(f.s));
}

}  // namespace
