// IFDQ_READ and IFDQ_LOCATE through both walkers in both byte orders: what is
// read, into what, and which values are out of reach.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "support/fault_sweep.h"
#include "walk_harness.h"

namespace qdtest {
namespace {

class WalkValues : public testing::TestWithParam<WalkParam> {
 protected:
  Form form() const { return GetParam().form; }
  Order order() const { return GetParam().order; }
  WalkOutcome Run(const TiffImage& img, IfdQuery* list, int64_t bias = 0, uint32_t ifd = 8) {
    return RunWalk(form(), order(), img.bytes, ifd, list, bias);
  }
};

// The low `element` bytes of each value, in host order.
std::vector<uint8_t> Host(uint32_t element, const std::vector<uint64_t>& values) {
  std::vector<uint8_t> out;
  for (uint64_t v : values) {
    uint8_t b[8];
    std::memcpy(b, &v, 8);
    out.insert(out.end(), b, b + element);
  }
  return out;
}

// Every readable type, inline and out of line, arrives in host order: whole
// into a large buffer, as many whole elements as fit into a small one, or in
// a library block when the size is 0. A wrong or unreadable type leaves the
// request unfound, allocates nothing, and the walk goes on.
TEST_P(WalkValues, ReadsEveryTypeIntoBuffersOrBlocks) {
  const uint64_t m1 = 0xFFFFFFFF, m2 = 0xFFFFFFFE, m5 = 0xFFFFFFFB, m70k = uint32_t(-70000);
  const struct {
    uint16_t tag, type;
    uint32_t element;
    std::vector<uint64_t> values;
    uint32_t small;  // a buffer size that cuts the value
  } cases[] = {
      {0x0101, kTByte, 1, {1, 2, 3}, 2},
      {0x0102, kTByte, 1, {1, 2, 3, 4, 5, 6}, 4},
      {0x0103, kTAscii, 1, {'a', 'b', 'c', 0}, 3},
      {0x0104, kTAscii, 1, {'h', 'e', 'l', 'l', 'o', 0}, 5},
      {0x0105, kTUndefined, 1, {9, 8, 7, 6}, 1},
      {0x0106, kTUndefined, 1, {9, 8, 7, 6, 5}, 4},
      {0x0107, kTShort, 2, {0x1234, 0xABCD}, 3},
      {0x0108, kTShort, 2, {1, 0x0203, 0xFFFF}, 5},
      {0x0109, kTLong, 4, {0x01020304}, 4},
      {0x010A, kTLong, 4, {5, 0x80000001}, 7},
      {0x010B, kTSLong, 4, {m5}, 4},
      {0x010C, kTSLong, 4, {m1, m70k}, 6},
      {0x010D, kTRational, 4, {1, 3}, 7},
      {0x010E, kTSRational, 4, {m1, 3, 7, m2}, 12},
  };
  TiffBuilder tb(order());
  TiffIfd& ifd0 = tb.NewIfd();
  for (const auto& c : cases) {
    ifd0.Values(c.tag, c.type, c.element, c.values);
    if (c.type == kTRational || c.type == kTSRational) ifd0.CountField(static_cast<uint32_t>(c.values.size() / 2));
  }
  ifd0.Short(0x010F, {7, 9}).CountField(0x00010002);  // only its low 16 bits count
  ifd0.Values(0x0110, kTSShort, 2, {0xFFFE})
      .Values(0x0111, kTFloat, 4, {0x3F800000})
      .Values(0x0112, kTDouble, 8, {0x3FF0000000000000})
      .Values(0x0113, kTSByte, 1, {0x80, 0x7F})
      .Values(0x0114, 13, 4, {8});  // a type no reader knows
  tb.Pad(2);  // nothing ends exactly at the end of the block
  const TiffImage img = tb.Build();
  ASSERT_EQ(img.valueOffsets.count({0, 0x0107}), 0u) << "a SHORT of count 2 sits in its entry";
  ASSERT_EQ(img.valueOffsets.count({0, 0x0108}), 1u) << "a SHORT of count 3 does not";

  const size_t n = std::size(cases);
  std::vector<std::array<uint8_t, 32>> whole(n), cut(n);
  std::vector<uint8_t*> slots(n);
  std::vector<IfdQuery> list;
  for (size_t i = 0; i < n; ++i) {
    const auto& c = cases[i];
    cut[i].fill(0xEE);
    list.insert(list.end(), {ReadInto(c.tag, c.type, whole[i].data(), 32), ReadInto(c.tag, c.type, cut[i].data(), c.small),
                             ReadAlloc(c.tag, c.type, &slots[i])});
  }
  uint16_t sevenNine[2] = {};
  std::array<uint8_t, 16> untouched;
  untouched.fill(0xEE);
  uint8_t* noSlot = nullptr;
  list.push_back(ReadInto(0x010F, kTShort, sevenNine, 4));
  for (uint16_t tag : {0x0110, 0x0111, 0x0112, 0x0113, 0x0114}) list.push_back(ReadInto(tag, kTShort, untouched.data(), 16));
  list.insert(list.end(), {ReadInto(0x0101, kTShort, untouched.data(), 16), ReadInto(0x0107, kTLong, untouched.data(), 16),
                           ReadInto(0x0110, kTSShort, untouched.data(), 16), ReadInto(0x0111, kTFloat, untouched.data(), 16),
                           ReadInto(0x0112, kTDouble, untouched.data(), 16), ReadInto(0x0113, kTSByte, untouched.data(), 16),
                           ReadAlloc(0x0112, kTDouble, &noSlot), ReadInto(0x0999, kTShort, untouched.data(), 16)});
  const size_t unfound = list.size() - 3 * n - 1;
  list.push_back(Op(IFDQ_END));
  const int64_t live = LiveBlocks();
  const WalkOutcome out = Run(img, list.data());
  EXPECT_EQ(out.result, QD_OK);
  EXPECT_EQ(out.stoppedAt, static_cast<ptrdiff_t>(list.size() - 1)) << "the cursor ends at IFDQ_END";
  EXPECT_EQ(LiveBlocks(), live + static_cast<int64_t>(n));
  for (size_t i = 0; i < n; ++i) {
    SCOPED_TRACE(testing::Message() << "tag 0x" << std::hex << cases[i].tag);
    const std::vector<uint8_t> expected = Host(cases[i].element, cases[i].values);
    std::vector<uint8_t> prefix(expected.begin(), expected.begin() + cases[i].small / cases[i].element * cases[i].element);
    EXPECT_EQ(FoundFlags(&list[3 * i], 3), (std::vector<uint16_t>{1, 1, 1}));
    EXPECT_EQ(list[3 * i].type, cases[i].type);
    EXPECT_EQ(std::vector<uint8_t>(whole[i].begin(), whole[i].begin() + list[3 * i].size), expected);
    EXPECT_EQ(list[3 * i + 1].size, prefix.size());
    prefix.resize(32, 0xEE);  // nothing past the stored bytes
    EXPECT_EQ(std::vector<uint8_t>(cut[i].begin(), cut[i].end()), prefix);
    EXPECT_EQ(std::vector<uint8_t>(slots[i], slots[i] + qd::BlockLength(slots[i])), expected);
    ExtensionInfo owned{slots[i], list[3 * i + 2].size};
    EXPECT_EQ(qdParseFreeApp1Info(&owned), QD_OK);
  }
  EXPECT_EQ(std::vector<uint16_t>(sevenNine, sevenNine + 2), (std::vector<uint16_t>{7, 9}));
  EXPECT_EQ(FoundFlags(&list[3 * n + 1], unfound), std::vector<uint16_t>(unfound, 0));
  for (uint8_t b : untouched) ASSERT_EQ(b, 0xEE);
  EXPECT_EQ(noSlot, nullptr);
  EXPECT_EQ(LiveBlocks(), live);
}

TEST_P(WalkValues, LocateReportsTypeCountAndValueField) {
  // Only inline fields, so the block is header + count + 4 entries + link.
  constexpr uint32_t kSize = 8 + 2 + 12 * 4 + 4;
  TiffBuilder tb(order());
  tb.NewIfd()
      .Raw(0x0601, kTLong, 3, 20)
      .Raw(0x0602, kTUndefined, 1, kSize - 1)  // ends at the end: still inside
      .Raw(0x0603, kTUndefined, 2, kSize - 1)  // one byte past it
      .Raw(0x0604, kTShort, 0x00010005, 0x1F);
  const TiffImage img = tb.Build();
  ASSERT_EQ(img.size(), kSize);
  IfdQuery list[] = {Op(IFDQ_LOCATE, 0x0601), Op(IFDQ_LOCATE, 0x0602), Op(IFDQ_LOCATE, 0x0603),
                     Op(IFDQ_LOCATE, 0x0604), Op(IFDQ_LOCATE, 0x0999), Op(IFDQ_END)};
  ASSERT_EQ(Run(img, list).result, QD_OK);
  // Only the memory form knows the block and checks the field against it.
  EXPECT_EQ(FoundFlags(list, 5), (std::vector<uint16_t>{1, 1, form() == Form::Stream, 1, 0}));
  EXPECT_EQ((std::vector<uint32_t>{list[0].type, list[0].size, static_cast<uint32_t>(list[0].data)}),
            (std::vector<uint32_t>{kTLong, 3, 20}));
  EXPECT_EQ((std::vector<uint32_t>{list[3].size, static_cast<uint32_t>(list[3].data)}),
            (std::vector<uint32_t>{5, 0x1F}));
}

// The memory form wants a value to end strictly before the block does.
TEST_P(WalkValues, AValueEndingAtTheLastByteIsReadOnlyFromAStream) {
  for (uint32_t pad : {0u, 1u}) {
    SCOPED_TRACE(pad);
    TiffBuilder tb(order());
    TiffIfd& ifd0 = tb.NewIfd();
    ifd0.Short(0x0701, {1}).Ascii(0x0702, "hello");
    tb.Pad(pad);
    const TiffImage img = tb.Build();
    ASSERT_EQ(img.ValueOffset(ifd0, 0x0702) + 6 + pad, img.size());
    char text[8] = {};
    IfdQuery list[] = {ReadInto(0x0702, kTAscii, text, sizeof text), Op(IFDQ_END)};
    ASSERT_EQ(Run(img, list).result, QD_OK);
    EXPECT_EQ(list[0].found, form() == Form::Stream || pad != 0 ? 1 : 0);
    if (list[0].found) EXPECT_STREQ(text, "hello");
  }
}

// A maker note whose offsets were written for another position: the walker
// takes every out-of-line value from (offset - bias).
TEST_P(WalkValues, OutOfLineOffsetsAreReducedByTheBias) {
  TiffBuilder note(order());
  note.NewIfd()
      .Short(0x0019, {1})
      .Ascii(0x0006, "moved text")
      .Long(0x0007, {11, 22})
      .Raw(0x0008, kTLong, 2, 4);  // a stated offset below a positive bias
  auto build = [&](uint32_t writtenAt, uint32_t* at) {
    TiffBuilder tb(order());
    TiffIfd& ifd0 = tb.NewIfd();
    ifd0.Undefined(kTagMakerNote, note.MakerNote(writtenAt));
    tb.Pad(2);
    TiffImage img = tb.Build();
    *at = img.ValueOffset(ifd0, kTagMakerNote);
    return img;
  };
  uint32_t at = 0;
  build(0, &at);  // where the maker note lands does not depend on its contents
  for (int64_t bias : {int64_t{1000}, int64_t{-6}}) {  // moved to an earlier offset; to a later one
    SCOPED_TRACE(bias);
    const TiffImage img = build(static_cast<uint32_t>(at + bias), &at);
    char text[16] = {};
    uint32_t longs[2] = {};
    uint32_t below[2] = {};
    IfdQuery list[] = {ReadInto(0x0006, kTAscii, text, sizeof text), ReadInto(0x0007, kTLong, longs, sizeof longs),
                       ReadInto(0x0008, kTLong, below, sizeof below), Op(IFDQ_END)};
    ASSERT_EQ(Run(img, list, bias, at).result, QD_OK);
    EXPECT_STREQ(text, "moved text");
    EXPECT_EQ(longs[1], 22u);
    if (bias > 0) EXPECT_EQ(list[2].found, 0);
    // Without the bias the stated offsets miss.
    IfdQuery plain[] = {ReadInto(0x0007, kTLong, longs, sizeof longs), Op(IFDQ_END)};
    longs[1] = 0;
    ASSERT_EQ(Run(img, plain, 0, at).result, QD_OK);
    EXPECT_NE(longs[1], 22u);
  }
}

INSTANTIATE_TEST_SUITE_P(Walkers, WalkValues, testing::ValuesIn(kAllWalks), WalkParamName);

}  // namespace
}  // namespace qdtest
