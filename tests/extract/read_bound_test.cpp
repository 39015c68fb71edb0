// A parse reads the metadata of a file, never its image data: on large files
// of each kind the bytes it asks the host for stay in front of the first scan
// (JPEG) or within the header, IFD0 and the properties heap (RAW), and out of
// the embedded image (heap file), give or take the readers' windows.
#include <gtest/gtest.h>

#include "support/counting_stream.h"

namespace {

TEST(ReadBound, ParsesReadNoImageData) {
  for (const qdtest::ParseFixture& f : qdtest::ParseFixtures()) {
    SCOPED_TRACE(f.name);
    ASSERT_GT(f.imageEnd - f.imageBegin, 2 * qdtest::kReadSlack) << "too little image data to tell";
    qdtest::CountingStream in(f.bytes), described(f.bytes);
    qdtest::ParseSinks out;
    ASSERT_EQ(qdtest::ParseEverything(f, &in, &out), QD_OK);
    EXPECT_EQ(qdtest::ReadBoundProblem(f, in), "");
    EXPECT_LT(in.calls(), 100u) << "reads come in blocks, not byte by byte";
    EXPECT_FALSE(out.properties.written().empty());
    uint8_t type = 0;
    ASSERT_EQ(QDParseStream(described.stream(), nullptr, nullptr, nullptr, nullptr, &type), QD_OK);
    EXPECT_EQ(type, f.fileType);
    EXPECT_EQ(qdtest::ReadBoundProblem(f, described), "");
  }
}

}  // namespace

namespace {

// A stream with no marker, no heap and no TIFF header is refused without
// being read to its end.
TEST(ReadBound, RefusesAStreamOfZerosEarly) {
  const qdtest::ParseFixture zeros{"zeros", qdtest::Bytes(4u << 20, 0)};
  qdtest::CountingStream in(zeros.bytes);
  qdtest::ParseSinks out;
  EXPECT_NE(qdtest::ParseEverything(zeros, &in, &out), QD_OK);
  EXPECT_LT(in.highestRead(), 128u * 1024);
}

}  // namespace
