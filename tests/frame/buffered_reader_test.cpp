#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <vector>

#include "frame/buffered_reader.h"
#include "frame/memory_block.h"
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

TEST_F(Reader, ReadsUpToTheEndButNotOneBytePast) {
  Open(100, 16);
  EXPECT_EQ(ReaderSize(reader_), 100u);
  ASSERT_EQ(ReaderSeek(&reader_, 90, kReaderAbsolute), ST_OK);
  std::vector<uint8_t> out(11);
  EXPECT_EQ(ReaderRead(&reader_, 11, out.data()), ST_PAST_END);
  EXPECT_EQ(ReaderTell(reader_), 90u);
  EXPECT_EQ(ReaderRead(&reader_, 10, out.data()), ST_OK);
  out.resize(10);
  EXPECT_EQ(out, Expect(90, 10));
  EXPECT_EQ(ReaderTell(reader_), 100u);
  EXPECT_EQ(ReaderRead(&reader_, 0, out.data()), ST_OK);
  EXPECT_EQ(ReaderRead(&reader_, 1, out.data()), ST_PAST_END);
}

TEST_F(Reader, SeeksInsideTheWindowCallNoHost) {
  Open(100, 32);
  uint8_t b[4];
  ASSERT_EQ(ReaderRead(&reader_, 4, b), ST_OK);
  const int calls = stream_->TotalCalls();
  ASSERT_EQ(ReaderSeek(&reader_, 31, kReaderAbsolute), ST_OK);
  ASSERT_EQ(ReaderRead(&reader_, 1, b), ST_OK);
  EXPECT_EQ(b[0], stream_->data()[31]);
  ASSERT_EQ(ReaderSeek(&reader_, -30, kReaderRelative), ST_OK);
  ASSERT_EQ(ReaderRead(&reader_, 1, b), ST_OK);
  EXPECT_EQ(b[0], stream_->data()[2]);
  EXPECT_EQ(stream_->TotalCalls(), calls);
}

TEST_F(Reader, ReadsAboveCapacityBypassTheBuffer) {
  Open(200, 16);
  std::vector<uint8_t> out(50);
  ASSERT_EQ(ReaderSeek(&reader_, 100, kReaderAbsolute), ST_OK);
  ASSERT_EQ(ReaderRead(&reader_, 50, out.data()), ST_OK);
  EXPECT_EQ(out, Expect(100, 50));
  EXPECT_EQ(reader_.valid, 0u);
  EXPECT_EQ(ReaderTell(reader_), 150u);
  EXPECT_EQ(stream_->calls().back().arg, 50u) << "one host read of the whole request";
}

TEST_F(Reader, RelativeSeeksStopAtZeroAndUnknownOriginsAreRefused) {
  Open(40, 8);
  ASSERT_EQ(ReaderSeek(&reader_, 5, kReaderAbsolute), ST_OK);
  ASSERT_EQ(ReaderSeek(&reader_, -100, kReaderRelative), ST_OK);
  EXPECT_EQ(ReaderTell(reader_), 0u);
  EXPECT_EQ(ReaderSeek(&reader_, 0, 2), ST_BAD_ORIGIN);
  EXPECT_EQ(ReaderSeek(&reader_, int64_t{1} << 32, kReaderAbsolute), ST_PAST_END);
}

TEST_F(Reader, AHostThatDeliversLessThanItsLengthIsCaught) {
  Open(100, 64);
  stream_->ReportCount(Callback::Read, 1, 3);
  uint8_t b[8];
  EXPECT_EQ(ReaderRead(&reader_, 8, b), ST_PAST_END);
  EXPECT_LE(reader_.valid, reader_.capacity);
  stream_->ReportCount(Callback::Read, 2, 1000);  // and one that claims too much
  EXPECT_EQ(ReaderRead(&reader_, 8, b), ST_PAST_END);
  EXPECT_EQ(reader_.valid, 0u);
  EXPECT_EQ(ReaderRead(&reader_, 8, b), ST_OK);
  EXPECT_EQ(std::vector<uint8_t>(b, b + 8), Expect(0, 8));
}

TEST_F(Reader, HostFailuresAreReported) {
  Open(100, 16);
  stream_->FailCall(Callback::Read, 1, 3);
  uint8_t b[4];
  EXPECT_EQ(ReaderRead(&reader_, 4, b), ST_STREAM_FAILED);
  EXPECT_EQ(port_.hostError, 3u);
  EXPECT_EQ(ReaderTell(reader_), 0u);
  EXPECT_EQ(ReaderRead(&reader_, 4, b), ST_OK);
}

// Random seeks and reads, across window edges and past capacity, must always
// agree with the stream's bytes.
TEST_F(Reader, AgreesWithTheStreamUnderRandomAccess) {
  Open(5000, 64);
  std::mt19937 rng(12345);
  std::vector<uint8_t> out(200);
  for (int i = 0; i < 3000; ++i) {
    const uint32_t at = rng() % 5001;
    const uint32_t n = rng() % 150;
    if (rng() % 2 == 0) {
      ASSERT_EQ(ReaderSeek(&reader_, at, kReaderAbsolute), ST_OK);
    } else {
      const int64_t delta = int64_t{at} - ReaderTell(reader_);
      ASSERT_EQ(ReaderSeek(&reader_, delta, kReaderRelative), ST_OK);
    }
    const Status st = ReaderRead(&reader_, n, out.data());
    if (uint64_t{at} + n > 5000) {
      ASSERT_EQ(st, ST_PAST_END);
      ASSERT_EQ(ReaderTell(reader_), at);
      continue;
    }
    ASSERT_EQ(st, ST_OK) << at << "+" << n;
    ASSERT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + n), Expect(at, n)) << at << "+" << n;
    ASSERT_LE(reader_.cursor, reader_.valid);
    ASSERT_LE(reader_.valid, reader_.capacity);
  }
}

TEST(ReaderLifecycle, OpenFailuresLeaveNothingBehind) {
  TestStream s(Pattern(10));
  StreamPort port;
  MakeStreamPort(s.stream(), &port);
  BufferedReader reader;
  qdtest::SweepAllocationFailures(
      [&] {
        const Status st = ReaderOpen(port, 64, &reader);
        if (st == ST_OK) EXPECT_EQ(ReaderClose(&reader), ST_OK);
        return st == ST_OK ? QD_OK : ToResultCode(st);
      },
      {QD_E_FAILED},
      [&](const qdtest::SweepRun& run) {
        if (run.fired) EXPECT_EQ(reader.buffer, nullptr);
      });

  TestStream failing(Pattern(10));
  failing.FailCall(Callback::Tell, 1, 4);
  MakeStreamPort(failing.stream(), &port);
  EXPECT_EQ(ReaderOpen(port, 64, &reader), ST_STREAM_FAILED);
  EXPECT_EQ(reader.buffer, nullptr);
}

TEST(ReaderLifecycle, CloseRefusesABufferItDoesNotOwn) {
  TestStream s(Pattern(10));
  StreamPort port;
  MakeStreamPort(s.stream(), &port);
  BufferedReader reader;
  ASSERT_EQ(ReaderOpen(port, 16, &reader), ST_OK);
  uint8_t* own = reader.buffer;
  uint8_t foreign[64] = {};
  reader.buffer = foreign + 32;
  EXPECT_EQ(ReaderClose(&reader), ST_STREAM_FAILED);
  EXPECT_EQ(reader.buffer, nullptr);
  EXPECT_EQ(BlockFree(own), ST_OK);
}

}  // namespace
}  // namespace qd
