#include "heapobj/heap_merge.h"

#include <cstring>
#include <utility>

#include "frame/byte_order.h"
#include "frame/memory_block.h"
#include "format/heap_format.h"
#include "heap/heap_table.h"
#include "heap/record_walk.h"

namespace qd::heapobj {
namespace {

using heap::HeapView;
using heap::RecordInfo;

// The caller's list sets the nesting; this bounds the recursion all the same.
constexpr int kMaxNesting = 64;
constexpr uint64_t kMaxRecords = 0xFFFF;  // a table's count is 16-bit
constexpr uint32_t kNewHeapVersion = 0x00010002;
constexpr char kMergedSubtype[] = "JPGM";

struct Extent {
  uint64_t data = 0;  // bytes of the data area
  uint64_t records = 0;
};

uint64_t HeapBytes(const Extent& e) {
  return e.data + heap::kRecordSize * e.records + heap::kCountSize + heap::kTableOffsetSize;
}

// Data-area bytes for n bytes of a kind: whole 32-bit values for kind 0x1800,
// whole 16-bit values otherwise; none when they fit in the record itself.
uint64_t DataAreaSize(uint64_t n, uint16_t kind) {
  const uint64_t unit = kind == heap::kKindU32 ? 4 : 2;
  const uint64_t rounded = (n + unit - 1) / unit * unit;
  return rounded <= heap::kInRecordDataSize ? 0 : rounded;
}

// Unused and free-space slots are the table's own; they hold no property.
bool IsRecordType(uint16_t type) {
  const uint16_t match = type & heap::kMatchMask;
  return match != heap::kTypeUnused && match != heap::kTypeFree;
}

// Present entries of the list at `first` (this level only) name `type`.
bool Named(const RecordEntry* first, uint16_t type) {
  for (const RecordEntry* e = first; e->type != 0;) {
    if (e->found != 0 && ((e->type ^ type) & heap::kMatchMask) == 0) return true;
    e = heap::IsNestedHeap(e->type) ? heap::SkipNested(e) : e + 1;
  }
  return false;
}

// One heap of the source, read without changing it: its table is checked and
// read from a little-endian copy; the data is read where it lies.
class SourceHeap {
 public:
  Status Open(const uint8_t* bytes, uint32_t length, ByteOrder order) {
    uint32_t t = 0;
    uint32_t tableSize = 0;
    Status st = heap::LocateTable(bytes, length, order, &t, &tableSize);
    if (st != ST_OK) return st;
    BlockOwner table(BlockAlloc(tableSize));
    if (!table) return ST_NO_MEMORY;
    std::memcpy(table.get(), bytes + t, tableSize);
    HeapView view{table.get(), t, 0};
    st = heap::SetTableOrder(&view, order, kLittleEndian, tableSize);
    if (st == ST_OK) st = heap::ValidateTable(view, t);
    if (st != ST_OK) return st;
    bytes_ = bytes;
    order_ = order;
    table_ = std::move(table);
    view_ = view;
    return ST_OK;
  }

  uint32_t count() const { return table_ ? heap::RecordCount(view_) : 0; }
  RecordInfo At(uint32_t index) const {
    RecordInfo info{};
    (void)heap::GetRecordInfo(view_, static_cast<uint16_t>(index), &info);
    return info;
  }
  bool Find(uint16_t type, RecordInfo* info) const {
    uint16_t index = 0;
    return table_ && heap::FindRecord(view_, 1, &type, 1, &index, info) == ST_OK;
  }
  // In-record data lies in the table, where GetRecordInfo's offset points.
  const uint8_t* Data(const RecordInfo& info) const { return bytes_ + info.offset; }
  Status Enter(const RecordInfo& info, SourceHeap* child) const {
    return child->Open(Data(info), info.length, order_);
  }

