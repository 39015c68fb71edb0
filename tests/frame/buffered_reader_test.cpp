#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "frame/buffered_reader.h"
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

TEST_F(Reader, StopsAtTheEndAndAtZeroAndRefusesUnknownOrigins) {
  Open(100, 16);
  EXPECT_EQ(ReaderSize(reader_), 100u);
  ASSERT_EQ(ReaderSeek(&reader_, 90, kReaderAbsolute), ST_OK);
  uint8_t out[11];
  EXPECT_EQ(ReaderRead(&reader_, 11, out), ST_PAST_END);
  EXPECT_EQ(ReaderTell(reader_), 90u);
  EXPECT_EQ(ReaderRead(&reader_, 10, out), ST_OK);
  EXPECT_EQ(ReaderRead(&reader_, 0, out), ST_OK);
  EXPECT_EQ(ReaderRead(&reader_, 1, out), ST_PAST_END);
  ASSERT_EQ(ReaderSeek(&reader_, -1000, kReaderRelative), ST_OK);
  EXPECT_EQ(ReaderTell(reader_), 0u);
  EXPECT_EQ(ReaderSeek(&reader_, 0, 2), ST_BAD_ORIGIN);
  EXPECT_EQ(ReaderSeek(&reader_, int64_t{1} << 32, kReaderAbsolute), ST_PAST_END);
}

// A host that fails, stops before the length it promised or claims more than
// asked leaves the position where it was; the next read recovers.
TEST_F(Reader, HostFaultsLeaveThePositionUnchanged) {
  Open(100, 64);
  uint8_t b[8];
  stream_->FailCall(Callback::Read, 1, 3);
  EXPECT_EQ(ReaderRead(&reader_, 8, b), ST_STREAM_FAILED);
  EXPECT_EQ(port_.hostError, 3u);
  stream_->ReportCount(Callback::Read, 2, 0);
  EXPECT_EQ(ReaderRead(&reader_, 8, b), ST_STREAM_FAILED);
  EXPECT_LE(reader_.valid, reader_.capacity);
  stream_->ReportCount(Callback::Read, 3, 1000);
  EXPECT_EQ(ReaderRead(&reader_, 8, b), ST_STREAM_FAILED);
  EXPECT_EQ(ReaderTell(reader_), 0u);
  EXPECT_EQ(ReaderRead(&reader_, 8, b), ST_OK);
  EXPECT_EQ(std::vector<uint8_t>(b, b + 8), Expect(0, 8));
}

// Random seeks and reads, across window edges and past capacity, must always
// agree with the stream's bytes, also from a host that hands them out in pieces.
TEST_F(Reader, AgreesWithTheStreamUnderRandomAccess) {
  Open(5000, 64);
  stream_->LimitTransfers(7);
  std::mt19937 rng(12345);
  std::vector<uint8_t> out(200);
  for (int i = 0; i < 3000; ++i) {
    const uint32_t at = rng() % 5001;
    const uint32_t n = rng() % 150;
    if (rng() % 2 == 0) {
      ASSERT_EQ(ReaderSeek(&reader_, at, kReaderAbsolute), ST_OK);
    } else {
      ASSERT_EQ(ReaderSeek(&reader_, int64_t{at} - ReaderTell(reader_), kReaderRelative), ST_OK);
    }
    const Status st = ReaderRead(&reader_, n, out.data());
    if (uint64_t{at} + n > 5000) {
      ASSERT_EQ(st, ST_PAST_END);
      ASSERT_EQ(ReaderTell(reader_), at);
      continue;
    }
    ASSERT_EQ(st, ST_OK) << at << "+" << n;
    ASSERT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + n), Expect(at, n)) << at << "+" << n;
    ASSERT_EQ(ReaderTell(reader_), at + n);
    ASSERT_LE(reader_.cursor, reader_.valid);
    ASSERT_LE(reader_.valid, reader_.capacity);
  }
}

}  // namespace
}  // namespace qd
