#include "iim/iim_locate.h"

#include <cstring>

#include "container/recognize.h"
#include "exifwrite/camera_models.h"
#include "format/exif_tags.h"
#include "format/jpeg_format.h"
#include "format/tiff_format.h"
#include "tiffjpeg/exif_query.h"
#include "tiffjpeg/jpeg_stream.h"
#include "tiffjpeg/tiff_probes.h"

namespace qd::iim {
namespace {

// From an APP1 marker byte to its TIFF header: the length field, "Exif" and
// two zero bytes.
constexpr uint32_t kApp1ToTiff = jpeg::kLengthSize + 6;

// TIFF files of these models are read like Exif TIFFs though recognition
// does not take them.
bool IsIimTiffModel(const StreamPort& port) {
  char model[tiff::kMakeModelSize] = {}, make[tiff::kMakeModelSize] = {};
  if (tiff::ReadMakeModel(port, model, make) != ST_OK) return false;
  return std::strcmp(make, camera::kMakerName) == 0 && camera::IsArxKTiff(model);
}

// The file position just after the marker byte of the first APP1, found byte
// by byte from the start.
uint32_t AfterFirstApp1(const StreamPort& port, uint64_t* after) {
  uint32_t error = 0;
  StreamSeek(port.host, QD_SEEK_START, 0, &error);
  if (error != 0) return error;
  for (uint8_t m = 0; m != jpeg::kAPP1;) {
    m = jpeg::NextMarker(port.host);
    if (m == 0 || m == jpeg::kEOI) return QD_E_UNSUPPORTED;
  }
  error = 0;
  *after = port.host->tell(port.host->context, &error);
  return error;
}

}  // namespace

uint32_t LocateIim(const StreamPort& port, IimLocation* where) {
  Recognition found;
  const Status st = found.Run(port);
  where->kind = found.kind;
  bool tiffFile = found.kind == kKindExifTiff;
  if (st != ST_OK) {
    if (found.kind != kKindNone || !IsIimTiffModel(port)) return ToResultCode(st);
    tiffFile = true;  // the Exif-TIFF probe left IFD0's offset and byte order
  } else if (found.kind != kKindExifJpeg && !tiffFile) {
    return QD_E_CORRUPT;
  }

  IfdQuery list[2] = {{IFDQ_LOCATE, tiff::kTagIptc, tiff::kLong, 0, 0, 0, 0}, {IFDQ_END, 0, 0, 0, 0, 0, 0}};
  const uint32_t queried =
      tiffFile ? tiff::QueryStream(port.host, found.exif.ifdOffset, tiff::Order(found.exif), list)
               : ToResultCode(tiff::QueryExif(&found.exif, list, tiff::ReadMode::kCopy));
  if (queried != QD_OK) return queried;
  if (list[0].found == 0) return QD_E_NOT_APPLICABLE;
  const auto offset = static_cast<uint32_t>(list[0].data);
  found.Release();
  if (tiffFile) {
    where->position = offset;
    return QD_OK;
  }
  uint64_t app1 = 0;
  const uint32_t scanned = AfterFirstApp1(port, &app1);
  where->position = app1 + kApp1ToTiff + offset;
  return scanned;
}

}  // namespace qd::iim
