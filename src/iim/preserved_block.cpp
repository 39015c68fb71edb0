// The preserved IIM block: a host keeps a file's IIM records across an
// operation that would lose them, as a self-describing header followed by
// IimRecords, and unpacks them later into the record stream a read gives.
#include <cstring>

#include "format/iim_format.h"
#include "frame/byte_order.h"
#include "frame/export_call.h"
#include "frame/memory_block.h"
#include "iim/destination.h"

namespace qd::iim {
namespace {

// A zeroed block with room for the header and `payload` bytes, the header
// filled in (the packed lengths stay little-endian); null when it cannot be had.
uint8_t* NewBlock(uint64_t payload) {
  if (payload > UINT32_MAX - kBlockHeader) return nullptr;
  uint8_t* block = BlockAllocZeroed(static_cast<uint32_t>(kBlockHeader + payload));
  if (block == nullptr) return nullptr;
  std::memcpy(block, kBlockName, kBlockNameSize);
  Put32(kBlockVersion, block + kBlockVersionAt, kBigEndian);
  return block;
}

uint64_t RecordSize(const IimRecord* r) {
  return kRecordHead + uint64_t{GetLE32(reinterpret_cast<const uint8_t*>(r) + kRecordLengthAt)};
}

uint32_t PackList(IimRecord* const* list, const qdlStream* destination) {
  uint64_t payload = 0;
  for (uint32_t i = 0; i < kBlockMaxRecords && list[i] != nullptr; ++i) payload += RecordSize(list[i]);
  if (payload == 0) return QD_E_CORRUPT;
  BlockOwner block(NewBlock(payload));
  if (!block) return QD_E_NO_MEMORY;
  uint64_t at = 0;
  for (; *list != nullptr; ++list) {
    const uint64_t size = RecordSize(*list);
    if (at + size > payload) return QD_E_FAILED;  // past the records counted
    std::memcpy(block.get() + kBlockHeader + at, *list, static_cast<size_t>(size));
    at += size;
  }
  return StreamWriteWhole(destination, block.get(), static_cast<uint32_t>(kBlockHeader + payload));
}

uint32_t PackStream(const qdlStream* source, const qdlStream* destination) {
  uint32_t error = 0;
  const uint32_t payload = StreamSize(source, &error);
  if (error != 0) return error;
  if (payload == 0) return QD_E_CORRUPT;
  BlockOwner block(NewBlock(payload));
  if (!block) return QD_E_NO_MEMORY;
  StreamSeek(source, QD_SEEK_START, 0, &error);
  if (error == 0) StreamReadExact(source, block.get() + kBlockHeader, payload, kErrorBase, &error);
  if (error != 0) return error;
  return StreamWriteWhole(destination, block.get(), static_cast<uint32_t>(kBlockHeader + payload));
}

uint32_t Unpack(const qdlStream* source, Destination* out) {
  uint32_t error = 0;
  const uint32_t size = StreamSize(source, &error);
  if (error != 0) return error;
  if (size <= kBlockHeader) return QD_E_CORRUPT;
  uint8_t head[kBlockHeader];
  StreamSeek(source, QD_SEEK_START, 0, &error);
  if (error == 0) StreamReadExact(source, head, kBlockHeader, kErrorBase, &error);
  if (error != 0) return error;
  const uint8_t order = head[kBlockOrderAt];
  if (std::memcmp(head, kBlockName, kBlockNameSize) != 0 ||
      Get32(head + kBlockVersionAt, kBigEndian) != kBlockVersion || order > kBigEndian) {
    return QD_E_CORRUPT;
  }
  error = out->Open();
  for (uint64_t at = kBlockHeader; error == 0 && at < size;) {
    uint8_t recordHead[kRecordHead];
    if (!FitsIn(at, kRecordHead, size)) return QD_E_CORRUPT;
    StreamReadExact(source, recordHead, kRecordHead, kErrorBase, &error);
    if (error != 0) break;
    const uint32_t length = Get32(recordHead + kRecordLengthAt, static_cast<ByteOrder>(order));
    if (!FitsIn(at + kRecordHead, length, size)) return QD_E_CORRUPT;
    BlockOwner record(BlockAlloc(kRecordHead + length));
    if (!record) return QD_E_NO_MEMORY;
    std::memcpy(record.get(), recordHead, kRecordLengthAt);
    PutLE32(length, record.get() + kRecordLengthAt);
    StreamReadExact(source, record.get() + kRecordHead, length, kErrorBase, &error);
    if (error == 0) StreamWriteExact(out->stream(), record.get(), kRecordHead + length, kErrorBase, &error);
    at += kRecordHead + uint64_t{length};
  }
  return error;
}

}  // namespace
}  // namespace qd::iim

extern "C" QD_EXPORT uint32_t QD_API QDParseMakePreserveIIMInfo(uint32_t sourceKind, const void* source,
                                                                const qdlStream* destination) {
  using namespace qd;
  const iim::Destination out(destination);
  if (sourceKind == QD_IIM_SOURCE_LIST) {
    if (!out.Usable() || source == nullptr) return QD_E_INVALID_ARG;
    return iim::PackList(static_cast<IimRecord* const*>(source), destination);
  }
  const auto* stream = static_cast<const qdlStream*>(source);
  const bool argumentsOk = out.Usable() && sourceKind == QD_IIM_SOURCE_STREAM;
  return RunStreamExport({stream, QD_OPEN_READ, kNeedsReading, argumentsOk}, {}, [&](StreamPort&) {
    return WorkResult{ST_OK, iim::PackStream(stream, destination)};
  });
}

extern "C" QD_EXPORT uint32_t QD_API QDParseReadPreserveIIMInfo(const qdlStream* source,
                                                                const qdlStream* destination) {
  using namespace qd;
  iim::Destination out(destination);
  const uint32_t result = RunStreamExport({source, QD_OPEN_READ, kNeedsReading, out.Usable()}, {},
                                          [&](StreamPort&) { return WorkResult{ST_OK, iim::Unpack(source, &out)}; });
  return out.Close(result);
}
