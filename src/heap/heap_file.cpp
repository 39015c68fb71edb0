#include "heap/heap_file.h"

#include <cstring>

#include "frame/memory_block.h"

namespace qd::heap {

Status OpenHeapFile(const StreamPort& port, const char* subtype, HeapFile* file) {
  Status st = ST_OK;
  const uint32_t n = port.ops.size(port.ops.self, &st);
  if (st != ST_OK) return st;
  if (n < kFileHeaderSize) return ST_UNSUPPORTED;

  uint8_t header[kFileHeaderSize];
  st = PortReadAt(port.ops, 0, header, sizeof header);
  if (st != ST_OK) return st;
  ByteOrder order = kLittleEndian;
  if (!OrderFromMark(header, &order)) return ST_UNSUPPORTED;
  const uint32_t h = Get32(header + 2, order);
  if (h < kFileHeaderSize || h > n || std::memcmp(header + 6, "HEAP", 4) != 0) return ST_UNSUPPORTED;
  if (subtype != nullptr && std::memcmp(header + 10, subtype, 4) != 0) return ST_UNSUPPORTED;

  const uint32_t length = n - h;  // the root heap
  if (length < kMinHeapLength) return ST_UNSUPPORTED;
  uint8_t word[4];
  st = PortReadAt(port.ops, h + length - kTableOffsetSize, word, 4);
  if (st != ST_OK) return st;
  const uint32_t t = Get32(word, order);
  if (t > length - kMinHeapLength) return ST_UNSUPPORTED;

  st = PortReadAt(port.ops, h + t, word, kCountSize);
  if (st != ST_OK) return st;
  const uint16_t count = Get16(word, order);
  const uint64_t tableSize = uint64_t{count} * kRecordSize + kCountSize;
  // The table must end before the table offset; this also bounds the allocation.
  if (!FitsIn(t, tableSize + kTableOffsetSize, length)) return Corrupt();
  BlockOwner table(BlockAlloc(static_cast<uint32_t>(tableSize)));
  if (!table) return ST_NO_MEMORY;
  // The count is already here: only the records follow it.
  std::memcpy(table.get(), word, kCountSize);
  st = PortReadAt(port.ops, h + t + kCountSize, table.get() + kCountSize,
                  static_cast<uint32_t>(tableSize) - kCountSize);
  if (st != ST_OK) return st;

  HeapView view{table.get(), t, 0};
  st = SetTableOrder(&view, order, kLittleEndian, tableSize);
  if (st == ST_OK) st = ValidateTable(view, t);
  if (st != ST_OK) return st;

  *file = HeapFile{&port, n, h, Get32(header + 14, order), order, count, view, t};
  table.release();
  return ST_OK;
}

Status LoadRootRecords(const HeapFile& file, RootRequest* requests) {
  for (RootRequest* r = requests; r->type != 0; ++r) {
    r->found = 0;
    r->spare = 0;
    r->data = nullptr;
  }
  Status st = ST_OK;
  for (RootRequest* r = requests; r->type != 0 && st == ST_OK; ++r) {
    uint16_t index = 0;
    RecordInfo info{};
    st = FindRecord(file.root, 1, &r->type, 1, &index, &info);
    if (st == ST_NOT_FOUND) {
      st = ST_OK;
      continue;
    }
    if (st != ST_OK) break;
    r->found = 1;
    const uint64_t at = uint64_t{file.headerLength} + info.offset;
    if (!FitsIn(at, info.length, file.fileLength)) {
      st = Corrupt();
      break;
    }
    r->offset = static_cast<uint32_t>(at);
    r->length = info.length;
    if (r->load == 0) continue;
    r->data = BlockAlloc(info.length);
    if (r->data == nullptr) {
      st = ST_NO_MEMORY;
      break;
    }
    st = PortReadAt(file.port->ops, r->offset, r->data, r->length);
  }
  if (st != ST_OK) {
    for (RootRequest* r = requests; r->type != 0; ++r) {
      (void)BlockFree(r->data);
      r->data = nullptr;
    }
  }
  return st;
}

Status FindImageProperties(const StreamPort& port, bool load, HeapFile* file, RootRequest* found) {
  Status st = OpenHeapFile(port, "CCDR", file);
  if (st != ST_OK) return st;
  BlockOwner table(file->root.table);
  RootRequest requests[2] = {};
  requests[0].type = kTypeImageProperties;
  requests[0].load = load ? 1 : 0;
  st = LoadRootRecords(*file, requests);
  if (st != ST_OK) return st;
  if (requests[0].found == 0) return ST_UNSUPPORTED;
  *found = requests[0];
  return ST_OK;
}

Status ProbeHeapFile(const StreamPort& port, HeapObject* heap) {
  HeapFile file{};
  RootRequest properties{};
  const Status st = FindImageProperties(port, true, &file, &properties);
  if (st != ST_OK) return st;
  if (properties.data == nullptr) return ST_NO_MEMORY;

  HeapObject h{};
  h.block = properties.data;
  h.headerLength = 0;
  h.version = file.version;
  std::memcpy(h.type, "CCDR", 5);
  h.heap = properties.data;
  h.heapLength = properties.length;
  h.bigEndian = file.order == kBigEndian ? 1 : 0;
  *heap = h;
  return ST_OK;
}

}  // namespace qd::heap
