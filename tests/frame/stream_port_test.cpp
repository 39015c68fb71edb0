#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "frame/stream_port.h"
#include "support/test_stream.h"

namespace qd {
namespace {

using qdtest::Callback;
using qdtest::TestStream;

std::vector<uint8_t> Counting(size_t n) {
  std::vector<uint8_t> v(n);
  std::iota(v.begin(), v.end(), uint8_t{0});
  return v;
}

// A test stream and a port onto it.
struct Ported {
  explicit Ported(std::vector<uint8_t> bytes = Counting(10)) : s(std::move(bytes)) { MakeStreamPort(s.stream(), &port); }
  TestStream s;
  StreamPort port;
};

// A host error, a success that never stores the error value, and a null
// callback all become ST_STREAM_FAILED; the host's error is kept.
TEST(StreamPort, HostFailuresBecomeAStreamStatus) {
  Ported p;
  p.s.FailCall(Callback::Read, 1, 0x1234);
  uint8_t buf[4];
  uint32_t count = 4;
  Status st = ST_OK;
  PortRead(p.port.ops, buf, &count, &st);
  EXPECT_EQ(st, ST_STREAM_FAILED);
  count = 4;
  PortRead(p.port.ops, buf, &count, &st);
  EXPECT_EQ(st, ST_OK);
  EXPECT_EQ(p.port.hostError, 0x1234u) << "a later success does not forget the error";

  Ported untouched;
  untouched.s.LeaveErrorUntouched(true);
  (void)untouched.port.ops.tell(untouched.port.ops.self, &st);
  EXPECT_EQ(st, ST_STREAM_FAILED);
  EXPECT_NE(untouched.port.hostError, 0u);

  Ported null;
  null.s.SetNull(Callback::Write);
  null.s.SetNull(Callback::Open);
  count = 1;
  PortWrite(null.port.ops, "x", &count, &st);
  EXPECT_EQ(st, ST_STREAM_FAILED);
  EXPECT_EQ(PortOpen(null.port.ops, kPortRead), ST_STREAM_FAILED);
  EXPECT_EQ(null.s.TotalCalls(), 0);
}

TEST(StreamPort, SizeRestoresThePositionAndStopsAtTheFirstFailure) {
  Ported p(Counting(300));
  Status st = ST_OK;
  PortSeek(p.port.ops, kFromStart, 17, &st);
  EXPECT_EQ(PortSize(p.port.ops, &st), 300u);
  EXPECT_EQ(st, ST_OK);
  EXPECT_EQ(p.s.position(), 17u);

  const int before = p.s.TotalCalls();
  p.s.FailCall(Callback::Tell, p.s.CountOf(Callback::Tell) + 1, 9);
  EXPECT_EQ(PortSize(p.port.ops, &st), 0u);
  EXPECT_EQ(st, ST_STREAM_FAILED);
  EXPECT_EQ(p.s.TotalCalls(), before + 1);
}

// Of tell, seek to the end, tell and seek back, a failure of the last is
// reported but the size stands.
TEST(DirectStream, SizeReportsOnlyTheFirstThreeStepsAsFatal) {
  uint32_t error = 1;
  TestStream s(Counting(50));
  EXPECT_EQ(StreamSize(s.stream(), &error), 50u);
  EXPECT_EQ(error, 0u);
  TestStream t(Counting(50));
  t.FailCall(Callback::Tell, 1, 7);
  EXPECT_EQ(StreamSize(t.stream(), &error), 0u);
  EXPECT_EQ(error, 7u);
  EXPECT_EQ(t.TotalCalls(), 1);
  TestStream u(Counting(50));
  u.FailCall(Callback::Seek, 2, 8);
  EXPECT_EQ(StreamSize(u.stream(), &error), 50u);
  EXPECT_EQ(error, 8u);
}

TEST(DirectStream, ExactTransfersAssemblePartialOnesAndCallNothingForNothing) {
  TestStream s(Counting(1000));
  s.LimitTransfers(7);
  std::vector<uint8_t> out(1000);
  uint32_t error = 1;
  StreamReadExact(s.stream(), out.data(), 1000, kErrorBase, &error);
  EXPECT_EQ(error, 0u);
  EXPECT_EQ(out, s.data());
  EXPECT_EQ(s.CountOf(Callback::Read), 143);

  s.ClearLog();
  error = 1;
  StreamReadExact(s.stream(), nullptr, 0, kErrorBase, &error);
  EXPECT_EQ(error, 0u);
  StreamWriteExact(s.stream(), nullptr, 0, kErrorBase, &error);
  EXPECT_EQ(error, 0u);
  EXPECT_EQ(s.TotalCalls(), 0);

  // Open and close are optional.
  s.SetNull(Callback::Open);
  s.SetNull(Callback::Close);
  error = 5;
  StreamOpen(s.stream(), QD_OPEN_READ, &error);
  EXPECT_EQ(error, 0u);
  error = 5;
  StreamClose(s.stream(), &error);
  EXPECT_EQ(error, 0u);
}

// A transfer of nothing or of more than asked ends the loop with the
// library's own error; a host error is handed back as it is.
TEST(DirectStream, ExactTransfersRefuseEmptyAndOverlongAnswers) {
  const auto exact = [](TestStream& s, bool write) {
    uint8_t buf[16] = {};
    uint32_t error = 0;
    if (write) {
      StreamWriteExact(s.stream(), buf, 16, kErrorBase, &error);
    } else {
      StreamReadExact(s.stream(), buf, 16, kErrorBase, &error);
    }
    return error;
  };
  TestStream ends(Counting(8));
  EXPECT_EQ(exact(ends, false), QD_E_SHORT_READ);
  TestStream overlong(Counting(64));
  overlong.ReportCount(Callback::Read, 1, 17);
  EXPECT_EQ(exact(overlong, false), QD_E_SHORT_READ);
  EXPECT_EQ(overlong.CountOf(Callback::Read), 1);
  TestStream failing(Counting(64));
  failing.LimitTransfers(4);
  failing.FailCall(Callback::Read, 3, 0xABCD);
  EXPECT_EQ(exact(failing, false), 0xABCDu);
  TestStream nothing, tooMuch;
  nothing.LimitTransfers(4);
  nothing.ReportCount(Callback::Write, 2, 0);
  EXPECT_EQ(exact(nothing, true), QD_E_SHORT_WRITE);
  EXPECT_EQ(nothing.CountOf(Callback::Write), 2);
  tooMuch.ReportCount(Callback::Write, 1, 99);
  EXPECT_EQ(exact(tooMuch, true), QD_E_SHORT_WRITE);
}

}  // namespace
}  // namespace qd
