#include "tiffjpeg/jpeg_segments.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "tiffjpeg/jpeg_stream.h"
#include "frame/buffered_reader.h"
#include "frame/byte_order.h"
#include "frame/export_call.h"
#include "frame/memory_block.h"
#include "heap/heap_object.h"
#include "format/jpeg_format.h"

namespace qd::jpeg {
namespace {

constexpr uint32_t kReaderCapacity = 1024;

uint16_t BigEndian16(const uint8_t* p) { return Get16(p, kBigEndian); }

struct Segment {
  uint8_t marker;
  uint32_t position;  // of the length field; the marker byte is at position - 1
  uint16_t length;    // counts itself
  uint32_t payload() const { return length > kLengthSize ? length - kLengthSize : 0; }
  uint32_t payloadAt() const { return position + kLengthSize; }
};

// What a visitor asks of the walk after a segment.
enum class Step : uint8_t {
  kSkip,      // seek to the next marker: position + length
  kContinue,  // go on scanning right after the length field
  kStop,      // the walk is over, successfully
};

// Bytes before the first marker that a walk looks through: a JPEG may be
// preceded by a little padding, but a stream without a marker this far in is
// not a JPEG, and is not read to its end to say so.
constexpr uint32_t kFirstMarkerWithin = 64 * 1024;

// Reads to the next marker: one or more 0xFF and a byte that is neither 0x00
// nor 0xFF, its 0xFF before `limit`. Every pass consumes at least one byte, so
// the walk advances.
Status FindMarker(BufferedReader* r, uint8_t* marker, uint32_t limit) {
  // Segments mostly follow each other directly: a marker whole in the window.
  if (r->cursor < r->valid && r->valid - r->cursor >= 2 && ReaderTell(*r) < limit) {
    const uint8_t* p = r->buffer + r->cursor;
    if (p[0] == kMarkerPrefix && p[1] != kMarkerPrefix && p[1] != kStuffed) {
      r->cursor += 2;
      *marker = p[1];
      return ST_OK;
    }
  }
  uint8_t b = 0;
  for (;;) {
    for (;;) {
      const uint32_t at = ReaderTell(*r);
      if (at >= limit) return ST_UNSUPPORTED;
      // Bytes before a 0xFF are passed over within the window, not one read each.
      if (r->cursor < r->valid) {
        const uint32_t span = std::min(r->valid - r->cursor, limit - at);
        const auto* ff = static_cast<const uint8_t*>(std::memchr(r->buffer + r->cursor, kMarkerPrefix, span));
        if (ff == nullptr) {
          r->cursor += span;
          continue;
        }
        r->cursor = static_cast<uint32_t>(ff - r->buffer);
      }
      if (ReaderRead(r, 1, &b) != ST_OK) return ST_UNSUPPORTED;
      if (b == kMarkerPrefix) break;
    }
    do {
      if (ReaderRead(r, 1, &b) != ST_OK) return ST_UNSUPPORTED;
    } while (b == kMarkerPrefix);
    if (b != kStuffed) {
      *marker = b;
      return ST_OK;
    }
  }
}

// The common marker walk. The visitor's OnSegment decides the step; OnEnd
// answers EOI; OnLengthFailure a length field that cannot be read. Marker
// positions strictly increase, so the walk ends with the stream.
template <typename Visitor>
Status WalkMarkers(BufferedReader* r, Visitor& v) {
  const uint32_t start = ReaderTell(*r);
  uint32_t limit = start > UINT32_MAX - kFirstMarkerWithin ? UINT32_MAX : start + kFirstMarkerWithin;
  for (;;) {
    uint8_t marker = 0;
    Status st = FindMarker(r, &marker, limit);
    if (st != ST_OK) return v.OnScanFailure();
    limit = UINT32_MAX;
    const uint32_t position = ReaderTell(*r);
    if (marker == kEOI) return v.OnEnd();
    if (marker == kSOI) continue;
    uint8_t length[kLengthSize];
    st = ReaderRead(r, kLengthSize, length);
    if (st != ST_OK) return v.OnLengthFailure(st);
    const Segment seg{marker, position, BigEndian16(length)};
    Step step = Step::kSkip;
    st = v.OnSegment(seg, &step);
    if (st != ST_OK) return st;
    if (step == Step::kStop) return ST_OK;
    if (step == Step::kSkip && ReaderSeek(r, int64_t{position} + seg.length, kReaderAbsolute) != ST_OK) {
      return v.OnScanFailure();
    }
  }
}

Status ReadPayload(BufferedReader* r, const Segment& seg, uint32_t skip, uint32_t n, void* into) {
  const Status st = ReaderSeek(r, int64_t{seg.payloadAt()} + skip, kReaderAbsolute);
  return st != ST_OK ? st : ReaderRead(r, n, into);
}

// A payload of `n` bytes at `skip` into a new block.
Status LoadBlock(BufferedReader* r, const Segment& seg, uint32_t skip, uint32_t n, BlockOwner* out) {
  out->reset(BlockAlloc(n));
  if (!*out) return ST_NO_MEMORY;
  return ReadPayload(r, seg, skip, n, out->get());
}

// Fills `sof` from a frame header's payload: precision, lines, samples per
// line, components and, when `sampling` is given, the first component's
// identifier and sampling. ST_UNSUPPORTED when the payload is shorter.
Status ReadFrameHeader(BufferedReader* r, const Segment& seg, JpegSofInfo* sof, uint8_t* sampling = nullptr) {
  uint8_t p[kSofPayload + 2];  // and the first component's identifier and sampling
  const uint32_t n = sampling != nullptr ? sizeof p : kSofPayload;
  if (seg.payload() < n) return ST_UNSUPPORTED;
  const Status st = ReadPayload(r, seg, 0, n, p);
  if (st != ST_OK) return st;
  sof->found = 1;
  sof->position = seg.position;
  sof->length = seg.length;
  sof->height = BigEndian16(p + 1);
  sof->width = BigEndian16(p + 3);
  sof->components = p[5];
  if (sampling != nullptr) *sampling = p[7];
  return ST_OK;
}

bool IsExifSignature(const uint8_t* p, uint32_t n) {
  return n >= 5 && (std::memcmp(p, "Exif", 5) == 0 || std::memcmp(p, "LoLe", 5) == 0);
}

// The properties walk: what the probes take from a JPEG.
class PropertiesWalk {
 public:
  PropertiesWalk(BufferedReader* r, JpegSofInfo* sof, JfifInfo* jfif, bool collecting)
      : r_(r), sof_(sof), jfif_(jfif), collecting_(collecting) {}

