// The IFD walkers over arbitrary bytes: the memory walker (with and without a
// value bias) and the stream walker through a host stream, with one broad
// query list that reads every type, enters sub-IFDs and follows the chain.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "frame/byte_order.h"
#include "frame/memory_block.h"
#include "query_list.h"
#include "support/test_stream.h"
#include "tiffjpeg/ifd_walk.h"

namespace {

constexpr size_t kQueries = 24;

const QueryShape kShape[kQueries] = {
    {IFDQ_READ, 0x010F, 2, 0},   {IFDQ_READ, 0x0110, 2, 32},  {IFDQ_READ, 0x0112, 3, 2},
    {IFDQ_READ, 0x011A, 5, 8},   {IFDQ_LOCATE, 0x0201, 4, 0}, {IFDQ_ENTER, 0x8769, 0, 0},
    {IFDQ_READ, 0x829A, 5, 0},   {IFDQ_READ, 0x9201, 10, 8},  {IFDQ_READ, 0x9000, 7, 4},
    {IFDQ_READ, 0x927C, 7, 0},   {IFDQ_ENTER, 0xA005, 0, 0},  {IFDQ_READ, 0x0001, 2, 4},
    {IFDQ_READ, 0x0002, 7, 0},   {IFDQ_LEAVE, 0, 0, 0},       {IFDQ_READ, 0x9286, 9, 12},
    {IFDQ_LEAVE, 0, 0, 0},       {IFDQ_NEXT_IFD, 0, 0, 0},    {IFDQ_READ, 0x0201, 4, 4},
    {IFDQ_READ, 0x0202, 4, 0},   {IFDQ_READ, 0x0103, 3, 6},   {IFDQ_READ, 0x0100, 1, 3},
    {IFDQ_NEXT_IFD, 0, 0, 0},    {IFDQ_READ, 0x0100, 4, 0},   {IFDQ_END, 0, 0, 0},
};

// Runs one walk with a fresh list; the list releases what allocate-mode reads produced.
template <typename Run>
void WithList(Run run) {
  QueryList<kQueries> queries(kShape);
  IfdQuery* list = queries.list();
  IfdQuery* cursor = list;
  run(&cursor, list);
  if (cursor < list || cursor >= list + kQueries) std::abort();
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
