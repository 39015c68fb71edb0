// Adopting an APP1 payload as an Exif block, and the marker scan.
#include "exifwrite/jpeg_stream.h"

#include <gtest/gtest.h>

#include <vector>

#include "frame/memory_block.h"
#include "support/fault_sweep.h"
#include "support/test_stream.h"
#include "support/tiff_builder.h"

namespace qdtest {
namespace {

std::vector<uint8_t> SmallTiff(Order order) {
  TiffBuilder tb(order);
  tb.NewIfd().Short(0x0100, {1});
  return tb.Build().bytes;
}

TEST(AdoptExifBlock, PointsAtTheTiffHeaderAndLeavesIfd0ForTheFirstQuery) {
  struct Case {
    const char* signature;
    Order order;
  };
  for (const Case& c : {Case{"Exif", Order::MM}, Case{"Exif", Order::II}, Case{"LoLe", Order::MM}}) {
    SCOPED_TRACE(c.signature);
    const std::vector<uint8_t> payload = App1Payload(SmallTiff(c.order), c.signature);
    TiffBlockInfo block{};
    block.segment = PayloadBlock(payload);
    block.segmentOffset = 1234;
    block.byteOrder = 7;
    block.ifdOffset = 99;
    ASSERT_EQ(qd::exif::AdoptExifBlock(&block), qd::ST_OK);
    // The record is packed: compare copies of its fields, not references to them.
    EXPECT_EQ(static_cast<uint8_t*>(block.tiff), block.segment + 6);
    EXPECT_EQ(uint32_t{block.tiffSize}, payload.size() - 6);
    EXPECT_EQ(uint8_t{block.byteOrder}, c.order == Order::MM ? 1 : 0);
    EXPECT_EQ(uint32_t{block.ifdOffset}, 0u);
    EXPECT_EQ(uintptr_t{block.segmentOffset}, 1234u);
    EXPECT_EQ(qdParseFreeExifBuffer(&block), QD_OK);
  }
}

TEST(AdoptExifBlock, RefusesAPayloadWithoutSignatureOrByteOrderMark) {
  const std::vector<uint8_t> good = App1Payload(SmallTiff(Order::II));
  struct Break {
    const char* what;
    size_t at;
    uint8_t value;
  };
  const Break breaks[] = {{"signature", 3, 'g'}, {"signature's NUL", 4, 'x'},
                          {"mark", 6, 'M'},      {"mark", 7, 'i'}};
  std::vector<std::vector<uint8_t>> payloads;
  for (const Break& b : breaks) {
    payloads.push_back(good);
    payloads.back()[b.at] = b.value;
  }
  payloads.emplace_back(good.begin(), good.begin() + 7);  // ends inside the mark
  payloads.emplace_back(good.begin(), good.begin() + 5);

  const int64_t live = LiveBlocks();
  for (size_t i = 0; i < payloads.size(); ++i) {
    SCOPED_TRACE(i < 4 ? breaks[i].what : "short payload");
    TiffBlockInfo block{};
    block.segment = PayloadBlock(payloads[i]);  // exactly sized: ASan sees any read past it
    EXPECT_EQ(qd::exif::AdoptExifBlock(&block), qd::ST_UNSUPPORTED);
    EXPECT_EQ(qdParseFreeExifBuffer(&block), QD_OK);
  }
  EXPECT_EQ(LiveBlocks(), live);
}

TEST(NextMarker, PassesOverDataFillBytesAndStuffedZeros) {
  struct Case {
    std::vector<uint8_t> bytes;
    uint8_t marker;
    uint32_t after;  // stream position after the scan
  };
  const Case cases[] = {
      {{0x12, 0xFF, 0x00, 0xFF, 0xFF, 0xD8}, 0xD8, 6},
      {{0xFF, 0xD9, 0x00}, 0xD9, 2},
      {{0x00, 0xFF, 0x00, 0xFF, 0x00, 0x34, 0xFF, 0xE1, 0x12}, 0xE1, 8},
      {{}, 0, 0},
      {{0x12, 0xFF, 0x00, 0xFF}, 0, 4},  // ends before a marker
      {{0xFF, 0xFF, 0xFF}, 0, 3},        // ends in fill bytes
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    TestStream s(c.bytes);
    EXPECT_EQ(qd::exif::NextMarker(s.stream()), c.marker);
    EXPECT_EQ(s.position(), c.after);
  }

  TestStream two({0xFF, 0xD8, 0xFF, 0xE1});
  EXPECT_EQ(qd::exif::NextMarker(two.stream()), 0xD8);
  EXPECT_EQ(qd::exif::NextMarker(two.stream()), 0xE1);
  EXPECT_EQ(qd::exif::NextMarker(two.stream()), 0);
}

TEST(NextMarker, AReadFailureAnywhereGivesZero) {
  const std::vector<uint8_t> bytes = {0x12, 0xFF, 0x00, 0xFF, 0xFF, 0xD8};
  for (int nth = 1; nth <= 6; ++nth) {
    SCOPED_TRACE(nth);
    TestStream s(bytes);
    s.FailCall(Callback::Read, nth, 0x7E570001);
    EXPECT_EQ(qd::exif::NextMarker(s.stream()), 0);
  }
}

}  // namespace
}  // namespace qdtest
