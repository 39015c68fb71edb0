#include "replace/single_rewrite.h"

#include <cstring>

#include "exifwrite/camera_models.h"
#include "format/exif_tags.h"
#include "format/jpeg_format.h"
#include "format/tiff_format.h"
#include "frame/buffered_reader.h"
#include "frame/memory_block.h"
#include "replace/rewrite_values.h"
#include "tiffjpeg/exif_query.h"

namespace qd::replace {
namespace {

using namespace qd::tiff;

// Where the identifier's tag lives (bits 20-23).
enum Ifd : uint32_t { kIfd0 = 0, kExifIfd = 1, kInteropIfd = 2, kIfd1 = 3, kMakerNoteIfd = 4 };
enum Conversion : uint32_t { kAsIs = 0, kTimeToDate = 1 };
constexpr uint32_t kDateIds[] = {0x01020132, 0x01129003, 0x01129004};
constexpr uint32_t kMakeRoom = 64;

struct PropertyId {
  explicit PropertyId(uint32_t id)
      : id(id), tag(static_cast<uint16_t>(id)), type(static_cast<uint16_t>((id >> 16) & 0xF)),
        ifd((id >> 20) & 0xF), conversion((id >> 24) & 0xF) {}
  uint32_t id;
  uint16_t tag, type;
  uint32_t ifd, conversion;
};

// The file's side of the rewrite: its Exif structure in memory (type 5) or
// read through a buffered reader (type 8), and the target value found in it.
class TagSite {
 public:
  TagSite(TiffBlockInfo* exif, BufferedReader* reader) : exif_(exif), reader_(reader) {}
  TagSite(const TagSite&) = delete;
  TagSite& operator=(const TagSite&) = delete;
  ~TagSite() {
    if (reader_ != nullptr && target_ != nullptr && target_->found != 0) {
      (void)BlockFree(reinterpret_cast<void*>(target_->data));
    }
  }

  // Runs the main list and, for a maker-note tag, the maker note's list.
  Status Locate(const PropertyId& p) {
    IfdQuery* const list = list_;
    size_t n = 0;
    const auto add = [&](uint16_t op, uint16_t tag, uint16_t type) -> IfdQuery* {
      list[n] = IfdQuery{op, tag, type, 0, 0, 0, 0};
      return &list[n++];
    };
    const auto target = [&](Ifd ifd) {
      if (p.ifd == ifd) target_ = add(IFDQ_READ, p.tag, p.type);
    };
    char make[kMakeRoom] = {};
    target(kIfd0);
    IfdQuery* makeRequest = add(IFDQ_READ, kTagMake, kAscii);
    if (reader_ != nullptr) {  // the stream form copies into the buffer it is given
      makeRequest->data = reinterpret_cast<uintptr_t>(make);
      makeRequest->size = kMakeRoom - 1;
    }
    add(IFDQ_ENTER, kTagExifIfd, 0);
    target(kExifIfd);
    IfdQuery* note = add(IFDQ_LOCATE, kTagMakerNote, 0);
    add(IFDQ_ENTER, kTagInteropIfd, 0);
    target(kInteropIfd);
    add(IFDQ_LEAVE, 0, 0);
    add(IFDQ_LEAVE, 0, 0);
    add(IFDQ_NEXT_IFD, 0, 0);
    target(kIfd1);
    add(IFDQ_END, 0, 0);

    if (p.ifd == kMakerNoteIfd) target_ = &makerList_[0];
    Status st = Query(exif_, list, 0, 0);
    if (st != ST_OK || p.ifd != kMakerNoteIfd) return st;

    if (reader_ == nullptr && makeRequest->found != 0) {
      const uint32_t size = makeRequest->size < kMakeRoom - 1 ? makeRequest->size : kMakeRoom - 1;
      std::memcpy(make, reinterpret_cast<const void*>(makeRequest->data), size);
    }
    if (makeRequest->found == 0 || note->found == 0 ||
        (std::strcmp(make, camera::kMakerName) != 0 && std::strcmp(make, camera::kMakerNameUpper) != 0)) {
      return ST_OK;  // the target stays unfound
    }
    makerList_[0] = IfdQuery{IFDQ_READ, p.tag, p.type, 0, 0, 0, 0};
    makerList_[1] = IfdQuery{IFDQ_END, 0, 0, 0, 0, 0, 0};
    TiffBlockInfo notes = *exif_;
    notes.ifdOffset = static_cast<uint32_t>(note->data);
    st = Query(&notes, makerList_, notes.ifdOffset, note->size);
    order_ = Order(notes);
    return st;
  }

  uint8_t* bytes() const { return Found() ? reinterpret_cast<uint8_t*>(target_->data) : nullptr; }
  uint32_t size() const { return Found() ? target_->size : 0; }
  uint32_t position() const { return target_->position; }
  ByteOrder order() const { return order_; }

