// The parse driver and the exports around it.
#include <cstring>
#include <ctime>

#include "extract/parse.h"
#include "frame/export_call.h"
#include "frame/local_time.h"
#include "frame/stream_port.h"
#include "container/recognize.h"

namespace qd::extract {

void DefaultShotValues(ExifShotValues* shot) {
  shot->aperture = -1.0f;
  shot->shutterSpeed = 100.0f;
  shot->exposureCompensation = 100.0f;
  shot->additionalEv = -1.0f;
  shot->settingWord = 0xFFFF;
  shot->settingFlag = 0xFF;
}

int32_t ParseDateText(const char* text, uint32_t size) {
  // Fields up to their delimiter, each at most `width` characters; the cursor
  // then steps over one character whether or not it was the delimiter.
  uint32_t at = 0;
  // The value is that of the field's leading digits.
  const auto field = [&](char delimiter, uint32_t width) {
    int value = 0;
    bool digits = true;
    for (uint32_t n = 0; n < width && at < size && text[at] != '\0' && text[at] != delimiter; ++n, ++at) {
      const char c = text[at];
      digits = digits && c >= '0' && c <= '9';
      if (digits) value = value * 10 + (c - '0');
    }
    ++at;
    return value;
  };
  struct tm t {};
  t.tm_year = (field(':', 4) % 65536) - 1900;
  t.tm_mon = (field(':', 2) - 1) % 256;
  t.tm_mday = field(' ', 2) % 256;
  t.tm_hour = field(':', 2) % 256;
  t.tm_min = field(':', 2) % 256;
  t.tm_sec = field('\0', 2) % 256;
  t.tm_isdst = -1;
  return static_cast<int32_t>(LocalFieldsToTime(t));
}

uint32_t ParseFileStream(const StreamPort& port, uint32_t fileSize, const Outputs& out, uint8_t* fileType) {
  const qdlStream* stream = port.host;
  if (out.thumb != nullptr) std::memset(out.thumb, 0, sizeof *out.thumb);
  if (out.image != nullptr) std::memset(out.image, 0, sizeof *out.image);
  // The Exif path fills it only when it succeeds: clear it for every other end.
  if (out.aux != nullptr) std::memset(out.aux, 0, sizeof *out.aux);
  if (out.capture != nullptr) {
    std::memset(out.capture, 0, sizeof *out.capture);
    out.capture->fileNumber = 0xFFFFFFFF;
  }
  if (out.shot != nullptr) DefaultShotValues(out.shot);

  Recognition found;
  uint32_t result = ToResultCode(found.Run(port));
  if (port.hostError != 0) result = port.hostError;

  // A JPEG's own frame describes both images until a path knows better.
  if (found.sof.found != 0) {
    QdThumbnailInfo frame{};
    frame.format = kFormatJpeg;
    frame.width = found.sof.width;
    frame.height = found.sof.height;
    if (out.image != nullptr) std::memcpy(out.image, &frame, sizeof frame);
    if (out.thumb != nullptr) *out.thumb = frame;
  }
  if (result != QD_OK) return result;

  *fileType = FileTypeOf(found.kind);
  switch (*fileType) {
    case kTypeHeapFile:
    case kTypeJpegHeap:
    case kTypeTiffRaw:
      return ParseHeapFileStream(fileSize, out, found, fileType);
    case kTypeExifJpeg:
      return ParseExifFileStream(nullptr, fileSize, out, &found, kTypeExifJpeg);
    case kTypeExifTiff:
      return ParseExifFileStream(stream, fileSize, out, &found, kTypeExifTiff);
    default:
      return QD_E_UNSUPPORTED;
  }
}

namespace {

// The parse exports differ only in these: whether they open the stream and
// check its callbacks, where the file size comes from, and whose error wins.
uint32_t ParseUnopened(const qdlStream* stream, const Outputs& out, uint8_t* fileType) {
  uint8_t type = kTypeNone;
  const uint32_t result = RunStreamExport({stream, kHostOpened, kNeedsRecordOnly, true}, {}, [&](StreamPort& port) {
    return WorkResult{ST_OK, ParseFileStream(port, 0, out, &type)};
  });
  if (fileType != nullptr) *fileType = type;
  return result;
}

uint32_t ParseThumbnailExport(const qdlStream* stream, uint32_t fileSize, const Outputs& out) {
  ExportCall call{stream, QD_OPEN_READ, kNeedsReading, true};
  call.closeErrorWins = true;
  return RunStreamExport(call, {}, [&](StreamPort& port) {
    uint8_t type = kTypeNone;
    return WorkResult{ST_OK, ParseFileStream(port, fileSize, out, &type)};
  });
}

uint32_t ParseFullViewExport(const qdlStream* stream, const Outputs& out) {
  return RunStreamExport({stream, QD_OPEN_READ, kNeedsReading, true}, {}, [&](StreamPort& port) {
    uint32_t error = 0;
    const uint32_t size = StreamSize(stream, &error);
    if (error != 0) return WorkResult{ST_OK, error};
    uint8_t type = kTypeNone;
    return WorkResult{ST_OK, ParseFileStream(port, size, out, &type)};
  });
}

}  // namespace
}  // namespace qd::extract

