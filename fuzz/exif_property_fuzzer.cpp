// qdParseExifProperty and the maker-note and locate queries over an arbitrary
// TIFF block, with one broad query list. Reading never changes the block, and
// located values lie inside it.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "frame/byte_order.h"
#include "frame/memory_block.h"
#include "query_list.h"
#include "tiffjpeg/exif_query.h"

namespace {

const QueryShape kShape[] = {
    {IFDQ_READ, 0x010F, 2, 64},  {IFDQ_READ, 0x0110, 2, 0},    {IFDQ_READ, 0x0112, 3, 2},
    {IFDQ_READ, 0x011A, 5, 8},   {IFDQ_READ, 0x0132, 2, 20},   {IFDQ_ENTER, 0x8769, 0, 0},
    {IFDQ_READ, 0x829A, 5, 8},   {IFDQ_READ, 0x829D, 5, 0},    {IFDQ_READ, 0x8827, 3, 2},
    {IFDQ_READ, 0x9000, 7, 4},   {IFDQ_READ, 0x9003, 2, 20},   {IFDQ_READ, 0x9201, 10, 8},
    {IFDQ_LOCATE, 0x927C, 7, 0}, {IFDQ_READ, 0x9286, 7, 0},    {IFDQ_ENTER, 0xA005, 0, 0},
    {IFDQ_READ, 0x0001, 2, 4},   {IFDQ_LEAVE, 0, 0, 0},        {IFDQ_READ, 0xA002, 4, 4},
    {IFDQ_LEAVE, 0, 0, 0},       {IFDQ_NEXT_IFD, 0, 0, 0},     {IFDQ_READ, 0x0201, 4, 4},
    {IFDQ_READ, 0x0202, 4, 4},   {IFDQ_READ, 0x0103, 3, 0},    {IFDQ_END, 0, 0, 0},
};
constexpr size_t kQueries = sizeof kShape / sizeof kShape[0];

void Run(TiffBlockInfo block, qd::tiff::ReadMode mode, uint32_t mnOffset, uint32_t mnSize) {
  QueryList<kQueries> queries(kShape);
  (void)qd::tiff::QueryMakerNote(&block, queries.list(), mnOffset, mnSize, mode);
  if (mode != qd::tiff::ReadMode::kLocate) return;
  for (size_t i = 0; i < kQueries; ++i) {
    if (queries[i].op == IFDQ_READ && queries[i].found != 0) {
      const auto* p = reinterpret_cast<const uint8_t*>(queries[i].data);
      if (p < block.tiff || p + queries[i].size > block.tiff + block.tiffSize) std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8 || size > (1u << 20)) return 0;
  std::vector<uint8_t> bytes(data + 8, data + size);
  TiffBlockInfo block{};
  block.tiff = bytes.data();
  block.tiffSize = static_cast<uint32_t>(bytes.size());
  Run(block, qd::tiff::ReadMode::kCopy, 0, 0);
  (void)qdParseExifProperty(&block, nullptr);
  Run(block, qd::tiff::ReadMode::kLocate, 0, 0);
  // The first 8 bytes place a maker note somewhere in the block.
  TiffBlockInfo note = block;
  note.ifdOffset = qd::GetLE32(data);
  Run(note, qd::tiff::ReadMode::kCopy, note.ifdOffset, qd::GetLE32(data + 4));
  if (!bytes.empty() && std::memcmp(bytes.data(), data + 8, bytes.size()) != 0) std::abort();
  return 0;
}
