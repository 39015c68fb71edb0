#include <string>

#include "stream_calls.h"

namespace {

using namespace host_test;

std::string Content(const qdlStream& s) {
  const void* data = nullptr;
  uint32_t size = 0;
  EXPECT_EQ(0u, qdhMemoryStreamData(&s, &data, &size));
  return size == 0 ? std::string() : std::string(static_cast<const char*>(data), size);
}

TEST(HostFixedMemoryStream, ReadOnlyMemoryIsOnlyRead) {
  const char bytes[] = "abcdef";
  OwnedStream m;
  ASSERT_EQ(0u, qdhMemoryStreamInit(&m.s, bytes, 6));
  EXPECT_EQ(QDH_E_READ_ONLY, Open(m.s, QD_OPEN_UPDATE));
  EXPECT_EQ(QDH_E_READ_ONLY, Open(m.s, QD_OPEN_WRITE));
  ASSERT_EQ(0u, Open(m.s, QD_OPEN_READ));
  EXPECT_EQ(QDH_E_READ_ONLY, Write(m.s, "x"));
  std::string got;
  ASSERT_EQ(0u, Seek(m.s, QD_SEEK_END, -2));
  ASSERT_EQ(0u, Read(m.s, 9, &got));
  EXPECT_EQ("ef", got);
  ASSERT_EQ(0u, Read(m.s, 9, &got));
  EXPECT_EQ("", got);
  EXPECT_EQ(QDH_E_SEEK_BEFORE_START, Seek(m.s, QD_SEEK_CURRENT, -7));
  EXPECT_EQ(6u, Tell(m.s));
  EXPECT_STREQ("abcdef", bytes);
}

TEST(HostFixedMemoryStream, WritesStayInsideTheCallersMemory) {
  char bytes[] = "0123456789";  // the stream gets the first 8
  OwnedStream m;
  ASSERT_EQ(0u, qdhMemoryStreamInitWritable(&m.s, bytes, 8));
  ASSERT_EQ(0u, Open(m.s, QD_OPEN_UPDATE));
  ASSERT_EQ(0u, Seek(m.s, QD_SEEK_START, 2));
  EXPECT_EQ(0u, Write(m.s, "ab"));
  ASSERT_EQ(0u, Seek(m.s, QD_SEEK_END, -1));
  uint32_t taken = 9;
  EXPECT_EQ(QDH_E_NO_SPACE, Write(m.s, "xy", &taken));  // straddles the end: nothing taken
  EXPECT_EQ(0u, taken);
  EXPECT_EQ(7u, Tell(m.s));
  EXPECT_EQ(0u, Close(m.s));
  EXPECT_STREQ("01ab456789", bytes);

  // Write mode empties the content; it grows back up to the capacity.
  ASSERT_EQ(0u, Open(m.s, QD_OPEN_WRITE));
  EXPECT_EQ(0u, Write(m.s, "XYZ"));
  EXPECT_EQ(0u, Close(m.s));
  EXPECT_EQ("XYZ", Content(m.s));
  EXPECT_STREQ("XYZb456789", bytes);
}

TEST(HostGrowableStream, GrowsEmptiesAndFillsGapsWithZeros) {
  OwnedStream g;
  ASSERT_EQ(0u, qdhGrowableStreamInit(&g.s));
  EXPECT_EQ("", Content(g.s));
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
  ASSERT_EQ(0u, Open(g.s, QD_OPEN_READ));
  EXPECT_EQ(expected, ReadAll(g.s));
  EXPECT_EQ(0u, Close(g.s));

  // Write mode empties; the gap before a write past the end is zeros, not
  // the earlier content.
  ASSERT_EQ(0u, Open(g.s, QD_OPEN_WRITE));
  EXPECT_EQ("", Content(g.s));
  ASSERT_EQ(0u, Seek(g.s, QD_SEEK_START, 6));
  ASSERT_EQ(0u, Write(g.s, "y"));
  EXPECT_EQ(0u, Close(g.s));
  ASSERT_EQ(0u, Open(g.s, QD_OPEN_UPDATE));  // keeps the content
  EXPECT_EQ(std::string(6, '\0') + "y", ReadAll(g.s));
  // Nothing is allocated for a write that would pass 4 GiB - 1.
  ASSERT_EQ(0u, Seek(g.s, QD_SEEK_START, -1));
  EXPECT_EQ(QDH_E_TOO_LARGE, Write(g.s, "z"));
  EXPECT_EQ(QDH_E_TOO_LARGE, Seek(g.s, QD_SEEK_CURRENT, 1));
}

TEST(HostMemoryStream, ArgumentsKindsAndRelease) {
  qdlStream s{};
  EXPECT_EQ(QDH_E_INVALID_ARG, qdhMemoryStreamInit(&s, nullptr, 1));
  EXPECT_EQ(nullptr, s.read);
  ASSERT_EQ(0u, qdhMemoryStreamInit(&s, nullptr, 0));  // empty memory is fine
  std::string got;
  EXPECT_EQ(QDH_E_NOT_OPEN, Read(s, 1, &got));
  ASSERT_EQ(0u, Open(s, QD_OPEN_READ));
  qdhStreamRelease(&s);  // open over caller memory: only the context goes

  ASSERT_EQ(0u, qdhGrowableStreamInit(&s));
  ASSERT_EQ(0u, Open(s, QD_OPEN_WRITE));
  ASSERT_EQ(0u, Write(s, std::string(5000, 'g')));
  qdhStreamRelease(&s);  // frees the grown block too
  EXPECT_EQ(nullptr, s.context);
  qdhStreamRelease(&s);  // a zeroed record is left alone

  OwnedStream f;  // content belongs to memory streams only
  ASSERT_EQ(0u, qdhFileStreamInit(&f.s, "unused"));
  const void* data = nullptr;
  uint32_t size = 0;
  EXPECT_EQ(QDH_E_INVALID_ARG, qdhMemoryStreamData(&f.s, &data, &size));
}

}  // namespace
