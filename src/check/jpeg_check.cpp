// Whether a JPEG file is laid out as the cameras write it: SOI, the Exif
// APP1, an optional APP2, one each of the tables, a baseline frame sampled
// 2x1 or 2x2 (1x2 for an upright picture) and one scan, then EOI. Files that
// pass may be trusted to keep the cameras' own layout.
#include "check/conformance.h"
#include "frame/buffered_reader.h"
#include "frame/export_call.h"
#include "frame/memory_block.h"
#include "format/jpeg_format.h"

namespace qd::check {
namespace {

using namespace qd::jpeg;

constexpr uint16_t kBeforeExif = kSeenSoi;
constexpr uint16_t kAfterExif = kSeenSoi | kSeenApp1;
constexpr Admission kMainRules[] = {
    {kSOI, kSeenSoi, 0, 0},
    {kAPP1, kSeenApp1, kBeforeExif, kSeenApp2 | kSeenTables},
    {kAPP2, kSeenApp2, kAfterExif, kSeenTables},
    {kDQT, kSeenDqt, kAfterExif, 0},
    {kDHT, kSeenDht, kAfterExif, 0},
    {kDRI, kSeenDri, kAfterExif, 0},
    {kSOF0, kSeenSof0, kAfterExif, 0},
    {kSOS, kSeenSos, kAfterExif | kSeenDqt | kSeenDht | kSeenSof0, 0},
};

// The reader's own buffer is not used: the whole file is read into one block.
constexpr uint32_t kReaderCapacity = 16;
constexpr uint32_t kSamplingAt = 7;  // first component's factors in a frame header

// Moves *at past the next marker: fill bytes 0xFF are passed over, and a
// stuffed zero is no marker. False at the end of the data.
bool NextMarker(const ByteView& file, uint64_t* at, uint8_t* marker) {
  uint8_t b = 0;
  for (;;) {
    do {
      if (!file.U8((*at)++, &b)) return false;
    } while (b != kMarkerPrefix);
    do {
      if (!file.U8((*at)++, &b)) return false;
    } while (b == kMarkerPrefix);
    if (b != kStuffed) {
      *marker = b;
      return true;
    }
  }
}

// 2x1 and 2x2 always; 1x2 only when the thumbnail says the picture is upright.
bool CheckFrame(const ByteView& payload, PortraitFlags* portrait) {
  uint8_t sampling = 0;
  if (!payload.U8(kSamplingAt, &sampling)) return false;
  if (sampling == 0x21 || sampling == 0x22) return true;
  portrait->mainSampled = sampling == 0x12 && portrait->ThumbnailSaysPortrait();
  return portrait->mainSampled;
}

Status WalkMain(const ByteView& file, PortraitFlags* portrait, uint16_t* failingTag) {
  uint16_t seen = 0;
  uint64_t at = 0;
  uint8_t marker = 0;
  while (NextMarker(file, &at, &marker)) {
    if (marker == kAPP0) return ST_UNSUPPORTED;
    const Admission* rule = FindAdmission(kMainRules, marker);
    if (marker == kSOI) {
      if (!Admit(*rule, &seen)) return ST_UNSUPPORTED;
      continue;
    }
    uint16_t length = 0;
    if (!file.U16(at, kBigEndian, &length)) return ST_UNSUPPORTED;
    if (length <= kLengthSize) {
      at += kLengthSize;
      continue;
    }
    ByteView payload;
    if (!file.Sub(at + kLengthSize, length - kLengthSize, &payload)) return ST_UNSUPPORTED;
    if (rule != nullptr && !Admit(*rule, &seen)) return ST_UNSUPPORTED;
    if (marker == kAPP1) {
      const Status st = CheckExifApp1(payload, portrait, failingTag);
      if (st != ST_OK) return st;
    }
    if (marker == kSOF0 && !CheckFrame(payload, portrait)) return ST_UNSUPPORTED;
    if (marker == kSOS) return EndsWithEoi(file, at + length) ? ST_OK : ST_UNSUPPORTED;
    at += length;
  }
  return ST_UNSUPPORTED;  // no scan
}

// ST_BAD_ARGUMENT both for a failed tag (*failingTag set) and for a file
// that conforms and is upright (*portrait set).
Status Check(const StreamPort& port, uint16_t* failingTag, uint16_t* portrait) {
  ScopedReader reader;
  Status st = reader.Open(port, kReaderCapacity);
  if (st != ST_OK) return st;
  const uint32_t size = ReaderSize(reader);
  if (size < 2 * kLengthSize) return ST_UNSUPPORTED;
  BlockOwner whole(BlockAlloc(size));
  if (!whole) return ST_NO_MEMORY;
  st = ReaderRead(&reader, size, whole.get());
  if (st != ST_OK) return st;

  PortraitFlags flags;
  uint16_t tag = 0;
  st = WalkMain(ByteView(whole.get(), size), &flags, &tag);
  if (st == ST_BAD_ARGUMENT) *failingTag = tag;
  if (st != ST_OK || !flags.All()) return st;
  *portrait = 1;
  return ST_BAD_ARGUMENT;
}

}  // namespace
}  // namespace qd::check

extern "C" QD_EXPORT uint32_t QD_API QDParseJpegCheck(const qdlStream* stream, uint32_t unused,
                                                      uint16_t* failingTag, uint16_t* portrait) {
  using namespace qd;
  (void)unused;
  return RunStreamExport({stream, QD_OPEN_READ, kNeedsOpenClose, failingTag != nullptr && portrait != nullptr},
                         {{portrait, sizeof *portrait}}, [&](StreamPort& port) {
                           const Status st = check::Check(port, failingTag, portrait);
                           return WorkResult{st, st == ST_BAD_ARGUMENT ? QD_CHECK_TAG_OR_PORTRAIT : 0};
                         });
}
