// Small questions about a file without a full parse: its image format code
// and camera, and where the camera maker's maker note lies.
#include <cstring>

#include "container/recognize.h"
#include "exifwrite/camera_models.h"
#include "extract/exif_file_query.h"
#include "extract/parse.h"
#include "format/exif_tags.h"
#include "format/file_kind.h"
#include "format/heap_records.h"
#include "format/tiff_format.h"
#include "frame/byte_order.h"
#include "frame/export_call.h"
#include "frame/memory_block.h"
#include "heap/heap_object.h"
#include "tiffjpeg/tiff_probes.h"

namespace qd::heapobj {
namespace {

using extract::ExifFile;

constexpr uint32_t kNameField = 64;       // Make, Model, and the heap's maker-and-model text
constexpr uint32_t kOutputText = 32;      // the caller's buffers
constexpr uint32_t kSettingsBytes = 92;   // the maker note's camera-settings array
constexpr uint32_t kSettingsKindAt = 18;  // its value 9

// Recognition succeeded or found no container it knows; anything else (no
// memory, a broken file) ends the query.
bool Unrecognised(Status st) { return st == ST_OK || st == ST_NOT_FOUND || st == ST_UNSUPPORTED; }

struct Camera {
  uint8_t format = 0;
  char model[kOutputText] = {};
  char maker[kOutputText] = {};
};

void CopyName(char* to, const char* from, size_t length) {
  const size_t n = length < kOutputText - 1 ? length : kOutputText - 1;
  std::memcpy(to, from, n);
  to[n] = '\0';
}

RecordEntry Entry(uint16_t type, void* data = nullptr, uint32_t size = 0) {
  RecordEntry e{};
  e.type = type;
  e.pointer = data;
  e.size = size;
  return e;
}

IfdQuery Query(uint16_t op, uint16_t tag = 0, uint16_t type = 0, void* data = nullptr, uint32_t size = 0) {
  return IfdQuery{op, tag, type, 0, reinterpret_cast<uintptr_t>(data), size, 0};
}

// Heap kinds: the image class, the image description's bits per sample, and
// the maker name and model name that 0x080A holds one after the other.
uint32_t HeapCamera(const HeapObject& heap, Camera* c) {
  uint8_t imageClass[8] = {};
  uint8_t description[28] = {};
  char names[kNameField + 1] = {};
  RecordEntry list[] = {Entry(heap::kTypeImageClass, imageClass, sizeof imageClass),
                        Entry(heap::kTypeImageDescription, description, sizeof description),
                        Entry(heap::kTypeOwnerHeap), Entry(heap::kTypeMakerModel, names, kNameField),
                        RecordEntry{}, RecordEntry{}};
  RecordEntry* cursor = list;
  const Status st = heap::ReadHeapObject(heap, &cursor, heap::Delivery::kCopy);
  if (st != ST_OK) return ToResultCode(st);
  const size_t makerLength = strnlen(names, kNameField);
  if (makerLength > kNameField - 2) return QD_E_UNSUPPORTED;
  CopyName(c->maker, names, makerLength);
  const char* model = names + makerLength + 1;
  CopyName(c->model, model, strnlen(model, kNameField - makerLength - 1));
  if (list[0].found == 0) {
    if (!camera::IsMaker(c->maker)) return QD_E_NOT_APPLICABLE;
    c->format = extract::kFormatJpeg;
    return QD_OK;
  }
  const bool sixteenBits = list[1].found != 0 && GetLE32(description + 16) == 16;
  switch (GetLE32(imageClass) >> 16) {
    case 1: c->format = extract::kFormatJpeg; break;
    case 2: c->format = extract::kFormatHeap1; break;
    case 3: c->format = sixteenBits ? extract::kFormatHeap16 : extract::kFormatHeap3; break;
    default: c->format = 0; break;
  }
  return QD_OK;
}

// The format an Exif file's maker note refines: value 9 of its camera settings.
uint8_t RefinedFormat(uint16_t kind, uint8_t basic, const uint8_t* settings) {
  switch (GetLE16(settings + kSettingsKindAt)) {
    case 1: return extract::kFormatExifJpeg;
    case 3: return extract::kFormatAuxiliary;
    case 4: return extract::kFormatRawExifTiff;
    case 5: return kind == kKindExifJpeg ? extract::kFormatExifJpeg : extract::kFormatRawExifTiff;
    default: return basic;
  }
}

uint32_t ExifCamera(const ExifFile& file, uint16_t kind, Camera* c) {
  char make[kNameField + 1] = {};
  char model[kNameField + 1] = {};
  IfdQuery list[] = {Query(IFDQ_READ, tiff::kTagMake, tiff::kAscii, make, kNameField),
                     Query(IFDQ_READ, tiff::kTagModel, tiff::kAscii, model, kNameField),
                     Query(IFDQ_ENTER, tiff::kTagExifIfd), Query(IFDQ_LOCATE, tiff::kTagMakerNote),
                     Query(IFDQ_LEAVE), Query(IFDQ_END)};
  uint32_t result = extract::QueryExifFile(file, list);
  if (result != QD_OK) return result;
  CopyName(c->maker, make, strnlen(make, kNameField));
  CopyName(c->model, model, strnlen(model, kNameField));
  const uint8_t basic = kind == kKindExifJpeg ? extract::kFormatExifJpeg : extract::kFormatExifTiff;
  c->format = basic;
  if (!camera::IsMaker(make) || list[3].found == 0) return QD_OK;
  uint8_t settings[kSettingsBytes] = {};
  IfdQuery note[] = {Query(IFDQ_READ, tiff::kMakerCameraSettings, tiff::kShort, settings, sizeof settings),
                     Query(IFDQ_END)};
  result = extract::QueryExifMakerNote(file, static_cast<uint32_t>(list[3].data), list[3].size, note);
  if (result != QD_OK) {
    c->format = 0;
    return result;
  }
  const bool kindKnown = note[0].found != 0 && note[0].size >= kSettingsKindAt + 2 &&
                         GetLE16(settings) >= kSettingsKindAt + 2;
  if (kindKnown) c->format = RefinedFormat(kind, basic, settings);
  return QD_OK;
}

uint32_t FileCamera(const StreamPort& port, Camera* c) {
  Recognition found;
  const Status st = found.Run(port);
  if (port.hostError != 0) return port.hostError;
  if (!Unrecognised(st)) return ToResultCode(st);
  switch (found.kind) {
    case kKindTiffRaw:
    case kKindJpegHeap:
    case kKindHeapFile:
      return HeapCamera(found.heap, c);
    case kKindExifJpeg:
      return ExifCamera({nullptr, &found.exif}, found.kind, c);
    case kKindExifTiff:
      return ExifCamera({port.host, &found.exif}, found.kind, c);
    case kKindNone:
      break;
    default:
      return QD_E_NOT_APPLICABLE;
  }
  // Not a container the library knows: a TIFF may still name its camera.
  const Status read = tiff::ReadMakeModel(port, c->model, c->maker);
  if (port.hostError != 0) return port.hostError;
  if (read != ST_OK) {
    *c = Camera{};
    return QD_E_NOT_APPLICABLE;
  }
  c->format = camera::IsArxKTiff(c->model) ? extract::kFormatArxKTiff : 0;
  return QD_OK;
}

uint32_t MakerNote(const StreamPort& port, MakerNoteLocation* location, const qdlStream* out) {
  Recognition found;
  Status st = found.Run(port);
  if (port.hostError != 0) return port.hostError;
  if (!Unrecognised(st)) return ToResultCode(st);
  if (found.kind != kKindExifJpeg && found.kind != kKindExifTiff) return QD_E_NOT_APPLICABLE;
  const bool inStream = found.kind == kKindExifTiff;
  const ExifFile file{inStream ? port.host : nullptr, &found.exif};
  char make[kNameField + 1] = {};
  IfdQuery list[] = {Query(IFDQ_READ, tiff::kTagMake, tiff::kAscii, make, kNameField),
                     Query(IFDQ_ENTER, tiff::kTagExifIfd), Query(IFDQ_LOCATE, tiff::kTagMakerNote),
                     Query(IFDQ_LEAVE), Query(IFDQ_END)};
  const uint32_t result = extract::QueryExifFile(file, list);
  if (result != QD_OK) return result;
  if (list[0].found == 0 || list[2].found == 0) return QD_E_NOT_APPLICABLE;
  if (!camera::IsMaker(make)) return QD_E_OTHER_MAKER;
  const uint32_t length = list[2].size;
  const uint32_t offset = static_cast<uint32_t>(list[2].data);
  *location = MakerNoteLocation{length, found.exif.byteOrder, offset};
  if (out == nullptr) return QD_OK;

  // The range is checked before it decides an allocation.
  const uint32_t size = inStream ? PortSize(port.ops, &st) : found.exif.tiffSize;
  if (port.hostError != 0) return port.hostError;
  if (inStream && st != ST_OK) return ToResultCode(st);
  if (!FitsIn(offset, length, size)) return QD_E_OUT_OF_RANGE;
  BlockOwner bytes(BlockAlloc(length));
  if (!bytes) return QD_E_NO_MEMORY;
  if (inStream) {
    const Status read = PortReadAt(port.ops, offset, bytes.get(), length);
    if (port.hostError != 0) return port.hostError;
    if (read != ST_OK) return ToResultCode(read);
  } else {
    std::memcpy(bytes.get(), found.exif.tiff + offset, length);
  }
  return StreamWriteWhole(out, bytes.get(), length);
}

}  // namespace
}  // namespace qd::heapobj

