#include <gtest/gtest.h>

#include <cstring>

#include "frame/byte_order.h"
#include "frame/memory_block.h"
#include "support/fault_sweep.h"

namespace qd {
namespace {

TEST(MemoryBlock, LengthAndReleaseRefuseWhatTheyDoNotOwn) {
  BlockOwner empty(BlockAllocZeroed(0)), fresh(BlockAlloc(3));
  ASSERT_TRUE(empty && fresh);
  EXPECT_EQ(BlockLength(empty.get()), 0u);
  EXPECT_EQ(BlockLength(fresh.get()), 3u);
  EXPECT_EQ(fresh.get()[2], 0xA5) << "test builds scribble fresh blocks, so code relying on zeros fails";
  EXPECT_EQ(BlockLength(nullptr), 0u);
  EXPECT_EQ(BlockFree(nullptr), ST_OK);

  uint8_t foreign[64];
  std::memset(foreign, 0x5C, sizeof foreign);
  EXPECT_EQ(BlockLength(foreign + 32), 0u);
  EXPECT_EQ(BlockFree(foreign + 32), ST_STREAM_FAILED);
  for (uint8_t b : foreign) ASSERT_EQ(b, 0x5C) << "a refused release must not touch memory";

  // A block whose marker was overwritten is left alone without complaint.
  const int64_t live = qdtest::LiveBlocks();
  uint8_t* p = BlockAlloc(8);
  ASSERT_NE(p, nullptr);
  PutLE16(2, p - kBlockPrefix);
  EXPECT_EQ(BlockFree(p), ST_OK);
  EXPECT_EQ(qdtest::LiveBlocks(), live + 1);
  PutLE16(1, p - kBlockPrefix);
  EXPECT_EQ(BlockFree(p), ST_OK);
  EXPECT_EQ(qdtest::LiveBlocks(), live);
}

}  // namespace
}  // namespace qd
