#include <gtest/gtest.h>

#include <cstdint>

#include "frame/byte_order.h"

namespace qd {
namespace {

// The byte-order primitives are exercised by every fixture in both orders;
// what needs its own test is the bounds checking of views.
TEST(ByteView, ReadsAndChildViewsStopAtTheEndWithoutWrapping) {
  const uint8_t bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  const ByteView v(bytes, 6);
  uint32_t u32 = 0;
  uint16_t u16 = 0;
  EXPECT_TRUE(v.U32(2, kLittleEndian, &u32));
  EXPECT_EQ(u32, 0x06050403u);
  EXPECT_FALSE(v.U32(3, kLittleEndian, &u32));
  EXPECT_TRUE(v.U16(4, kBigEndian, &u16));
  EXPECT_FALSE(v.U16(5, kBigEndian, &u16));
  // Offsets that wrap 32 or 64 bits never pass.
  EXPECT_FALSE(v.U16(0xFFFFFFFFull, kLittleEndian, &u16));
  EXPECT_FALSE(v.U16(0x100000000ull, kLittleEndian, &u16));
  EXPECT_FALSE(v.Contains(2, UINT64_MAX - 1));
  EXPECT_FALSE(v.Contains(UINT64_MAX, 2));
  EXPECT_TRUE(v.Contains(6, 0));
  EXPECT_FALSE(v.Contains(7, 0));

  ByteView child;
  ASSERT_TRUE(v.Sub(2, 3, &child));
  uint8_t b = 0;
  EXPECT_TRUE(child.U8(2, &b));
  EXPECT_EQ(b, 5);
  EXPECT_FALSE(child.U8(3, &b));  // inside the parent, outside the child
  EXPECT_FALSE(v.Sub(3, 4, &child));
  EXPECT_FALSE(v.Sub(0xFFFFFFFFull, 0x100000002ull, &child));
}

}  // namespace
}  // namespace qd
