// The query entry points over Exif blocks and maker notes: how the starting
// IFD is prepared, the maker-note relocation footer, the locate forms that
// hand back where values lie, and the stream locate walker.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "frame/memory_block.h"
#include "support/container_builder.h"
#include "tiffjpeg/exif_query.h"
#include "walk_harness.h"

namespace qdtest {
namespace {

// Packed record fields by value: gtest's comparisons bind references.
template <typename T>
T Val(T v) {
  return v;
}

using qd::tiff::ReadMode;

// A TIFF block in a heap copy of exactly its length, described the way a
// caller of the queries describes it.
struct Block {
  explicit Block(const Bytes& b) : size(static_cast<uint32_t>(b.size())), bytes(new uint8_t[b.size()]) {
    std::memcpy(bytes.get(), b.data(), b.size());
    info.tiff = bytes.get();
    info.tiffSize = size;
  }
  uint8_t* at(uint32_t offset) { return bytes.get() + offset; }

  uint32_t size;
  std::unique_ptr<uint8_t[]> bytes;
  TiffBlockInfo info{};
};

uintptr_t Data(const IfdQuery& q) { return q.data; }
uint32_t Size(const IfdQuery& q) { return q.size; }
uint32_t Position(const IfdQuery& q) { return q.position; }

class ExifQueries : public testing::TestWithParam<Order> {
 protected:
  Order order() const { return GetParam(); }
  bool bigEndian() const { return order() == Order::MM; }
};

TEST_P(ExifQueries, FirstQueryReadsTheHeaderLaterOnesStartWhereTheBlockSays) {
  TiffShape shape = ExifTiffShape(order());
  shape.ifd0AtEight = false;
  const TiffFile f = BuildTiffFile(shape);
  Block b(f.bytes);
  char make[16] = {};
  uint32_t exposure[2] = {};
  uint16_t thumbWidth = 0;
  IfdQuery list[] = {ReadInto(0x010F, kTAscii, make, sizeof make),
                     Op(IFDQ_ENTER, kTagExifIfd),
                     ReadInto(0x829A, kTRational, exposure, sizeof exposure),
                     Op(IFDQ_LEAVE),
                     Op(IFDQ_NEXT_IFD),
                     ReadInto(0x0100, kTShort, &thumbWidth, 2),
                     Op(IFDQ_END)};
  ASSERT_EQ(qdParseExifProperty(&b.info, list), QD_OK);
  const uint8_t byteOrder = b.info.byteOrder;
  const uint32_t ifdOffset = b.info.ifdOffset;
  EXPECT_EQ(byteOrder, bigEndian() ? 1 : 0);
  EXPECT_EQ(ifdOffset, f.ifd0);
  EXPECT_STREQ(make, "Maker");
  EXPECT_EQ(exposure[0], 1u);
  EXPECT_EQ(exposure[1], 60u);
  EXPECT_EQ(thumbWidth, 2);

  // A known start is taken as it is: here the Exif IFD.
  b.info.ifdOffset = f.exifIfd;
  exposure[0] = exposure[1] = 0;
  IfdQuery direct[] = {ReadInto(0x829A, kTRational, exposure, sizeof exposure), Op(IFDQ_END)};
  EXPECT_EQ(qdParseExifProperty(&b.info, direct), QD_OK);
  EXPECT_EQ(exposure[1], 60u);
}

TEST_P(ExifQueries, AnUnusableStartFailsBeforeAnyRequestIsTouched) {
  const TiffFile f = BuildTiffFile(ExifTiffShape(order()));
  Bytes mark = f.bytes, beyond = f.bytes, entries = f.bytes;
  mark[0] = 'X';
  PutU32(beyond, 4, static_cast<uint32_t>(beyond.size()), bigEndian());  // IFD0 at the very end
  PutU16(entries, f.ifd0, 0x7FFF, bigEndian());                          // entries past the end
  for (const Bytes* bytes : {&mark, &beyond, &entries}) {
    Block b(*bytes);
    char make[16];
    IfdQuery list[] = {ReadInto(0x010F, kTAscii, make, sizeof make), Op(IFDQ_END)};
    list[0].found = 0x55;
    EXPECT_EQ(qdParseExifProperty(&b.info, list), QD_E_UNSUPPORTED);
    EXPECT_EQ(qd::tiff::QueryExif(&b.info, list, ReadMode::kLocate), qd::ST_UNSUPPORTED);
    EXPECT_EQ(Val(list[0].found), 0x55);
  }
}

TEST_P(ExifQueries, LocateHandsBackAddressesInsideTheCallersBlock) {
  TiffBuilder tb(order());
  TiffIfd& ifd0 = tb.NewIfd();
  TiffIfd& exif = tb.NewIfd();
  ifd0.Short(0x0101, {0x0102, 0x0304, 0x0506}).Ascii(0x0102, "ab").Sub(kTagExifIfd, exif);
  exif.Rational(0x829A, {{1, 250}});
  tb.Pad(2);
  const TiffImage img = tb.Build();
  Block b(img.bytes);
  IfdQuery list[] = {ReadInto(0x0101, kTShort, nullptr, 0), ReadInto(0x0102, kTAscii, nullptr, 0),
                     Op(IFDQ_ENTER, kTagExifIfd),           ReadInto(0x829A, kTRational, nullptr, 0),
                     Op(IFDQ_LEAVE),                        Op(IFDQ_END)};
  ASSERT_EQ(qd::tiff::QueryExif(&b.info, list, ReadMode::kLocate), qd::ST_OK);

  const auto address = [&](uint32_t offset) { return reinterpret_cast<uintptr_t>(b.at(offset)); };
  EXPECT_EQ(FoundFlags(list, 6), (std::vector<uint16_t>{1, 1, 1, 1, 1, 0}));
  EXPECT_EQ(Data(list[0]), address(img.ValueOffset(ifd0, 0x0101)));
  EXPECT_EQ(Data(list[1]), address(img.ifdOffsets[0] + 2 + 12 + 8));  // inline: the entry's field
  EXPECT_EQ(Data(list[3]), address(img.ValueOffset(exif, 0x829A)));
  EXPECT_EQ(Size(list[0]), 6u);
  EXPECT_EQ(Size(list[1]), 3u);
  EXPECT_EQ(Size(list[3]), 8u);
  // The bytes stay as the file has them.
  auto* shorts = reinterpret_cast<uint8_t*>(Data(list[0]));
  const Bytes raw = bigEndian() ? Bytes{1, 2, 3, 4, 5, 6} : Bytes{2, 1, 4, 3, 6, 5};
  EXPECT_EQ(Bytes(shorts, shorts + 6), raw);

  // Writing through an address changes what the next query reads.
  std::memcpy(reinterpret_cast<uint8_t*>(Data(list[1])), "xy", 2);
  std::memcpy(shorts, "\x07\x07", 2);
  char text[4] = {};
  uint16_t values[3] = {};
  IfdQuery copy[] = {ReadInto(0x0102, kTAscii, text, sizeof text), ReadInto(0x0101, kTShort, values, 6),
                     Op(IFDQ_END)};
  ASSERT_EQ(qdParseExifProperty(&b.info, copy), QD_OK);
  EXPECT_STREQ(text, "xy");
  EXPECT_EQ(values[0], 0x0707);
  EXPECT_EQ(values[1], 0x0304);
}

// A maker note first written at offset 5000 of its TIFF block.
Bytes Note(Order order, uint16_t relocate, const std::string& text) {
  TiffBuilder tb(order);
  tb.NewIfd().Short(0x0019, {relocate}).Ascii(0x0020, text).Short(0x0021, {7, 8, 9});
  return tb.MakerNote(5000);
}

TEST_P(ExifQueries, MakerNoteFooterRelocatesOutOfLineValues) {
  constexpr uint32_t kNow = 4000, kFirst = 5000;
  struct Case {
    const char* name;
    uint16_t relocate;
    bool footerValid;
    bool withSize;
    bool relocated;
  };
  const Case cases[] = {
      {"relocation tag 1", 1, true, true, true},
      {"relocation tag 0", 0, true, true, false},
      {"invalid footer", 1, false, true, false},
      {"no size given", 1, true, false, false},
  };
  for (const Case& c : cases) {
    for (ReadMode mode : {ReadMode::kCopy, ReadMode::kLocate}) {
      SCOPED_TRACE(testing::Message() << c.name << (mode == ReadMode::kCopy ? ", copy" : ", locate"));
      // The note where it lies now, and a same-shaped note where its stated
      // offsets point, so that reading either place gives a known answer.
      Bytes moved = Note(order(), c.relocate, "moved here");
      if (!c.footerValid) moved[moved.size() - 6] = 0x2B;  // the footer's 42
      const Bytes first = Note(order(), c.relocate, "first home");
      Bytes bytes(kFirst + first.size() + 16, 0);
      std::copy(moved.begin(), moved.end(), bytes.begin() + kNow);
      std::copy(first.begin(), first.end(), bytes.begin() + kFirst);
      Block b(bytes);
      b.info.ifdOffset = kNow;
      b.info.byteOrder = bigEndian() ? 1 : 0;

      char text[16] = {};
      uint16_t values[3] = {};
      IfdQuery list[] = {ReadInto(0x0020, kTAscii, text, sizeof text), ReadInto(0x0021, kTShort, values, 6),
                         Op(IFDQ_END)};
      const uint32_t size = c.withSize ? static_cast<uint32_t>(moved.size()) : 0;
      ASSERT_EQ(qd::tiff::QueryMakerNote(&b.info, list, kNow, size, mode), qd::ST_OK);
      ASSERT_EQ(Val(list[0].found), 1);
      ASSERT_EQ(Val(list[1].found), 1);
      const uint32_t home = c.relocated ? kNow : kFirst;
      if (mode == ReadMode::kCopy) {
        EXPECT_STREQ(text, c.relocated ? "moved here" : "first home");
        EXPECT_EQ(values[2], 9);
      } else {
        const auto* at = reinterpret_cast<const char*>(Data(list[0]));
        EXPECT_TRUE(at > reinterpret_cast<char*>(b.at(home)) && at < reinterpret_cast<char*>(b.at(home + 64)));
        EXPECT_STREQ(at, c.relocated ? "moved here" : "first home");
      }
      const uint8_t byteOrder = b.info.byteOrder;
      EXPECT_EQ(byteOrder, bigEndian() ? 1 : 0);
    }
  }
}

// The stream form: the TIFF block starts at `base` inside a test stream.
class StreamBlock {
 public:
  StreamBlock(const Bytes& tiff, uint32_t base, Order order, uint32_t ifd) : stream_(Prefixed(tiff, base)) {
    qd::MakeStreamPort(stream_.stream(), &port_);
    EXPECT_EQ(qd::ReaderOpen(port_, qd::kProbeReaderCapacity, &reader_), qd::ST_OK);
    info.segmentOffset = reinterpret_cast<uintptr_t>(&reader_);
    info.tiffSize = base;
    info.byteOrder = order == Order::MM ? 1 : 0;
    info.ifdOffset = ifd;
  }
  ~StreamBlock() { EXPECT_EQ(qd::ReaderClose(&reader_), qd::ST_OK); }
  qd::Status Query(IfdQuery* list) { return qd::tiff::QueryStreamLocate(&info, list); }

