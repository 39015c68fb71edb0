// What the export sweep cannot reach: the bounds of byte views, the memory
// block's ownership checks, the buffered reader's seek and refill edges and
// the host-call rules of the stream port.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "frame/buffered_reader.h"
#include "frame/byte_order.h"
#include "frame/memory_block.h"
#include "frame/stream_port.h"
#include "frame/status.h"
#include "support/fault_sweep.h"
#include "support/test_stream.h"

namespace qd {
namespace {

using qdtest::Callback;
using qdtest::TestStream;

std::vector<uint8_t> Pattern(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
  return v;
}

TEST(ByteView, ReadsAndChildViewsStopAtTheEndWithoutWrapping) {
  const uint8_t bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  const ByteView v(bytes, 6);
  uint32_t u32 = 0;
  uint16_t u16 = 0;
  EXPECT_TRUE(v.U32(2, kLittleEndian, &u32));
  EXPECT_EQ(u32, 0x06050403u);
  EXPECT_FALSE(v.U32(3, kLittleEndian, &u32));
  EXPECT_TRUE(v.U16(4, kBigEndian, &u16));
  EXPECT_EQ(u16, 0x0506);
  EXPECT_FALSE(v.U16(0x100000000ull, kLittleEndian, &u16));
  EXPECT_FALSE(v.Contains(2, UINT64_MAX - 1));
  EXPECT_TRUE(v.Contains(6, 0));
  EXPECT_FALSE(v.Contains(7, 0));
  ByteView child;
  ASSERT_TRUE(v.Sub(2, 3, &child));
  uint8_t b = 0;
  EXPECT_TRUE(child.U8(2, &b));
  EXPECT_EQ(b, 5);
  EXPECT_FALSE(child.U8(3, &b));  // inside the parent, outside the child
  EXPECT_FALSE(v.Sub(3, 4, &child));
}

TEST(MemoryBlock, LengthAndReleaseRefuseWhatTheyDoNotOwn) {
  BlockOwner empty(BlockAllocZeroed(0)), fresh(BlockAlloc(3));
  ASSERT_TRUE(empty && fresh);
  EXPECT_EQ(BlockLength(empty.get()), 0u);
  EXPECT_EQ(BlockLength(fresh.get()), 3u);
  EXPECT_EQ(BlockFree(nullptr), ST_OK);
  uint8_t foreign[64];
  std::memset(foreign, 0x5C, sizeof foreign);
  EXPECT_EQ(BlockLength(foreign + 32), 0u);
  EXPECT_EQ(BlockFree(foreign + 32), ST_STREAM_FAILED);
  for (uint8_t b : foreign) ASSERT_EQ(b, 0x5C) << "a refused release must not touch memory";

  // A block whose marker was overwritten is left alone without complaint.
  const int64_t live = qdtest::LiveBlocks();
  uint8_t* p = BlockAlloc(8);
  ASSERT_NE(p, nullptr);
  PutLE16(2, p - kBlockPrefix);
  EXPECT_EQ(BlockFree(p), ST_OK);
  EXPECT_EQ(qdtest::LiveBlocks(), live + 1);
  PutLE16(1, p - kBlockPrefix);
  EXPECT_EQ(BlockFree(p), ST_OK);
  EXPECT_EQ(qdtest::LiveBlocks(), live);
}

TEST(ResultCode, DedicatedCodesAndTheirNeighbours) {
  const struct {
    uint16_t status;
    uint32_t code;
  } rows[] = {{0x0000, QD_OK},          {0x0022, QD_E_FAILED},      {0x6015, QD_E_NO_MEMORY},
              {0x6020, QD_E_INVALID_ARG}, {0x6022, QD_E_SIZE_MISMATCH}, {0x6044, QD_E_UNSUPPORTED},
              {0x6045, QD_E_CORRUPT},   {0x6046, QD_E_FAILED},      {0x6900, QD_E_FAILED}};
  for (const auto& r : rows) {
    EXPECT_EQ(ToResultCode(static_cast<Status>(r.status)), r.code) << std::hex << r.status;
  }
  uint16_t id = 0;
  EXPECT_EQ(QDParseGetRttIDLatest(nullptr), QD_E_INVALID_ARG);
  EXPECT_EQ(QDParseGetRttIDLatest(&id), QD_OK);
  EXPECT_EQ(id, 273);
}

class Reader : public testing::Test {
 protected:
  void Open(size_t size, uint32_t capacity) {
    stream_ = std::make_unique<TestStream>(Pattern(size));
    MakeStreamPort(stream_->stream(), &port_);
    ASSERT_EQ(ReaderOpen(port_, capacity, &reader_), ST_OK);
  }
  void TearDown() override {
    if (reader_.buffer != nullptr) EXPECT_EQ(ReaderClose(&reader_), ST_OK);
  }
  std::vector<uint8_t> Expect(uint32_t at, uint32_t n) const {
    return {stream_->data().begin() + at, stream_->data().begin() + at + n};
  }