using qd::extract::Outputs;

extern "C" QD_EXPORT uint32_t QD_API QDParseStream(const qdlStream* stream, QdThumbnailInfo* thumbInfo,
                                                 QdImageInfo* imageInfo, ExifCaptureInfo* captureInfo,
                                                 ExifShotValues* shotValues, uint8_t* fileType) {
  return qd::extract::ParseUnopened(
      stream, Outputs{thumbInfo, imageInfo, captureInfo, shotValues, nullptr, nullptr, nullptr, nullptr},
      fileType);
}

extern "C" QD_EXPORT uint32_t QD_API QDParseStream2(const qdlStream* stream, QdThumbnailInfo* thumbInfo,
                                                  QdImageInfo* imageInfo, QdAuxImageInfo* auxInfo,
                                                  ExifCaptureInfo* captureInfo, ExifShotValues* shotValues,
                                                  uint8_t* fileType) {
  return qd::extract::ParseUnopened(
      stream, Outputs{thumbInfo, imageInfo, captureInfo, shotValues, auxInfo, nullptr, nullptr, nullptr},
      fileType);
}

extern "C" QD_EXPORT uint32_t QD_API QDParseThumbnailFileStream(
    const qdlStream* stream, uint32_t fileSize, QdThumbnailInfo* thumbInfo, QdImageInfo* imageInfo,
    ExifCaptureInfo* captureInfo, ExifShotValues* shotValues, const qdlStream*, const qdlStream* commentOut,
    const qdlStream* propertyOut) {
  return qd::extract::ParseThumbnailExport(
      stream, fileSize,
      Outputs{thumbInfo, imageInfo, captureInfo, shotValues, nullptr, commentOut, propertyOut, nullptr});
}

extern "C" QD_EXPORT uint32_t QD_API QDParseThumbnailFileStreamEx2(
    const qdlStream* stream, uint32_t fileSize, QdThumbnailInfo* thumbInfo, QdImageInfo* imageInfo,
    QdAuxImageInfo* auxInfo, ExifCaptureInfo* captureInfo, ExifShotValues* shotValues, const qdlStream*,
    const qdlStream* commentOut, const qdlStream* propertyOut, const qdlStream* dcfThumbOut) {
  return qd::extract::ParseThumbnailExport(
      stream, fileSize,
      Outputs{thumbInfo, imageInfo, captureInfo, shotValues, auxInfo, commentOut, propertyOut, dcfThumbOut});
}

