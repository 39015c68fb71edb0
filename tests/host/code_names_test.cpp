#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "format/property_codes.h"
#include "frame/result_codes.h"
#include "qdparse_host.h"

namespace {

TEST(HostCodeNames, ResultCodes) {
  EXPECT_STREQ("QD_E_CORRUPT", qdhResultName(QD_E_CORRUPT));
  EXPECT_STREQ("inconsistent structure", qdhResultText(QD_E_CORRUPT));
  EXPECT_EQ(nullptr, qdhResultName(QDH_E_IO));  // the host's own errors are not the library's
  EXPECT_EQ(nullptr, qdhResultText(7));
  // A duplicated value would hide the later entry.
  for (const qd::ResultCodeEntry& e : qd::kResultCodes) {
    EXPECT_STREQ(e.name, qdhResultName(e.code));
  }
}

TEST(HostCodeNames, PropertyCodesAndLayouts) {
  EXPECT_STREQ("ExposureTime", qdhPropertyName(qd::kPropExposureTime));
  EXPECT_STREQ("u32 angle, u16 mirrored", qdhPropertyLayout(qd::kPropOrientation));
  EXPECT_EQ(nullptr, qdhPropertyName(0x00));
  EXPECT_EQ(nullptr, qdhPropertyLayout(0x3D));

  // Every code finds its own entry, and every layout keeps to the grammar of
  // qdparse_host.h: kinds, with a field name when there are several fields.
  const std::set<std::string> kinds = {"u16",  "u32",       "f32",  "rational", "srational", "char8", "u16s",
                                       "u32s", "rationals", "text", "ctext",    "jpeg",      "bytes"};
  const struct {
    uint16_t code;
    const char* name;
  } table[] = {
#define QD_PROPERTY_ROW(code, name, layout) {code, #name},
      QD_PROPERTY_LIST(QD_PROPERTY_ROW)
#undef QD_PROPERTY_ROW
  };
  for (const auto& row : table) {
    EXPECT_STREQ(row.name, qdhPropertyName(row.code)) << std::hex << row.code;
    std::istringstream layout(qdhPropertyLayout(row.code));
    std::string field;
    int fields = 0, named = 0;
    while (std::getline(layout >> std::ws, field, ',')) {
      ++fields;
      const size_t space = field.find(' ');
      EXPECT_EQ(1u, kinds.count(field.substr(0, space))) << row.name << ": " << field;
      named += space != std::string::npos;
    }
    EXPECT_EQ(fields > 1 ? fields : 0, named) << row.name;
  }
}

}  // namespace
