// The records the heap path reads, as one record entry list with a buffer per
// record (fixed-size ones in place, the others allocated by the walk), and
// typed access to what the walk delivered.
#pragma once

#include <cstdint>
#include <cstring>

#include "extract/typed_records.h"
#include "format/heap_records.h"
#include "frame/memory_block.h"
#include "qdparse.h"

namespace qd::extract {

// The records the path reads, in list order; OPEN/CLOSE bracket nested heaps.
// D: a fixed-size record, A: one the library allocates to its size. NestedText
// is the second Comment, inside the text heap.
#define QD_HEAP_RECORDS(D, A, OPEN, CLOSE)                                                                \
  D(ImageClass, ImageClass, 8) D(ImageDescription, ImageDescription, 28) D(Record100A, Record100A, 2)     \
  D(Record1804, Record1804, 4) D(FileNumber, FileNumber, 4) D(CaptureTime, CaptureTime, 12)              \
  D(Record1026, Record1026, 6) A(Comment)                                                                \
  OPEN(CaptureHeap) D(Record1010, Record1010, 4) D(Record1805, Record1805, 4) D(Record1813, Record1813, 8) \
      D(Record1818, Record1818, 12) D(Record1807, Record1807, 4) D(Record1014, Record1014, 2) CLOSE        \
  OPEN(TextHeap) D(NestedText, Comment, 32) D(ImageTypeText, ImageTypeText, 32) CLOSE                     \
  OPEN(OwnerHeap) D(OwnerName, OwnerName, 32) D(MakerModel, MakerModel, 64)                               \
      OPEN(FirmwareHeap) D(Record180B, Record180B, 4) D(Firmware, Firmware, 32)                           \
      D(Record1812, Record1812, 40) CLOSE CLOSE                                                           \
  OPEN(MakerHeap) D(FocalInfo, FocalInfo, 8) D(Record1027, Record1027, 12) D(Record1028, Record1028, 8)   \
      D(ShotInfoRecord, ShotInfo, 66) D(SettingsRecord, CameraSettings, 92) A(CustomFunctions)                  \
      D(ModelId, ModelId, 4) D(Record1039, Record1039, 8) D(Record183B, Record183B, 4)                    \
      D(ThumbnailDescription, ThumbnailDescription, 40) D(CameraRotation, CameraRotation, 4)              \
      A(Record1038) A(MakerNoteValue003F) A(MakerNoteValue1881) A(MakerNoteValue1882)                     \
      A(MakerNoteValue1081) A(MakerNoteValue1082) A(MakerNoteValue1083) A(MakerNoteValue1084)             \
      A(MakerNoteValue0085) A(MakerNoteValue1086) A(MakerNoteValue1087) A(MakerNoteValue1088)             \
      A(MakerNoteValue1089) A(MakerNoteValue108A) A(MakerNoteValue108B) A(MakerNoteValue108C)             \
      A(MakerNoteValue108D) A(MakerNoteValue108E) A(MakerNoteValue10AE) A(ColourMode)                     \
      A(MakerNoteValue10B5) CLOSE

#define QD_NAME(name, ...) name,
#define QD_NONE(...)
enum Rec : uint32_t { QD_HEAP_RECORDS(QD_NAME, QD_NAME, QD_NONE, ) kRecCount };
#define QD_ONE(...) +1
constexpr uint32_t kListLength = 1 + QD_HEAP_RECORDS(QD_ONE, QD_ONE, QD_ONE, +1);
#undef QD_ONE
#undef QD_NAME
#undef QD_NONE

constexpr uint32_t kLargestFixed = 92;
constexpr uint32_t kLargestCopy = 0xFFFF;  // the record walk allocates copies up to this length

// The entry list, its buffers and the allocated copies.
class HeapRecords {
 public:
  HeapRecords() {
    uint32_t i = 0;
#define QD_FIXED(name, type, size) Add(i++, name, heap::kType##type, size);
#define QD_ALLOCATED(name) Add(i++, name, heap::kType##name, 0);
#define QD_OPEN(nested) list_[i++].type = heap::kType##nested;
#define QD_CLOSE ++i;
    QD_HEAP_RECORDS(QD_FIXED, QD_ALLOCATED, QD_OPEN, QD_CLOSE)
#undef QD_FIXED
#undef QD_ALLOCATED
#undef QD_OPEN
#undef QD_CLOSE
  }
  HeapRecords(const HeapRecords&) = delete;
  HeapRecords& operator=(const HeapRecords&) = delete;
  ~HeapRecords() {
    for (void* p : allocated_) {
      if (p != nullptr && !room_.Holds(p)) (void)BlockFree(p);
    }
  }

  RecordEntry* list() { return list_; }
  ValueRoom* room() { return &room_; }
  bool Found(Rec r) const { return list_[at_[r]].found != 0; }
  // Present with data.
  bool Has(Rec r) const { return Found(r) && Size(r) != 0 && Data(r) != nullptr; }
  uint32_t Size(Rec r) const { return list_[at_[r]].size; }
  const uint8_t* Data(Rec r) const {
    return allocatedKind_[r] ? static_cast<const uint8_t*>(allocated_[r]) : fixed_[r];
  }
  uint8_t* Fixed(Rec r) { return fixed_[r]; }
  void Drop(Rec r) { list_[at_[r]].found = 0; }
  // The walk reports a record it could not copy for want of memory as found,
  // with its length and no block; only records beyond kLargestCopy have none by design.
  bool CopyFailed() const {
    for (uint32_t r = 0; r < kRecCount; ++r) {
      const RecordEntry& e = list_[at_[r]];
      if (allocatedKind_[r] && e.found != 0 && e.size != 0 && e.size <= kLargestCopy && allocated_[r] == nullptr) {
        return true;
      }
    }
    return false;
  }
  // The record's 32-bit word k in host order, 0 when it is not there.
  uint32_t Word(Rec r, uint32_t k) const { return HostElement<uint32_t>(Found(r), Data(r), Size(r), k); }
  uint16_t Half(Rec r, uint32_t k) const { return HostElement<uint16_t>(Found(r), Data(r), Size(r), k); }
  float Float(Rec r, uint32_t k) const {
    const uint32_t bits = Word(r, k);
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
  }

 private:
  void Add(uint32_t i, Rec r, uint16_t type, uint32_t size) {
    at_[r] = i;
    list_[i].type = type;
    list_[i].size = size;
    allocatedKind_[r] = size == 0;
    list_[i].pointer = size == 0 ? static_cast<void*>(&allocated_[r]) : static_cast<void*>(fixed_[r]);
  }

  RecordEntry list_[kListLength] = {};
  uint32_t at_[kRecCount] = {};
  bool allocatedKind_[kRecCount] = {};
  void* allocated_[kRecCount] = {};
  alignas(4) uint8_t fixed_[kRecCount][kLargestFixed] = {};
  // Copies of records of unknown size that fit here need no block of their own.
  alignas(8) uint8_t roomBytes_[2048];
  ValueRoom room_{roomBytes_, sizeof roomBytes_};
};

}  // namespace qd::extract
