#include <gtest/gtest.h>

#include <cstdint>

#include "frame/byte_order.h"

namespace qd {
namespace {

TEST(ByteOrder, PrimitivesReadAndWriteAtAnyOffset) {
  const uint8_t bytes[] = {0xEE, 0x01, 0x02, 0x03, 0x04};
  EXPECT_EQ(GetLE32(bytes + 1), 0x04030201u);
  EXPECT_EQ(Swap32(GetLE32(bytes + 1)), 0x01020304u);
  EXPECT_EQ(Get32(bytes + 1, kBigEndian), 0x01020304u);
  EXPECT_EQ(GetLE16(bytes + 1), 0x0201);
  EXPECT_EQ(Get16(bytes + 1, kBigEndian), 0x0102);
  EXPECT_EQ(Swap16(0xA1B2), 0xB2A1);

  uint8_t out[7] = {};
  PutLE32(0xCAFEBABE, out + 1);
  EXPECT_EQ(out[1], 0xBE);
  EXPECT_EQ(out[4], 0xCA);
  Put32(0xCAFEBABE, out + 3, kBigEndian);
  EXPECT_EQ(out[3], 0xCA);
  EXPECT_EQ(out[6], 0xBE);
  Put16(0x1234, out, kBigEndian);
  EXPECT_EQ(out[0], 0x12);
  PutLE16(0x1234, out);
  EXPECT_EQ(out[0], 0x34);
}

TEST(ByteOrder, MarksNameOnlyTwoOrders) {
  ByteOrder o = kLittleEndian;
  EXPECT_TRUE(OrderFromMark(reinterpret_cast<const uint8_t*>("MM"), &o));
  EXPECT_EQ(o, kBigEndian);
  EXPECT_TRUE(OrderFromMark(reinterpret_cast<const uint8_t*>("II"), &o));
  EXPECT_EQ(o, kLittleEndian);
  EXPECT_FALSE(OrderFromMark(reinterpret_cast<const uint8_t*>("IM"), &o));
}

TEST(ByteView, FieldReadsStopAtTheEndWithoutWrapping) {
  const uint8_t bytes[6] = {1, 2, 3, 4, 5, 6};
  const ByteView v(bytes, sizeof bytes);
  uint32_t u32 = 0;
  uint16_t u16 = 0;
  EXPECT_TRUE(v.U32(2, kLittleEndian, &u32));
  EXPECT_EQ(u32, 0x06050403u);
  EXPECT_FALSE(v.U32(3, kLittleEndian, &u32));
  EXPECT_TRUE(v.U16(4, kBigEndian, &u16));
  EXPECT_EQ(u16, 0x0506);
  EXPECT_FALSE(v.U16(5, kBigEndian, &u16));
  // Offsets that wrap 32 or 64 bits never pass.
  EXPECT_FALSE(v.U16(0xFFFFFFFFull, kLittleEndian, &u16));
  EXPECT_FALSE(v.U16(0x100000000ull, kLittleEndian, &u16));
  EXPECT_FALSE(v.Contains(2, UINT64_MAX - 1));
  EXPECT_FALSE(v.Contains(UINT64_MAX, 2));
  EXPECT_TRUE(v.Contains(6, 0));
  EXPECT_FALSE(v.Contains(7, 0));
}

TEST(ByteView, ChildViewsCannotReachOutsideTheirParent) {
  const uint8_t bytes[8] = {0, 1, 2, 3, 4, 5, 6, 7};
  const ByteView parent(bytes, sizeof bytes);
  ByteView child;
  ASSERT_TRUE(parent.Sub(2, 4, &child));
  uint8_t b = 0;
  EXPECT_TRUE(child.U8(3, &b));
  EXPECT_EQ(b, 5);
  EXPECT_FALSE(child.U8(4, &b));  // byte 6 of the parent is outside the child
  EXPECT_FALSE(parent.Sub(5, 4, &child));
  EXPECT_FALSE(parent.Sub(0xFFFFFFFFull, 0x100000002ull, &child));
}

}  // namespace
}  // namespace qd
