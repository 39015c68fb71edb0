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

TEST_P(WalkValues, ReadsEveryTypeInlineAndOutOfLineInHostOrder) {
  TiffBuilder tb(order());
  tb.NewIfd()
      .Byte(0x0101, {1, 2, 3})
      .Byte(0x0102, {1, 2, 3, 4, 5, 6})
      .Ascii(0x0103, "abc")
      .Ascii(0x0104, "hello")
      .Undefined(0x0105, {9, 8, 7, 6})
      .Undefined(0x0106, {9, 8, 7, 6, 5})
      .Short(0x0107, {0x1234, 0xABCD})
      .Short(0x0108, {1, 0x0203, 0xFFFF})
      .Long(0x0109, {0x01020304})
      .Long(0x010A, {5, 0x80000001})
      .SLong(0x010B, {-5})
      .SLong(0x010C, {-1, -70000})
      .Rational(0x010D, {{1, 3}})
      .SRational(0x010E, {{-1, 3}, {7, -2}})
      .Short(0x010F, {7, 9})
      .CountField(0x00010002);  // only its low 16 bits count
  tb.Pad(2);  // nothing ends exactly at the end of the block
  const TiffImage img = tb.Build();
  ASSERT_EQ(img.valueOffsets.count({0, 0x0107}), 0u) << "a SHORT of count 2 sits in its entry";
  ASSERT_EQ(img.valueOffsets.count({0, 0x0108}), 1u) << "a SHORT of count 3 does not";

  struct Expect {
    uint16_t tag;
    uint16_t type;
    std::vector<uint8_t> value;
  };
  const std::vector<Expect> expected = {
      {0x0101, kTByte, {1, 2, 3}},
      {0x0102, kTByte, {1, 2, 3, 4, 5, 6}},
      {0x0103, kTAscii, {'a', 'b', 'c', 0}},
      {0x0104, kTAscii, {'h', 'e', 'l', 'l', 'o', 0}},
      {0x0105, kTUndefined, {9, 8, 7, 6}},
      {0x0106, kTUndefined, {9, 8, 7, 6, 5}},
      {0x0107, kTShort, HostBytes<uint16_t>({0x1234, 0xABCD})},
      {0x0108, kTShort, HostBytes<uint16_t>({1, 0x0203, 0xFFFF})},
      {0x0109, kTLong, HostBytes<uint32_t>({0x01020304})},
      {0x010A, kTLong, HostBytes<uint32_t>({5, 0x80000001})},
      {0x010B, kTSLong, HostBytes<int32_t>({-5})},
      {0x010C, kTSLong, HostBytes<int32_t>({-1, -70000})},
      {0x010D, kTRational, HostBytes<uint32_t>({1, 3})},
      {0x010E, kTSRational, HostBytes<int32_t>({-1, 3, 7, -2})},
      {0x010F, kTShort, HostBytes<uint16_t>({7, 9})},
  };
  std::vector<std::array<uint8_t, 32>> buffers(expected.size());
  std::vector<IfdQuery> list;
  for (size_t i = 0; i < expected.size(); ++i) {
    list.push_back(ReadInto(expected[i].tag, expected[i].type, buffers[i].data(), 32));
  }
  list.push_back(Op(IFDQ_END));

  const WalkOutcome out = Run(img, list.data());
  EXPECT_EQ(out.result, QD_OK);
  EXPECT_EQ(out.stoppedAt, static_cast<ptrdiff_t>(expected.size())) << "the cursor ends at IFDQ_END";
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(testing::Message() << "tag 0x" << std::hex << expected[i].tag);
    EXPECT_EQ(list[i].found, 1);
    EXPECT_EQ(list[i].type, expected[i].type);
    ASSERT_EQ(list[i].size, expected[i].value.size());
    EXPECT_EQ(std::vector<uint8_t>(buffers[i].begin(), buffers[i].begin() + list[i].size), expected[i].value);
  }
}

TEST_P(WalkValues, ACallerBufferTakesWholeElementsUpToItsSize) {
  TiffBuilder tb(order());
  tb.NewIfd()
      .Short(0x0201, {10, 20, 30, 40, 50})
      .Byte(0x0202, {1, 2, 3, 4, 5, 6})
      .Rational(0x0203, {{7, 9}})
      .Ascii(0x0204, "xy");
  tb.Pad(2);
  const TiffImage img = tb.Build();

  std::array<std::array<uint8_t, 12>, 5> buf;
  for (auto& b : buf) b.fill(0xEE);
  IfdQuery list[] = {ReadInto(0x0201, kTShort, buf[0].data(), 6), ReadInto(0x0201, kTShort, buf[1].data(), 7),
                     ReadInto(0x0202, kTByte, buf[2].data(), 4), ReadInto(0x0203, kTRational, buf[3].data(), 7),
                     ReadInto(0x0204, kTAscii, buf[4].data(), 12), Op(IFDQ_END)};
  ASSERT_EQ(Run(img, list).result, QD_OK);

  const std::vector<uint8_t> shorts = HostBytes<uint16_t>({10, 20, 30});
  const std::vector<std::vector<uint8_t>> expected = {
      shorts, shorts, {1, 2, 3, 4}, HostBytes<uint32_t>({7}), {'x', 'y', 0}};
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(list[i].found, 1);
    ASSERT_EQ(list[i].size, expected[i].size());
    EXPECT_EQ(std::vector<uint8_t>(buf[i].begin(), buf[i].begin() + list[i].size), expected[i]);
    for (size_t j = list[i].size; j < buf[i].size(); ++j) ASSERT_EQ(buf[i][j], 0xEE) << "written past the stored bytes";
  }
}

