// The IFD walkers over arbitrary bytes: the memory walker (with and without a
// value bias) and the stream walker through a host stream, with one broad
// query list that reads every type, enters sub-IFDs and follows the chain.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "frame/byte_order.h"
#include "frame/memory_block.h"
#include "support/test_stream.h"
#include "tiffjpeg/ifd_walk.h"

namespace {

constexpr size_t kQueries = 24;

struct Query {
  uint16_t op, tag, type;
  uint32_t size;  // 0: allocate
};

const Query kShape[kQueries] = {
    {IFDQ_READ, 0x010F, 2, 0},   {IFDQ_READ, 0x0110, 2, 32},  {IFDQ_READ, 0x0112, 3, 2},
    {IFDQ_READ, 0x011A, 5, 8},   {IFDQ_LOCATE, 0x0201, 4, 0}, {IFDQ_ENTER, 0x8769, 0, 0},
    {IFDQ_READ, 0x829A, 5, 0},   {IFDQ_READ, 0x9201, 10, 8},  {IFDQ_READ, 0x9000, 7, 4},
    {IFDQ_READ, 0x927C, 7, 0},   {IFDQ_ENTER, 0xA005, 0, 0},  {IFDQ_READ, 0x0001, 2, 4},
    {IFDQ_READ, 0x0002, 7, 0},   {IFDQ_LEAVE, 0, 0, 0},       {IFDQ_READ, 0x9286, 9, 12},
    {IFDQ_LEAVE, 0, 0, 0},       {IFDQ_NEXT_IFD, 0, 0, 0},    {IFDQ_READ, 0x0201, 4, 4},
    {IFDQ_READ, 0x0202, 4, 0},   {IFDQ_READ, 0x0103, 3, 6},   {IFDQ_READ, 0x0100, 1, 3},
    {IFDQ_NEXT_IFD, 0, 0, 0},    {IFDQ_READ, 0x0100, 4, 0},   {IFDQ_END, 0, 0, 0},
};

// Runs one walk with a fresh list; frees whatever allocate-mode reads produced.
template <typename Run>
void WithList(Run run) {
  IfdQuery list[kQueries] = {};
  static uint8_t buffers[64 * kQueries];
  void* allocated[kQueries] = {};
  for (size_t i = 0; i < kQueries; ++i) {
    list[i].op = kShape[i].op;
    list[i].tag = kShape[i].tag;
    list[i].type = kShape[i].type;
    list[i].size = kShape[i].size;
    list[i].data = kShape[i].size != 0 ? reinterpret_cast<uintptr_t>(buffers + 64 * i)
                                       : reinterpret_cast<uintptr_t>(&allocated[i]);
  }
  IfdQuery* cursor = list;
  run(&cursor, list);
  if (cursor < list || cursor >= list + kQueries) std::abort();
  for (size_t i = 0; i < kQueries; ++i) {
    if (list[i].op == IFDQ_READ && kShape[i].size == 0 && allocated[i] != nullptr &&
        qd::BlockFree(allocated[i]) != qd::ST_OK) {
      std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8 || size > (1u << 20)) return 0;
  // Exactly sized, so any read past the block is caught.
  std::vector<uint8_t> bytes(data, data + size);
  const qd::ByteView block(bytes.data(), static_cast<uint32_t>(size));
  qd::ByteOrder order = (data[0] & 1) != 0 ? qd::kBigEndian : qd::kLittleEndian;
  (void)qd::OrderFromMark(data, &order);
  const uint32_t ifd0 = qd::Get32(data + 4, order);
  const uint32_t bias = data[1];

  for (uint32_t b : {0u, bias}) {
    WithList([&](IfdQuery** cursor, IfdQuery*) {
      (void)qd::tiff::WalkMemory(block, ifd0, order, cursor, b);
    });
  }
  WithList([&](IfdQuery**, IfdQuery* list) {
    qdtest::TestStream stream(bytes);
    (void)qd::tiff::QueryStream(stream.stream(), ifd0, order, list);
  });
  if (std::memcmp(bytes.data(), data, size) != 0) std::abort();  // reading changes nothing
  return 0;
}