using qd::kNeedsReading;
using qd::RunStreamExport;
using qd::StreamPort;
using qd::WorkResult;

extern "C" QD_EXPORT uint32_t QD_API qdParseGetFileType(const qdlStream* stream, uint8_t* formatCode,
                                                       char* model, char* maker) {
  const bool anyOutput = formatCode != nullptr || model != nullptr || maker != nullptr;
  return RunStreamExport({stream, QD_OPEN_READ, kNeedsReading, anyOutput}, {}, [&](StreamPort& port) {
    qd::heapobj::Camera c;
    const uint32_t result = qd::heapobj::FileCamera(port, &c);
    if (formatCode != nullptr) *formatCode = c.format;
    if (model != nullptr) std::memcpy(model, c.model, sizeof c.model);
    if (maker != nullptr) std::memcpy(maker, c.maker, sizeof c.maker);
    return WorkResult{qd::ST_OK, result};
  });
}

extern "C" QD_EXPORT uint32_t QD_API qdParseGetDCFMakerNote(const qdlStream* stream,
                                                           MakerNoteLocation* location,
                                                           const qdlStream* destination) {
  const bool destinationOk = destination == nullptr || (destination->open != nullptr &&
                                                        destination->write != nullptr &&
                                                        destination->close != nullptr);
  const qd::ExportCall call{stream, QD_OPEN_READ, kNeedsReading, location != nullptr && destinationOk};
  return RunStreamExport(call, {}, [&](StreamPort& port) {
    return WorkResult{qd::ST_OK, qd::heapobj::MakerNote(port, location, destination)};
  });
}
