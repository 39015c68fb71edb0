// Runs IFD query lists over built TIFF bytes with either walker, so that one
// test states the semantics both must share.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "frame/buffered_reader.h"
#include "frame/memory_block.h"
#include "support/test_stream.h"
#include "support/tiff_builder.h"
#include "tiffjpeg/ifd_walk.h"

namespace qdtest {

enum class Form { Memory, Stream };

struct WalkParam {
  Form form;
  Order order;
};

inline std::string WalkParamName(const testing::TestParamInfo<WalkParam>& info) {
  return std::string(info.param.form == Form::Memory ? "Memory" : "Stream") +
         (info.param.order == Order::II ? "II" : "MM");
}

inline const WalkParam kAllWalks[] = {
    {Form::Memory, Order::II}, {Form::Memory, Order::MM}, {Form::Stream, Order::II}, {Form::Stream, Order::MM}};

inline qd::ByteOrder ToByteOrder(Order o) { return o == Order::II ? qd::kLittleEndian : qd::kBigEndian; }

// A heap copy of exactly the fixture's length, so that ASan reports a read of
// even one byte past it.
class ExactBytes {
 public:
  explicit ExactBytes(const std::vector<uint8_t>& bytes)
      : size_(static_cast<uint32_t>(bytes.size())), data_(new uint8_t[bytes.size() + (bytes.empty() ? 1 : 0)]) {
    if (!bytes.empty()) std::memcpy(data_.get(), bytes.data(), bytes.size());
  }
  qd::ByteView view() const { return qd::ByteView(data_.get(), size_); }

 private:
  uint32_t size_;
  std::unique_ptr<uint8_t[]> data_;
};

struct WalkOutcome {
  uint32_t result;     // result code
  ptrdiff_t stoppedAt; // index of the request the cursor was left at
};

// Walks `list` from the IFD at `ifd` with the given bias: the memory walker
// over an exact copy of `bytes`, or the stream walker over a test stream
// holding them.
inline WalkOutcome RunWalk(Form form, Order order, const std::vector<uint8_t>& bytes, uint32_t ifd,
                           IfdQuery* list, int64_t bias = 0) {
  IfdQuery* cursor = list;
  qd::Status st = qd::ST_OK;
  if (form == Form::Memory) {
    ExactBytes exact(bytes);
    st = qd::tiff::WalkMemory(exact.view(), ifd, ToByteOrder(order), &cursor, bias);
  } else {
    TestStream stream(bytes);
    qd::StreamPort port;
    qd::MakeStreamPort(stream.stream(), &port);
    qd::BufferedReader reader;
    st = qd::ReaderOpen(port, qd::kProbeReaderCapacity, &reader);
    if (st == qd::ST_OK) {
      st = qd::tiff::WalkStream(&reader, ifd, ToByteOrder(order), &cursor, bias);
      EXPECT_EQ(qd::ReaderClose(&reader), qd::ST_OK);
    }
  }
  return {qd::ToResultCode(st), cursor - list};
}

// List entries.
inline IfdQuery Op(uint16_t op, uint16_t tag = 0) { return IfdQuery{op, tag, 0, 0, 0, 0, 0}; }
inline IfdQuery ReadInto(uint16_t tag, uint16_t type, void* into, uint32_t size) {
  return IfdQuery{IFDQ_READ, tag, type, 0, reinterpret_cast<uintptr_t>(into), size, 0};
}
// Allocate mode: `*slot` receives a library block.
inline IfdQuery ReadAlloc(uint16_t tag, uint16_t type, uint8_t** slot) {
  *slot = nullptr;
  return IfdQuery{IFDQ_READ, tag, type, 0, reinterpret_cast<uintptr_t>(slot), 0, 0};
}

inline std::vector<uint16_t> FoundFlags(const IfdQuery* list, size_t n) {
  std::vector<uint16_t> flags;
  for (size_t i = 0; i < n; ++i) flags.push_back(list[i].found);
  return flags;
}

// Host-order bytes of values, to compare with what a read stored.
template <typename T>
std::vector<uint8_t> HostBytes(std::initializer_list<T> values) {
  std::vector<uint8_t> out(values.size() * sizeof(T));
  size_t at = 0;
  for (T v : values) {
    std::memcpy(out.data() + at, &v, sizeof v);
    at += sizeof v;
  }
  return out;
}

}  // namespace qdtest
