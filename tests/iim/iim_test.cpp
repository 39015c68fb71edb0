// IIM datasets read from and replaced in Exif JPEGs and TIFFs, and preserved
// blocks packed and read back.
#include "iim/iim_support.h"

namespace qdtest::iim {
namespace {

// A preserved block of `records`, laid out by hand.
Bytes Preserved(const Bytes& records, uint8_t order = 0, uint8_t version = 1) {
  return Concat({Text("VEDRADC_IIM"), {0, 0, 0, version, order, 0, 0, 0}, records});
}
const Bytes kPair = Concat({Record(2, 5, "abc"), Record(2, 120, "hello")});
const Bytes kPairBe = {2, 5, 0, 0, 0, 3, 'a', 'b', 'c', 2, 120, 0, 0, 0, 5, 'h', 'e', 'l', 'l', 'o'};

// Both readers write the records they find to a stream, also when they fail.
TEST(Iim, ReadersWriteTheRecordsTheyFind) {
  const auto get = QDParseGetIIMInfo, unpack = QDParseReadPreserveIIMInfo;
  const Bytes tooLong = {0x1C, 2, 5, 0x7F, 0xFF}, cut(kPair.begin(), kPair.end() - 1);
  const struct { const char* name; decltype(get) call; Bytes in; uint32_t result; Bytes records; } rows[] = {
      {"Exif JPEG", get, IimJpeg(), QD_OK, kChosen},
      {"Exif TIFF, II", get, IimTiff(Order::II), QD_OK, kChosen},
      {"Exif TIFF, MM", get, IimTiff(Order::MM), QD_OK, kChosen},
      {"ARX K TIFF without an Exif IFD", get, IimTiff(Order::MM, Block(), "ARX K4800Q"), QD_OK, kChosen},
      {"other TIFF without an Exif IFD", get, IimTiff(Order::II, Block(), "ARX K24"), QD_E_FAILED, {}},
      {"no IPTC-NAA tag", get, IimTiff(Order::II, {}), QD_E_NOT_APPLICABLE, {}},
      {"a heap file", get, HeapFile(RichHeap(false), false), QD_E_CORRUPT, {}},
      {"nine length bytes", get, IimJpeg(Concat({Dataset(2, 120, "zz", 9), Dataset(2, 80, "x")})), QD_OK,
       Record(2, 80, "x")},
      {"length bytes past the stream", get, IimJpeg({0x1C, 2, 120, 0xFF, 0xFF}), QD_E_CORRUPT, {}},
      {"extended length past the stream", get, IimJpeg({0x1C, 2, 120, 0x80, 4, 0xFF, 0, 0, 0}), QD_E_CORRUPT, {}},
      {"data past the stream", get, IimTiff(Order::II, Concat({Dataset(2, 5, "a"), tooLong})), QD_E_CORRUPT,
       Record(2, 5, "a")},
      {"preserved, little-endian", unpack, Preserved(kPair), QD_OK, kPair},
      {"preserved, big-endian", unpack, Preserved(kPairBe, 1), QD_OK, kPair},
      {"preserved, version 2", unpack, Preserved(kPair, 0, 2), QD_E_CORRUPT, {}},
      {"preserved, a cut record", unpack, Preserved(cut), QD_E_CORRUPT, Record(2, 5, "abc")},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TestStream in(row.in), out;
    EXPECT_EQ(row.call(in.stream(), out.stream()), row.result);
    EXPECT_EQ(out.data(), row.records);
  }
}

// Only the data bytes of the named standard datasets change: cut, padded with
// zeros, or left when the dataset is extended or absent; the versions are set.
TEST(Iim, ReplaceOverwritesStoredDataInPlace) {
  const Bytes list = Concat({Record(2, 5, "ab"), Record(2, 25, "keyword"), Record(2, 120, "new"), Record(2, 10, "x")});
  const Bytes before = Block(), after = Block("ab" + kZeros, "ke", std::string("\0\1", 2));
  for (const Bytes& file : {IimJpeg(), IimTiff(Order::II), IimTiff(Order::MM)}) {
    TestStream s(file), records;
    ASSERT_EQ(QDParseReplaceIIMInfo(s.stream(), List(list).data()), QD_OK);
    Bytes want = file;
    std::copy(after.begin(), after.end(), std::search(want.begin(), want.end(), before.begin(), before.end()));
    EXPECT_EQ(s.data(), want);
    TestStream changed(s.data());
    EXPECT_EQ(QDParseGetIIMInfo(changed.stream(), records.stream()), QD_OK);
    EXPECT_EQ(records.data(), Concat({Record(2, 5, "ab" + kZeros), Record(2, 25, "ke"), Record(2, 80, "By-line")}));
  }
}

TEST(Iim, PreserveMakesOneBlockFromAListOrAStream) {
  TestStream fromList, source(kPair), fromStream;
  std::vector<IimRecord*> list = List(kPair);
  EXPECT_EQ(QDParseMakePreserveIIMInfo(QD_IIM_SOURCE_LIST, list.data(), fromList.stream()), QD_OK);
  EXPECT_EQ(QDParseMakePreserveIIMInfo(QD_IIM_SOURCE_STREAM, source.stream(), fromStream.stream()), QD_OK);
  EXPECT_EQ(fromList.data(), Preserved(kPair));
  EXPECT_EQ(fromStream.data(), Preserved(kPair));
  std::vector<IimRecord*> many(101, list[0]);
  many.push_back(nullptr);
  EXPECT_EQ(QDParseMakePreserveIIMInfo(QD_IIM_SOURCE_LIST, many.data(), fromList.stream()), QD_E_FAILED);
}

}  // namespace
}  // namespace qdtest::iim
