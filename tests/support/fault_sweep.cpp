#include "support/fault_sweep.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "frame/fault.h"

namespace qdtest {

// Beyond this a sweep is surely not converging: every position must end.
constexpr int kMaxPositions = 100000;

int64_t LiveBlocks() { return qd::fault::LiveBlocks(); }

int SweepAllocationFailures(const std::function<uint32_t()>& op,
                            std::initializer_list<uint32_t> accepted,
                            const std::function<void(const SweepRun&)>& check) {
  for (int n = 1; n < kMaxPositions; ++n) {
    const int64_t before = LiveBlocks();
    qd::fault::FailAllocation(static_cast<uint64_t>(n));
    const uint32_t result = op();
    const SweepRun run{n, result, qd::fault::Fired()};
    qd::fault::FailAllocation(0);
    SCOPED_TRACE(testing::Message() << "allocation failure at position " << n);
    if (check) check(run);
    EXPECT_TRUE(result == QD_OK ||
                std::find(accepted.begin(), accepted.end(), result) != accepted.end())
        << "unexpected result 0x" << std::hex << result;
    if (!run.fired || testing::Test::HasFailure()) return n;
    // Leaks are checked on failing runs only: a successful run may hand blocks to the caller.
    EXPECT_EQ(LiveBlocks(), before) << "blocks leaked";
  }
  ADD_FAILURE() << "allocation sweep did not end";
  return kMaxPositions;
}

}  // namespace qdtest
