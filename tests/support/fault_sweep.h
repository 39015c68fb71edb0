// Allocation sweeps: run an operation with the N-th allocation failing, for
// N = 1, 2, ... until a run in which no fault fired.
// Every run must end in success or an accepted failure, and leave no library
// block behind.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>

#include "support/test_stream.h"

namespace qdtest {

struct SweepRun {
  int n;               // the failing position
  uint32_t result;     // what the operation returned
  bool fired;          // whether the fault was reached
};

// `op` runs once per position and returns a result code; `check` sees every
// run (its own expectations: outputs cleared, nothing written...). Returns the
// number of positions swept. Fails the test on a leak or an unlisted result.
int SweepAllocationFailures(const std::function<uint32_t()>& op,
                            std::initializer_list<uint32_t> accepted,
                            const std::function<void(const SweepRun&)>& check = nullptr);

// Library blocks allocated and not released on this thread.
int64_t LiveBlocks();

}  // namespace qdtest
