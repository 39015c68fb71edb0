// Allocation-failure injection for test builds (QDPARSE_FAULT_INJECTION).
// The counters are per thread.
#pragma once

#include <cstdint>

namespace qd::fault {

// Make the n-th block allocation from now fail (1 = the next one); 0 disarms.
void FailAllocation(uint64_t n);
// True once the armed failure has happened.
bool Fired();
// Blocks allocated and not yet released, counted since the thread started.
int64_t LiveBlocks();

}  // namespace qd::fault
