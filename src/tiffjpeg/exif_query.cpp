#include "tiffjpeg/exif_query.h"


#include "frame/byte_order.h"
#include "format/tiff_format.h"

namespace qd::tiff {
namespace {

constexpr uint32_t kFooterSize = 8;

// The block as a view, with byte order and IFD0 filled in on first use. The
// walkers test the starting IFD themselves, in the order they walk it: a maker
// note may be in the other order than its block.
Status PrepareStart(TiffBlockInfo* block, ByteView* view) {
  if (block->tiff == nullptr) return ST_UNSUPPORTED;
  *view = ByteView(block->tiff, block->tiffSize);
  if (block->ifdOffset == 0) {
    ByteOrder order = kLittleEndian;
    uint32_t ifd0 = 0;
    if (!view->Contains(0, kHeaderSize) || !OrderFromMark(block->tiff, &order)) return ST_UNSUPPORTED;
    (void)view->U32(4, order, &ifd0);
    block->byteOrder = order;
    block->ifdOffset = ifd0;
  }
  return ST_OK;
}

// The value bias a valid footer asks for, or 0. May change block->byteOrder.
Status Relocation(TiffBlockInfo* block, const ByteView& view, uint32_t offset, uint32_t size,
                  int64_t* bias) {
  *bias = 0;
  ByteView footer;
  if (size < kFooterSize || !view.Sub(uint64_t{offset} + size - kFooterSize, kFooterSize, &footer)) {
    return ST_OK;
  }
  const uint8_t* f = footer.data();
  if (f[0] != f[1] || (f[0] != 'I' && f[0] != 'M') || f[2] != 0x2A || f[3] != 0x00) return ST_OK;
  const ByteOrder order = f[0] == 'M' ? kBigEndian : kLittleEndian;

  uint16_t relocate = 0;  // stored in host order
  IfdQuery probe{IFDQ_READ, kMakerRelocation, kShort, 0, reinterpret_cast<uintptr_t>(&relocate), 2, 0};
  const Status st = ReadOne(view, block->ifdOffset, order, &probe);
  if (st != ST_OK) return st;
  if (probe.found == 0 || relocate != 1) return ST_OK;
  block->byteOrder = order;
  *bias = int64_t{GetLE32(f + 4)} - offset;
  return ST_OK;
}

}  // namespace

ByteOrder Order(const TiffBlockInfo& block) { return block.byteOrder != 0 ? kBigEndian : kLittleEndian; }

Status QueryExif(TiffBlockInfo* block, IfdQuery* list, ReadMode mode, CopyScratch* scratch) {
  return QueryMakerNote(block, list, 0, 0, mode, scratch);
}

Status QueryMakerNote(TiffBlockInfo* block, IfdQuery* list, uint32_t makerNoteOffset,
                      uint32_t makerNoteSize, ReadMode mode, CopyScratch* scratch) {
  if (block == nullptr || list == nullptr) return ST_BAD_ARGUMENT;
  ByteView view;
  Status st = PrepareStart(block, &view);
  if (st != ST_OK) return st;
  int64_t bias = 0;
  if (makerNoteOffset != 0 && makerNoteSize != 0) {
    st = Relocation(block, view, makerNoteOffset, makerNoteSize, &bias);
    if (st != ST_OK) return st;
  }
  IfdQuery* cursor = list;
  return WalkMemory(view, block->ifdOffset, Order(*block), &cursor, bias, mode, scratch);
}

Status QueryStreamLocate(TiffBlockInfo* block, IfdQuery* list) {
  if (block == nullptr || list == nullptr || block->segmentOffset == 0) return ST_BAD_ARGUMENT;
  auto* reader = reinterpret_cast<BufferedReader*>(block->segmentOffset);
  IfdQuery* cursor = list;
  return WalkStreamLocate(reader, block->tiffSize, block->ifdOffset, Order(*block), &cursor, 0);
}

}  // namespace qd::tiff

extern "C" QD_EXPORT uint32_t QD_API qdParseExifProperty(TiffBlockInfo* block, IfdQuery* list) {
  return qd::ToResultCode(qd::tiff::QueryExif(block, list, qd::tiff::ReadMode::kCopy));
}