  TiffBlockInfo info{};

 private:
  static Bytes Prefixed(const Bytes& tiff, uint32_t base) {
    Bytes b(base, 0xEE);
    b.insert(b.end(), tiff.begin(), tiff.end());
    return b;
  }
  TestStream stream_;
  qd::StreamPort port_{};
  qd::BufferedReader reader_{};
};

TEST_P(ExifQueries, StreamLocateReportsPositionsFromTheBaseAndCopiesRawBytes) {
  constexpr uint32_t kBase = 100;
  TiffBuilder tb(order());
  TiffIfd& ifd0 = tb.NewIfd();
  TiffIfd& ifd1 = tb.NewIfd();
  TiffIfd& exif = tb.NewIfd();
  ifd0.Short(0x0101, {0x0102, 0x0304, 0x0506}).Ascii(0x0102, "ab").Sub(kTagExifIfd, exif).Next(ifd1);
  ifd1.Short(0x0201, {0x0A0B});
  exif.Ascii(0x9003, "2024:01:02 03:04:05");
  tb.Pad(2);
  const TiffImage img = tb.Build();
  const uint32_t shortsAt = img.ValueOffset(ifd0, 0x0101);
  const auto fieldOf = [&](int ifd, int entry) { return img.ifdOffsets[ifd] + 2 + 12 * entry + 8; };

  StreamBlock sb(img.bytes, kBase, order(), img.ifdOffsets[0]);
  char text[16] = {};
  uint8_t part[4] = {};
  uint16_t thumb = 0;
  IfdQuery list[] = {IfdQuery{IFDQ_READ, 0x0101, kTShort, 0, 0, 0, 0},  // data 0: allocate
                     ReadInto(0x0102, kTAscii, text, sizeof text),
                     ReadInto(0x0101, kTShort, part, sizeof part),
                     Op(IFDQ_LOCATE, 0x0101),
                     Op(IFDQ_ENTER, kTagExifIfd),
                     IfdQuery{IFDQ_READ, 0x9003, kTAscii, 0, 0, 0, 0},
                     Op(IFDQ_LEAVE),
                     Op(IFDQ_NEXT_IFD),
                     ReadInto(0x0201, kTShort, &thumb, 2),
                     Op(IFDQ_END)};
  ASSERT_EQ(sb.Query(list), qd::ST_OK);
  EXPECT_EQ(FoundFlags(list, 10), (std::vector<uint16_t>{1, 1, 1, 1, 1, 1, 1, 1, 1, 0}));
  auto* shorts = reinterpret_cast<uint8_t*>(Data(list[0]));
  auto* date = reinterpret_cast<uint8_t*>(Data(list[5]));

  // Values come raw, in the file's byte order.
  const Bytes raw = bigEndian() ? Bytes{1, 2, 3, 4, 5, 6} : Bytes{2, 1, 4, 3, 6, 5};
  EXPECT_EQ(qd::BlockLength(shorts), 6u);
  EXPECT_EQ(Size(list[0]), 6u);
  EXPECT_EQ(Position(list[0]), shortsAt);
  EXPECT_EQ(Bytes(shorts, shorts + 6), raw);
  EXPECT_EQ(Size(list[1]), 3u);
  EXPECT_EQ(Position(list[1]), fieldOf(0, 1));  // inline: the entry's own field
  EXPECT_STREQ(text, "ab");
  EXPECT_EQ(Size(list[2]), 4u);  // as much as the buffer holds
  EXPECT_EQ(Bytes(part, part + 4), Bytes(raw.begin(), raw.begin() + 4));
  EXPECT_EQ(Size(list[3]), 3u);
  EXPECT_EQ(Data(list[3]), shortsAt);
  EXPECT_EQ(Position(list[3]), shortsAt - kBase);
  EXPECT_EQ(Position(list[5]), img.ValueOffset(exif, 0x9003));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(date)), "2024:01:02 03:04:05");
  EXPECT_EQ(Position(list[8]), fieldOf(1, 0));
  EXPECT_EQ(thumb, bigEndian() ? 0x0B0A : 0x0A0B) << "not swapped";
  (void)qd::BlockFree(shorts);
  (void)qd::BlockFree(date);
}

