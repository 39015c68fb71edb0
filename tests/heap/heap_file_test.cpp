#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "frame/memory_block.h"
#include "heap/heap_file.h"
#include "support/fault_sweep.h"
#include "support/heap_builder.h"
#include "support/test_stream.h"

namespace qd::heap {
namespace {

using qdtest::Bytes;
using qdtest::HeapBuilder;
using qdtest::HeapFileBuilder;
using qdtest::TestStream;

const Bytes kComment = {'r', 'o', 'o', 't', ' ', 'c', 'o', 'm', 'm', 'e', 'n', 't', 0};
constexpr std::array<uint8_t, 8> kNumber = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};

// Records: 1 comment, 2 nested heap, 3 in-record number, 4 free space,
// 5 zero-length, 6 unused; 6 bytes of slack, so that one more record fits
// only by taking in the table offset.
HeapBuilder Root(bool bigEndian) {
  HeapBuilder inner(bigEndian);
  inner.Data(0x0810, {'o', 'w', 'n', 'e', 'r', 0});
  HeapBuilder root(bigEndian);
  root.Data(0x0805, kComment);
  root.Nested(0x300A, inner);
  root.InRecord(0x1817, kNumber);
  root.Free(4);
  root.Data(0x2007, {});
  root.Unused();
  root.Slack(6);
  return root;
}

// A heap file on a test stream, opened through a port of its own.
struct OpenedFile {
  explicit OpenedFile(Bytes bytes) : stream(std::move(bytes)) { MakeStreamPort(stream.stream(), &port); }
  ~OpenedFile() {
    if (opened) (void)BlockFree(file.root.table);
  }
  Status Open(const char* subtype = "CCDR") {
    const Status st = OpenHeapFile(port, subtype, &file);
    opened = st == ST_OK;
    return st;
  }

