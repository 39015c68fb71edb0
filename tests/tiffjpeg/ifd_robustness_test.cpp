// The stream entry point under host failures, and input built to make the
// walkers read where they must not.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "support/fault_sweep.h"
#include "walk_harness.h"

namespace qdtest {
namespace {

// Touches every part of the walkers: a chain, two nested scopes, inline and
// out-of-line values, one of them `bigValue` bytes long.
TiffImage Rich(Order order, uint32_t bigValue) {
  TiffBuilder tb(order);
  TiffIfd& ifd0 = tb.NewIfd();
  TiffIfd& ifd1 = tb.NewIfd();
  TiffIfd& exif = tb.NewIfd();
  TiffIfd& interop = tb.NewIfd();
  ifd0.Short(0x0100, {640})
      .Ascii(0x010F, "Maker name")
      .Undefined(0x02BC, std::vector<uint8_t>(bigValue, 0x5A))
      .Sub(kTagExifIfd, exif)
      .Next(ifd1);
  ifd1.Long(0x0201, {1000, 2000});
  exif.Rational(0x829A, {{1, 250}}).Sub(kTagInteropIfd, interop);
  interop.Ascii(0x0001, "R98");
  tb.Pad(2);
  return tb.Build();
}

// A list over Rich() with caller buffers and allocate-mode reads; releases
// what the walk handed out.
struct RichList {
  RichList() = default;
  RichList(const RichList&) = delete;
  RichList& operator=(const RichList&) = delete;
  ~RichList() {
    for (uint8_t* s : slots) (void)qd::BlockFree(s);
  }
  // Whether each request was answered, and what a found read delivered.
  std::vector<std::pair<uint16_t, std::vector<uint8_t>>> Answers() const {
    std::vector<std::pair<uint16_t, std::vector<uint8_t>>> out;
    for (const IfdQuery& q : list) {
      const uint8_t* at = reinterpret_cast<const uint8_t*>(q.data);
      for (uint8_t* const& s : slots) {
        if (q.data == reinterpret_cast<uintptr_t>(&s)) at = s;
      }
      out.push_back({q.found, {}});
      if (q.op == IFDQ_READ && q.found) out.back().second.assign(at, at + q.size);
    }
    return out;
  }

