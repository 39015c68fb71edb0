// The query entry points over Exif blocks and maker notes: how the starting
// IFD is prepared, the maker-note relocation footer (copying and locating),
// and the stream locate walker.
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
using Nums = std::vector<uint32_t>;

// A TIFF block in a heap copy of exactly its length, described the way a
// caller of the queries describes it.
struct Block {
  explicit Block(const Bytes& b) : bytes(new uint8_t[b.size()]) {
    std::memcpy(bytes.get(), b.data(), b.size());
    info.tiff = bytes.get();
    info.tiffSize = static_cast<uint32_t>(b.size());
  }
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
  // {0x0102, 0x0304, 0x0506} as the file holds them.
  Bytes RawShorts() const { return bigEndian() ? Bytes{1, 2, 3, 4, 5, 6} : Bytes{2, 1, 4, 3, 6, 5}; }
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
  EXPECT_EQ((Nums{b.info.byteOrder, b.info.ifdOffset}), (Nums{bigEndian(), f.ifd0}));
  EXPECT_STREQ(make, "Maker");
  EXPECT_EQ((Nums{exposure[0], exposure[1], thumbWidth}), (Nums{1, 60, 2}));

  // A known start is taken as it is: here the Exif IFD.
  b.info.ifdOffset = f.exifIfd;
  exposure[1] = 0;
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

// A maker note first written at offset 5000 of its TIFF block.
Bytes Note(Order order, uint16_t relocate, const std::string& text) {
  TiffBuilder tb(order);
  tb.NewIfd().Short(0x0019, {relocate}).Ascii(0x0020, text).Short(0x0021, {7, 8, 9});
  return tb.MakerNote(5000);
}

// The note where it lies now, and a same-shaped note where its stated
// offsets point, so that reading either place gives a known answer. Only a
// valid footer, relocation tag 1 and a known size move the values.
TEST_P(ExifQueries, MakerNoteFooterRelocatesOutOfLineValues) {
  constexpr uint32_t kNow = 4000, kFirst = 5000;
  const struct {
    const char* name;
    uint16_t relocate;
    bool footerValid, withSize, relocated, otherOrder;  // otherOrder: the block's order differs
  } cases[] = {
      {"relocation tag 1", 1, true, true, true, false},
      {"relocation tag 0", 0, true, true, false, false},
      {"invalid footer", 1, false, true, false, false},
      {"no size given", 1, true, false, false, false},
      {"note in the other order than its block", 1, true, true, true, true},
  };
  for (const auto& c : cases) {
    for (ReadMode mode : {ReadMode::kCopy, ReadMode::kLocate}) {
      SCOPED_TRACE(testing::Message() << c.name << (mode == ReadMode::kCopy ? ", copy" : ", locate"));
      Bytes moved = Note(order(), c.relocate, "moved here");
      if (!c.footerValid) moved[moved.size() - 6] = 0x2B;  // the footer's 42
      const Bytes first = Note(order(), c.relocate, "first home");
      Bytes bytes(kFirst + first.size() + 16, 0);
      std::copy(moved.begin(), moved.end(), bytes.begin() + kNow);
      std::copy(first.begin(), first.end(), bytes.begin() + kFirst);
      Block b(bytes);
      b.info.ifdOffset = kNow;
      b.info.byteOrder = bigEndian() != c.otherOrder ? 1 : 0;
      char text[16] = {};
      IfdQuery list[] = {ReadInto(0x0020, kTAscii, text, sizeof text), Op(IFDQ_END)};
      const uint32_t size = c.withSize ? static_cast<uint32_t>(moved.size()) : 0;
      ASSERT_EQ(qd::tiff::QueryMakerNote(&b.info, list, kNow, size, mode), qd::ST_OK);
      ASSERT_EQ(Val(list[0].found), 1);
      const char* got = mode == ReadMode::kCopy ? text : reinterpret_cast<const char*>(Data(list[0]));
      EXPECT_STREQ(got, c.relocated ? "moved here" : "first home");
      if (c.relocated) EXPECT_EQ(Val(b.info.byteOrder), bigEndian() ? 1 : 0);
    }
  }
}

// The stream form: the TIFF block starts at `base` inside a test stream.
struct StreamBlock {
  StreamBlock(const Bytes& tiff, uint32_t base, Order order, uint32_t ifd) : stream(Prefixed(tiff, base)) {
    qd::MakeStreamPort(stream.stream(), &port);
    EXPECT_EQ(qd::ReaderOpen(port, qd::kProbeReaderCapacity, &reader), qd::ST_OK);
    info.segmentOffset = reinterpret_cast<uintptr_t>(&reader);
    info.tiffSize = base;
    info.byteOrder = order == Order::MM ? 1 : 0;
    info.ifdOffset = ifd;
  }
  ~StreamBlock() { EXPECT_EQ(qd::ReaderClose(&reader), qd::ST_OK); }
  qd::Status Query(IfdQuery* list) { return qd::tiff::QueryStreamLocate(&info, list); }
  static Bytes Prefixed(Bytes tiff, uint32_t base) {
    tiff.insert(tiff.begin(), base, 0xEE);
    return tiff;
  }

