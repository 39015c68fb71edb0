// The public records as a strict C99 compiler lays them out.
#include "abi_layout.h"

const size_t qd_abi_c_layout[] = {QD_ABI_RECORDS(QD_ABI_SIZE) QD_ABI_FIELDS(QD_ABI_PLACE)};
const size_t qd_abi_c_layout_count = sizeof qd_abi_c_layout / sizeof qd_abi_c_layout[0];