TEST_P(ExifQueries, StreamLocateRefusesEmptyIfdsAndValuesPastTheEnd) {
  // The empty IFD first, so that IFD0's text value ends the stream.
  TiffBuilder tb(order());
  TiffIfd& empty = tb.NewIfd();
  TiffIfd& ifd0 = tb.NewIfd();
  ifd0.Sub(kTagExifIfd, empty).Ascii(0x0102, "ends at the end");
  const TiffImage text = tb.Build();
  ASSERT_EQ(text.ValueOffset(ifd0, 0x0102) + 16, text.size());
  TiffBuilder tb2(order());
  tb2.NewIfd().Short(0x0101, {1, 2, 3});
  const TiffImage shorts = tb2.Build();

  IfdQuery end[] = {Op(IFDQ_END)};
  EXPECT_EQ(StreamBlock(text.bytes, 16, order(), text.ifdOffsets[0]).Query(end), qd::ST_BAD_ARGUMENT);
  IfdQuery enter[] = {Op(IFDQ_ENTER, kTagExifIfd), Op(IFDQ_LEAVE), Op(IFDQ_END)};
  EXPECT_EQ(StreamBlock(text.bytes, 16, order(), text.ifdOffsets[1]).Query(enter), qd::ST_BAD_ARGUMENT);

  // A byte value may end exactly at the end of the stream; wider ones may not.
  char buffer[16] = {};
  IfdQuery ascii[] = {ReadInto(0x0102, kTAscii, buffer, sizeof buffer), Op(IFDQ_END)};
  EXPECT_EQ(StreamBlock(text.bytes, 16, order(), text.ifdOffsets[1]).Query(ascii), qd::ST_OK);
  EXPECT_EQ(Val(ascii[0].found), 1);
  IfdQuery wide[] = {ReadInto(0x0101, kTShort, buffer, sizeof buffer), Op(IFDQ_END)};
  EXPECT_EQ(StreamBlock(shorts.bytes, 16, order(), shorts.ifdOffsets[0]).Query(wide), qd::ST_OK);
  EXPECT_EQ(Val(wide[0].found), 0);
}

INSTANTIATE_TEST_SUITE_P(Orders, ExifQueries, testing::Values(Order::II, Order::MM),
                         [](const testing::TestParamInfo<Order>& info) {
                           return std::string(info.param == Order::II ? "II" : "MM");
                         });

}  // namespace
}  // namespace qdtest