  Status OnSegment(const Segment& seg, Step* step) {
    const uint8_t m = seg.marker;
    const bool ours = m == kAPP0 || m == kAPP1 || m == kAPP2 || m == kAPP13 || IsFrameHeader(m);
    if ((collecting_ || ours) && seg.length <= kLengthSize) {
      *step = Step::kContinue;
      return ST_OK;
    }
    if (IsFrameHeader(m)) return OnFrameHeader(seg, step);
    if ((m == kAPP0 || m == kAPP1) && !exifTaken_) return OnApplication(seg);
    if (collecting_ && (m == kAPP2 || m == kAPP13)) {
      extensionBytes_ += uint32_t{seg.length} + kLengthSize;
      return ST_OK;
    }
    if (m == kAPP2 && !icc_) return OnIcc(seg);
    if (m == kAPP13 && !iim_) return OnIim(seg);
    return ST_OK;
  }
  Status OnEnd() { return ST_OK; }
  Status OnScanFailure() { return collecting_ ? ST_OK : ST_UNSUPPORTED; }
  Status OnLengthFailure(Status) { return collecting_ ? ST_OK : ST_UNSUPPORTED; }

  bool Complete() const { return sof_->found != 0 && (app_ || appSkipped_); }

  BlockOwner app_;
  bool appSkipped_ = false;  // the last block was an APP1 left unread
  uint8_t appMarker_ = 0;
  uint32_t appOffset_ = 0;
  BlockOwner icc_;
  BlockOwner iim_;
  uint32_t extensionBytes_ = 0;

 private:
  Status OnFrameHeader(const Segment& seg, Step* step) {
    if (sof_->found != 0) return ST_OK;
    const Status st = ReadFrameHeader(r_, seg, sof_);
    if (st != ST_OK) return st;
    if (!collecting_) *step = Step::kStop;  // the probe stops at the first frame
    return ST_OK;
  }

  Status OnApplication(const Segment& seg) {
    if (seg.marker == kAPP0 && jfif_->found == 0) return OnJfif(seg);
    // An APP1 without the Exif signature (an XMP packet) can never be adopted:
    // it is noted where it stands but not read.
    if (seg.marker == kAPP1 && seg.payload() >= 5) {
      uint8_t signature[5];
      const Status st = ReadPayload(r_, seg, 0, sizeof signature, signature);
      if (st != ST_OK) return st;
      if (!IsExifSignature(signature, sizeof signature)) {
        app_.reset();
        appSkipped_ = true;
        appMarker_ = seg.marker;
        appOffset_ = seg.position - 2;
        return ST_OK;
      }
    }
    const Status st = LoadBlock(r_, seg, 0, seg.payload(), &app_);
    if (st != ST_OK) return st;
    appSkipped_ = false;
    appMarker_ = seg.marker;
    appOffset_ = seg.position - 2;
    exifTaken_ = IsExifSignature(app_.get(), seg.payload());
    return ST_OK;
  }