 private:
  const uint8_t* bytes_ = nullptr;
  ByteOrder order_ = kLittleEndian;
  BlockOwner table_;
  HeapView view_{};
};

// A heap being written whose size is known: records fill slots 1, 2, ... and
// data blocks follow each other from the start of the data area, so the
// table tiles its data area with no free space left.
class HeapWriter {
 public:
  HeapWriter(uint8_t* bytes, const Extent& e, ByteOrder order)
      : bytes_(bytes),
        data_(static_cast<uint32_t>(e.data)),
        count_(static_cast<uint16_t>(e.records)),
        order_(order) {
    heap::InitTable(bytes + data_, count_, data_, &view_);
  }

  // Enters a record and returns where its data goes (in-record: 8 bytes).
  uint8_t* Put(uint16_t type, uint16_t location, uint32_t length) {
    ++slot_;
    RecordInfo info{type, location, length, next_};
    (void)heap::SetRecordInfo(view_, slot_, info);
    if (heap::IsInRecord(location)) {
      (void)heap::GetRecordInfo(view_, slot_, &info);
    } else {
      next_ += length;
    }
    return bytes_ + info.offset;
  }

  Status Finish() {
    if (slot_ != count_ || next_ != data_) return ST_WRONG_STATE;  // measure and write disagree
    const uint32_t tableSize = uint32_t{count_} * heap::kRecordSize + heap::kCountSize;
    const Status st = heap::SetTableOrder(&view_, kLittleEndian, order_, tableSize);
    if (st != ST_OK) return st;
    Put32(data_, bytes_ + data_ + tableSize, order_);
    return ST_OK;
  }

 private:
  uint8_t* bytes_;
  uint32_t data_;
  uint16_t count_;
  ByteOrder order_;
  HeapView view_{};
  uint16_t slot_ = 0;
  uint32_t next_ = 0;
};

// Walks one level of the list together with the source heap of that level.
// Without a writer it only measures; the write pass repeats the same walk.
class Merger {
 public:
  explicit Merger(ByteOrder order) : order_(order) {}

  Status Level(const SourceHeap& src, const RecordEntry** cursor, HeapWriter* out, int depth,
               Extent* ext) const {
    if (depth > kMaxNesting) return ST_BAD_ARGUMENT;
    const RecordEntry* first = *cursor;
    const RecordEntry* e = first;
    while (e->type != 0) {
      if (e->found == 0 || !IsRecordType(e->type)) {
        e = heap::IsNestedHeap(e->type) ? heap::SkipNested(e) : e + 1;
      } else if (heap::IsNestedHeap(e->type)) {
        const Status st = Nested(src, &e, out, depth, ext);
        if (st != ST_OK) return st;
      } else {
        PutEntry(*e++, out, ext);
      }
    }
    *cursor = e + 1;
    for (uint32_t i = 1; i <= src.count(); ++i) {
      const RecordInfo info = src.At(i);
      if (IsRecordType(info.type) && !Named(first, info.type)) CopyRecord(src, info, out, ext);
    }
    return ST_OK;
  }

 private:
  // A present nested-heap entry, combined with the source's heap of its type;
  // left out when it would hold no records.
  Status Nested(const SourceHeap& src, const RecordEntry** e, HeapWriter* out, int depth,
                Extent* ext) const {
    const uint16_t type = (*e)->type & heap::kMatchMask;
    SourceHeap child;
    RecordInfo info{};
    if (src.Find(type, &info)) {
      const Status st = src.Enter(info, &child);
      if (st != ST_OK) return st;
    }
    const RecordEntry* end = *e + 1;
    Extent inner;
    Status st = Level(child, &end, nullptr, depth + 1, &inner);
    if (st != ST_OK) return st;
    if (inner.records > kMaxRecords) return ST_BAD_ARGUMENT;
    if (inner.records != 0) {
      const uint64_t size = HeapBytes(inner);
      ext->data += size;
      ext->records += 1;
      if (out != nullptr) {
        HeapWriter nested(out->Put(type, 0, static_cast<uint32_t>(size)), inner, order_);
        const RecordEntry* again = *e + 1;
        Extent unused;
        st = Level(child, &again, &nested, depth + 1, &unused);
        if (st == ST_OK) st = nested.Finish();
        if (st != ST_OK) return st;
      }
    }
    *e = end;
    return ST_OK;
  }

