/* The public records as a strict C99 compiler lays them out. */
#include "abi_layout.h"

const QdAbiRecord qd_abi_c_records[] = {QD_ABI_RECORDS(QD_ABI_RECORD_ENTRY)};
const size_t qd_abi_c_record_count = sizeof qd_abi_c_records / sizeof qd_abi_c_records[0];

const QdAbiField qd_abi_c_fields[] = {QD_ABI_FIELDS(QD_ABI_FIELD_ENTRY)};
const size_t qd_abi_c_field_count = sizeof qd_abi_c_fields / sizeof qd_abi_c_fields[0];
