// Adopting an APP1 payload as an Exif block, and the marker scan.
#include "tiffjpeg/jpeg_stream.h"

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

// The TIFF header follows the signature; IFD0 is left for the first query.
TEST(AdoptExifBlock, TakesEitherSignatureAndOrderAndRefusesAnythingElse) {
  for (const char* signature : {"Exif", "LoLe"}) {
    for (Order order : {Order::II, Order::MM}) {
      const std::vector<uint8_t> payload = App1Payload(SmallTiff(order), signature);
      TiffBlockInfo block{};
      block.segment = PayloadBlock(payload);
      block.segmentOffset = 1234;
      block.ifdOffset = 99;
      ASSERT_EQ(qd::jpeg::AdoptExifBlock(&block), qd::ST_OK);
      EXPECT_EQ(static_cast<uint8_t*>(block.tiff), block.segment + 6);
      EXPECT_EQ((std::vector<uint32_t>{block.tiffSize, block.byteOrder, block.ifdOffset,
                                       static_cast<uint32_t>(block.segmentOffset)}),
                (std::vector<uint32_t>{static_cast<uint32_t>(payload.size() - 6), order == Order::MM, 0, 1234}));
      EXPECT_EQ(qdParseFreeExifBuffer(&block), QD_OK);
    }
  }

  const std::vector<uint8_t> good = App1Payload(SmallTiff(Order::II));
  std::vector<std::vector<uint8_t>> payloads(4, good);
  payloads[0][3] = 'g';  // the signature
  payloads[1][4] = 'x';  // its NUL
  payloads[2][6] = 'M';  // the mark
  payloads[3][7] = 'i';
  payloads.emplace_back(good.begin(), good.begin() + 7);  // ends inside the mark
  payloads.emplace_back(good.begin(), good.begin() + 5);
  const int64_t live = LiveBlocks();
  for (const auto& payload : payloads) {
    TiffBlockInfo block{};
    block.segment = PayloadBlock(payload);  // exactly sized: ASan sees any read past it
    EXPECT_EQ(qd::jpeg::AdoptExifBlock(&block), qd::ST_UNSUPPORTED);
    EXPECT_EQ(qdParseFreeExifBuffer(&block), QD_OK);
  }
  EXPECT_EQ(LiveBlocks(), live);
}

// Fill bytes and stuffed zeros are passed over; the end of the stream or a
// failed read anywhere gives 0.
TEST(NextMarker, PassesOverDataFillBytesAndStuffedZeros) {
  const struct {
    std::vector<uint8_t> bytes;
    uint8_t marker;
    uint32_t after;  // stream position after the scan
  } cases[] = {
      {{0x12, 0xFF, 0x00, 0xFF, 0xFF, 0xD8}, 0xD8, 6},
      {{0xFF, 0xD9, 0x00}, 0xD9, 2},
      {{0x00, 0xFF, 0x00, 0xFF, 0x00, 0x34, 0xFF, 0xE1, 0x12}, 0xE1, 8},
      {{}, 0, 0},
      {{0x12, 0xFF, 0x00, 0xFF}, 0, 4},  // ends before a marker
      {{0xFF, 0xFF, 0xFF}, 0, 3},        // ends in fill bytes
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    TestStream s(c.bytes);
    EXPECT_EQ(qd::jpeg::NextMarker(s.stream()), c.marker);
    EXPECT_EQ(s.position(), c.after);
  }
  for (int nth = 1; nth <= 6; ++nth) {
    TestStream s(cases[0].bytes);
    s.FailCall(Callback::Read, nth, 0x7E570001);
    EXPECT_EQ(qd::jpeg::NextMarker(s.stream()), 0) << nth;
  }
}

}  // namespace
}  // namespace qdtest