 private:
  bool Found() const { return target_ != nullptr && target_->found != 0 && target_->data != 0; }

  Status Query(TiffBlockInfo* block, IfdQuery* list, uint32_t noteOffset, uint32_t noteSize) {
    const Status st = reader_ != nullptr ? QueryStreamLocate(block, list)
                                         : QueryMakerNote(block, list, noteOffset, noteSize, ReadMode::kLocate);
    order_ = Order(*block);
    return st;
  }

  TiffBlockInfo* exif_;
  BufferedReader* reader_;
  IfdQuery list_[12] = {};  // outlives Locate: target_ points into it
  IfdQuery* target_ = nullptr;
  IfdQuery makerList_[2] = {};
  ByteOrder order_ = kLittleEndian;
};

// Puts the new value over the target; false when nothing could be changed.
bool Change(const PropertyId& p, const TagSite& site, const uint8_t* value, uint32_t size) {
  uint8_t* to = site.bytes();
  if (p.conversion == kAsIs) {
    const uint32_t n = size < site.size() ? size : site.size();
    std::memset(to, 0, site.size());
    StoreValue(to, value, n, ElementSize(p.type), site.order());
    return true;
  }
  if (size < 4) return false;
  char text[kDateText] = {};
  const auto t = static_cast<int32_t>(GetLE32(value));
  if (!FormatDate(int64_t{t} + LocalClockOffset(), text)) return false;
  std::memcpy(to, text, site.size() < kDateText ? site.size() : kDateText);
  return true;
}

uint32_t Rewrite(const StreamPort& port, TiffBlockInfo* exif, BufferedReader* reader, const PropertyId& p,
                 const qdlStream* value) {
  TagSite site(exif, reader);
  const Status st = site.Locate(p);
  // A value the walk could not read for a failing host is no missing value.
  if (st != ST_OK || port.hostError != 0) return WalkFailure(port, st);
  if (site.bytes() == nullptr) return QD_E_NOT_APPLICABLE;

  BlockOwner bytes;
  uint32_t size = 0;
  const uint32_t read = ReadValueStream(value, &bytes, &size);
  if (read != QD_OK) return read;
  if (p.conversion == kTimeToDate &&
      p.id != kDateIds[0] && p.id != kDateIds[1] && p.id != kDateIds[2]) {
    return QD_E_NOT_APPLICABLE;
  }
  if (p.conversion > kTimeToDate || !Change(p, site, bytes.get(), size)) return QD_E_NOT_APPLICABLE;

  if (reader == nullptr) return WriteBackApp1(port.host, *exif);
  uint32_t error = 0;
  StreamSeek(port.host, QD_SEEK_START, static_cast<int32_t>(site.position()), &error);
  if (error == 0) StreamWriteExact(port.host, site.bytes(), site.size(), kErrorBase, &error);
  return error;
}

}  // namespace

uint32_t RewriteTag(const StreamPort& port, TiffBlockInfo* exif, uint8_t fileType, uint32_t id,
                    const qdlStream* value) {
  if (exif == nullptr || port.host == nullptr) return QD_E_INVALID_ARG;
  const PropertyId p(id);
  if (p.ifd > kMakerNoteIfd || p.tag == 0 || p.type == 0) return QD_E_NOT_APPLICABLE;
  if (fileType != 8) return Rewrite(port, exif, nullptr, p, value);

  BufferedReader reader{};
  const Status st = ReaderOpen(port, kProbeReaderCapacity, &reader);
  if (st != ST_OK) return FailureResult(port, st);
  TiffBlockInfo block{};
  block.segmentOffset = reinterpret_cast<uintptr_t>(&reader);
  block.byteOrder = exif->byteOrder;
  block.ifdOffset = exif->ifdOffset;  // tiffSize 0: the TIFF header is at the stream's start
  const uint32_t result = Rewrite(port, &block, &reader, p, value);
  (void)ReaderClose(&reader);
  return result;
}

uint32_t WriteBackApp1(const qdlStream* stream, const TiffBlockInfo& exif) {
  // Where recognition found the block: its APP1 marker, then the length field.
  uint8_t head[2 + jpeg::kLengthSize];
  uint32_t error = 0;
  StreamSeek(stream, QD_SEEK_START, static_cast<int32_t>(exif.segmentOffset), &error);
  if (error == 0) StreamReadExact(stream, head, sizeof head, kErrorBase, &error);
  if (error != 0) return error;
  const uint32_t size = BlockLength(exif.segment);
  // The rewrites never change a block's length; anything else is not ours to overwrite.
  if (head[0] != jpeg::kMarkerPrefix || head[1] != jpeg::kAPP1 ||
      Get16(head + 2, kBigEndian) != uint64_t{size} + jpeg::kLengthSize) {
    return QD_E_UNSUPPORTED;
  }
  StreamWriteExact(stream, exif.segment, size, kErrorBase, &error);
  return error;
}

}  // namespace qd::replace