extern "C" QD_EXPORT uint32_t QD_API QDParseThumbnailFileStreamEx(
    const qdlStream* stream, uint32_t fileSize, QdThumbnailInfo* thumbInfo, QdImageInfo* imageInfo,
    ExifCaptureInfo* captureInfo, ExifShotValues* shotValues, const qdlStream*,
    const qdlStream* commentOut, const qdlStream* propertyOut, const qdlStream* dcfThumbOut) {
  return qd::extract::ParseThumbnailExport(
      stream, fileSize,
      Outputs{thumbInfo, imageInfo, captureInfo, shotValues, nullptr, commentOut, propertyOut, dcfThumbOut});
}

// Second names of the same entry points.
#if defined(__GNUC__) && !defined(_WIN32)
extern "C" QD_EXPORT uint32_t QD_API QDParseGetFileStream(
    const qdlStream* stream, uint32_t fileSize, QdThumbnailInfo* thumbInfo, QdImageInfo* imageInfo,
    ExifCaptureInfo* captureInfo, ExifShotValues* shotValues, const qdlStream* reserved,
    const qdlStream* commentOut, const qdlStream* propertyOut, const qdlStream* dcfThumbOut)
    __attribute__((alias("QDParseThumbnailFileStreamEx")));
#else
extern "C" QD_EXPORT uint32_t QD_API QDParseGetFileStream(
    const qdlStream* stream, uint32_t fileSize, QdThumbnailInfo* thumbInfo, QdImageInfo* imageInfo,
    ExifCaptureInfo* captureInfo, ExifShotValues* shotValues, const qdlStream*,
    const qdlStream* commentOut, const qdlStream* propertyOut, const qdlStream* dcfThumbOut) {
  return qd::extract::ParseThumbnailExport(
      stream, fileSize,
      Outputs{thumbInfo, imageInfo, captureInfo, shotValues, nullptr, commentOut, propertyOut, dcfThumbOut});
}
#endif

extern "C" QD_EXPORT uint32_t QD_API QDParseGetFileStream2(
    const qdlStream* stream, uint32_t fileSize, QdThumbnailInfo* thumbInfo, QdImageInfo* imageInfo,
    QdAuxImageInfo* auxInfo, ExifCaptureInfo* captureInfo, ExifShotValues* shotValues,
    const qdlStream*, const qdlStream* commentOut, const qdlStream* propertyOut,
    const qdlStream* dcfThumbOut) {
  return qd::extract::ParseThumbnailExport(
      stream, fileSize,
      Outputs{thumbInfo, imageInfo, captureInfo, shotValues, auxInfo, commentOut, propertyOut, dcfThumbOut});
}

extern "C" QD_EXPORT uint32_t QD_API QDParseFullViewFileStream(
    const qdlStream* stream, QdImageInfo* imageInfo, ExifCaptureInfo* captureInfo, ExifShotValues* shotValues,
    const qdlStream*, const qdlStream* commentOut, const qdlStream* propertyOut) {
  return qd::extract::ParseFullViewExport(
      stream, Outputs{nullptr, imageInfo, captureInfo, shotValues, nullptr, commentOut, propertyOut, nullptr});
}

extern "C" QD_EXPORT uint32_t QD_API QDParseFullViewFileStreamEx(
    const qdlStream* stream, QdImageInfo* imageInfo, ExifCaptureInfo* captureInfo, ExifShotValues* shotValues,
    const qdlStream*, const qdlStream* commentOut, const qdlStream* propertyOut, const qdlStream* dcfThumbOut) {
  return qd::extract::ParseFullViewExport(
      stream, Outputs{nullptr, imageInfo, captureInfo, shotValues, nullptr, commentOut, propertyOut, dcfThumbOut});
}

extern "C" QD_EXPORT uint32_t QD_API QDParseGetDCFThumbnail(const qdlStream* stream, const qdlStream* dcfThumbOut) {
  return qd::extract::ParseFullViewExport(
      stream, Outputs{nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, dcfThumbOut});
}