  TestStream stream;
  StreamPort port{};
  HeapFile file{};
  bool opened = false;
};

TEST(HeapFile, OpensEitherOrderAndHandsBackALittleEndianRootTable) {
  for (bool be : {false, true}) {
    SCOPED_TRACE(be ? "MM" : "II");
    const HeapBuilder root = Root(be);
    HeapFileBuilder fb(root);
    fb.ExtraHeader(6).Version(0x12345678);
    const Bytes bytes = fb.Build();
    OpenedFile f(bytes);
    ASSERT_EQ(f.Open(), ST_OK);
    EXPECT_EQ(f.file.fileLength, bytes.size());
    EXPECT_EQ(f.file.headerLength, 32u);
    EXPECT_EQ(f.file.version, 0x12345678u);
    EXPECT_EQ(f.file.order, be ? kBigEndian : kLittleEndian);
    EXPECT_EQ(f.file.rootCount, 6);
    EXPECT_EQ(f.file.rootDataLength, root.DataLength());
    EXPECT_EQ(f.file.root.dataLength, root.DataLength());
    EXPECT_EQ(f.file.root.flags & kTableBigEndian, 0u);
    for (uint16_t i = 1; i <= 5; ++i) {
      RecordInfo info{};
      ASSERT_EQ(GetRecordInfo(f.file.root, i, &info), ST_OK);
      EXPECT_EQ(info.offset, root.DataOffset(i)) << "record " << i;
    }
    // Any subtype is accepted when none is required.
    OpenedFile any(HeapFileBuilder(root).Subtype("ABCD").Build());
    EXPECT_EQ(any.Open(nullptr), ST_OK);
  }
}

TEST(HeapFile, RejectsAnythingButAWellFormedHeapFileOfTheWantedSubtype) {
  const HeapBuilder root = Root(true);
  const Bytes good = HeapFileBuilder(root).Build();
  const auto n = static_cast<uint32_t>(good.size());
  const uint32_t l = n - 26;
  const auto broken = [&](const std::function<void(HeapFileBuilder&)>& f) {
    HeapFileBuilder fb(root);
    f(fb);
    return fb.Build();
  };
  const auto damaged = [&](const std::function<void(HeapBuilder&)>& f) {
    HeapBuilder r = Root(true);
    f(r);
    return HeapFileBuilder(r).Build();
  };
  struct Case {
    const char* name;
    Bytes file;
    Status expected;
  };
  const Case cases[] = {
      {"mark IM", broken([](auto& b) { b.Mark("IM"); }), ST_UNSUPPORTED},
      {"no HEAP", broken([](auto& b) { b.Magic("HEAQ"); }), ST_UNSUPPORTED},
      {"other subtype", broken([](auto& b) { b.Subtype("JPGM"); }), ST_UNSUPPORTED},
      {"header length 25", broken([](auto& b) { b.OverrideHeaderLength(25); }), ST_UNSUPPORTED},
      {"header past the end", broken([&](auto& b) { b.OverrideHeaderLength(n + 1); }), ST_UNSUPPORTED},
      {"root heap of 5 bytes", broken([&](auto& b) { b.OverrideHeaderLength(n - 5); }), ST_UNSUPPORTED},
      {"file of 25 bytes", Bytes(good.begin(), good.begin() + 25), ST_UNSUPPORTED},
      {"table offset L - 5", damaged([&](auto& r) { r.OverrideTableOffset(l - 5); }), ST_UNSUPPORTED},
      {"table offset 2^32 - 1", damaged([](auto& r) { r.OverrideTableOffset(0xFFFFFFFF); }),
       ST_UNSUPPORTED},
      {"one record more than fits", damaged([](auto& r) { r.OverrideCount(7); }), ST_CORRUPT},
      {"count 65535", damaged([](auto& r) { r.OverrideCount(0xFFFF); }), ST_CORRUPT},
      {"blocks do not tile", damaged([](auto& r) { r.OverrideLength(1, 12); }), ST_CORRUPT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int64_t live = qdtest::LiveBlocks();
    OpenedFile f(c.file);
    EXPECT_EQ(f.Open(), c.expected);
    EXPECT_EQ(qdtest::LiveBlocks(), live);
  }
}

TEST(HeapFile, LoadsRequestedRootRecordsAndClearsTheRest) {
  for (bool be : {false, true}) {
    SCOPED_TRACE(be ? "MM" : "II");
    const HeapBuilder root = Root(be);
    const Bytes bytes = HeapFileBuilder(root).ExtraHeader(2).Build();
    OpenedFile f(bytes);
    ASSERT_EQ(f.Open(), ST_OK);
    uint8_t foreign[64] = {};
    RootRequest req[] = {
        {0x4805, 9, 9, 0, 0, 1, foreign + 32},  // location bits differ: still a match
        {0x1817, 9, 9, 0, 0, 1, foreign + 32},
        {0x0899, 9, 9, 0, 0, 1, foreign + 32},  // absent
        {0x300A, 9, 9, 0, 0, 0, foreign + 32},  // located only
        {0x0810, 9, 9, 0, 0, 1, foreign + 32},  // lives in a nested heap: not searched
        {},
    };
    ASSERT_EQ(LoadRootRecords(f.file, req), ST_OK);
    const uint32_t h = 28;
    EXPECT_EQ(req[0].found, 1);
    EXPECT_EQ(req[0].spare, 0);
    EXPECT_EQ(req[0].offset, h);
    EXPECT_EQ(req[0].length, kComment.size());
    ASSERT_EQ(BlockLength(req[0].data), kComment.size());
    EXPECT_EQ(0, std::memcmp(req[0].data, kComment.data(), kComment.size()));

    EXPECT_EQ(req[1].offset, h + root.DataOffset(3));
    EXPECT_EQ(req[1].length, 8u);
    ASSERT_NE(req[1].data, nullptr);
    EXPECT_EQ(0, std::memcmp(req[1].data, kNumber.data(), 8));

    for (int i : {2, 4}) {
      EXPECT_EQ(req[i].found, 0) << i;
      EXPECT_EQ(req[i].spare, 0) << i;
      EXPECT_EQ(req[i].data, nullptr) << i;
    }
    EXPECT_EQ(req[3].found, 1);
    EXPECT_EQ(req[3].offset, h + root.DataOffset(2));
    EXPECT_EQ(req[3].data, nullptr);
    (void)BlockFree(req[0].data);
    (void)BlockFree(req[1].data);
  }
}

TEST(HeapFile, DataPastTheFileFailsAndReleasesWhatWasLoaded) {
  OpenedFile f(HeapFileBuilder(Root(false)).Build());
  ASSERT_EQ(f.Open(), ST_OK);
  // A length that reaches past the file only when the sum is not truncated
  // to 32 bits (26 + 13 + length wraps to 8).
  PutLE32(0xFFFFFFE1u, f.file.root.table + 2 + 10 + 2);
  RootRequest req[] = {{0x0805, 0, 0, 0, 0, 1, nullptr}, {0x300A, 0, 0, 0, 0, 1, nullptr}, {}};
  const int64_t live = qdtest::LiveBlocks();
  EXPECT_EQ(LoadRootRecords(f.file, req), ST_CORRUPT);
  EXPECT_EQ(req[0].data, nullptr);
  EXPECT_EQ(req[1].data, nullptr);
  EXPECT_EQ(qdtest::LiveBlocks(), live);
}

// Opens and loads every record of the root heap; everything is released
// before returning, so any block left behind is a leak.
Status OpenAndLoad(TestStream& s) {
  StreamPort port{};
  MakeStreamPort(s.stream(), &port);
  HeapFile file{};
  Status st = OpenHeapFile(port, "CCDR", &file);
  if (st != ST_OK) return st;
  RootRequest req[] = {{0x0805, 0, 0, 0, 0, 1, nullptr},
                       {0x300A, 0, 0, 0, 0, 1, nullptr},
                       {0x1817, 0, 0, 0, 0, 1, nullptr},
                       {}};
  st = LoadRootRecords(file, req);
  for (const RootRequest& r : req) {
    if (st != ST_OK) {
      EXPECT_EQ(r.data, nullptr);
    }
    (void)BlockFree(r.data);
  }
  (void)BlockFree(file.root.table);
  return st;
}

TEST(HeapFile, SurvivesEveryHostAndAllocationFailure) {
  constexpr uint32_t kHostError = 0x7E5700AAu;
  const Bytes bytes = HeapFileBuilder(Root(true)).Build();
  const int positions = qdtest::SweepHostFailures(
      [&] {
        auto s = std::make_unique<TestStream>(bytes);
        s->LimitTransfers(5);  // partial reads on every path
        return s;
      },
      [](TestStream& s) { return uint32_t{OpenAndLoad(s)}; }, kHostError, {ST_STREAM_FAILED});
  EXPECT_GT(positions, 10);

  const int allocations = qdtest::SweepAllocationFailures(
      [&] {
        TestStream s(bytes);
        return uint32_t{OpenAndLoad(s)};
      },
      {ST_NO_MEMORY});
  EXPECT_GE(allocations, 6) << "table, tiling check and three loads must all be reached";
}

TEST(HeapFile, EveryPrefixGivesACleanStatus) {
  for (bool be : {false, true}) {
    const Bytes bytes = HeapFileBuilder(Root(be)).ExtraHeader(3).Build();
    for (size_t n = 0; n < bytes.size(); ++n) {
      SCOPED_TRACE(testing::Message() << (be ? "MM" : "II") << " prefix of " << n);
      const int64_t live = qdtest::LiveBlocks();
      {
        OpenedFile f(Bytes(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(n)));
        const Status st = f.Open();
        EXPECT_TRUE(st == ST_UNSUPPORTED || st == ST_CORRUPT || st == ST_PAST_END || st == ST_OK)
            << std::hex << st;
      }
      EXPECT_EQ(qdtest::LiveBlocks(), live);
    }
  }
}

}  // namespace
}  // namespace qd::heap
