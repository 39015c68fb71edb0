// qdParseMergePropertiesIntoHeapObject with a record entry list and a source
// heap taken from the fuzzer's bytes. Whatever they are, the source stays as
// it was, a merged heap walks cleanly where the source did, and every
// top-level record of the source that the list does not name comes out byte
// for byte.
//
// Input: flags (bit 0 big-endian, bit 1 no source), the entry count n, n
// entries of 4 bytes (type, found, data size), then the source heap.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "frame/byte_order.h"
#include "frame/memory_block.h"
#include "qdparse.h"

namespace {

constexpr size_t kMaxEntries = 48;
uint8_t gData[256];  // what present entries carry

bool IsNested(uint16_t type) {
  const uint16_t kind = type & 0x3800;
  return kind == 0x2800 || kind == 0x3000;
}

// A list as the merge expects it: every nested list ended; sizes within gData.
std::vector<RecordEntry> MakeList(const uint8_t* p, size_t n) {
  std::vector<RecordEntry> list;
  int depth = 1;
  for (size_t i = 0; i < n && depth > 0; ++i, p += 4) {
    RecordEntry e{};
    e.type = static_cast<uint16_t>(p[0] | (p[1] << 8));
    e.found = p[2] & 1;
    e.size = p[3];
    e.pointer = gData;
    list.push_back(e);
    if (e.type == 0) --depth;
    if (IsNested(e.type)) ++depth;
  }
  for (; depth > 0; --depth) list.push_back(RecordEntry{});
  return list;
}

// The stored bytes of the first top-level record of `type`: its 8 bytes when
// it keeps its data in the record, else its data-area block.
bool RecordBytes(const HeapObject& h, uint16_t type, const uint8_t** data, uint32_t* size) {
  const qd::ByteOrder order = h.bigEndian != 0 ? qd::kBigEndian : qd::kLittleEndian;
  const uint32_t t = qd::Get32(h.heap + h.heapLength - 4, order);
  const uint16_t count = qd::Get16(h.heap + t, order);
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* r = h.heap + t + 2 + 10 * i;
    if (((qd::Get16(r, order) ^ type) & 0x3FFF) != 0) continue;
    const bool inRecord = (qd::Get16(r, order) & 0x4000) != 0;
    *data = inRecord ? r + 2 : h.heap + qd::Get32(r + 6, order);
    *size = inRecord ? 8 : qd::Get32(r + 2, order);
    return true;
  }
  return false;
}

bool NamedByList(const std::vector<RecordEntry>& list, uint16_t type) {
  for (size_t i = 0; i < list.size() && list[i].type != 0;) {
    if (list[i].found != 0 && ((list[i].type ^ type) & 0x3FFF) == 0) return true;
    if (!IsNested(list[i].type)) {
      ++i;
      continue;
    }
    int depth = 1;  // past the nested list
    for (++i; i < list.size() && depth > 0; ++i) {
      if (list[i].type == 0) --depth;
      else if (IsNested(list[i].type)) ++depth;
    }
  }
  return false;
}

void CheckUnnamedRecords(const HeapObject& source, const HeapObject& merged, const std::vector<RecordEntry>& list) {
  const qd::ByteOrder order = source.bigEndian != 0 ? qd::kBigEndian : qd::kLittleEndian;
  const uint32_t t = qd::Get32(source.heap + source.heapLength - 4, order);
  const uint16_t count = qd::Get16(source.heap + t, order);
  for (uint32_t i = 0; i < count; ++i) {
    const uint16_t type = qd::Get16(source.heap + t + 2 + 10 * i, order) & 0x3FFF;
    if (type <= 1 || NamedByList(list, type)) continue;  // unused and free slots go
    const uint8_t *was = nullptr, *now = nullptr;
    uint32_t wasSize = 0, nowSize = 0;
    (void)RecordBytes(source, type, &was, &wasSize);
    if (!RecordBytes(merged, type, &now, &nowSize) || nowSize != wasSize) std::abort();
    if (wasSize != 0 && std::memcmp(was, now, wasSize) != 0) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > (1u << 16)) return 0;
  const bool big = (data[0] & 1) != 0, noSource = (data[0] & 2) != 0;
  const size_t n = data[1] % kMaxEntries;
  if (size < 2 + 4 * n) return 0;
  for (size_t i = 0; i < sizeof gData; ++i) gData[i] = static_cast<uint8_t>(i * 7 + 1);
  const std::vector<RecordEntry> list = MakeList(data + 2, n);
  const std::vector<uint8_t> heap(data + 2 + 4 * n, data + size);
  std::vector<uint8_t> copy = heap;

  HeapObject source{};
  source.heap = copy.data();
  source.heapLength = static_cast<uint32_t>(copy.size());
  source.bigEndian = big ? 1 : 0;
  source.version = 0x00010006;
  HeapObject out{};
  const uint32_t result = qdParseMergePropertiesIntoHeapObject(noSource ? nullptr : &source, list.data(), &out);
  if (copy != heap) std::abort();  // the source is never changed
  if (result != QD_OK) {
    if (out.block != nullptr) std::abort();
    return 0;
  }
  if (qd::BlockLength(out.block) != out.heapLength + 26 || out.heap != out.block + 26) std::abort();
  // Records the list does not name are copied unread, so the merged heap
  // walks cleanly wherever the source did.
  std::vector<RecordEntry> again = list;
  RecordEntry* cursor = again.data();
  const bool sourceWalks = noSource || _GetHeapRecordEntryPtr(source, &cursor) == 0;
  again = list;
  cursor = again.data();
  if (sourceWalks && _GetHeapRecordEntryPtr(out, &cursor) != 0) std::abort();
  if (!noSource) CheckUnnamedRecords(source, out, list);
  (void)qdParseFreeHeapObject(out);
  return 0;
}