  std::unique_ptr<TestStream> stream_;
  StreamPort port_;
  BufferedReader reader_;
};

TEST_F(Reader, StopsAtTheEndAndAtZeroAndRefusesUnknownOrigins) {
  Open(100, 16);
  EXPECT_EQ(ReaderSize(reader_), 100u);
  ASSERT_EQ(ReaderSeek(&reader_, 90, kReaderAbsolute), ST_OK);
  uint8_t out[11];
  EXPECT_EQ(ReaderRead(&reader_, 11, out), ST_PAST_END);
  EXPECT_EQ(ReaderTell(reader_), 90u);
  EXPECT_EQ(ReaderRead(&reader_, 10, out), ST_OK);
  EXPECT_EQ(ReaderRead(&reader_, 1, out), ST_PAST_END);
  ASSERT_EQ(ReaderSeek(&reader_, -1000, kReaderRelative), ST_OK);
  EXPECT_EQ(ReaderTell(reader_), 0u);
  EXPECT_EQ(ReaderSeek(&reader_, 0, 2), ST_BAD_ORIGIN);
  EXPECT_EQ(ReaderSeek(&reader_, int64_t{1} << 32, kReaderAbsolute), ST_PAST_END);
}

// A host that fails, moves nothing or claims more than asked leaves the
// position where it was; the next read recovers.
TEST_F(Reader, HostFaultsLeaveThePositionUnchanged) {
  Open(100, 64);
  uint8_t b[8];
  stream_->FailCall(Callback::Read, 1, 3);
  EXPECT_EQ(ReaderRead(&reader_, 8, b), ST_STREAM_FAILED);
  EXPECT_EQ(port_.hostError, 3u);
  stream_->ReportCount(Callback::Read, 2, 0);
  EXPECT_EQ(ReaderRead(&reader_, 8, b), ST_STREAM_FAILED);
  stream_->ReportCount(Callback::Read, 3, 1000);
  EXPECT_EQ(ReaderRead(&reader_, 8, b), ST_STREAM_FAILED);
  EXPECT_EQ(ReaderTell(reader_), 0u);
  EXPECT_EQ(ReaderRead(&reader_, 8, b), ST_OK);
  EXPECT_EQ(std::vector<uint8_t>(b, b + 8), Expect(0, 8));
}

// Random seeks and reads, across window edges and past capacity, agree with
// the stream's bytes, also from a host that hands them out in pieces.
TEST_F(Reader, AgreesWithTheStreamUnderRandomAccess) {
  Open(5000, 64);
  stream_->LimitTransfers(7);
  std::mt19937 rng(12345);
  std::vector<uint8_t> out(200);
  for (int i = 0; i < 3000; ++i) {
    const uint32_t at = rng() % 5001;
    const uint32_t n = rng() % 150;
    const int64_t offset = rng() % 2 == 0 ? int64_t{at} - ReaderTell(reader_) : at;
    ASSERT_EQ(ReaderSeek(&reader_, offset, offset == at ? kReaderAbsolute : kReaderRelative), ST_OK);
    const Status st = ReaderRead(&reader_, n, out.data());
    ASSERT_EQ(st, at + n > 5000 ? ST_PAST_END : ST_OK) << at << "+" << n;
    if (st != ST_OK) continue;
    ASSERT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + n), Expect(at, n)) << at << "+" << n;
    ASSERT_EQ(ReaderTell(reader_), at + n);
  }
}