TEST_P(WalkValues, SizeZeroHandsOutALibraryBlockOfTheWholeValue) {
  TiffBuilder tb(order());
  tb.NewIfd().Short(0x0301, {1, 2, 3}).Ascii(0x0302, "ab").Rational(0x0303, {{1, 3}, {2, 5}});
  tb.Pad(2);
  const TiffImage img = tb.Build();

  const int64_t live = LiveBlocks();
  uint8_t* slots[3];
  IfdQuery list[] = {ReadAlloc(0x0301, kTShort, &slots[0]), ReadAlloc(0x0302, kTAscii, &slots[1]),
                     ReadAlloc(0x0303, kTRational, &slots[2]), Op(IFDQ_END)};
  ASSERT_EQ(Run(img, list).result, QD_OK);
  EXPECT_EQ(LiveBlocks(), live + 3);

  const std::vector<std::vector<uint8_t>> expected = {
      HostBytes<uint16_t>({1, 2, 3}), {'a', 'b', 0}, HostBytes<uint32_t>({1, 3, 2, 5})};
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(list[i].found, 1);
    ASSERT_NE(slots[i], nullptr);
    EXPECT_EQ(list[i].size, expected[i].size());
    EXPECT_EQ(qd::BlockLength(slots[i]), expected[i].size());
    EXPECT_EQ(std::vector<uint8_t>(slots[i], slots[i] + expected[i].size()), expected[i]);
    ExtensionInfo owned{slots[i], list[i].size};
    EXPECT_EQ(qdParseFreeApp1Info(&owned), QD_OK);
  }
  EXPECT_EQ(LiveBlocks(), live);
}

TEST_P(WalkValues, WrongOrUnreadableTypesStayUnfoundAndTheWalkGoesOn) {
  TiffBuilder tb(order());
  tb.NewIfd()
      .Short(0x0401, {5})
      .Values(0x0402, kTSShort, 2, {0xFFFE})
      .Values(0x0403, kTFloat, 4, {0x3F800000})
      .Values(0x0404, kTDouble, 8, {0x3FF0000000000000})
      .Values(0x0405, kTSByte, 1, {0x80, 0x7F})
      .Values(0x0406, 13, 4, {8});  // a type no reader knows
  tb.Pad(2);
  const TiffImage img = tb.Build();

  const int64_t live = LiveBlocks();
  std::array<uint8_t, 16> buf;
  buf.fill(0xEE);
  uint16_t five = 0;
  uint8_t* slot = nullptr;
  IfdQuery list[] = {ReadInto(0x0401, kTLong, buf.data(), 16),  ReadInto(0x0401, kTSShort, buf.data(), 16),
                     ReadInto(0x0402, kTSShort, buf.data(), 16), ReadInto(0x0403, kTFloat, buf.data(), 16),
                     ReadInto(0x0404, kTDouble, buf.data(), 16), ReadInto(0x0405, kTSByte, buf.data(), 16),
                     ReadInto(0x0406, 13, buf.data(), 16),       ReadAlloc(0x0404, kTDouble, &slot),
                     ReadInto(0x0999, kTShort, buf.data(), 16),  ReadInto(0x0401, kTShort, &five, 2),
                     Op(IFDQ_END)};
  ASSERT_EQ(Run(img, list).result, QD_OK);
  EXPECT_EQ(FoundFlags(list, 11), (std::vector<uint16_t>{0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0}));
  for (uint8_t b : buf) ASSERT_EQ(b, 0xEE);
  EXPECT_EQ(slot, nullptr);
  EXPECT_EQ(LiveBlocks(), live);
  EXPECT_EQ(five, 5);
}

TEST_P(WalkValues, LocateReportsTypeCountAndValueField) {
  // Only inline fields, so the block is header + count + 4 entries + link.
  constexpr uint32_t kSize = 8 + 2 + 12 * 4 + 4;
  TiffBuilder tb(order());
  TiffIfd& ifd0 = tb.NewIfd();
  ifd0.Raw(0x0601, kTLong, 3, 20)
      .Raw(0x0602, kTUndefined, 1, kSize - 1)  // ends at the end: still inside
      .Raw(0x0603, kTUndefined, 2, kSize - 1)  // one byte past it
      .Raw(0x0604, kTShort, 0x00010005, 0x1F);
  const TiffImage img = tb.Build();
  ASSERT_EQ(img.size(), kSize);

  IfdQuery list[] = {Op(IFDQ_LOCATE, 0x0601), Op(IFDQ_LOCATE, 0x0602), Op(IFDQ_LOCATE, 0x0603),
                     Op(IFDQ_LOCATE, 0x0604), Op(IFDQ_LOCATE, 0x0999), Op(IFDQ_END)};
  ASSERT_EQ(Run(img, list).result, QD_OK);
  EXPECT_EQ(list[0].found, 1);
  EXPECT_EQ(list[0].type, kTLong);
  EXPECT_EQ(list[0].size, 3u);
  EXPECT_EQ(list[0].data, 20u);
  EXPECT_EQ(list[1].found, 1);
  // Only the memory form knows the block and checks the field against it.
  EXPECT_EQ(list[2].found, form() == Form::Stream ? 1 : 0);
  EXPECT_EQ(list[3].size, 5u);
  EXPECT_EQ(list[3].data, 0x1Fu);
  EXPECT_EQ(list[4].found, 0);
}

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
    // The memory form wants the value to end strictly before the block does.
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
    EXPECT_EQ(list[0].found, 1);
    EXPECT_STREQ(text, "moved text");
    EXPECT_EQ(list[1].found, 1);
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