  Status OnJfif(const Segment& seg) {
    if (seg.payload() < kJfifPayload) return ST_OK;
    uint8_t p[kJfifPayload];
    const Status st = ReadPayload(r_, seg, 0, sizeof p, p);
    if (st != ST_OK) return st;
    if (std::memcmp(p, kJfif, 5) != 0) return ST_OK;
    jfif_->found = 1;
    jfif_->position = seg.position;
    jfif_->length = seg.length;
    jfif_->version = static_cast<uint16_t>(p[5] << 8 | p[6]);
    jfif_->units = p[7];
    jfif_->xDensity = BigEndian16(p + 8);
    jfif_->yDensity = BigEndian16(p + 10);
    return ST_OK;
  }

  Status OnIcc(const Segment& seg) {
    // The profile must lie inside its segment, whatever the length field says.
    if (seg.payload() < sizeof kIccSignature) return ST_OK;
    uint8_t p[sizeof kIccSignature];
    const Status st = ReadPayload(r_, seg, 0, sizeof p, p);
    if (st != ST_OK) return st;
    if (std::memcmp(p, kIccSignature, sizeof p) != 0) return ST_OK;
    return LoadBlock(r_, seg, sizeof p, seg.payload() - uint32_t{sizeof p}, &icc_);
  }

  Status OnIim(const Segment& seg) {
    constexpr uint32_t kHead = sizeof kIimSignature + 2;
    if (seg.payload() < kHead) return ST_OK;
    uint8_t p[kHead];
    const Status st = ReadPayload(r_, seg, 0, sizeof p, p);
    if (st != ST_OK) return st;
    if (std::memcmp(p, kIimSignature, sizeof kIimSignature) != 0) return ST_OK;
    const uint32_t size = BigEndian16(p + sizeof kIimSignature);
    if (size > seg.payload() - kHead) return ST_OK;  // a resource larger than its segment
    return LoadBlock(r_, seg, kHead, size, &iim_);
  }

  BufferedReader* r_;
  JpegSofInfo* sof_;
  JfifInfo* jfif_;
  bool collecting_;
  bool exifTaken_ = false;
};

// Second pass of the collecting probe: every APP2 and APP13 segment, whole.
class SegmentCopier {
 public:
  SegmentCopier(BufferedReader* r, uint8_t* out, uint32_t size) : r_(r), out_(out), size_(size) {}

  Status OnSegment(const Segment& seg, Step* step) {
    if (seg.length <= kLengthSize) {
      *step = Step::kContinue;
      return ST_OK;
    }
    if (seg.marker != kAPP2 && seg.marker != kAPP13) return ST_OK;
    const uint32_t n = uint32_t{seg.length} + kLengthSize;
    if (n > size_ - written_) return ST_UNSUPPORTED;  // the stream changed under us
    Status st = ReaderSeek(r_, int64_t{seg.position} - 2, kReaderAbsolute);
    if (st == ST_OK) st = ReaderRead(r_, n, out_ + written_);
    if (st != ST_OK) return st;
    written_ += n;
    return ST_OK;
  }
  Status OnEnd() {
    reachedEnd_ = true;
    return ST_OK;
  }
  Status OnScanFailure() { return ST_UNSUPPORTED; }
  Status OnLengthFailure(Status) { return ST_UNSUPPORTED; }

  bool Complete() const { return reachedEnd_ && written_ == size_; }

