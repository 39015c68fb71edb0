// The Exif block builder: query lists that carry values, laid out as a TIFF
// structure behind an APP1 signature, in either byte order.
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

IfdQuery Req(uint16_t op, uint16_t tag = 0, uint16_t type = 0, const void* data = nullptr,
             uint32_t size = 0) {
  return IfdQuery{op, tag, type, 0, reinterpret_cast<uintptr_t>(data), size, 0};
}

// Little-endian blocks through the export, big-endian ones through the builder.
uint32_t Build(std::vector<IfdQuery>& list, ExifBlock& out, bool big, uint32_t kind = 0) {
  if (!big) return qdParseCreateExifProperty(list.data(), &out.info, kind);
  return qd::ToResultCode(qd::tiff::BuildExifBlock(list.data(), &out.info, kind, qd::kBigEndian));
}

// The header, then entries and values: out-of-line values packed in list
// order after IFD0's link; IFD0's data ends at an odd offset, so IFD1 starts
// one byte later. A sub-IFD entry of size 0 gets the sub-IFD's size, and a
// trailing block after an IFD that IFD's offset in its bytes 4-7.
TEST(ExifBuilder, HeaderEntriesValuesAndTrailingBlocks) {
  const uint16_t shorts[3] = {0x1234, 0x5678, 0x9ABC};
  const int32_t srational[2] = {-7, 3};
  const uint8_t footer[8] = {'I', 'I', 0x2A, 0, 0xDE, 0xAD, 0xBE, 0xEF};
  const struct {
    uint32_t kind;  // 1: "LoLe", otherwise "Exif"
    bool big;
    Bytes head;
  } rows[] = {
      {0, false, {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 0x2A, 0, 8, 0, 0, 0}},
      {1, false, {'L', 'o', 'L', 'e', 0, 0, 'I', 'I', 0x2A, 0, 8, 0, 0, 0}},
      {0, true, {'E', 'x', 'i', 'f', 0, 0, 'M', 'M', 0, 0x2A, 0, 0, 0, 8}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.kind << (row.big ? " MM" : " II"));
    std::vector<IfdQuery> list = {
        Req(IFDQ_READ, 1, 2, "abc", 4),     // inline
        Req(IFDQ_READ, 0, 3, shorts, 6),    // tag 0: no entry
        Req(IFDQ_PLACEHOLDER, 0x0099, 99),  // nothing
        Req(IFDQ_READ, 2, 3, shorts, 6),    // 3 elements, out of line
        Req(IFDQ_READ, 3, 10, srational, 8), Req(IFDQ_READ, 4, 1, "oddly", 5),
        Req(IFDQ_ENTER, 0x927C, 7),          Req(IFDQ_READ, 5, 3, shorts, 2),
        Req(IFDQ_LEAVE, 0, 0, footer, 8),    Req(IFDQ_NEXT_IFD),
        Req(IFDQ_READ, 6, 3, shorts, 4),     Req(IFDQ_END)};
    ExifBlock out;
    ASSERT_EQ(Build(list, out, row.big, row.kind), QD_OK);
    const Bytes payload = out.payload();
    EXPECT_EQ(Bytes(payload.begin(), payload.begin() + 14), row.head);
    EXPECT_EQ(qd::BlockLength(out.info.segment), payload.size());
    EXPECT_EQ(static_cast<uint8_t*>(out.info.tiff), out.info.segment + 6);
    const TiffReader r(out.tiff());
    uint32_t next = 0;
    const Ifd ifd = r.Ifd(8, &next);
    const uint32_t data = 8 + 2 + 5 * 12 + 4, note = data + 6 + 8 + 5, ifd1 = note + 26 + 1;
    EXPECT_EQ((Nums{out.info.byteOrder, out.info.ifdOffset, next, r.bytes()[ifd1 - 1],
                    out.info.tiffSize}),
              (Nums{row.big, 8, ifd1, 0, ifd1 + 2 + 12 + 4}));
    ASSERT_EQ(ifd.size(), 5u);
    const uint32_t expected[5][3] = {{1, 4, 18},
                                     {2, 3, data},
                                     {3, 1, data + 6},
                                     {4, 5, data + 14},
                                     {0x927C, 26, note}};  // tag, count, value at
    for (size_t i = 0; i < 5; ++i) {
      EXPECT_EQ((Nums{ifd[i].tag, ifd[i].count, ifd[i].valueAt}),
                Nums(expected[i], expected[i] + 3))
          << i;
    }
    EXPECT_EQ(r.Text(ifd[0]), "abc");
    EXPECT_EQ(r.Numbers(ifd[1]), (Nums{0x1234, 0x5678, 0x9ABC}));
    EXPECT_EQ(r.Numbers(ifd[2]), (Nums{static_cast<uint32_t>(-7), 3}));
    EXPECT_EQ(r.Numbers(r.Ifd(note).at(0)), Nums{0x1234}) << "inline, after the count";
    EXPECT_EQ(r.Numbers(r.Ifd(ifd1).at(0)), (Nums{0x1234, 0x5678}));
    EXPECT_EQ(Bytes(r.bytes().begin() + note + 18, r.bytes().begin() + note + 22),
              Bytes(footer, footer + 4));
    EXPECT_EQ(r.U32(note + 22), note) << "in the block's byte order";
  }
}

TEST(ExifBuilder, MalformedListsFailAndLeaveTheDescriptorClear) {
  const uint16_t v = 1;
  const uint8_t trailer[8] = {};
  std::vector<IfdQuery> deep(100, Req(IFDQ_ENTER, 0x8769, 4));
  deep.insert(deep.end(), 100, Req(IFDQ_LEAVE));
  deep.push_back(Req(IFDQ_END));
  struct {
    std::vector<IfdQuery> list;
    uint32_t result;
  } rows[] = {
      {{Req(IFDQ_READ, 1, 3, &v, 2), Req(6), Req(IFDQ_END)}, QD_E_INVALID_ARG},  // unknown op
      {{Req(IFDQ_READ, 1, 6, &v, 1), Req(IFDQ_END)}, QD_E_INVALID_ARG},          // unknown type
      {{Req(IFDQ_READ, 1, 3, nullptr, 2), Req(IFDQ_END)}, QD_E_INVALID_ARG},     // no values
      {{Req(IFDQ_READ, 1, 3, &v, 2), Req(IFDQ_LEAVE), Req(IFDQ_END)},
       QD_E_INVALID_ARG},        // never entered
      {deep, QD_E_INVALID_ARG},  // no bound
      {{Req(IFDQ_READ, 1, 3, &v, 2), Req(IFDQ_NEXT_IFD, 0, 0, trailer, 8), Req(IFDQ_END)},
       QD_E_FAILED},
  };
  const int64_t live = LiveBlocks();
  for (auto& row : rows) {
    SCOPED_TRACE(row.list.size());
    TiffBlockInfo out;
    std::memset(&out, 0xCD, sizeof out);
    EXPECT_EQ(qdParseCreateExifProperty(row.list.data(), &out, 0), row.result);
    EXPECT_TRUE(AllZero(out));
    EXPECT_EQ(LiveBlocks(), live);
  }
  TiffBlockInfo out{};
  EXPECT_EQ(qdParseCreateExifProperty(nullptr, &out, 0), QD_E_INVALID_ARG);
  EXPECT_EQ(qdParseCreateExifProperty(rows[0].list.data(), nullptr, 0), QD_E_INVALID_ARG);
}

}  // namespace
}  // namespace qdtest
