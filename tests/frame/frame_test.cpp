// What the export sweep cannot reach: the bounds of byte views, the memory
// block's ownership checks, the buffered reader's seek and refill edges, the
// host-call rules of the stream port and the local-time conversion.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "frame/buffered_reader.h"
#include "frame/byte_order.h"
#include "frame/fault.h"
#include "frame/local_time.h"
#include "frame/memory_block.h"
#include "frame/stream_port.h"
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

// A reader over a port onto a stream of `size` pattern bytes.
struct Reading {
  Reading(size_t size, uint32_t capacity) : stream(Pattern(size)) {
    MakeStreamPort(stream.stream(), &port);
    EXPECT_EQ(ReaderOpen(port, capacity, &reader), ST_OK);
  }
  ~Reading() { EXPECT_EQ(ReaderClose(&reader), ST_OK); }
  std::vector<uint8_t> Expect(uint32_t at, uint32_t n) const {
    return {stream.data().begin() + at, stream.data().begin() + at + n};
  }

  TestStream stream;
  StreamPort port;
  BufferedReader reader;
};

TEST(Reader, StopsAtTheEndAndAtZeroAndRefusesUnknownOrigins) {
  Reading r(100, 16);
  BufferedReader* reader = &r.reader;
  EXPECT_EQ(ReaderSize(*reader), 100u);
  ASSERT_EQ(ReaderSeek(reader, 90, kReaderAbsolute), ST_OK);
  uint8_t out[11];
  EXPECT_EQ(ReaderRead(reader, 11, out), ST_PAST_END);
  EXPECT_EQ(ReaderTell(*reader), 90u);
  EXPECT_EQ(ReaderRead(reader, 10, out), ST_OK);
  EXPECT_EQ(ReaderRead(reader, 1, out), ST_PAST_END);
  ASSERT_EQ(ReaderSeek(reader, -1000, kReaderRelative), ST_OK);
  EXPECT_EQ(ReaderTell(*reader), 0u);
  EXPECT_EQ(ReaderSeek(reader, 0, 2), ST_BAD_ORIGIN);
  EXPECT_EQ(ReaderSeek(reader, int64_t{1} << 32, kReaderAbsolute), ST_PAST_END);
}

// A host that fails, moves nothing or claims more than asked leaves the
// position where it was; the next read recovers.
TEST(Reader, HostFaultsLeaveThePositionUnchanged) {
  Reading r(100, 64);
  BufferedReader* reader = &r.reader;
  uint8_t b[8];
  r.stream.FailCall(Callback::Read, 1, 3);
  EXPECT_EQ(ReaderRead(reader, 8, b), ST_STREAM_FAILED);
  EXPECT_EQ(r.port.hostError, 3u);
  r.stream.ReportCount(Callback::Read, 2, 0);
  EXPECT_EQ(ReaderRead(reader, 8, b), ST_STREAM_FAILED);
  r.stream.ReportCount(Callback::Read, 3, 1000);
  EXPECT_EQ(ReaderRead(reader, 8, b), ST_STREAM_FAILED);
  EXPECT_EQ(ReaderTell(*reader), 0u);
  EXPECT_EQ(ReaderRead(reader, 8, b), ST_OK);
  EXPECT_EQ(std::vector<uint8_t>(b, b + 8), r.Expect(0, 8));
  // A reader that cannot get its buffer says so with its own status (a plain failure to exports).
  BufferedReader other{};
  qd::fault::FailAllocation(1);
  EXPECT_EQ(ReaderOpen(r.port, 64, &other), ST_READER_NO_MEMORY);
  qd::fault::FailAllocation(0);
}

// Random seeks and reads, across window edges and past capacity, agree with
// the stream's bytes, also from a host that hands them out in pieces, and so
// does a reader over the same bytes in memory.
TEST(Reader, AgreesWithTheStreamUnderRandomAccess) {
  Reading r(5000, 64);
  r.stream.LimitTransfers(7);
  BufferedReader memory;
  ReaderOpenMemory(r.stream.data().data(), 5000, &memory);
  std::mt19937 rng(12345);
  std::vector<uint8_t> out(200);
  for (int i = 0; i < 6000; ++i) {
    BufferedReader* reader = i % 2 == 0 ? &r.reader : &memory;
    const uint32_t at = rng() % 5001;
    const uint32_t n = rng() % 150;
    if (rng() % 2 == 0) {
      ASSERT_EQ(ReaderSeek(reader, at, kReaderAbsolute), ST_OK);
    } else {
      ASSERT_EQ(ReaderSeek(reader, int64_t{at} - ReaderTell(*reader), kReaderRelative), ST_OK);
    }
    const Status st = ReaderRead(reader, n, out.data());
    ASSERT_EQ(st, at + n > 5000 ? ST_PAST_END : ST_OK) << at << "+" << n;
    if (st != ST_OK) continue;
    ASSERT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + n), r.Expect(at, n)) << at << "+" << n;
    ASSERT_EQ(ReaderTell(*reader), at + n);
  }
}

