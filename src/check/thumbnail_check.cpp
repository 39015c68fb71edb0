// The thumbnail a camera embeds: a baseline JPEG of 160x120 (120x160 for an
// upright picture) whose segments follow each other without fill bytes, with
// no application data beyond APP1 and APP2 and no comment.
#include "check/conformance.h"
#include "format/jpeg_format.h"

namespace qd::check {
namespace {

using namespace qd::jpeg;

constexpr Admission kThumbnailRules[] = {
    {kSOI, kSeenSoi, 0, 0},
    {kAPP1, kSeenApp1, kSeenSoi, kSeenApp2 | kSeenTables},
    {kAPP2, kSeenApp2, kSeenSoi | kSeenApp1, kSeenTables},
    {kDQT, kSeenDqt, kSeenSoi, 0},
    {kDHT, kSeenDht, kSeenSoi, 0},
    {kDRI, kSeenDri, kSeenSoi, 0},
    {kSOF0, kSeenSof0, kSeenSoi, 0},
    {kSOS, kSeenSos, kSeenSoi | kSeenDqt | kSeenDht | kSeenSof0, 0},
};

constexpr uint16_t kLandscapeWidth = 160;
constexpr uint16_t kLandscapeHeight = 120;
constexpr uint8_t kSampled21 = 0x21;
constexpr uint8_t kSampled12 = 0x12;

// Frame header payload: precision, height, width, components, then the first
// component's id and sampling factors.
constexpr uint32_t kHeightAt = 1;
constexpr uint32_t kWidthAt = 3;
constexpr uint32_t kSamplingAt = 7;

bool NoApplicationData(uint8_t marker) {
  return marker == kAPP0 || (marker > kAPP2 && marker <= kAPP15) || marker == kCOM;
}

bool CheckFrame(const ByteView& payload, PortraitFlags* portrait) {
  uint16_t height = 0, width = 0;
  uint8_t sampling = 0;
  if (!payload.U16(kHeightAt, kBigEndian, &height) || !payload.U16(kWidthAt, kBigEndian, &width) ||
      !payload.U8(kSamplingAt, &sampling)) {
    return false;
  }
  portrait->thumbHeight = height == kLandscapeWidth;
  if (!portrait->thumbHeight && height != kLandscapeHeight) return false;
  portrait->thumbWidth = portrait->thumbHeight && width == kLandscapeHeight;
  if (!portrait->thumbWidth && width != kLandscapeWidth) return false;
  portrait->thumbSampled = portrait->thumbWidth && sampling == kSampled12;
  return portrait->thumbSampled || sampling == kSampled21;
}

}  // namespace

bool EndsWithEoi(const ByteView& data, uint64_t from) {
  for (uint64_t at = data.size(); at >= from + 2; --at) {
    if (data.data()[at - 2] == kMarkerPrefix && data.data()[at - 1] == kEOI) return true;
  }
  return false;
}

Status CheckThumbnail(const ByteView& data, PortraitFlags* portrait) {
  uint16_t seen = 0;
  uint64_t at = 0;
  for (;;) {
    uint8_t prefix = 0, marker = 0;
    if (!data.U8(at, &prefix) || !data.U8(at + 1, &marker) || prefix != kMarkerPrefix) return ST_UNSUPPORTED;
    if ((at == 0) != (marker == kSOI) || NoApplicationData(marker)) return ST_UNSUPPORTED;
    const Admission* rule = FindAdmission(kThumbnailRules, marker);
    if (rule != nullptr && !Admit(*rule, &seen)) return ST_UNSUPPORTED;
    at += 2;
    if (marker == kSOI) continue;

    uint16_t length = 0;
    ByteView payload;
    if (!data.U16(at, kBigEndian, &length) || !data.Sub(at + kLengthSize, length - uint64_t{kLengthSize}, &payload)) {
      return ST_UNSUPPORTED;
    }
    if (marker == kSOF0 && !CheckFrame(payload, portrait)) return ST_UNSUPPORTED;
    if (marker == kSOS) return EndsWithEoi(data, at + length) ? ST_OK : ST_UNSUPPORTED;
    at += length;  // at least the length field itself
  }
}

}  // namespace qd::check
