#include "extract/typed_records.h"

#include <cstring>

#include "exifwrite/camera_models.h"
#include "format/property_codes.h"
#include "frame/byte_order.h"
#include "frame/stream_port.h"

namespace qd::extract {
namespace {

constexpr float kThirtySecond = 1.0f / 32;

// Records a run of 16-bit values after a length word n (bytes, counting the
// length word itself), skipped when every present word holds its unset value.
struct Run {
  uint16_t words[9] = {};
  uint32_t bytes = 0;  // 2 + 2 * words
};

Run MakeRun(const WordArray& cs, uint32_t first, uint32_t maxBytes, uint32_t lengthBias) {
  Run r;
  if (cs.length < lengthBias) return r;
  uint32_t n = cs.length - lengthBias;
  if (n > maxBytes) n = maxBytes;
  r.words[0] = static_cast<uint16_t>(n);
  for (uint32_t i = 1; 2 + 2 * i <= n; ++i) r.words[i] = cs.At(first + i - 1);
  r.bytes = maxBytes;
  return r;
}

bool AllUnset(const Run& r, const uint16_t* unset, uint32_t count) {
  for (uint32_t i = 1; i <= count && 2 + 2 * i <= r.words[0]; ++i) {
    if (r.words[i] != unset[i - 1]) return false;
  }
  return true;
}

}  // namespace

WordArray WordArray::Of(const uint8_t* bytes, uint32_t bufferBytes) {
  WordArray a;
  if (bytes == nullptr || bufferBytes < 2) return a;
  const uint16_t length = HostElement<uint16_t>(true, bytes, bufferBytes, 0);
  a.bytes = bytes;
  a.length = length < bufferBytes ? length : bufferBytes;
  return a;
}

// A record the buffer cannot take whole: what is gathered goes first.
void RecordSink::PutInPieces(uint16_t code, const void* payload, uint32_t size, const void* more,
                             uint32_t moreSize) {
  if (result_ != QD_OK) return;
  const uint64_t length = uint64_t{size} + moreSize;
  if (length > UINT32_MAX - 6) {
    result_ = QD_E_NO_MEMORY;
    return;
  }
  uint8_t head[6];
  PutLE16(code, head);
  PutLE32(static_cast<uint32_t>(length), head + 2);
  Append(head, sizeof head);
  Append(payload, size);
  Append(more, moreSize);
}

uint32_t RecordSink::Finish() {
  Flush();
  return result_;
}

void RecordSink::Append(const void* bytes, uint32_t n) {
  if (n == 0 || result_ != QD_OK) return;
  if (n > sizeof buffer_ - held_) {
    Flush();
    if (result_ != QD_OK) return;
    if (n > sizeof buffer_) {
      uint32_t error = 0;
      StreamWriteExact(out_, bytes, n, kErrorBase, &error);
      if (error != 0) result_ = error;
      return;
    }
  }
  std::memcpy(buffer_ + held_, bytes, n);
  held_ += n;
}

void RecordSink::Flush() {
  if (held_ == 0 || result_ != QD_OK) return;
  uint32_t error = 0;
  StreamWriteExact(out_, buffer_, held_, kErrorBase, &error);
  held_ = 0;
  if (error != 0) result_ = error;
}

void WriteStandardFields(RecordSink& w, const char* model, bool modelFlag, const StandardFields& f) {
  if (f.record02 == nullptr && f.record03 == nullptr && f.record04 == nullptr &&
      !f.shotInfo.present() && f.record07 == nullptr) {
    return;
  }
  const WordArray& si = f.shotInfo;
  const WordArray& cs = f.cameraSettings;
  if (f.record02 != nullptr && GetLE16(f.record02) != 0xFFFF) w.Put(kPropCameraSettingsPair, f.record02, 4);
  if (f.record03 != nullptr) w.Put(kPropMakerTag0005, f.record03, 12);
  if (f.record04 != nullptr) w.Put(kPropMakerTag0002, f.record04, 8);
  if (f.record08 != nullptr) w.Put(kPropFocalPlane, f.record08, 26);
  if (si.length > 17) {
    const uint16_t pair[2] = {si.At(7), si.At(8)};
    w.Put(kPropShotInfoPair, pair, 4);
  }
  if (si.length > 29) w.Put16(kPropShotInfo14, si.At(14));
  if (si.length > 31) {
    const float v = static_cast<int16_t>(si.At(15)) * kThirtySecond;
    w.Put(kPropShotInfo15, &v, 4);
  }
  if (si.length > 35 && si.At(16) != 0) {
    uint8_t payload[6];
    PutLE16(si.At(16), payload);
    const float v = static_cast<int16_t>(si.At(17)) * kThirtySecond;
    std::memcpy(payload + 2, &v, 4);
    w.Put(kPropShotInfoEv, payload, 6);
  }
  if (si.length > 49 && si.At(24) != 0) w.Put16(kPropShotInfo24, si.At(24));
  if (f.record07 != nullptr) w.Put(kPropOrientation, f.record07, 6);
  if (f.record09 != nullptr && *f.record09 != 0xFFFF) w.Put16(kPropCameraSetting3, *f.record09);
  if (f.record0F != nullptr && camera::HasRecord(model, 15)) w.Put16(kPropCameraSetting4, *f.record0F);
  if (cs.length > 15 && modelFlag && cs.At(7) != 4) w.Put16(kPropCameraSetting7, cs.At(7));
  {
    static constexpr uint16_t kUnset[8] = {0xFFFF, 0xFFFF, 0xFFFF, 0x7FFF, 0x7FFF, 0x7FFF, 0x7FFF, 0xFFFF};
    Run run = MakeRun(cs, 10, 18, 18);
    if (run.words[0] > 2 && !AllUnset(run, kUnset, 8)) {
      if (modelFlag && run.words[0] > 7) run.words[3] = 0xFFFF;
      w.Put(kPropCameraSettingsRun, run.words, run.bytes);
    }
  }
  if (cs.length > 41 && cs.At(20) != 0xFFFF) w.Put16(kPropCameraSetting20, cs.At(20));
  if (cs.length > 51 && cs.At(25) != 0 && (cs.At(23) != 0 || cs.At(24) != 0)) {
    const uint16_t units[3] = {cs.At(23) != 0 ? cs.At(23) : cs.At(24),
                               cs.At(24) != 0 ? cs.At(24) : cs.At(23), cs.At(25)};
    w.Put(kPropFocalUnits, units, 6);
  }
  if (cs.length > 59 && (!si.present() || si.length < 28 || si.At(13) == 0 || cs.At(29) != 0)) {
    w.Put16(kPropCameraSetting29, cs.At(29));
  }
  {
    static constexpr uint16_t kUnset[6] = {0xFFFF, 0xFFFF, 0xFFFF, 0, 0, 0};
    const Run run = MakeRun(cs, 32, 14, 62);
    if (run.words[0] > 2 && !AllUnset(run, kUnset, 6)) w.Put(kPropCameraSettingsRun2, run.words, run.bytes);
  }
  if (cs.length > 37 && cs.At(18) != 2) w.Put16(kPropCameraSetting18, cs.At(18));
  if (cs.length > 55) {
    const uint16_t pair[2] = {cs.At(26), cs.At(27)};
    w.Put(kPropCameraSettings26, pair, 4);
  }
  if (cs.length > 81) w.Put16(kPropCameraSetting40, cs.At(40));
  if (cs.length > 85) w.Put16(kPropCameraSetting42, cs.At(42));
  if (f.record0D != nullptr && camera::HasRecord(model, 13)) w.Put(kPropMakerTag000F, f.record0D, 32);
  if (f.record0E != nullptr && camera::HasRecord(model, 14)) w.Put(kPropMakerTag000C, f.record0E, 4);
  if (f.record0C != nullptr) w.Put16(kPropIsoSpeed, *f.record0C);
}

uint32_t WriteCommentStream(const qdlStream* out, const uint8_t* code, const uint8_t* text, uint32_t n) {
  uint8_t head[12] = {};
  if (code != nullptr) std::memcpy(head, code, 7);  // the eighth byte stays 0
  std::memcpy(head + 8, &n, 4);
  return WriteRecordStream(out, [&](RecordSink& sink) { sink.Put(kPropCodedUserComment, head, 12, text, n); });
}

}  // namespace qd::extract
