#include "support/fault_sweep.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "frame/fault.h"

namespace qdtest {
namespace {

// Beyond this a sweep is surely not converging: every position must end.
constexpr int kMaxPositions = 100000;

bool Accepted(uint32_t result, std::initializer_list<uint32_t> accepted) {
  return result == QD_OK || std::find(accepted.begin(), accepted.end(), result) != accepted.end();
}

}  // namespace

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
    EXPECT_TRUE(Accepted(result, accepted)) << "unexpected result 0x" << std::hex << result;
    if (!run.fired || testing::Test::HasFailure()) return n;
    // Leaks are checked on failing runs only: a successful run may hand blocks to the caller.
    EXPECT_EQ(LiveBlocks(), before) << "blocks leaked";
  }
  ADD_FAILURE() << "allocation sweep did not end";
  return kMaxPositions;
}

int SweepHostFailures(const std::function<std::unique_ptr<TestStream>()>& make,
                      const std::function<uint32_t(TestStream&)>& op, uint32_t error,
                      std::initializer_list<uint32_t> accepted,
                      const std::function<void(const SweepRun&, TestStream&)>& check) {
  for (int n = 1; n < kMaxPositions; ++n) {
    std::unique_ptr<TestStream> stream = make();
    stream->FailNthCall(n, error);
    const int64_t before = LiveBlocks();
    const uint32_t result = op(*stream);
    const SweepRun run{n, result, stream->FaultFired()};
    const Callback failed = run.fired ? stream->calls()[n - 1].callback : Callback::Aux;
    SCOPED_TRACE(testing::Message() << "host failure at call " << n << " ("
                                    << (run.fired ? CallbackName(failed) : "none") << ")");
    if (check) check(run, *stream);
    EXPECT_TRUE(result == error || Accepted(result, accepted))
        << "unexpected result 0x" << std::hex << result;
    if (!run.fired || testing::Test::HasFailure()) return n;
    if (failed != Callback::Close) EXPECT_FALSE(stream->IsOpen()) << "the stream was left open";
    if (result != QD_OK) EXPECT_EQ(LiveBlocks(), before) << "blocks leaked";
  }
  ADD_FAILURE() << "host failure sweep did not end";
  return kMaxPositions;
}

}  // namespace qdtest
