#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "frame/export_call.h"
#include "support/fault_sweep.h"
#include "support/test_stream.h"

namespace qd {
namespace {

using qdtest::Callback;
using qdtest::TestStream;

struct Record {
  uint32_t a;
  uint8_t b[6];
};

// A reading export in miniature: one output record, a work step that reads.
uint32_t ReadOne(const qdlStream* stream, Record* out, Status workStatus) {
  return RunStreamExport({stream, QD_OPEN_READ, kNeedsReading, out != nullptr},
                         {{out, sizeof *out}}, [&](StreamPort& port) {
                           uint8_t byte = 0;
                           uint32_t count = 1;
                           Status st = ST_OK;
                           PortRead(port.ops, &byte, &count, &st);
                           if (st != ST_OK) return st;
                           out->a = byte;
                           return workStatus;
                         });
}

TEST(ExportCall, MissingCallbacksOrOutputsAreRefusedBeforeAnyCallback) {
  Record r;
  for (Callback cb : {Callback::Seek, Callback::Tell, Callback::Read}) {
    TestStream s({1, 2, 3});
    s.SetNull(cb);
    std::memset(&r, 0x77, sizeof r);
    EXPECT_EQ(ReadOne(s.stream(), &r, ST_OK), QD_E_INVALID_ARG) << CallbackName(cb);
    EXPECT_EQ(s.TotalCalls(), 0);
    EXPECT_EQ(r.a, 0x77777777u) << "outputs are cleared only after a successful open";
  }
  TestStream s({1});
  EXPECT_EQ(ReadOne(s.stream(), nullptr, ST_OK), QD_E_INVALID_ARG);
  EXPECT_EQ(ReadOne(nullptr, &r, ST_OK), QD_E_INVALID_ARG);
  EXPECT_EQ(s.TotalCalls(), 0);
}

TEST(ExportCall, WritersAndOptionalCallbacksHaveTheirOwnRequirements) {
  TestStream s;
  s.SetNull(Callback::Write);
  const auto run = [&](unsigned needs) {
    return RunStreamExport({s.stream(), QD_OPEN_WRITE, needs, true}, {},
                           [](StreamPort&) { return ST_OK; });
  };
  EXPECT_EQ(run(kNeedsWrite), QD_E_INVALID_ARG);
  EXPECT_EQ(run(kNeedsReading), QD_OK);
  EXPECT_EQ(s.lastOpenMode(), QD_OPEN_WRITE);
  TestStream t;
  t.SetNull(Callback::Close);
  EXPECT_EQ(RunStreamExport({t.stream(), QD_OPEN_READ, kNeedsOpenClose, true}, {},
                            [](StreamPort&) { return ST_OK; }),
            QD_E_INVALID_ARG);
  EXPECT_EQ(t.TotalCalls(), 0);
}

TEST(ExportCall, AnOpenErrorIsReturnedUnchangedWithoutClose) {
  TestStream s({9});
  s.FailCall(Callback::Open, 1, 7);
  Record r;
  std::memset(&r, 0x77, sizeof r);
  EXPECT_EQ(ReadOne(s.stream(), &r, ST_OK), 7u);
  EXPECT_EQ(s.CountOf(Callback::Close), 0);
  EXPECT_EQ(s.TotalCalls(), 1);
  EXPECT_EQ(r.b[0], 0x77);
}

TEST(ExportCall, OutputsAreClearedAndTheStreamClosedWhateverTheWorkDoes) {
  for (Status work : {ST_OK, ST_CORRUPT, ST_NOT_FOUND}) {
    TestStream s({42});
    Record r;
    std::memset(&r, 0x77, sizeof r);
    const uint32_t result = ReadOne(s.stream(), &r, work);
    EXPECT_EQ(result, ToResultCode(work));
    EXPECT_EQ(r.a, 42u);
    for (uint8_t b : r.b) EXPECT_EQ(b, 0);
    EXPECT_EQ(s.CountOf(Callback::Open), 1);
    EXPECT_EQ(s.CountOf(Callback::Close), 1);
    EXPECT_EQ(s.lastOpenMode(), QD_OPEN_READ);
    EXPECT_FALSE(s.IsOpen());
  }
}

TEST(ExportCall, ACloseErrorCountsOnlyWhenTheWorkSucceeded) {
  Record r;
  TestStream ok({1});
  ok.FailCall(Callback::Close, 1, 5);
  EXPECT_EQ(ReadOne(ok.stream(), &r, ST_OK), 5u);

  TestStream failing({1});
  failing.FailCall(Callback::Close, 1, 5);
  EXPECT_EQ(ReadOne(failing.stream(), &r, ST_UNSUPPORTED), QD_E_UNSUPPORTED);
}

TEST(ExportCall, HostFailuresSeenByThePortAreConvertedUnlessHandedBack) {
  Record r;
  TestStream s({1});
  s.FailCall(Callback::Read, 1, 0x99);
  EXPECT_EQ(ReadOne(s.stream(), &r, ST_OK), QD_E_FAILED);

  TestStream t({1});
  t.FailCall(Callback::Read, 1, 0x99);
  const uint32_t result = RunStreamExport(
      {t.stream(), QD_OPEN_READ, kNeedsReading, true}, {}, [](StreamPort& port) {
        uint8_t byte;
        uint32_t count = 1;
        Status st = ST_OK;
        PortRead(port.ops, &byte, &count, &st);
        return WorkResult{st, port.hostError};
      });
  EXPECT_EQ(result, 0x99u);
  EXPECT_EQ(t.CountOf(Callback::Close), 1);
}

}  // namespace
}  // namespace qd

namespace qd {
namespace {

// The sweep machinery on the miniature export: every failing callback ends in
// the host's error or a converted failure, with the stream closed.
TEST(ExportCall, EveryHostFailurePositionEndsCleanly) {
  Record r;
  const int positions = qdtest::SweepHostFailures(
      [] { return std::make_unique<TestStream>(std::vector<uint8_t>{1, 2}); },
      [&](TestStream& s) { return ReadOne(s.stream(), &r, ST_OK); }, 0x51, {QD_E_FAILED},
      [&](const qdtest::SweepRun& run, TestStream&) {
        if (run.fired) EXPECT_NE(run.result, QD_OK);
      });
  EXPECT_EQ(positions, 4);  // open, read, close, then a clean run
}

}  // namespace
}  // namespace qd
