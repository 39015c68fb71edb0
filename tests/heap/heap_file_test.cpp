#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "frame/memory_block.h"
#include "heap/heap_file.h"
#include "heap/walk_support.h"
#include "support/fault_sweep.h"
#include "support/test_stream.h"

namespace qd::heap {
namespace {

using qdtest::Bytes;
using qdtest::HeapBuilder;
using qdtest::HeapFileBuilder;
using qdtest::TestStream;

// Records: 1 comment, 2 nested heap, 3 in-record number, 4 free space,
// 5 zero-length, 6 unused; 6 bytes of slack, so that one more record fits
// only by taking in the table offset.
HeapBuilder Root(bool bigEndian, const std::function<void(HeapBuilder&)>& damage = nullptr) {
  HeapBuilder inner(bigEndian);
  inner.Data(0x0810, qdtest::kOwner);
  HeapBuilder root(bigEndian);
  root.Data(0x0805, qdtest::kComment);
  root.Nested(0x300A, inner);
  root.InRecord(0x1817, qdtest::kNumber);
  root.Free(4);
  root.Data(0x2007, {});
  root.Unused();
  root.Slack(6);
  if (damage) damage(root);
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

TEST(HeapFile, OpensEitherOrderAndLoadsRequestedRootRecords) {
  for (bool be : {false, true}) {
    SCOPED_TRACE(be ? "MM" : "II");
    const HeapBuilder root = Root(be);
    const Bytes bytes = HeapFileBuilder(root).ExtraHeader(2).Version(0x12345678).Build();
    OpenedFile f(bytes);
    ASSERT_EQ(f.Open(), ST_OK);
    EXPECT_EQ(f.file.fileLength, bytes.size());
    EXPECT_EQ(f.file.headerLength, 28u);
    EXPECT_EQ(f.file.version, 0x12345678u);
    EXPECT_EQ(f.file.order, be ? kBigEndian : kLittleEndian);
    EXPECT_EQ(f.file.rootCount, 6);
    EXPECT_EQ(f.file.root.flags & kTableBigEndian, 0u) << "the root table is handed back little-endian";
    // Any subtype is accepted when none is required.
    OpenedFile any(HeapFileBuilder(root).Subtype("ABCD").Build());
    EXPECT_EQ(any.Open(nullptr), ST_OK);

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
    const struct {
      uint16_t found;
      uint32_t offset, length;
      Bytes data;
    } expected[] = {
        {1, 28, 13, qdtest::kComment},
        {1, 28 + root.DataOffset(3), 8, Bytes(qdtest::kNumber.begin(), qdtest::kNumber.end())},
        {0, 0, 0, {}},
        {1, 28 + root.DataOffset(2), root.DataOffset(4) - root.DataOffset(2), {}},
        {0, 0, 0, {}},
    };
    for (int i = 0; i < 5; ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(req[i].found, expected[i].found);
      EXPECT_EQ(req[i].spare, 0);
      if (req[i].found) EXPECT_EQ(req[i].offset, expected[i].offset);
      if (req[i].found) EXPECT_EQ(req[i].length, expected[i].length);
      EXPECT_EQ(Bytes(req[i].data, req[i].data + BlockLength(req[i].data)), expected[i].data);
      EXPECT_EQ(BlockFree(req[i].data), ST_OK);
    }
  }
}

TEST(HeapFile, RejectsAnythingButAWellFormedHeapFileOfTheWantedSubtype) {
  const Bytes good = HeapFileBuilder(Root(true)).Build();
  const auto n = static_cast<uint32_t>(good.size());
  const uint32_t l = n - 26;
  const auto broken = [&](const std::function<void(HeapFileBuilder&)>& f) {
    HeapFileBuilder fb(Root(true));
    f(fb);
    return fb.Build();
  };
  const auto damaged = [](const std::function<void(HeapBuilder&)>& f) { return HeapFileBuilder(Root(true, f)).Build(); };
  const struct {
    const char* name;
    Bytes file;
    Status expected;
  } cases[] = {
      {"mark IM", broken([](auto& b) { b.Mark("IM"); }), ST_UNSUPPORTED},
      {"no HEAP", broken([](auto& b) { b.Magic("HEAQ"); }), ST_UNSUPPORTED},
      {"other subtype", broken([](auto& b) { b.Subtype("JPGM"); }), ST_UNSUPPORTED},
      {"header length 25", broken([](auto& b) { b.OverrideHeaderLength(25); }), ST_UNSUPPORTED},
      {"header past the end", broken([&](auto& b) { b.OverrideHeaderLength(n + 1); }), ST_UNSUPPORTED},
      {"root heap of 5 bytes", broken([&](auto& b) { b.OverrideHeaderLength(n - 5); }), ST_UNSUPPORTED},
      {"file of 25 bytes", Bytes(good.begin(), good.begin() + 25), ST_UNSUPPORTED},
      {"table offset L - 5", damaged([&](auto& r) { r.OverrideTableOffset(l - 5); }), ST_UNSUPPORTED},
      {"table offset 2^32 - 1", damaged([](auto& r) { r.OverrideTableOffset(0xFFFFFFFF); }), ST_UNSUPPORTED},
      {"one record more than fits", damaged([](auto& r) { r.OverrideCount(7); }), ST_CORRUPT},
      {"count 65535", damaged([](auto& r) { r.OverrideCount(0xFFFF); }), ST_CORRUPT},
      {"blocks do not tile", damaged([](auto& r) { r.OverrideLength(1, 12); }), ST_CORRUPT},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const int64_t live = qdtest::LiveBlocks();
    OpenedFile f(c.file);
    EXPECT_EQ(f.Open(), c.expected);
    EXPECT_EQ(qdtest::LiveBlocks(), live);
  }

  // Every prefix gives a clean status.
  for (size_t size = 0; size < good.size(); ++size) {
    SCOPED_TRACE(testing::Message() << "prefix of " << size);
    const int64_t live = qdtest::LiveBlocks();
    {
      OpenedFile f(Bytes(good.begin(), good.begin() + static_cast<ptrdiff_t>(size)));
      const Status st = f.Open();
      EXPECT_TRUE(st == ST_UNSUPPORTED || st == ST_CORRUPT || st == ST_PAST_END || st == ST_OK) << std::hex << st;
    }
    EXPECT_EQ(qdtest::LiveBlocks(), live);
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

}  // namespace
}  // namespace qd::heap
