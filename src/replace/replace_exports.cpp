// The replacement exports: recognise the file, send the work to the engine
// that fits its kind, write the result back.
#include <cstring>

#include "container/recognize.h"
#include "extract/parse.h"
#include "format/jpeg_format.h"
#include "frame/byte_order.h"
#include "frame/export_call.h"
#include "frame/memory_block.h"
#include "heap/heap_object.h"
#include "replace/exif_rewrite.h"
#include "replace/heap_rewrite.h"
#include "replace/rewrite_values.h"
#include "replace/single_rewrite.h"
#include "tiffjpeg/exif_query.h"
#include "tiffjpeg/jpeg_segments.h"
#include "tiffjpeg/jpeg_stream.h"

namespace qd::replace {
namespace {

uint32_t HeapWriteBack(const StreamPort& port, const Recognition& found, uint32_t result) {
  return result != QD_OK ? result : FailureResult(port, WriteBackHeap(port, found));
}

uint32_t ReplaceProperties(const StreamPort& port, const Changes& c) {
  Recognition found;
  const Status st = found.Run(port);
  if (st != ST_OK || port.hostError != 0) return FailureResult(port, st);
  uint32_t result = QD_OK;
  switch (found.kind) {
    case kKindTiffRaw:
    case kKindJpegHeap:
    case kKindHeapFile:
      return HeapWriteBack(port, found, RewriteHeap(found.heap, c.image, c.capture, c.shot, c.records));
    case kKindExifJpeg:
      result = RewriteExifBlock(&found.exif, c, false);
      return result != QD_OK ? result : WriteBackApp1(port.host, found.exif);
    case kKindExifTiff:
      return RewriteExifFile(port, tiff::Order(found.exif), found.exif.ifdOffset, c);
    default:
      return QD_E_OTHER_MAKER;
  }
}

uint32_t ReplaceSingle(const StreamPort& port, uint8_t* fileType, uint32_t id, const qdlStream* value) {
  if (fileType != nullptr) *fileType = extract::kTypeNone;
  Recognition found;
  const Status st = found.Run(port);
  if (st != ST_OK || port.hostError != 0) return FailureResult(port, st);
  const uint8_t type = extract::FileTypeOf(found.kind);
  if (fileType != nullptr) *fileType = type;
  switch (type) {
    case extract::kTypeHeapFile:
    case extract::kTypeJpegHeap:
    case extract::kTypeTiffRaw:
      return HeapWriteBack(port, found, RewriteHeapRecord(found.heap, id, value));
    case extract::kTypeExifJpeg:
    case extract::kTypeExifTiff:
      return RewriteTag(port, &found.exif, type, id, value);
    default:
      return QD_E_UNSUPPORTED;
  }
}

uint32_t CopyOfExifJpeg(const StreamPort& port, const Changes& c, TiffBlockInfo* out) {
  Recognition found;
  const Status st = found.Run(port);
  if (st != ST_OK || port.hostError != 0) return FailureResult(port, st);
  if (found.kind != kKindExifJpeg) return QD_E_UNSUPPORTED;
  return CopyWithChanges(found.exif, c, out);
}

// The changed copy as a whole APP1 segment: marker, big-endian length, block.
uint32_t MakeSegment(const StreamPort& port, const Changes& c, ExtensionInfo* segment,
                     ExtensionInfo* segmentInfo) {
  HeapObject heap{};
  TiffBlockInfo exif{};
  JpegSofInfo sof{};
  JfifInfo jfif{};
  uint16_t kind = kKindNone;
  const Status st = jpeg::ProbeJpegCollecting(port, &heap, &exif, &sof, &jfif, segmentInfo, &kind);
  heap::ReleaseHeapObject(&heap);
  uint32_t result = st != ST_OK || port.hostError != 0 ? FailureResult(port, st) : QD_OK;
  if (result == QD_OK && kind != kKindExifJpeg) result = QD_E_UNSUPPORTED;
  TiffBlockInfo copy{};
  if (result == QD_OK) result = CopyWithChanges(exif, c, &copy);
  jpeg::ReleaseExifBlock(&exif);
  if (result == QD_OK) {
    const uint32_t size = BlockLength(copy.segment);
    if (uint64_t{size} + jpeg::kLengthSize > UINT16_MAX) result = QD_E_SIZE_MISMATCH;
    uint8_t* block = result == QD_OK ? BlockAlloc(size + 4) : nullptr;
    if (result == QD_OK && block == nullptr) result = QD_E_NO_MEMORY;
    if (block != nullptr) {
      block[0] = jpeg::kMarkerPrefix;
      block[1] = jpeg::kAPP1;
      Put16(static_cast<uint16_t>(size + jpeg::kLengthSize), block + 2, kBigEndian);
      std::memcpy(block + 4, copy.segment, size);
      segment->buffer = block;
      segment->size = size + 4;
    }
  }
  jpeg::ReleaseExifBlock(&copy);
  if (result != QD_OK && segmentInfo != nullptr) jpeg::ReleaseExtensionInfo(segmentInfo);
  return result;
}

template <typename Work>
uint32_t Run(const qdlStream* stream, uint32_t mode, bool argumentsOk,
             std::initializer_list<OutputRecord> outputs, Work&& work) {
  const unsigned needs = mode == QD_OPEN_UPDATE ? kNeedsWrite : kNeedsReading;
  return RunStreamExport({stream, mode, needs, argumentsOk}, outputs,
                         [&](StreamPort& port) { return WorkResult{ST_OK, work(port)}; });
}

}  // namespace
}  // namespace qd::replace