 private:
  BufferedReader* r_;
  uint8_t* out_;
  uint32_t size_;
  uint32_t written_ = 0;
  bool reachedEnd_ = false;
};

// Classifies the application block and hands it to `heap` or `exif`.
Status Classify(PropertiesWalk& walk, HeapObject* heap, TiffBlockInfo* exif, uint16_t* kind) {
  if (walk.appMarker_ == kAPP0) {
    const Status st = heap::AttachHeapImage(walk.app_.get(), "JPGM", heap);
    if (st != ST_OK) return ST_UNSUPPORTED;
    walk.app_.release();
    *kind = kKindJpegHeap;
    return ST_OK;
  }
  if (walk.appMarker_ == kAPP1) {
    if (walk.appSkipped_) return ST_UNSUPPORTED;
    TiffBlockInfo block{};
    block.segment = walk.app_.get();
    block.segmentOffset = walk.appOffset_;
    if (AdoptExifBlock(&block) != ST_OK) return ST_UNSUPPORTED;
    *exif = block;
    walk.app_.release();
    *kind = kKindExifJpeg;
    return ST_OK;
  }
  return ST_WRONG_STATE;
}

bool IsTiffMark(const uint8_t* start) { return start[0] == start[1] && (start[0] == 'I' || start[0] == 'M'); }

// The walk both probes share: a TIFF mark at the start is refused at once.
Status RunPropertiesWalk(BufferedReader* r, PropertiesWalk* walk) {
  uint8_t start[2];
  Status st = ReaderRead(r, 2, start);
  if (st != ST_OK) return st;
  if (IsTiffMark(start)) return ST_UNSUPPORTED;
  st = ReaderSeek(r, 0, kReaderAbsolute);
  if (st == ST_OK) st = WalkMarkers(r, *walk);
  if (st == ST_OK && !walk->Complete()) st = ST_UNSUPPORTED;
  return st;
}

// The tail of a JFIF record is the caller's.
void ClearFrame(JpegSofInfo* sof, JfifInfo* jfif) {
  std::memset(sof, 0, sizeof *sof);
  std::memset(jfif, 0, offsetof(JfifInfo, reserved2));
}

void ClearRecords(HeapObject* heap, TiffBlockInfo* exif, JpegSofInfo* sof, JfifInfo* jfif) {
  std::memset(heap, 0, sizeof *heap);
  std::memset(exif, 0, sizeof *exif);
  ClearFrame(sof, jfif);
}

}  // namespace

Status ProbeJpeg(const StreamPort& port, HeapObject* heap, TiffBlockInfo* exif, JpegSofInfo* sof,
                 JfifInfo* jfif, OutPutInfo* extensions, uint16_t* kind, uint32_t* blockAt) {
  ClearRecords(heap, exif, sof, jfif);
  std::memset(extensions, 0, sizeof *extensions);
  *kind = kKindNone;
  // While recognition lends the stream's head, a TIFF needs no reader to be refused.
  if (port.headLength >= 2 && IsTiffMark(port.head)) return ST_UNSUPPORTED;
  ScopedReader reader;
  Status st = reader.Open(port, kReaderCapacity);
  if (st != ST_OK) return st;

  PropertiesWalk walk(&reader, sof, jfif, false);
  st = RunPropertiesWalk(&reader, &walk);
  if (st != ST_OK) {
    ClearFrame(sof, jfif);
    return st;
  }
  // A block that is neither a heap nor Exif still leaves the frame described.
  st = Classify(walk, heap, exif, kind);
  if (st != ST_OK) return st;
  if (blockAt != nullptr) *blockAt = walk.appOffset_;
  extensions->iccProfileSize = BlockLength(walk.icc_.get());
  extensions->iccProfile = walk.icc_.release();
  extensions->iimSize = BlockLength(walk.iim_.get());
  extensions->iim = walk.iim_.release();
  return ST_OK;
}

Status ProbeJpegCollecting(const StreamPort& port, HeapObject* heap, TiffBlockInfo* exif,
                           JpegSofInfo* sof, JfifInfo* jfif, ExtensionInfo* segments,
                           uint16_t* kind) {
  ClearRecords(heap, exif, sof, jfif);
  if (segments != nullptr) std::memset(segments, 0, sizeof *segments);
  *kind = kKindNone;
  ScopedReader reader;
  Status st = reader.Open(port, kReaderCapacity);
  if (st != ST_OK) return st;

  PropertiesWalk walk(&reader, sof, jfif, true);
  st = RunPropertiesWalk(&reader, &walk);
  BlockOwner gathered;
  if (st == ST_OK && segments != nullptr && walk.extensionBytes_ != 0) {
    gathered.reset(BlockAlloc(walk.extensionBytes_));
    st = gathered ? ReaderSeek(&reader, 0, kReaderAbsolute) : ST_NO_MEMORY;
    SegmentCopier copier(&reader, gathered.get(), walk.extensionBytes_);
    if (st == ST_OK) st = WalkMarkers(&reader, copier);
    if (st == ST_OK && !copier.Complete()) st = ST_UNSUPPORTED;
  }
  if (st != ST_OK) {
    ClearFrame(sof, jfif);
    return st;
  }
  st = Classify(walk, heap, exif, kind);
  if (st != ST_OK) return st;
  if (gathered) {
    segments->size = walk.extensionBytes_;
    segments->buffer = gathered.release();
  }
  return ST_OK;
}

namespace {

// The first frame header with a length above 2, for the readers below.
class FrameFinder {
 public:
  explicit FrameFinder(bool baselineOnly) : baselineOnly_(baselineOnly) {}