  void PutEntry(const RecordEntry& e, HeapWriter* out, Extent* ext) const {
    const uint16_t kind = e.type & heap::kKindMask;
    const uint32_t n = e.size;
    const uint64_t area = DataAreaSize(n, kind);
    ext->data += area;
    ext->records += 1;
    if (out == nullptr) return;
    const uint16_t location = area == 0 ? heap::kInRecordBit : 0;
    uint8_t* to = out->Put(e.type & heap::kMatchMask, location, static_cast<uint32_t>(area));
    std::memset(to, 0, area == 0 ? heap::kInRecordDataSize : area);
    if (e.pointer == nullptr) return;  // a present record without data: zeros
    std::memcpy(to, e.pointer, n);
    if (order_ == kBigEndian) heap::SwapValues(to, n, kind);
  }

  // A source record the list does not name, in its stored form.
  static void CopyRecord(const SourceHeap& src, const RecordInfo& info, HeapWriter* out,
                         Extent* ext) {
    const bool inRecord = heap::IsInRecord(info.location);
    if (!inRecord) ext->data += info.length;
    ext->records += 1;
    if (out == nullptr) return;
    uint8_t* to = out->Put(info.type, info.location, inRecord ? 0 : info.length);
    std::memcpy(to, src.Data(info), inRecord ? heap::kInRecordDataSize : info.length);
  }

  ByteOrder order_;
};

void WriteHeader(uint8_t* b, ByteOrder order, uint32_t version) {
  PutLE16(order == kBigEndian ? kMarkMM : kMarkII, b);
  Put32(heap::kFileHeaderSize, b + 2, order);
  std::memcpy(b + 6, "HEAP", 4);
  std::memcpy(b + 10, kMergedSubtype, 4);
  Put32(version, b + 14, order);
}

}  // namespace

Status MergeIntoHeapObject(const HeapObject* source, const RecordEntry* entries, HeapObject* out) {
  if (entries == nullptr || out == nullptr) return ST_BAD_ARGUMENT;
  if (source != nullptr && source->heap == nullptr) return ST_BAD_ARGUMENT;
  const ByteOrder order = source != nullptr && source->bigEndian != 0 ? kBigEndian : kLittleEndian;
  SourceHeap root;
  if (source != nullptr) {
    const Status st = root.Open(source->heap, source->heapLength, order);
    if (st != ST_OK) return st;
  }
  const Merger merger(order);
  const RecordEntry* cursor = entries;
  Extent extent;
  Status st = merger.Level(root, &cursor, nullptr, 0, &extent);
  if (st != ST_OK) return st;
  if (extent.records > kMaxRecords) return ST_BAD_ARGUMENT;
  const uint64_t total = heap::kFileHeaderSize + HeapBytes(extent);
  if (total > UINT32_MAX) return ST_NO_MEMORY;
  BlockOwner block(BlockAllocZeroed(static_cast<uint32_t>(total)));
  if (!block) return ST_NO_MEMORY;

  const uint32_t version = source != nullptr ? source->version : kNewHeapVersion;
  WriteHeader(block.get(), order, version);
  HeapWriter writer(block.get() + heap::kFileHeaderSize, extent, order);
  cursor = entries;
  Extent again;
  st = merger.Level(root, &cursor, &writer, 0, &again);
  if (st == ST_OK) st = writer.Finish();
  if (st != ST_OK) return st;

  HeapObject h{};
  h.headerLength = heap::kFileHeaderSize;
  h.version = version;
  std::memcpy(h.type, kMergedSubtype, sizeof h.type);
  h.heapLength = static_cast<uint32_t>(total) - heap::kFileHeaderSize;
  h.bigEndian = order == kBigEndian ? 1 : 0;
  h.heap = block.get() + heap::kFileHeaderSize;
  h.block = block.release();
  *out = h;
  return ST_OK;
}

}  // namespace qd::heapobj

extern "C" QD_EXPORT uint32_t QD_API qdParseMergePropertiesIntoHeapObject(const HeapObject* source,
                                                                         const RecordEntry* entries,
                                                                         HeapObject* out) {
  return qd::ToResultCode(qd::heapobj::MergeIntoHeapObject(source, entries, out));
}
