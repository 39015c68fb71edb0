#include <gtest/gtest.h>

#include <cstring>

#include "frame/byte_order.h"
#include "frame/fault.h"
#include "frame/memory_block.h"
#include "support/fault_sweep.h"

namespace qd {
namespace {

TEST(MemoryBlock, PrefixHoldsMarkerLengthAndSelfPointer) {
  uint8_t* p = BlockAlloc(37);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(kBlockPrefix, 6 + sizeof(void*));
  EXPECT_EQ(GetLE16(p - kBlockPrefix), 1);
  uint32_t length = 0;
  std::memcpy(&length, p - kBlockPrefix + 2, 4);
  EXPECT_EQ(length, 37u);
  uint8_t* self = nullptr;
  std::memcpy(&self, p - sizeof(void*), sizeof self);
  EXPECT_EQ(self, p);
  EXPECT_EQ(BlockLength(p), 37u);
  EXPECT_EQ(BlockFree(p), ST_OK);
}

TEST(MemoryBlock, FreshBlocksAreScribbledUnlessZeroed) {
  BlockOwner plain(BlockAlloc(16));
  BlockOwner zeroed(BlockAllocZeroed(16));
  ASSERT_TRUE(plain && zeroed);
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(plain.get()[i], 0xA5);
    EXPECT_EQ(zeroed.get()[i], 0);
  }
}

TEST(MemoryBlock, LengthIsZeroForEmptyNullAndForeignBuffers) {
  BlockOwner empty(BlockAllocZeroed(0));
  ASSERT_TRUE(empty);
  EXPECT_EQ(BlockLength(empty.get()), 0u);
  EXPECT_EQ(BlockLength(nullptr), 0u);
  uint8_t foreign[64] = {};
  EXPECT_EQ(BlockLength(foreign + 32), 0u);
}

TEST(MemoryBlock, ReleaseRefusesWhatItDoesNotOwn) {
  EXPECT_EQ(BlockFree(nullptr), ST_OK);

  uint8_t foreign[64];
  std::memset(foreign, 0x5C, sizeof foreign);
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

TEST(MemoryBlock, OwnerReleasesAndHandsOn) {
  const int64_t live = qdtest::LiveBlocks();
  {
    BlockOwner a(BlockAlloc(4));
    BlockOwner b(std::move(a));
    EXPECT_FALSE(a);
    EXPECT_EQ(qdtest::LiveBlocks(), live + 1);
    b = BlockOwner(BlockAlloc(4));
    EXPECT_EQ(qdtest::LiveBlocks(), live + 1);
    uint8_t* kept = b.release();
    EXPECT_EQ(BlockFree(kept), ST_OK);
  }
  EXPECT_EQ(qdtest::LiveBlocks(), live);
}

TEST(MemoryBlock, InjectedFailureHitsTheArmedAllocationOnly) {
  fault::FailAllocation(2);
  BlockOwner first(BlockAlloc(1));
  BlockOwner second(BlockAllocZeroed(1));
  BlockOwner third(BlockAlloc(1));
  EXPECT_TRUE(first);
  EXPECT_FALSE(second);
  EXPECT_TRUE(third);
  EXPECT_TRUE(fault::Fired());
  fault::FailAllocation(0);
}

}  // namespace
}  // namespace qd
