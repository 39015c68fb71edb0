// IIM datasets read from and replaced in Exif JPEGs and TIFFs, and preserved
// blocks packed and read back.
#include "iim/iim_support.h"

namespace qdtest::iim {
namespace {

uint32_t Get(const Bytes& file, Bytes* out) {
  TestStream in(file), dest;
  const uint32_t result = QDParseGetIIMInfo(in.stream(), dest.stream());
  *out = dest.data();
  return result;
}

TEST(Iim, GetGivesTheChosenStandardDatasetsInFileOrder) {
  const Bytes tooLong = {0x1C, 2, 5, 0x7F, 0xFF};
  const struct { const char* name; Bytes file; uint32_t result; Bytes records; } rows[] = {
      {"Exif JPEG", IimJpeg(), QD_OK, kChosen},
      {"Exif TIFF, II", IimTiff(Order::II), QD_OK, kChosen},
      {"Exif TIFF, MM", IimTiff(Order::MM), QD_OK, kChosen},
      {"ARX K TIFF without an Exif IFD", IimTiff(Order::MM, Block(), "ARX K4800Q"), QD_OK, kChosen},
      {"other TIFF without an Exif IFD", IimTiff(Order::II, Block(), "ARX K24"), QD_E_FAILED, {}},
      {"no IPTC-NAA tag", IimTiff(Order::II, {}), QD_E_NOT_APPLICABLE, {}},
      {"a heap file", HeapFile(RichHeap(false), false), QD_E_CORRUPT, {}},
      {"nine length bytes", IimJpeg(Concat({Dataset(2, 120, "zz", 9), Dataset(2, 80, "x")})), QD_OK,
       Record(2, 80, "x")},
      {"length bytes past the stream", IimJpeg({0x1C, 2, 120, 0xFF, 0xFF}), QD_E_CORRUPT, {}},
      {"extended length past the stream", IimJpeg({0x1C, 2, 120, 0x80, 4, 0xFF, 0, 0, 0}), QD_E_CORRUPT, {}},
      {"data past the stream", IimTiff(Order::II, Concat({Dataset(2, 5, "a"), tooLong})), QD_E_CORRUPT,
       Record(2, 5, "a")},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Bytes records;
    EXPECT_EQ(Get(row.file, &records), row.result);
    EXPECT_EQ(records, row.records);
  }
}

// Only the data bytes of the named standard datasets change: cut, padded with
// zeros, or left when the dataset is extended or absent; the versions are set.
TEST(Iim, ReplaceOverwritesStoredDataInPlace) {
  const Bytes list = Concat({Record(2, 5, "ab"), Record(2, 25, "keyword"), Record(2, 120, "new"), Record(2, 10, "x")});
  const Bytes before = Block(), after = Block("ab" + kZeros, "ke", std::string("\0\1", 2));
  for (const Bytes& file : {IimJpeg(), IimTiff(Order::II), IimTiff(Order::MM)}) {
    TestStream s(file);
    ASSERT_EQ(QDParseReplaceIIMInfo(s.stream(), List(list).data()), QD_OK);
    Bytes want = file;
    const auto at = std::search(want.begin(), want.end(), before.begin(), before.end());
    std::copy(after.begin(), after.end(), at);
    EXPECT_EQ(s.data(), want);
    Bytes got;
    EXPECT_EQ(Get(s.data(), &got), QD_OK);
    EXPECT_EQ(got, Concat({Record(2, 5, "ab" + kZeros), Record(2, 25, "ke"), Record(2, 80, "By-line")}));
  }
}

TEST(Iim, PreservedBlocksReadBackAsTheirRecords) {
  const Bytes records = Concat({Record(2, 5, "abc"), Record(2, 120, "hello")});
  TestStream fromList, source(records), fromStream;
  std::vector<IimRecord*> list = List(records);
  ASSERT_EQ(QDParseMakePreserveIIMInfo(QD_IIM_SOURCE_LIST, list.data(), fromList.stream()), QD_OK);
  ASSERT_EQ(QDParseMakePreserveIIMInfo(QD_IIM_SOURCE_STREAM, source.stream(), fromStream.stream()), QD_OK);
  const Bytes block = fromList.data();
  EXPECT_EQ(block, Concat({Text("VEDRADC_IIM"), {0, 0, 0, 1, 0, 0, 0, 0}, records}));
  EXPECT_EQ(fromStream.data(), block);

  Bytes bigEndian = block, version2 = block;
  bigEndian[16] = 1;
  PutU32(bigEndian, 22, 3, true);
  PutU32(bigEndian, 31, 5, true);
  version2[15] = 2;
  const struct { const char* name; Bytes block; uint32_t result; Bytes records; } rows[] = {{"little-endian", block, QD_OK, records},
              {"big-endian", bigEndian, QD_OK, records},
              {"version 2", version2, QD_E_CORRUPT, {}},
              {"a cut record", Bytes(block.begin(), block.end() - 1), QD_E_CORRUPT, Record(2, 5, "abc")}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TestStream in(row.block), out;
    EXPECT_EQ(QDParseReadPreserveIIMInfo(in.stream(), out.stream()), row.result);
    EXPECT_EQ(out.data(), row.records);
  }
  std::vector<IimRecord*> many(101, list[0]);
  many.push_back(nullptr);
  EXPECT_EQ(QDParseMakePreserveIIMInfo(QD_IIM_SOURCE_LIST, many.data(), fromList.stream()), QD_E_FAILED);
}

}  // namespace
}  // namespace qdtest::iim
