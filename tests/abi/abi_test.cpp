// The public records across the boundary: a C host and the C++ library must
// lay every record out the same way, and on any target only the pointer
// fields may differ from the 32-bit layout (the static asserts in qdparse.h
// prove that layout only where pointers are 4 bytes).
#include <gtest/gtest.h>

#include <iterator>
#include <string>

#include "abi_layout.h"

namespace {

struct Record {
  std::string name;
  size_t size, docSize;
};
struct Field {
  std::string record, name;
  size_t offset, size, docOffset;
  bool isPointer;
};

#define QD_ABI_RECORD_ROW(rec, docSize) {#rec, sizeof(rec), docSize},
#define QD_ABI_FIELD_ROW(rec, field, docOffset, isPointer) \
  {#rec, #field, offsetof(rec, field), sizeof(((rec*)0)->field), docOffset, isPointer},
const Record kRecords[] = {QD_ABI_RECORDS(QD_ABI_RECORD_ROW)};
const Field kFields[] = {QD_ABI_FIELDS(QD_ABI_FIELD_ROW)};

TEST(AbiLayout, CAndCxxCompilersAgree) {
  const size_t records = std::size(kRecords);
  ASSERT_EQ(qd_abi_c_layout_count, records + 2 * std::size(kFields));
  for (size_t i = 0; i < records; ++i) {
    EXPECT_EQ(qd_abi_c_layout[i], kRecords[i].size) << kRecords[i].name;
  }
  for (size_t i = 0; i < std::size(kFields); ++i) {
    SCOPED_TRACE(kFields[i].record + "." + kFields[i].name);
    EXPECT_EQ(qd_abi_c_layout[records + 2 * i], kFields[i].offset);
    EXPECT_EQ(qd_abi_c_layout[records + 2 * i + 1], kFields[i].size);
  }
}

// Each record is its documented 32-bit layout with every pointer field
// widened in place: no padding, no reordering, fields back to back.
TEST(AbiLayout, OnlyPointerFieldsWiden) {
  const size_t widen = sizeof(void*) - 4;
  for (const Record& record : kRecords) {
    SCOPED_TRACE(record.name);
    size_t pointersBefore = 0, expectedOffset = 0;
    bool listed = false;
    for (const Field& f : kFields) {
      if (f.record != record.name) continue;
      SCOPED_TRACE(f.name);
      listed = true;
      EXPECT_EQ(f.offset, f.docOffset + pointersBefore * widen);
      EXPECT_EQ(f.offset, expectedOffset) << "gap or overlap before this field";
      if (f.isPointer) {
        EXPECT_EQ(f.size, sizeof(void*));
        ++pointersBefore;
      }
      expectedOffset = f.offset + f.size;
    }
    EXPECT_TRUE(listed);
    EXPECT_EQ(record.size, expectedOffset) << "trailing padding or unlisted field";
    EXPECT_EQ(record.size, record.docSize + pointersBefore * widen);
  }
}

}  // namespace