  uint16_t width = 0;
  char index[8] = {};
  uint32_t longs[2] = {};
  uint8_t* slots[3] = {};
  IfdQuery list[12] = {ReadInto(0x0100, kTShort, &width, 2),
                       ReadAlloc(0x010F, kTAscii, &slots[0]),
                       ReadAlloc(0x02BC, kTUndefined, &slots[1]),
                       Op(IFDQ_ENTER, kTagExifIfd),
                       ReadAlloc(0x829A, kTRational, &slots[2]),
                       Op(IFDQ_ENTER, kTagInteropIfd),
                       ReadInto(0x0001, kTAscii, index, sizeof index),
                       Op(IFDQ_LEAVE),
                       Op(IFDQ_LEAVE),
                       Op(IFDQ_NEXT_IFD),
                       ReadInto(0x0201, kTLong, longs, sizeof longs),
                       Op(IFDQ_END)};
};

// A run under faults may answer less than a clean run, never differently.
using Answers = std::vector<std::pair<uint16_t, std::vector<uint8_t>>>;
void ExpectSubsetOf(const Answers& got, const Answers& clean) {
  ASSERT_EQ(got.size(), clean.size());
  for (size_t i = 0; i < got.size(); ++i) {
    if (got[i].first) EXPECT_EQ(got[i], clean[i]) << "request " << i << " answered differently";
  }
}

uint32_t Query(TestStream& s, Order order, IfdQuery* list) {
  return qd::tiff::QueryStream(s.stream(), 8, ToByteOrder(order), list);
}

const Order kOrders[] = {Order::II, Order::MM};

// Swept here: no export reaches QueryStream.
TEST(QueryStream, HostFailuresLeaveRequestsUnansweredNeverWrong) {
  for (Order order : kOrders) {
    SCOPED_TRACE(order == Order::II ? "II" : "MM");
    const TiffImage img = Rich(order, 1500);  // one value larger than the reader's buffer
    Answers clean;
    {
      TestStream s(img.bytes);
      RichList list;
      ASSERT_EQ(Query(s, order, list.list), QD_OK);
      clean = list.Answers();
      for (size_t i = 0; i + 1 < clean.size(); ++i) EXPECT_EQ(clean[i].first, 1) << i;
      EXPECT_EQ(clean[2].second, std::vector<uint8_t>(1500, 0x5A));
      EXPECT_EQ(clean[10].second, HostBytes<uint32_t>({1000, 2000}));
      EXPECT_EQ(s.CountOf(Callback::Open) + s.CountOf(Callback::Close), 0) << "the stream is the caller's to open";
    }
    // Only the reader's reads, seeks and tells can fail.
    const int positions = SweepHostFailures(
        [&] { return std::make_unique<TestStream>(img.bytes); },
        [&](TestStream& s) {
          RichList list;
          const uint32_t result = Query(s, order, list.list);
          if (result == QD_OK) ExpectSubsetOf(list.Answers(), clean);
          return result;
        },
        0x7E57F00Du, {QD_E_FAILED});
    EXPECT_GT(positions, 10);
  }
}

class HostileInput : public testing::TestWithParam<WalkParam> {
 protected:
  Form form() const { return GetParam().form; }
  Order order() const { return GetParam().order; }
};

TEST_P(HostileInput, OffsetsAndCountsOutsideTheBlockReachNothing) {
  // Only inline fields up to the second IFD, so its offset is known.
  constexpr uint32_t kHuge = 8 + 2 + 12 * 9 + 4;
  TiffBuilder tb(order());
  TiffIfd& ifd0 = tb.NewIfd();
  TiffIfd& huge = tb.NewIfd();
  ifd0.Short(0x0100, {42})
      .Raw(kTagExifIfd, kTLong, 1, 0xFFFFFFF8)  // a sub-IFD near 2^32
      .Sub(kTagInteropIfd, huge)                // one whose entries run far past the end
      .Raw(0x0201, kTLong, 0xFFFF, 8)           // value counts near 65535
      .Raw(0x0202, kTSRational, 0xFFFF, 0)
      .Raw(0x0203, kTAscii, 0xFFFF, 0xFFFFFFFF)
      .Raw(0x0204, kTLong, 2, 0xFFFFFFFC)       // offset + size wraps in 32 bits
      .Raw(0x0205, kTLong, 2, kHuge + 18 - 7)   // one byte past the end
      .Raw(0x0206, kTLong, 2, kHuge + 18 - 9)   // one byte before it: read by both
      .NextRaw(0xFFFFFFFE);
  huge.Short(0x0001, {1}).EntryCount(0xFFFF);
  const TiffImage img = tb.Build();
  ASSERT_EQ(img.ifdOffsets[1], kHuge);
  ASSERT_EQ(img.size(), kHuge + 18);

  const int64_t live = LiveBlocks();
  uint16_t v = 0;
  uint8_t* slots[6];
  IfdQuery list[] = {Op(IFDQ_ENTER, kTagExifIfd),          ReadInto(0x0001, kTShort, &v, 2),
                     Op(IFDQ_LEAVE),                       Op(IFDQ_ENTER, kTagInteropIfd),
                     ReadInto(0x0001, kTShort, &v, 2),     Op(IFDQ_LEAVE),
                     ReadAlloc(0x0201, kTLong, &slots[0]), ReadAlloc(0x0202, kTSRational, &slots[1]),
                     ReadAlloc(0x0203, kTAscii, &slots[2]), ReadAlloc(0x0204, kTLong, &slots[3]),
                     ReadAlloc(0x0205, kTLong, &slots[4]), ReadAlloc(0x0206, kTLong, &slots[5]),
                     ReadInto(0x0100, kTShort, &v, 2),     Op(IFDQ_NEXT_IFD),
                     ReadInto(0x0100, kTShort, &v, 2),     Op(IFDQ_END)};
  EXPECT_EQ(RunWalk(form(), order(), img.bytes, 8, list).result, QD_OK);
  // The memory form skips a scope it cannot open; the stream form enters
  // what it cannot load as an IFD that holds nothing.
  if (form() == Form::Memory) {
    EXPECT_EQ(list[0].found, 0);
    EXPECT_EQ(list[3].found, 0);
  }
  for (int i : {1, 4, 6, 7, 8, 9, 10, 14}) EXPECT_EQ(list[i].found, 0) << i;
  EXPECT_EQ(list[11].found, 1);
  EXPECT_EQ(list[12].found, 1);
  EXPECT_EQ(v, 42);
  EXPECT_EQ(LiveBlocks(), live + 1) << "nothing allocated for values out of reach";
  EXPECT_EQ(qd::BlockFree(slots[5]), qd::ST_OK);

  // A starting IFD near 2^32: unusable for the memory form, empty for the stream form.
  IfdQuery start[] = {ReadInto(0x0100, kTShort, &v, 2), Op(IFDQ_END)};
  EXPECT_EQ(RunWalk(form(), order(), img.bytes, 0xFFFFFFF0u, start).result,
            form() == Form::Memory ? QD_E_UNSUPPORTED : QD_OK);
  EXPECT_EQ(start[0].found, 0);
}

// Wherever the block is cut, the walk ends cleanly and reads nothing outside
// the block (the fixtures are exactly sized for ASan); the fuzz target damages
// the bytes themselves.
TEST_P(HostileInput, EveryPrefixIsHandled) {
  const TiffImage img = Rich(order(), 40);
  const int64_t live = LiveBlocks();
  auto walk = [&](const std::vector<uint8_t>& bytes, size_t at) {
    RichList list;
    const uint32_t result = RunWalk(form(), order(), bytes, 8, list.list).result;
    const bool clean = result == QD_OK || (form() == Form::Memory && result == QD_E_UNSUPPORTED);
    EXPECT_TRUE(clean) << "at " << at << ": 0x" << std::hex << result;
    return clean;
  };
  for (size_t n = 0; n < img.bytes.size(); ++n) {
    if (!walk({img.bytes.begin(), img.bytes.begin() + static_cast<ptrdiff_t>(n)}, n)) break;
  }
  EXPECT_EQ(LiveBlocks(), live);
}

INSTANTIATE_TEST_SUITE_P(Walkers, HostileInput, testing::ValuesIn(kAllWalks), WalkParamName);

}  // namespace
}  // namespace qdtest
