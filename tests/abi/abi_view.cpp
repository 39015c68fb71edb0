// The public records as a strict C++17 compiler lays them out.
#include "abi_layout.h"

extern "C" {

const QdAbiRecord qd_abi_cxx_records[] = {QD_ABI_RECORDS(QD_ABI_RECORD_ENTRY)};
const size_t qd_abi_cxx_record_count = sizeof qd_abi_cxx_records / sizeof qd_abi_cxx_records[0];

const QdAbiField qd_abi_cxx_fields[] = {QD_ABI_FIELDS(QD_ABI_FIELD_ENTRY)};
const size_t qd_abi_cxx_field_count = sizeof qd_abi_cxx_fields / sizeof qd_abi_cxx_fields[0];
}
