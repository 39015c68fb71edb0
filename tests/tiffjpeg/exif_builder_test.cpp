// The Exif block builder: IFD query lists that carry values, laid out as a
// TIFF structure behind an APP1 signature, in either byte order.
#include "tiffjpeg/exif_builder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "exifwrite/exif_support.h"
#include "frame/memory_block.h"
#include "support/fault_sweep.h"

namespace qdtest {
namespace {

using Nums = std::vector<uint32_t>;

IfdQuery Req(uint16_t op, uint16_t tag = 0, uint16_t type = 0, const void* data = nullptr, uint32_t size = 0) {
  return IfdQuery{op, tag, type, 0, reinterpret_cast<uintptr_t>(data), size, 0};
}

// Little-endian blocks through the export, big-endian ones through the builder.
uint32_t Build(std::vector<IfdQuery>& list, ExifBlock& out, bool big, uint32_t kind = 0) {
  if (!big) return qdParseCreateExifProperty(list.data(), &out.info, kind);
  return qd::ToResultCode(qd::tiff::BuildExifBlock(list.data(), &out.info, kind, qd::kBigEndian));
}

TEST(ExifBuilder, OneAsciiEntryInEitherOrderAndSignature) {
  const struct {
    uint32_t kind;  // 1: "LoLe", anything else "Exif"
    bool big;
    Bytes head;
  } cases[] = {
      {0, false, {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 0x2A, 0, 8, 0, 0, 0}},
      {1, false, {'L', 'o', 'L', 'e', 0, 0, 'I', 'I', 0x2A, 0, 8, 0, 0, 0}},
      {7, false, {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 0x2A, 0, 8, 0, 0, 0}},
      {0, true, {'E', 'x', 'i', 'f', 0, 0, 'M', 'M', 0, 0x2A, 0, 0, 0, 8}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.kind << (c.big ? " MM" : " II"));
    std::vector<IfdQuery> list = {Req(IFDQ_READ, 0x010F, 2, "Vedra", 6), Req(IFDQ_END)};
    ExifBlock out;
    ASSERT_EQ(Build(list, out, c.big, c.kind), QD_OK);
    const Bytes payload = out.payload();
    ASSERT_EQ(payload.size(), 14u + 2 + 12 + 4 + 6);
    EXPECT_EQ(qd::BlockLength(out.info.segment), payload.size());
    EXPECT_EQ(Bytes(payload.begin(), payload.begin() + 14), c.head);
    EXPECT_EQ(static_cast<uint8_t*>(out.info.tiff), out.info.segment + 6);
    EXPECT_EQ((Nums{out.info.byteOrder, out.info.ifdOffset, static_cast<uint32_t>(out.info.segmentOffset)}),
              (Nums{c.big, 8, 0}));
    const TiffReader r(out.tiff());
    uint32_t next = 1;
    const Ifd ifd0 = r.Ifd(8, &next);
    ASSERT_EQ(ifd0.size(), 1u);
    EXPECT_EQ(r.Text(ifd0[0]), "Vedra");
    EXPECT_EQ(next, 0u);
  }
}

// Counts and placement by type; out-of-line values are packed in list order.
// IFD0's data ends at an odd offset, so IFD1 starts one byte later.
TEST(ExifBuilder, ValueShapesAndPlacementByType) {
  const uint16_t shorts[3] = {0x1234, 0x5678, 0x9ABC};
  const uint32_t longs[2] = {0x01020304, 0x05060708};
  const int32_t srational[3] = {-7, 3, 99};
  const uint8_t bytes[5] = {1, 2, 3, 4, 5};
  for (bool big : {false, true}) {
    SCOPED_TRACE(big);
    std::vector<IfdQuery> list = {Req(IFDQ_READ, 1, 2, "abc", 4),          // inline
                                  Req(IFDQ_READ, 2, 3, shorts, 5),         // 2 elements, inline
                                  Req(IFDQ_READ, 0, 3, shorts, 6),         // tag 0: no entry
                                  Req(IFDQ_PLACEHOLDER, 0x0099, 99),       // nothing
                                  Req(IFDQ_READ, 3, 3, shorts, 6),         // 3 elements, out of line
                                  Req(IFDQ_READ, 4, 4, longs, 7),          // 1 element, inline
                                  Req(IFDQ_READ, 5, 10, srational, 12),    // 1 pair, out of line
                                  Req(IFDQ_READ, 6, 1, bytes, 5),          // out of line
                                  Req(IFDQ_READ, 7, 7, nullptr, 0),        // count 0
                                  Req(IFDQ_NEXT_IFD),
                                  Req(IFDQ_READ, 8, 3, shorts, 2),
                                  Req(IFDQ_END)};
    ExifBlock out;
    ASSERT_EQ(Build(list, out, big), QD_OK);
    const TiffReader r(out.tiff());
    uint32_t next = 0;
    const Ifd ifd = r.Ifd(8, &next);
    const uint32_t data = 8 + 2 + 7 * 12 + 4, ifd1 = data + 6 + 8 + 5 + 1;
    EXPECT_EQ((Nums{next, r.bytes()[ifd1 - 1], out.info.tiffSize}), (Nums{ifd1, 0, ifd1 + 2 + 12 + 4}));
    ASSERT_EQ(r.Ifd(ifd1).size(), 1u);
    const uint32_t expected[7][3] = {{1, 4, 18},   {2, 2, 30},        {3, 3, data},       {4, 1, 54},
                                     {5, 1, data + 6}, {6, 5, data + 14}, {7, 0, 90}};  // tag, count, value at
    ASSERT_EQ(ifd.size(), 7u);
    for (size_t i = 0; i < 7; ++i) {
      EXPECT_EQ((Nums{ifd[i].tag, ifd[i].count, ifd[i].valueAt}), Nums(expected[i], expected[i] + 3)) << i;
    }
    EXPECT_EQ(r.Text(ifd[0]), "abc");
    EXPECT_EQ(r.Numbers(ifd[1]), (Nums{0x1234, 0x5678}));
    EXPECT_EQ(r.Numbers(ifd[2]), (Nums{0x1234, 0x5678, 0x9ABC}));
    EXPECT_EQ(r.Numbers(ifd[3]), Nums{0x01020304});
    EXPECT_EQ(r.Numbers(ifd[4]), (Nums{static_cast<uint32_t>(-7), 3}));
    EXPECT_EQ(r.Value(ifd[5]), Bytes(bytes, bytes + 5)) << "bytes are copied in either order";
  }
}

// A block after an IFD gets that IFD's offset in its bytes 4-7.
TEST(ExifBuilder, TrailingBlocksCarryTheirIfdsOffset) {
  const uint16_t one = 1;
  const uint8_t footer[8] = {'I', 'I', 0x2A, 0, 0xDE, 0xAD, 0xBE, 0xEF};
  const uint8_t shortTrailer[3] = {7, 7, 7};
  for (bool big : {false, true}) {
    SCOPED_TRACE(big);
    std::vector<IfdQuery> list = {Req(IFDQ_ENTER, 0x927C, 7, nullptr, 0), Req(IFDQ_READ, 0x0019, 3, &one, 2),
                                  Req(IFDQ_LEAVE, 0, 0, footer, 8), Req(IFDQ_END, 0, 0, shortTrailer, 3)};
    ExifBlock out;
    ASSERT_EQ(Build(list, out, big), QD_OK);
    const TiffReader r(out.tiff());
    const Bytes& t = r.bytes();
    const uint32_t note = 8 + 2 + 12 + 4;
    EXPECT_EQ(uint32_t{list[0].size}, 18u + 8) << "the trailer counts in the sub-IFD's size";
    ASSERT_EQ(t.size(), note + 26 + 3);
    EXPECT_EQ(Bytes(t.begin() + note + 18, t.begin() + note + 22), Bytes(footer, footer + 4));
    EXPECT_EQ(r.U32(note + 22), note) << "in the block's byte order";
    EXPECT_EQ(Bytes(t.end() - 3, t.end()), Bytes(3, 7)) << "a trailer shorter than 8 bytes is copied as is";
  }
}

TEST(ExifBuilder, MalformedListsFailAndLeaveTheDescriptorClear) {
  const uint16_t v = 1;
  const uint8_t trailer[8] = {};
  std::vector<IfdQuery> deep(100, Req(IFDQ_ENTER, 0x8769, 4));
  deep.insert(deep.end(), 100, Req(IFDQ_LEAVE));
  deep.push_back(Req(IFDQ_END));
  struct {
    const char* what;
    std::vector<IfdQuery> list;
    uint32_t result;
  } cases[] = {
      {"unknown op", {Req(IFDQ_READ, 1, 3, &v, 2), Req(6), Req(IFDQ_END)}, QD_E_INVALID_ARG},
      {"unknown type (SBYTE)", {Req(IFDQ_READ, 1, 6, &v, 1), Req(IFDQ_END)}, QD_E_INVALID_ARG},
      {"unknown type (DOUBLE)", {Req(IFDQ_READ, 1, 12, &v, 8), Req(IFDQ_END)}, QD_E_INVALID_ARG},
      {"values missing", {Req(IFDQ_READ, 1, 3, nullptr, 2), Req(IFDQ_END)}, QD_E_INVALID_ARG},
      {"unclosed sub-IFD", {Req(IFDQ_ENTER, 0x8769, 4), Req(IFDQ_READ, 1, 3, &v, 2), Req(IFDQ_END)}, QD_E_INVALID_ARG},
      {"sub-IFD end never entered", {Req(IFDQ_READ, 1, 3, &v, 2), Req(IFDQ_LEAVE), Req(IFDQ_END)}, QD_E_INVALID_ARG},
      {"nesting without bound", deep, QD_E_INVALID_ARG},
      {"trailer before a chained IFD", {Req(IFDQ_READ, 1, 3, &v, 2), Req(IFDQ_NEXT_IFD, 0, 0, trailer, 8), Req(IFDQ_END)},
       QD_E_FAILED},
  };
  const int64_t live = LiveBlocks();
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    TiffBlockInfo out;
    std::memset(&out, 0xCD, sizeof out);
    EXPECT_EQ(qdParseCreateExifProperty(c.list.data(), &out, 0), c.result);
    EXPECT_TRUE(AllZero(out));
    EXPECT_EQ(LiveBlocks(), live);
  }
  TiffBlockInfo out{};
  EXPECT_EQ(qdParseCreateExifProperty(nullptr, &out, 0), QD_E_INVALID_ARG);
  EXPECT_EQ(qdParseCreateExifProperty(cases[0].list.data(), nullptr, 0), QD_E_INVALID_ARG);
}

}  // namespace
}  // namespace qdtest
