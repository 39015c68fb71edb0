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

TEST(StreamPort, MakingAPortCallsNothing) {
  TestStream s(Counting(10));
  StreamPort port;
  MakeStreamPort(s.stream(), &port);
  EXPECT_EQ(s.TotalCalls(), 0);
  EXPECT_EQ(port.ops.self, &port);
  EXPECT_EQ(port.host, s.stream());
  EXPECT_EQ(port.hostError, 0u);
}

TEST(StreamPort, MapsModesAndOriginsToTheHostsValues) {
  TestStream s(Counting(100));
  StreamPort port;
  MakeStreamPort(s.stream(), &port);
  const uint16_t modes[] = {kPortRead, kPortWrite, kPortReadWrite, 7};
  const uint32_t hostModes[] = {QD_OPEN_READ, QD_OPEN_WRITE, QD_OPEN_UPDATE, QD_OPEN_READ};
  for (int i = 0; i < 4; ++i) {
    ASSERT_EQ(PortOpen(port.ops, modes[i]), ST_OK);
    EXPECT_EQ(s.lastOpenMode(), hostModes[i]);
    ASSERT_EQ(PortClose(port.ops), ST_OK);
  }
  const uint16_t origins[] = {kFromStart, kFromCurrent, kFromEnd, 9};
  const uint32_t hostOrigins[] = {QD_SEEK_START, QD_SEEK_CURRENT, QD_SEEK_END, QD_SEEK_END};
  s.ClearLog();
  for (int i = 0; i < 4; ++i) {
    Status st = ST_CORRUPT;
    PortSeek(port.ops, origins[i], 0, &st);
    EXPECT_EQ(st, ST_OK);
    EXPECT_EQ(s.calls()[i].arg, hostOrigins[i]);
  }
}

TEST(StreamPort, HostErrorsBecomeAStreamStatusAndAreKept) {
  TestStream s(Counting(10));
  s.FailCall(Callback::Read, 1, 0x1234);
  StreamPort port;
  MakeStreamPort(s.stream(), &port);
  uint8_t buf[4];
  uint32_t count = 4;
  Status st = ST_OK;
  PortRead(port.ops, buf, &count, &st);
  EXPECT_EQ(st, ST_STREAM_FAILED);
  EXPECT_EQ(port.hostError, 0x1234u);
  // A later success does not forget the error.
  count = 4;
  PortRead(port.ops, buf, &count, &st);
  EXPECT_EQ(st, ST_OK);
  EXPECT_EQ(port.hostError, 0x1234u);
}

TEST(StreamPort, AHostThatNeverStoresTheErrorValueHasFailed) {
  TestStream s(Counting(10));
  s.LeaveErrorUntouched(true);
  StreamPort port;
  MakeStreamPort(s.stream(), &port);
  Status st = ST_OK;
  (void)port.ops.tell(port.ops.self, &st);
  EXPECT_EQ(st, ST_STREAM_FAILED);
  EXPECT_NE(port.hostError, 0u);
}

TEST(StreamPort, NullHostCallbacksFailInsteadOfBeingCalled) {
  TestStream s(Counting(10));
  s.SetNull(Callback::Write);
  s.SetNull(Callback::Open);
  StreamPort port;
  MakeStreamPort(s.stream(), &port);
  uint32_t count = 1;
  Status st = ST_OK;
  PortWrite(port.ops, "x", &count, &st);
  EXPECT_EQ(st, ST_STREAM_FAILED);
  EXPECT_EQ(PortOpen(port.ops, kPortRead), ST_STREAM_FAILED);
  EXPECT_EQ(s.TotalCalls(), 0);
}

TEST(StreamPort, SizeRestoresThePositionAndStopsAtTheFirstFailure) {
  TestStream s(Counting(300));
  StreamPort port;
  MakeStreamPort(s.stream(), &port);
  Status st = ST_OK;
  PortSeek(port.ops, kFromStart, 17, &st);
  ASSERT_EQ(st, ST_OK);
  EXPECT_EQ(PortSize(port.ops, &st), 300u);
  EXPECT_EQ(st, ST_OK);
  EXPECT_EQ(s.position(), 17u);

  const int before = s.TotalCalls();
  s.FailCall(Callback::Tell, s.CountOf(Callback::Tell) + 1, 9);
  EXPECT_EQ(PortSize(port.ops, &st), 0u);
  EXPECT_EQ(st, ST_STREAM_FAILED);
  EXPECT_EQ(s.TotalCalls(), before + 1);
}