  Status OnSegment(const Segment& seg, Step* step) {
    const bool wanted = baselineOnly_ ? seg.marker == kSOF0 : IsFrameHeader(seg.marker);
    if (!wanted) return ST_OK;
    if (!baselineOnly_ && seg.length <= kLengthSize) {
      *step = Step::kContinue;
      return ST_OK;
    }
    found_ = seg;
    *step = Step::kStop;
    return ST_OK;
  }
  Status OnEnd() { return ST_OK; }
  Status OnScanFailure() { return ST_UNSUPPORTED; }
  Status OnLengthFailure(Status st) { return st; }

  Segment found_{};

 private:
  bool baselineOnly_;
};

}  // namespace

void FindFrameHeader(const uint8_t* jpeg, uint32_t size, JpegSofInfo* sof) {
  std::memset(sof, 0, sizeof *sof);
  BufferedReader reader;
  ReaderOpenMemory(jpeg, size, &reader);
  FrameFinder finder(false);
  if (WalkMarkers(&reader, finder) != ST_OK || finder.found_.marker == 0) return;
  (void)ReadFrameHeader(&reader, finder.found_, sof);  // a short or unreadable one is none
}

void ReleaseOutPutInfo(OutPutInfo* info) {
  (void)BlockFree(info->iccProfile);
  (void)BlockFree(info->iim);
  *info = OutPutInfo{};
}

void ReleaseExtensionInfo(ExtensionInfo* info) {
  (void)BlockFree(info->buffer);
  *info = ExtensionInfo{};
}

}  // namespace qd::jpeg

using namespace qd;
using namespace qd::jpeg;

extern "C" QD_EXPORT uint32_t QD_API QDParseGetJPEGInfo(const qdlStream* stream, JpegImageInfo* info) {
  return RunStreamExport({stream, QD_OPEN_READ, kNeedsReading, true}, {{info, sizeof(JpegImageInfo)}},
                         [&](StreamPort& port) {
                           ScopedReader reader;
                           Status st = reader.Open(port, kReaderCapacity);
                           if (st != ST_OK) return st;
                           uint8_t start[2];
                           st = ReaderRead(&reader, 2, start);
                           if (st != ST_OK) return st;
                           if (start[0] != kMarkerPrefix || start[1] != kSOI) return ST_UNSUPPORTED;
                           FrameFinder finder(true);
                           st = WalkMarkers(&reader, finder);
                           if (st != ST_OK) return st;
                           if (finder.found_.marker == 0) return ST_UNSUPPORTED;
                           JpegSofInfo sof{};
                           uint8_t sampling = 0;
                           st = ReadFrameHeader(&reader, finder.found_, &sof, &sampling);
                           if (st != ST_OK) return st;
                           if (info != nullptr) {
                             *info = JpegImageInfo{sof.width, sof.height, sof.components, sampling};
                           }
                           return ST_OK;
                         });
}

extern "C" QD_EXPORT uint32_t QD_API QDParseGetSOFData(const qdlStream* source,
                                                       const qdlStream* destination) {
  const bool destinationOk = destination != nullptr && destination->open != nullptr &&
                             destination->close != nullptr && destination->write != nullptr &&
                             destination->seek != nullptr && destination->tell != nullptr;
  ExportCall call{source, QD_OPEN_READ, kNeedsOpenClose, destinationOk};
  call.closeErrorWins = true;
  return RunStreamExport(call, {}, [&](StreamPort& port) {
    ScopedReader reader;
    Status st = reader.Open(port, kReaderCapacity);
    if (st != ST_OK) return st;
    FrameFinder finder(false);
    st = WalkMarkers(&reader, finder);
    if (st != ST_OK || finder.found_.marker == 0) return st;
    const Segment& sof = finder.found_;
    // The length field and the payload, without the marker.
    BlockOwner bytes(BlockAlloc(sof.length));
    if (!bytes) return ST_NO_MEMORY;
    st = ReaderSeek(&reader, sof.position, kReaderAbsolute);
    if (st == ST_OK) st = ReaderRead(&reader, sof.length, bytes.get());
    if (st != ST_OK) return st;
    StreamPort out;
    MakeStreamPort(destination, &out);
    st = PortOpen(out.ops, kPortReadWrite);
    if (st != ST_OK) return st;
    st = PortWriteAll(out.ops, bytes.get(), sof.length);
    const Status closed = PortClose(out.ops);
    return st != ST_OK ? st : closed;
  });
}