// A success that never stores the error value and a missing callback both
// fail; a host error is kept past a later success (the sweep sees the rest).
TEST(StreamPort, UntouchedErrorsAndMissingCallbacksFail) {
  TestStream s(Pattern(10));
  StreamPort p;
  MakeStreamPort(s.stream(), &p);
  s.FailCall(Callback::Read, 1, 0x1234);
  uint8_t buf[4];
  uint32_t count = 4;
  Status st = ST_OK;
  PortRead(p.ops, buf, &count, &st);
  PortRead(p.ops, buf, &count, &st);
  EXPECT_EQ(st, ST_OK);
  EXPECT_EQ(p.hostError, 0x1234u);
  s.LeaveErrorUntouched(true);
  (void)p.ops.tell(p.ops.self, &st);
  EXPECT_EQ(st, ST_STREAM_FAILED);
  s.SetNull(Callback::Read);
  s.SetNull(Callback::Open);
  PortRead(p.ops, buf, &count, &st);
  EXPECT_EQ(st, ST_STREAM_FAILED);
  EXPECT_EQ(PortOpen(p.ops, kPortRead), ST_STREAM_FAILED);
  EXPECT_EQ(s.TotalCalls(), 3);
  // A host that claims more than it was asked for has not delivered.
  TestStream claims(Pattern(10));
  MakeStreamPort(claims.stream(), &p);
  claims.ReportCount(Callback::Read, 1, 5);
  EXPECT_EQ(PortReadAt(p.ops, 0, buf, 4), ST_PAST_END);
}

// The direct host calls: a size query puts the position back; an exact read
// assembles pieces and refuses a host that claims more than asked.
TEST(DirectStream, SizeAndExactReads) {
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
  s.ReportCount(Callback::Read, s.CountOf(Callback::Read) + 1, 17);
  StreamReadExact(s.stream(), out.data(), 16, kErrorBase, &error);
  EXPECT_EQ(error, QD_E_SHORT_READ);
}

// Against mktime in zones north and south, a half-hour one, UTC and the
// system's (TZ unset): every quarter hour of the days around each change of
// 2021 and a spread of fields over 1970-2037, out-of-range ones among them,
// read as the zone decides and as standard time. mktime answers a repeated hour by the offset its
// previous call found, so it first converts a time of the day before.
TEST(LocalTime, AnswersAsMktime) {
  const char* saved = std::getenv("TZ");
  const std::string restore = saved != nullptr ? saved : "";
  struct Zone {
    const char* tz;  // null: unset
    int changes;     // in 2021; -1: whatever the system's zone has
  };
  const Zone kZones[] = {{"Europe/Berlin", 2}, {"America/New_York", 2}, {"Australia/Sydney", 2},
                         {"Asia/Kolkata", 0},  {"UTC", 0},              {nullptr, -1}};
  std::mt19937 rng(2021);
  const auto pick = [&rng](int lo, int hi) { return lo + static_cast<int>(rng() % (hi - lo + 1)); };
  for (const Zone& zone : kZones) {
    zone.tz != nullptr ? setenv("TZ", zone.tz, 1) : unsetenv("TZ");
    tzset();
    const char* name = zone.tz != nullptr ? zone.tz : "(unset)";
    std::vector<struct tm> cases;
    int changes = 0;
    struct tm prior {};
    for (time_t day = 1609459200; day < 1609459200 + 365 * 86400; day += 86400) {  // 2021
      struct tm now {};
      ASSERT_TRUE(localtime_r(&day, &now));
      if (day > 1609459200 && now.tm_gmtoff != prior.tm_gmtoff) {
        ++changes;
        for (int k = 0; k < 3 * 96; ++k) {
          struct tm f {};
          f.tm_year = now.tm_year, f.tm_mon = now.tm_mon, f.tm_mday = now.tm_mday - 1 + k / 96;
          f.tm_hour = k % 96 / 4, f.tm_min = k % 4 * 15;
          cases.push_back(f);
        }
      }
      prior = now;
    }
    if (zone.changes >= 0) EXPECT_EQ(changes, zone.changes) << name;
    for (int i = 0; i < 400; ++i) {
      struct tm f {};
      f.tm_year = pick(70, 137), f.tm_mon = pick(-1, 14), f.tm_mday = pick(0, 40);
      f.tm_hour = pick(0, 30), f.tm_min = pick(0, 70), f.tm_sec = pick(-1, 99);
      cases.push_back(f);
    }
    for (struct tm f : cases) {
      for (f.tm_isdst = -1; f.tm_isdst <= 0; ++f.tm_isdst) {
        struct tm copy = f;
        time_t before = timegm(&copy) - 86400;
        struct tm primer {};
        ASSERT_TRUE(localtime_r(&before, &primer));
        (void)mktime(&primer);
        copy = f;
        const time_t expected = mktime(&copy);
        ASSERT_EQ(LocalFieldsToTime(f), int64_t{expected})
            << name << " " << f.tm_year + 1900 << "-" << f.tm_mon + 1 << "-" << f.tm_mday << " " << f.tm_hour
            << ":" << f.tm_min << ":" << f.tm_sec << " isdst " << f.tm_isdst;
        // Past a 32-bit time_t the clock value built with timegm is no time.
        if (expected == -1) continue;
        if (f.tm_sec >= 0 && f.tm_sec <= 59) ASSERT_EQ(LocalClockToTime(before + 86400, f.tm_isdst), int64_t{expected});
        int32_t offset = 0;
        bool summer = false;
        ASSERT_TRUE(LocalOffsetAt(expected, &offset, &summer));
        ASSERT_EQ(offset, copy.tm_gmtoff) << name << " at " << expected;
        ASSERT_EQ(summer, copy.tm_isdst > 0) << name << " at " << expected;
      }
    }
  }
  saved != nullptr ? setenv("TZ", restore.c_str(), 1) : unsetenv("TZ");
  tzset();
}

}  // namespace
}  // namespace qd
