// The parts of the conformance check that look inside segments: the Exif
// APP1 block and the thumbnail it carries. The marker walk of the main image
// (jpeg_check.cpp) calls them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame/byte_order.h"
#include "frame/status.h"

namespace qd::check {

// A camera marks an upright picture by sampling both images 0x12 and storing
// a 120x160 thumbnail; each flag is one piece of that evidence.
struct PortraitFlags {
  bool mainSampled = false;
  bool thumbHeight = false;
  bool thumbWidth = false;
  bool thumbSampled = false;
  bool ThumbnailSaysPortrait() const { return thumbHeight && thumbWidth && thumbSampled; }
  bool All() const { return mainSampled && ThumbnailSaysPortrait(); }
};

// An Exif APP1 payload ("Exif\0\0" and a TIFF block). ST_UNSUPPORTED for a
// structural failure (signature, IFD walk, thumbnail); ST_BAD_ARGUMENT with
// *failingTag for a tag that breaks its rule (0xFFFF for a missing IFD).
Status CheckExifApp1(const ByteView& payload, PortraitFlags* portrait, uint16_t* failingTag);

// The thumbnail's segments, from its SOI to the end of the TIFF block.
// Failures are ST_UNSUPPORTED.
Status CheckThumbnail(const ByteView& data, PortraitFlags* portrait);

// True when 0xFF 0xD9 occurs within [from, end of view), searched from the
// back.
bool EndsWithEoi(const ByteView& data, uint64_t from);

}  // namespace qd::check

namespace qd::check {

// Segments seen by a marker walk, each admitted at most once.
enum Seen : uint16_t {
  kSeenSoi = 1u << 0,
  kSeenApp1 = 1u << 1,
  kSeenApp2 = 1u << 2,
  kSeenDqt = 1u << 3,
  kSeenDht = 1u << 4,
  kSeenDri = 1u << 5,
  kSeenSof0 = 1u << 6,
  kSeenSos = 1u << 7,
};
constexpr uint16_t kSeenTables = kSeenDqt | kSeenDht | kSeenDri | kSeenSof0 | kSeenSos;

// Where a segment may stand: what must have come before it and what must not.
struct Admission {
  uint8_t marker;
  uint16_t flag;
  uint16_t required;
  uint16_t forbidden;
};

// The rule for `marker` in `rules`, or null when the walk passes over it.
template <size_t N>
const Admission* FindAdmission(const Admission (&rules)[N], uint8_t marker) {
  for (const Admission& a : rules) {
    if (a.marker == marker) return &a;
  }
  return nullptr;
}

// Records the segment in *seen when it may stand here.
inline bool Admit(const Admission& rule, uint16_t* seen) {
  const bool ok = (*seen & rule.flag) == 0 && (*seen & rule.required) == rule.required &&
                  (*seen & rule.forbidden) == 0;
  *seen = static_cast<uint16_t>(*seen | rule.flag);
  return ok;
}

}  // namespace qd::check
