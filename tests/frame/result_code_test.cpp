#include <gtest/gtest.h>

#include "frame/status.h"
#include "qdparse.h"

namespace qd {
namespace {

// Each dedicated code is checked with its neighbours, which have none.
TEST(ResultCode, MapsEveryStatusAtAndAroundTheDedicatedRange) {
  const struct {
    uint16_t status;
    uint32_t code;
  } cases[] = {
      {0x0000, QD_OK},
      // Stream-layer and other small statuses have no code of their own.
      {0x0015, QD_E_FAILED}, {0x0022, QD_E_FAILED}, {0x0040, QD_E_FAILED},
      {0x6014, QD_E_FAILED}, {0x6015, QD_E_NO_MEMORY}, {0x6016, QD_E_FAILED},
      {0x601F, QD_E_FAILED}, {0x6020, QD_E_INVALID_ARG}, {0x6021, QD_E_FAILED},
      {0x6022, QD_E_SIZE_MISMATCH}, {0x6023, QD_E_FAILED},
      {0x6043, QD_E_FAILED}, {0x6044, QD_E_UNSUPPORTED}, {0x6045, QD_E_CORRUPT}, {0x6046, QD_E_FAILED},
      {0x6059, QD_E_FAILED}, {0x605A, QD_E_RESERVED_2A}, {0x605B, QD_E_FAILED},
      // Absence statuses, whatever else they look like.
      {0x6900, QD_E_FAILED}, {0x0800, QD_E_FAILED}, {0x6815, QD_E_FAILED}, {0xFFFF, QD_E_FAILED},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ToResultCode(static_cast<Status>(c.status)), c.code) << std::hex << c.status;
  }
}

TEST(ResultCode, NamesAndTheLatestIdentifier) {
  EXPECT_STREQ(StatusName(0x6045), "ST_CORRUPT");
  EXPECT_STREQ(StatusName(0x0022), "ST_PAST_END");
  EXPECT_EQ(StatusName(0x6016), nullptr);

  EXPECT_EQ(QDParseGetRttIDLatest(nullptr), QD_E_INVALID_ARG);
  uint16_t id = 0;
  EXPECT_EQ(QDParseGetRttIDLatest(&id), QD_OK);
  EXPECT_EQ(id, 273);
}

}  // namespace
}  // namespace qd