// A host error, a success that never stores the error value, and a null
// callback all fail; the host's error is kept past a later success.
TEST(StreamPort, HostFailuresBecomeAStreamStatus) {
  TestStream s(Pattern(10)), untouched(Pattern(10)), null(Pattern(10));
  StreamPort p, u, n;
  MakeStreamPort(s.stream(), &p);
  MakeStreamPort(untouched.stream(), &u);
  MakeStreamPort(null.stream(), &n);
  s.FailCall(Callback::Read, 1, 0x1234);
  uint8_t buf[4];
  uint32_t count = 4;
  Status st = ST_OK;
  PortRead(p.ops, buf, &count, &st);
  EXPECT_EQ(st, ST_STREAM_FAILED);
  count = 4;
  PortRead(p.ops, buf, &count, &st);
  EXPECT_EQ(st, ST_OK);
  EXPECT_EQ(p.hostError, 0x1234u);

  untouched.LeaveErrorUntouched(true);
  (void)u.ops.tell(u.ops.self, &st);
  EXPECT_EQ(st, ST_STREAM_FAILED);

  null.SetNull(Callback::Read);
  null.SetNull(Callback::Open);
  PortRead(n.ops, buf, &count, &st);
  EXPECT_EQ(st, ST_STREAM_FAILED);
  EXPECT_EQ(PortOpen(n.ops, kPortRead), ST_STREAM_FAILED);
  EXPECT_EQ(null.TotalCalls(), 0);
}

// The direct host calls: a size query puts the position back; an exact
// transfer assembles pieces, refuses a host that moves nothing or more than
// asked with the library's own error, and hands a host error back as it is.
TEST(DirectStream, SizeAndExactTransfers) {
  TestStream s(Pattern(300));
  s.LimitTransfers(7);
  uint32_t error = 1;
  s.stream()->seek(s.stream()->context, QD_SEEK_START, 17, &error);
  EXPECT_EQ(StreamSize(s.stream(), &error), 300u);
  EXPECT_EQ(s.position(), 17u);
  std::vector<uint8_t> out(300);
  s.stream()->seek(s.stream()->context, QD_SEEK_START, 0, &error);
  StreamReadExact(s.stream(), out.data(), 300, kErrorBase, &error);
  EXPECT_EQ(error, 0u);
  EXPECT_EQ(out, s.data());

  const auto exact = [](TestStream& t, bool write) {
    uint8_t buf[16] = {};
    uint32_t error = 0;
    if (write) {
      StreamWriteExact(t.stream(), buf, 16, kErrorBase, &error);
    } else {
      StreamReadExact(t.stream(), buf, 16, kErrorBase, &error);
    }
    return error;
  };
  TestStream ends(Pattern(8)), overlong(Pattern(64)), failing(Pattern(64)), tooMuch;
  EXPECT_EQ(exact(ends, false), QD_E_SHORT_READ);
  overlong.ReportCount(Callback::Read, 1, 17);
  EXPECT_EQ(exact(overlong, false), QD_E_SHORT_READ);
  failing.FailCall(Callback::Read, 1, 0xABCD);
  EXPECT_EQ(exact(failing, false), 0xABCDu);
  tooMuch.ReportCount(Callback::Write, 1, 99);
  EXPECT_EQ(exact(tooMuch, true), QD_E_SHORT_WRITE);
}

}  // namespace
}  // namespace qd