  TestStream stream;
  qd::StreamPort port{};
  qd::BufferedReader reader{};
  TiffBlockInfo info{};
};

// Positions are from the base; values are copied raw, in the file's order,
// into the caller's buffer (as much as it holds) or a new block.
TEST_P(ExifQueries, StreamLocateReportsPositionsFromTheBaseAndCopiesRawBytes) {
  constexpr uint32_t kBase = 100;
  TiffBuilder tb(order());
  TiffIfd& ifd0 = tb.NewIfd();
  TiffIfd& ifd1 = tb.NewIfd();
  ifd0.Short(0x0101, {0x0102, 0x0304, 0x0506}).Ascii(0x0102, "ab").Next(ifd1);
  ifd1.Short(0x0201, {0x0A0B});
  tb.Pad(2);
  const TiffImage img = tb.Build();
  const uint32_t shortsAt = img.ValueOffset(ifd0, 0x0101);
  StreamBlock sb(img.bytes, kBase, order(), img.ifdOffsets[0]);
  char text[16] = {};
  uint8_t part[4] = {};
  uint16_t thumb = 0;
  IfdQuery list[] = {IfdQuery{IFDQ_READ, 0x0101, kTShort, 0, 0, 0, 0},  // data 0: allocate
                     ReadInto(0x0102, kTAscii, text, sizeof text),
                     ReadInto(0x0101, kTShort, part, sizeof part),
                     Op(IFDQ_LOCATE, 0x0101),
                     Op(IFDQ_NEXT_IFD),
                     ReadInto(0x0201, kTShort, &thumb, 2),
                     Op(IFDQ_END)};
  ASSERT_EQ(sb.Query(list), qd::ST_OK);
  EXPECT_EQ(FoundFlags(list, 7), (std::vector<uint16_t>{1, 1, 1, 1, 1, 1, 0}));
  auto* shorts = reinterpret_cast<uint8_t*>(Data(list[0]));
  const Bytes raw = RawShorts();
  EXPECT_EQ(Bytes(shorts, shorts + qd::BlockLength(shorts)), raw);
  EXPECT_EQ(Bytes(part, part + 4), Bytes(raw.begin(), raw.begin() + 4));
  EXPECT_STREQ(text, "ab");
  EXPECT_EQ(thumb, bigEndian() ? 0x0B0A : 0x0A0B) << "not swapped";
  EXPECT_EQ((Nums{Size(list[0]), Size(list[1]), Size(list[2]), Size(list[3])}), (Nums{6, 3, 4, 3}));
  EXPECT_EQ((Nums{Position(list[0]), Position(list[1]), Position(list[5])}),
            (Nums{shortsAt, img.ifdOffsets[0] + 2 + 12 + 8, img.ifdOffsets[1] + 2 + 8}));  // inline: the field
  EXPECT_EQ((Nums{static_cast<uint32_t>(Data(list[3])), Position(list[3])}), (Nums{shortsAt, shortsAt - kBase}));
  (void)qd::BlockFree(shorts);

  // An empty IFD ends the walk; a byte value may end exactly at the end of
  // the stream, wider ones may not.
  TiffBuilder ends(order());
  TiffIfd& empty = ends.NewIfd();
  TiffIfd& last = ends.NewIfd();
  last.Sub(kTagExifIfd, empty).Short(0x0101, {1, 2, 3}).Ascii(0x0102, "ends at the end");
  const TiffImage e = ends.Build();
  ASSERT_EQ(e.ValueOffset(last, 0x0102) + 16, e.size());
  IfdQuery enter[] = {Op(IFDQ_ENTER, kTagExifIfd), Op(IFDQ_LEAVE), Op(IFDQ_END)};
  EXPECT_EQ(StreamBlock(e.bytes, 16, order(), e.ifdOffsets[1]).Query(enter), qd::ST_BAD_ARGUMENT);
  char buffer[16] = {};
  IfdQuery ascii[] = {ReadInto(0x0102, kTAscii, buffer, sizeof buffer), Op(IFDQ_END)};
  EXPECT_EQ(StreamBlock(e.bytes, 16, order(), e.ifdOffsets[1]).Query(ascii), qd::ST_OK);
  EXPECT_EQ(Val(ascii[0].found), 1);
  TiffBuilder wide(order());
  wide.NewIfd().Short(0x0101, {1, 2, 3});
  const TiffImage w = wide.Build();
  IfdQuery shortsAtEnd[] = {ReadInto(0x0101, kTShort, buffer, sizeof buffer), Op(IFDQ_END)};
  EXPECT_EQ(StreamBlock(w.bytes, 16, order(), w.ifdOffsets[0]).Query(shortsAtEnd), qd::ST_OK);
  EXPECT_EQ(Val(shortsAtEnd[0].found), 0);
}

INSTANTIATE_TEST_SUITE_P(Orders, ExifQueries, testing::Values(Order::II, Order::MM),
                         [](const testing::TestParamInfo<Order>& info) {
                           return std::string(info.param == Order::II ? "II" : "MM");
                         });

}  // namespace
}  // namespace qdtest
