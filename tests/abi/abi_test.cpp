// The public records across the boundary: a C host and the C++ library must
// lay every record out the same way, and on any target only the pointer
// fields may differ from the 32-bit layout (the static asserts in qdparse.h
// prove that layout only where pointers are 4 bytes).
#include <gtest/gtest.h>

#include <iterator>
#include <cstring>

#include "abi_layout.h"

namespace {

struct Record {
  const char* name;
  size_t size, docSize;
};
struct Field {
  const char *record, *name;
  size_t offset, size, docOffset;
  bool isPointer;
};

#define QD_ABI_RECORD_ROW(rec, docSize) {#rec, sizeof(rec), docSize},
#define QD_ABI_FIELD_ROW(rec, field, docOffset, isPointer) \
  {#rec, #field, offsetof(rec, field), sizeof(((rec*)0)->field), docOffset, isPointer},
const Record kRecords[] = {QD_ABI_RECORDS(QD_ABI_RECORD_ROW)};
const Field kFields[] = {QD_ABI_FIELDS(QD_ABI_FIELD_ROW)};

// Each record is its documented 32-bit layout with every pointer field
// widened in place: no padding, no reordering, fields back to back; and the C
// compiler lays it out the same way.
TEST(AbiLayout, OnlyPointerFieldsWidenAndCAgrees) {
  const size_t records = std::size(kRecords), widen = sizeof(void*) - 4;
  const size_t* c = qd_abi_c_layout;
  ASSERT_EQ(qd_abi_c_layout_count, records + 2 * std::size(kFields));
  size_t f = 0;
  for (size_t r = 0; r < records; ++r) {
    const Record& record = kRecords[r];
    SCOPED_TRACE(record.name);
    EXPECT_EQ(c[r], record.size) << "C size";
    size_t pointers = 0, end = 0;
    for (; f < std::size(kFields) && std::strcmp(kFields[f].record, record.name) == 0; ++f) {
      const Field& field = kFields[f];
      SCOPED_TRACE(field.name);
      EXPECT_EQ(c[records + 2 * f], field.offset) << "C offset";
      EXPECT_EQ(c[records + 2 * f + 1], field.size) << "C size";
      EXPECT_EQ(field.offset, end) << "gap or overlap before this field";
      EXPECT_EQ(field.offset, field.docOffset + pointers * widen);
      if (field.isPointer) {
        EXPECT_EQ(field.size, sizeof(void*));
        ++pointers;
      }
      end = field.offset + field.size;
    }
    EXPECT_GT(end, 0u) << "no fields listed";
    EXPECT_EQ(record.size, end) << "trailing padding or unlisted field";
    EXPECT_EQ(record.size, record.docSize + pointers * widen);
  }
  EXPECT_EQ(f, std::size(kFields)) << "fields out of record order";
}

}  // namespace