TEST(DirectStream, SizeReportsOnlyTheFirstThreeStepsAsFatal) {
  TestStream s(Counting(50));
  uint32_t error = 1;
  EXPECT_EQ(StreamSize(s.stream(), &error), 50u);
  EXPECT_EQ(error, 0u);

  TestStream t(Counting(50));
  t.FailCall(Callback::Tell, 1, 7);
  EXPECT_EQ(StreamSize(t.stream(), &error), 0u);
  EXPECT_EQ(error, 7u);
  EXPECT_EQ(t.TotalCalls(), 1);

  TestStream u(Counting(50));
  u.FailCall(Callback::Seek, 2, 8);  // restoring the position
  EXPECT_EQ(StreamSize(u.stream(), &error), 50u);
  EXPECT_EQ(error, 8u);
}

TEST(DirectStream, ExactReadAssemblesPartialTransfers) {
  TestStream s(Counting(1000));
  s.LimitTransfers(7);
  std::vector<uint8_t> out(1000);
  uint32_t error = 1;
  StreamReadExact(s.stream(), out.data(), 1000, kErrorBase, &error);
  EXPECT_EQ(error, 0u);
  EXPECT_EQ(out, s.data());
  EXPECT_EQ(s.CountOf(Callback::Read), 143);
}

TEST(DirectStream, ExactTransfersOfNothingCallNoHost) {
  TestStream s;
  uint32_t error = 1;
  StreamReadExact(s.stream(), nullptr, 0, kErrorBase, &error);
  EXPECT_EQ(error, 0u);
  StreamWriteExact(s.stream(), nullptr, 0, kErrorBase, &error);
  EXPECT_EQ(error, 0u);
  EXPECT_EQ(s.TotalCalls(), 0);
}

TEST(DirectStream, ExactTransfersRefuseEmptyAndOverlongAnswers) {
  uint8_t buf[16];
  uint32_t error = 0;
  {
    TestStream s(Counting(8));  // the stream ends halfway
    StreamReadExact(s.stream(), buf, 16, kErrorBase, &error);
    EXPECT_EQ(error, QD_E_SHORT_READ);
  }
  {
    TestStream s(Counting(64));
    s.ReportCount(Callback::Read, 1, 17);  // claims more than asked
    StreamReadExact(s.stream(), buf, 16, kErrorBase, &error);
    EXPECT_EQ(error, QD_E_SHORT_READ);
    EXPECT_EQ(s.CountOf(Callback::Read), 1);
  }
  {
    TestStream s;
    s.ReportCount(Callback::Write, 2, 0);
    s.LimitTransfers(4);
    StreamWriteExact(s.stream(), buf, 16, kErrorBase, &error);
    EXPECT_EQ(error, QD_E_SHORT_WRITE);
    EXPECT_EQ(s.CountOf(Callback::Write), 2);
  }
  {
    TestStream s;
    s.ReportCount(Callback::Write, 1, 99);
    StreamWriteExact(s.stream(), buf, 16, kErrorBase, &error);
    EXPECT_EQ(error, QD_E_SHORT_WRITE);
  }
}

TEST(DirectStream, ExactTransfersHandBackTheHostsOwnError) {
  TestStream s(Counting(64));
  s.LimitTransfers(8);
  s.FailCall(Callback::Read, 3, 0xABCD);
  uint8_t buf[32];
  uint32_t error = 0;
  StreamReadExact(s.stream(), buf, 32, kErrorBase, &error);
  EXPECT_EQ(error, 0xABCDu);
  EXPECT_EQ(s.CountOf(Callback::Read), 3);
}

TEST(DirectStream, OpenAndCloseAreOptional) {
  TestStream s;
  s.SetNull(Callback::Open);
  s.SetNull(Callback::Close);
  uint32_t error = 5;
  StreamOpen(s.stream(), QD_OPEN_READ, &error);
  EXPECT_EQ(error, 0u);
  error = 5;
  StreamClose(s.stream(), &error);
  EXPECT_EQ(error, 0u);
  EXPECT_EQ(s.TotalCalls(), 0);
}

}  // namespace
}  // namespace qd