using qd::replace::Changes;

extern "C" QD_EXPORT uint32_t QD_API QDParseReplaceProperties2(const qdlStream* stream,
                                                             const ExifImageInfo* imageInfo,
                                                             const QdAuxImageInfo* secondImage,
                                                             ExifCaptureInfo* captureInfo,
                                                             const ExifShotValues* shotValues,
                                                             PropertyRecord** records) {
  const Changes c{imageInfo, secondImage, captureInfo, shotValues, records};
  return qd::replace::Run(stream, QD_OPEN_UPDATE, true, {},
                          [&](qd::StreamPort& port) { return qd::replace::ReplaceProperties(port, c); });
}

extern "C" QD_EXPORT uint32_t QD_API QDParseReplaceProperties(const qdlStream* stream,
                                                            const ExifImageInfo* imageInfo,
                                                            ExifCaptureInfo* captureInfo,
                                                            const ExifShotValues* shotValues,
                                                            PropertyRecord** records) {
  return QDParseReplaceProperties2(stream, imageInfo, nullptr, captureInfo, shotValues, records);
}

extern "C" QD_EXPORT uint32_t QD_API QDParseReplaceSingleProperty(const qdlStream* stream, uint8_t* fileType,
                                                                uint32_t propertyId, const qdlStream* value) {
  return qd::replace::Run(stream, QD_OPEN_UPDATE, value != nullptr, {}, [&](qd::StreamPort& port) {
    return qd::replace::ReplaceSingle(port, fileType, propertyId, value);
  });
}

extern "C" QD_EXPORT uint32_t QD_API qdParseGetExifPropBufferWithReplace(const qdlStream* stream,
                                                                       const ExifImageInfo* imageInfo,
                                                                       ExifCaptureInfo* captureInfo,
                                                                       const ExifShotValues* shotValues,
                                                                       PropertyRecord** records,
                                                                       TiffBlockInfo* out) {
  const Changes c{imageInfo, nullptr, captureInfo, shotValues, records};
  bool made = false;
  const uint32_t result = qd::replace::Run(stream, QD_OPEN_READ, out != nullptr, {{out, sizeof *out}},
                                           [&](qd::StreamPort& port) {
                                             const uint32_t r = qd::replace::CopyOfExifJpeg(port, c, out);
                                             made = r == QD_OK;
                                             return r;
                                           });
  if (result != QD_OK && made) qd::jpeg::ReleaseExifBlock(out);  // the stream failed to close
  return result;
}

extern "C" QD_EXPORT uint32_t QD_API qdParseExifJpegMakeImageProperty(const qdlStream* stream,
                                                                    const ExifImageInfo* imageInfo,
                                                                    ExifCaptureInfo* captureInfo,
                                                                    const ExifShotValues* shotValues,
                                                                    PropertyRecord** records,
                                                                    ExtensionInfo* segment,
                                                                    ExtensionInfo* segmentInfo) {
  const Changes c{imageInfo, nullptr, captureInfo, shotValues, records};
  bool made = false;
  const uint32_t result = qd::replace::Run(
      stream, QD_OPEN_READ, segment != nullptr,
      {{segment, sizeof *segment}, {segmentInfo, segmentInfo == nullptr ? 0 : sizeof *segmentInfo}},
      [&](qd::StreamPort& port) {
        const uint32_t r = qd::replace::MakeSegment(port, c, segment, segmentInfo);
        made = r == QD_OK;
        return r;
      });
  if (result != QD_OK && made) {  // the stream failed to close
    qd::jpeg::ReleaseExtensionInfo(segment);
    if (segmentInfo != nullptr) qd::jpeg::ReleaseExtensionInfo(segmentInfo);
  }
  return result;
}
