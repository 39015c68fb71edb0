// A parse reads the metadata of a file, never its image data: on large files
// of each kind the bytes it asks the host for stay in front of the first scan
// (JPEG) or within the header, IFD0 and the properties heap (RAW), and out of
// the embedded image (heap file), give or take the readers' windows.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "support/counting_stream.h"

namespace {

using qdtest::CountingStream;
using qdtest::ParseFixture;

const std::vector<ParseFixture>& Files() {
  static const std::vector<ParseFixture> files = qdtest::ParseFixtures();
  return files;
}

// Named here rather than by the fixtures, so that listing the tests builds
// no files.
class ReadBound : public testing::TestWithParam<const char*> {
 protected:
  const ParseFixture& file() const {
    for (const ParseFixture& f : Files()) {
      if (f.name == GetParam()) return f;
    }
    throw std::invalid_argument(GetParam());
  }
};

TEST_P(ReadBound, FullParseReadsNoImageData) {
  const ParseFixture& f = file();
  ASSERT_GT(f.imageEnd - f.imageBegin, 2 * qdtest::kReadSlack) << "too little image data to tell";
  CountingStream in(f.bytes);
  qdtest::ParseSinks out;
  ASSERT_EQ(qdtest::ParseEverything(f, &in, &out), QD_OK);
  EXPECT_EQ(qdtest::ReadBoundProblem(f, in), "");
  // Reads come in blocks, not byte by byte.
  EXPECT_LT(in.calls(), 100u);

  // The outputs were produced from what was read.
  EXPECT_NE(out.image.format, 0);
  EXPECT_FALSE(out.properties.written().empty());
  if (f.fileType == 5) {
    const qdtest::Bytes& thumb = out.dcfThumbnail.written();
    ASSERT_GE(thumb.size(), 4u);
    EXPECT_EQ(thumb[0], 0xFF);
    EXPECT_EQ(thumb[1], 0xD8);
    EXPECT_EQ(out.thumb.width, 160);
    EXPECT_EQ(out.image.width, 1600);
  }
}

TEST_P(ReadBound, DescribingReadsNoImageDataAndNamesTheKind) {
  const ParseFixture& f = file();
  CountingStream in(f.bytes);
  QdImageInfo image{};
  uint8_t type = 0;
  ASSERT_EQ(QDParseStream(in.stream(), nullptr, &image, nullptr, nullptr, &type), QD_OK);
  EXPECT_EQ(type, f.fileType);
  EXPECT_EQ(qdtest::ReadBoundProblem(f, in), "");
}

// The check itself would see a parse that walked through the image.
TEST_P(ReadBound, ReadingTheImageBreaksTheBound) {
  const ParseFixture& f = file();
  CountingStream in(f.bytes);
  std::vector<uint8_t> buffer(64 * 1024);
  uint32_t error = 0;
  in.stream()->seek(in.stream()->context, QD_SEEK_START, static_cast<int32_t>(f.imageBegin), &error);
  for (uint32_t n = 0; n < 4 * qdtest::kReadSlack; n += 1000) {
    uint32_t count = 1000;
    in.stream()->read(in.stream()->context, buffer.data(), &count, &error);
  }
  EXPECT_NE(qdtest::ReadBoundProblem(f, in), "");
}

INSTANTIATE_TEST_SUITE_P(Files, ReadBound, testing::Values("ExifJpeg", "HeapFile", "TiffRaw"),
                         [](const testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

}  // namespace
