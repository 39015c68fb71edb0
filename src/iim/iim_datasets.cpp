#include "iim/iim_datasets.h"

#include <cstring>

#include "format/iim_format.h"
#include "frame/byte_order.h"
#include "frame/memory_block.h"
#include "frame/stream_port.h"

namespace qd::iim {
namespace {

// The datasets a host gets; every other one is passed over.
struct Chosen {
  uint8_t record, dataset;
};
constexpr Chosen kExtracted[] = {
    {1, 30},  {1, 60},  {2, 5},   {2, 15},  {2, 20},  {2, 25},  {2, 40},  {2, 55},  {2, 60}, {2, 65},
    {2, 80},  {2, 85},  {2, 90},  {2, 103}, {2, 105}, {2, 110}, {2, 115}, {2, 120}, {2, 122}};

constexpr bool IsExtracted(uint8_t record, uint8_t dataset) {
  for (const Chosen& c : kExtracted) {
    if (c.record == record && c.dataset == dataset) return true;
  }
  return false;
}

// The envelope and application record versions a replacement always sets.
constexpr uint8_t kVersionRecords[][kRecordHead + 2] = {
    {1, 0, 2, 0, 0, 0, 0, 2}, {1, 20, 2, 0, 0, 0, 0, 3}, {1, 22, 2, 0, 0, 0, 0, 2}, {2, 0, 2, 0, 0, 0, 0, 1}};

// One record over its dataset; *noRoom when no buffer could be had for it.
uint32_t ReplaceOne(const qdlStream* stream, uint32_t start, uint32_t size, const uint8_t* record,
                    bool* noRoom) {
  DatasetWalk walk(stream, start, size);
  Dataset d{};
  for (;;) {
    const DatasetWalk::Step step = walk.Next(&d);
    if (step == DatasetWalk::kEnd || step == DatasetWalk::kHeadUnread) return QD_OK;  // absent
    if (step == DatasetWalk::kFailed) return walk.result();
    if (d.record == record[0] && d.dataset == record[1]) break;
  }
  if (d.extended) return QD_OK;
  // The stored length stays: a longer value is cut, a shorter one zero-padded.
  BlockOwner data(BlockAllocZeroed(d.length));
  if (!data) {
    *noRoom = true;
    return QD_OK;
  }
  const uint32_t length = GetLE32(record + kRecordLengthAt);
  std::memcpy(data.get(), record + kRecordHead, length < d.length ? length : d.length);
  uint32_t error = 0;
  StreamSeek(stream, QD_SEEK_START, static_cast<int32_t>(d.dataAt), &error);
  if (error == 0) StreamWriteExact(stream, data.get(), d.length, kErrorBase, &error);
  return error;
}

}  // namespace

DatasetWalk::Step DatasetWalk::Next(Dataset* d) {
  if (next_ + kDatasetHead > size_) return kEnd;
  StreamSeek(stream_, QD_SEEK_START, static_cast<int32_t>(next_), &result_);
  if (result_ != 0) return kFailed;
  uint8_t head[kDatasetHead];
  StreamReadExact(stream_, head, kDatasetHead, kErrorBase, &result_);
  if (result_ != 0) return kHeadUnread;
  if (head[0] != kTagMarker) return kEnd;
  const uint16_t stored = Get16(head + 3, kBigEndian);
  uint64_t at = next_ + kDatasetHead;
  uint64_t length = stored;
  if ((stored & kExtendedBit) != 0) {
    const uint32_t n = stored & ~kExtendedBit;
    BlockOwner bytes(BlockAlloc(n));
    if (!bytes) return Fail(QD_E_NO_MEMORY);
    if (!FitsIn(at, n, size_)) return Fail(QD_E_CORRUPT);
    StreamReadExact(stream_, bytes.get(), n, kErrorBase, &result_);
    if (result_ != 0) return kFailed;
    // Any number of length bytes: past the stream's size the value is too long.
    length = 0;
    for (uint32_t i = 0; i < n && length <= size_; ++i) length = length << 8 | bytes.get()[i];
    at += n;
  }
  if (!FitsIn(at, length, size_)) return Fail(QD_E_CORRUPT);
  *d = Dataset{head[1], head[2], (stored & kExtendedBit) != 0, static_cast<uint32_t>(at),
               static_cast<uint32_t>(length)};
  next_ = at + length;
  return kDataset;
}

uint32_t ExtractDatasets(const qdlStream* source, uint32_t start, uint32_t size,
                         const qdlStream* destination) {
  DatasetWalk walk(source, start, size);
  Dataset d{};
  for (;;) {
    const DatasetWalk::Step step = walk.Next(&d);
    if (step != DatasetWalk::kDataset) return step == DatasetWalk::kEnd ? QD_OK : walk.result();
    if (d.extended || !IsExtracted(d.record, d.dataset)) continue;
    BlockOwner record(BlockAlloc(kRecordHead + d.length));
    if (!record) return QD_E_NO_MEMORY;
    uint8_t* r = record.get();
    r[0] = d.record;
    r[1] = d.dataset;
    PutLE32(d.length, r + kRecordLengthAt);
    uint32_t error = 0;
    StreamReadExact(source, r + kRecordHead, d.length, kErrorBase, &error);
    if (error == 0) StreamWriteExact(destination, r, kRecordHead + d.length, kErrorBase, &error);
    if (error != 0) return error;
  }
}

uint32_t ReplaceDatasets(const qdlStream* stream, uint32_t start, uint32_t size,
                         IimRecord* const* records) {
  bool noRoom = false;
  for (const uint8_t* version : kVersionRecords) (void)ReplaceOne(stream, start, size, version, &noRoom);
  noRoom = false;
  for (; *records != nullptr; ++records) {
    const uint32_t result = ReplaceOne(stream, start, size, reinterpret_cast<const uint8_t*>(*records), &noRoom);
    if (result != QD_OK) return result;
  }
  return noRoom ? QD_E_NO_MEMORY : QD_OK;
}

}  // namespace qd::iim
