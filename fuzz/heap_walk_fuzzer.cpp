// The heap walks over arbitrary bytes: _GetHeapRecordEntryPtr and
// qdParseHeapObject with a fixed nested request list. Whatever the bytes, a
// walk must leave the heap exactly as it found it and free what it allocated.
#include <cstdlib>
#include <cstring>

#include "frame/memory_block.h"
#include "qdparse.h"

namespace {

constexpr size_t kListLength = 22;

// Every record kind, nesting three deep, in-buffer and allocate requests.
void FillList(RecordEntry* list, uint8_t* buffers, void** allocated) {
  const struct {
    uint16_t type;
    uint32_t size;  // 0: allocate into allocated[i]
  } shape[kListLength] = {
      {0x1803, 8},  {0x1810, 28}, {0x0805, 16}, {0x0001, 0},  // free space, allocate mode
      {0x2804, 0},  {0x0815, 0},  {0x0000, 0},                // nested heap and its end
      {0x2807, 0},  {0x0810, 5},  {0x3004, 0},  {0x080B, 0}, {0x180B, 3}, {0x0000, 0},
      {0x080A, 64}, {0x0000, 0},  {0x300B, 0},  {0x102A, 0}, {0x102D, 92}, {0x2001, 0},
      {0x0000, 0},  {0x1029, 7},  {0x0000, 0},
  };
  for (size_t i = 0; i < kListLength; ++i) {
    list[i].type = shape[i].type;
    list[i].found = 1;
    list[i].size = shape[i].size;
    list[i].pointer = shape[i].size != 0 ? static_cast<void*>(buffers + 128 * i)
                                         : static_cast<void*>(&allocated[i]);
    allocated[i] = nullptr;
  }
}

void Walk(const HeapObject& h, bool copy) {
  RecordEntry list[kListLength + 1] = {};
  static uint8_t buffers[128 * kListLength];
  void* allocated[kListLength];
  FillList(list, buffers, allocated);
  RecordEntry* cursor = list;
  if (copy) {
    (void)qdParseHeapObject(h, &cursor);
  } else {
    (void)_GetHeapRecordEntryPtr(h, &cursor);
  }
  if (cursor < list || cursor > list + kListLength) std::abort();
  for (void* p : allocated) {
    if (copy && p != nullptr && qd::BlockFree(p) != qd::ST_OK) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > (1u << 20)) return 0;
  const uint32_t length = static_cast<uint32_t>(size - 1);
  uint8_t* block = qd::BlockAlloc(length);
  if (block == nullptr) return 0;
  std::memcpy(block, data + 1, length);

  HeapObject h{};
  h.block = block;
  h.heap = block;
  h.heapLength = length;
  h.bigEndian = data[0] & 1;
  std::memcpy(h.type, "CCDR", 5);

  Walk(h, false);
  if (std::memcmp(block, data + 1, length) != 0) std::abort();  // tables restored
  Walk(h, true);
  if (std::memcmp(block, data + 1, length) != 0) std::abort();
  (void)qdParseFreeHeapObject(h);
  return 0;
}
