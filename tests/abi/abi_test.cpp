// The public records across the boundary: a C host and the C++ library must
// lay every record out the same way, and on any target only the pointer
// fields may differ from the 32-bit layout (the static asserts in qdparse.h
// prove that layout only where pointers are 4 bytes).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "abi_layout.h"

namespace {

std::string FieldName(const QdAbiField& f) { return std::string(f.record) + "." + f.name; }

TEST(AbiLayout, CAndCxxCompilersAgree) {
  ASSERT_EQ(qd_abi_c_record_count, qd_abi_cxx_record_count);
  for (size_t i = 0; i < qd_abi_cxx_record_count; ++i) {
    const QdAbiRecord& c = qd_abi_c_records[i];
    const QdAbiRecord& cxx = qd_abi_cxx_records[i];
    SCOPED_TRACE(cxx.name);
    EXPECT_STREQ(c.name, cxx.name);
    EXPECT_EQ(c.size, cxx.size);
  }
  ASSERT_EQ(qd_abi_c_field_count, qd_abi_cxx_field_count);
  for (size_t i = 0; i < qd_abi_cxx_field_count; ++i) {
    const QdAbiField& c = qd_abi_c_fields[i];
    const QdAbiField& cxx = qd_abi_cxx_fields[i];
    SCOPED_TRACE(FieldName(cxx));
    EXPECT_STREQ(c.record, cxx.record);
    EXPECT_STREQ(c.name, cxx.name);
    EXPECT_EQ(c.offset, cxx.offset);
    EXPECT_EQ(c.size, cxx.size);
  }
}

// Each record is its documented 32-bit layout with every pointer field
// widened in place: no padding, no reordering, fields back to back.
TEST(AbiLayout, OnlyPointerFieldsWiden) {
  const size_t widen = sizeof(void*) - 4;
  for (size_t r = 0; r < qd_abi_cxx_record_count; ++r) {
    const QdAbiRecord& record = qd_abi_cxx_records[r];
    SCOPED_TRACE(record.name);
    size_t pointersBefore = 0;
    size_t expectedOffset = 0;
    bool listed = false;
    for (size_t i = 0; i < qd_abi_cxx_field_count; ++i) {
      const QdAbiField& f = qd_abi_cxx_fields[i];
      if (std::strcmp(f.record, record.name) != 0) continue;
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
