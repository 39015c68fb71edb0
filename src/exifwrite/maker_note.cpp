// The maker note alone, built by the Exif buffer worker in the byte order the
// caller chose and cut out of the block it was built in.
#include <cstring>

#include "exifwrite/camera_models.h"
#include "exifwrite/exif_buffer.h"
#include "format/tiff_format.h"
#include "frame/byte_order.h"
#include "frame/memory_block.h"
#include "tiffjpeg/exif_query.h"
#include "tiffjpeg/jpeg_stream.h"

namespace {

using namespace qd;

constexpr uint32_t kMakeBuffer = 64;


// Cuts the maker note out of `block` into `out`.
uint32_t CutMakerNote(TiffBlockInfo* block, MakerNoteBuffer* out) {
  char make[kMakeBuffer] = {};
  IfdQuery list[5] = {};
  list[0] = {IFDQ_READ, tiff::kTagMake, tiff::kAscii, 0, reinterpret_cast<uintptr_t>(make), kMakeBuffer, 0};
  list[1] = {IFDQ_ENTER, tiff::kTagExifIfd, 0, 0, 0, 0, 0};
  list[2] = {IFDQ_LOCATE, tiff::kTagMakerNote, 0, 0, 0, 0, 0};
  list[3] = {IFDQ_LEAVE, 0, 0, 0, 0, 0, 0};
  list[4] = {IFDQ_END, 0, 0, 0, 0, 0, 0};
  const uint32_t result = ToResultCode(tiff::QueryExif(block, list, tiff::ReadMode::kCopy));
  if (result != QD_OK) return result;
  if (list[0].found == 0 || list[2].found == 0) return QD_OK;
  make[kMakeBuffer - 1] = '\0';
  if (!camera::IsMaker(make)) return QD_E_OTHER_MAKER;

  const uint32_t size = list[2].size;
  const auto offset = static_cast<uint32_t>(list[2].data);
  if (!ByteView(block->tiff, block->tiffSize).Contains(offset, size)) return QD_E_OUT_OF_RANGE;
  out->data = BlockAllocZeroed(size);
  if (out->data == nullptr) return QD_E_NO_MEMORY;
  std::memcpy(out->data, block->tiff + offset, size);
  out->size = size;
  out->offset = offset;
  return QD_OK;
}

}  // namespace

extern "C" QD_EXPORT uint32_t QD_API qdParseCreateMakerNote(const ExifImageInfo* imageInfo,
                                                          const ExifCaptureInfo* captureInfo,
                                                          const ExifShotValues* shotValues,
                                                          PropertyRecord** records,
                                                          MakerNoteBuffer* out) {
  if (out == nullptr) return QD_E_INVALID_ARG;
  TiffBlockInfo block{};
  const exif::BufferMode mode{false, false, out->byteOrder != 0, false};
  const Status st = exif::BuildExifBuffer(imageInfo, captureInfo, shotValues, records, mode, &block);
  if (st != ST_OK) return ToResultCode(st);
  const uint32_t result = CutMakerNote(&block, out);
  jpeg::ReleaseExifBlock(&block);
  return result;
}
