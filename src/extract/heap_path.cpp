// The heap path: files whose properties live in a heap (heap files, JPEG
// files with a heap in APP0, TIFF RAW files).
#include <cstring>
#include <ctime>

#include "exifwrite/camera_models.h"
#include "format/heap_records.h"
#include "format/property_codes.h"
#include "extract/heap_record_list.h"
#include "extract/parse.h"
#include "extract/typed_records.h"
#include "frame/byte_order.h"
#include "frame/local_time.h"
#include "frame/memory_block.h"
#include "frame/stream_port.h"
#include "heap/heap_object.h"

namespace qd::extract {

int32_t LocalSecondsToTime(int64_t seconds) {
  // The camera clock kept summer time when it was in force: the zone decides.
  return static_cast<int32_t>(LocalClockToTime(static_cast<time_t>(seconds), -1));
}

namespace {

constexpr float kThirtySecond = 1.0f / 32;

uint16_t IsoFromShotWord(uint16_t raw) {
  static constexpr uint16_t kSpeeds[31] = {6,   8,   10,   12,   16,   20,   25,   32,   40,   50,   64,
                                           80,  100, 125,  160,  200,  250,  320,  400,  500,  640,  800,
                                           1000, 1250, 1600, 2000, 2500, 3200, 4000, 5000, 6400};
  int32_t index = 3 * (raw / 32) - 3;
  const uint16_t rest = raw % 32;
  if (rest == 8 || rest == 12 || rest == 16) index += 1;
  if (rest == 20 || rest == 24) index += 2;
  if (rest == 28) index += 3;
  return index >= 0 && index < 31 ? kSpeeds[index] : 0;
}

class HeapPath {
 public:
  HeapPath(uint32_t fileSize, const Outputs& out, const JpegSofInfo& sof, const JfifInfo& jfif,
           const TiffImageInfo& tiff, const OutPutInfo& extensions, uint8_t* fileType)
      : fileSize_(fileSize), out_(out), sof_(sof), jfif_(jfif), tiff_(tiff), ext_(extensions),
        fileType_(fileType) {}

  uint32_t Run(const HeapObject& heap);

 private:
  uint32_t ReadModel();
  void DescribeThumbnail();
  uint32_t DescribeImage();
  void JpegFallback(bool flagA);
  void FullView(uint8_t format);
  void DevelopedSize();
  void Capture(int32_t time);
  void ShotValues();
  uint16_t IsoSpeed() const;
  uint32_t WriteProperties();
  void ScaleFocalLength(const WordArray& cs);
  void WriteStandardRecords(RecordSink& sink);
  void PutRecord(RecordSink& sink, uint16_t code, Rec r) const;
  void WriteMakerRecords(RecordSink& sink) const;
  void WriteColourRecords(RecordSink& sink) const;
  uint32_t WriteComment();

  bool FrameFound() const { return sof_.found != 0; }
  bool ModelFlag() const {
    if (!rec_.Found(ModelId)) return false;
    const uint32_t id = rec_.Word(ModelId, 0);
    return id == 0x01B20000 || id == 0x01C48000 || (id & 0x80000000u) != 0;
  }
  WordArray ShotInfo() const {
    return rec_.Found(ShotInfoRecord) && !firmwareOff_ ? WordArray::Of(rec_.Data(ShotInfoRecord), rec_.Size(ShotInfoRecord))
                                                  : WordArray{};
  }
  WordArray CameraSettings() const {
    return rec_.Found(SettingsRecord) && !firmwareOff_ ? WordArray::Of(rec_.Data(SettingsRecord), rec_.Size(SettingsRecord))
                                                  : WordArray{};
  }

  uint32_t fileSize_;
  const Outputs& out_;
  const JpegSofInfo& sof_;
  const JfifInfo& jfif_;
  const TiffImageInfo& tiff_;
  const OutPutInfo& ext_;
  uint8_t* fileType_;
  HeapRecords rec_;
  char maker_[64] = {};
  char model_[32] = {};
  bool flagA_ = false;
  bool flagB_ = false;
  bool firmwareOff_ = false;
  QdImageInfo image_{};
  QdThumbnailInfo thumb_{};
  ExifCaptureInfo capture_{};
  ExifShotValues shot_{};
};

uint32_t HeapPath::ReadModel() {
  if (!rec_.Found(MakerModel)) return QD_E_UNSUPPORTED;
  const auto* text = reinterpret_cast<const char*>(rec_.Data(MakerModel));
  const uint32_t size = rec_.Size(MakerModel) < 64 ? rec_.Size(MakerModel) : 64;
  uint32_t makerLength = 0;
  while (makerLength < size && text[makerLength] != '\0') ++makerLength;
  if (makerLength >= 63) return QD_E_UNSUPPORTED;
  std::memcpy(maker_, text, makerLength);
  uint32_t modelLength = 0;
  const char* model = text + makerLength + 1;
  const uint32_t room = size > makerLength + 1 ? size - makerLength - 1 : 0;
  while (modelLength < room && model[modelLength] != '\0') ++modelLength;
  if (modelLength >= 32) modelLength = 28;
  std::memcpy(model_, model, modelLength);
  flagA_ = camera::IsLumaframe520(model_);
  flagB_ = camera::IsLumaframe840(model_);
  return QD_OK;
}

void HeapPath::DescribeThumbnail() {
  if (*fileType_ == kTypeJpegHeap && FrameFound() && sof_.width <= 96 && sof_.height <= 95) {
    thumb_.format = kFormatJpeg;
    thumb_.bitsPerSample = 8;
    thumb_.bitsPerPixel = sof_.components == 3 ? 24 : 8;
    thumb_.colour = sof_.components == 3 ? 1 : 0;
    thumb_.width = sof_.width;
    thumb_.height = sof_.height;
    thumb_.aspect = 1.0f;
    thumb_.xResolution = thumb_.yResolution = 180;
    if (jfif_.found != 0 && jfif_.units == 1) {
      thumb_.xResolution = jfif_.xDensity;
      thumb_.yResolution = jfif_.yDensity;
      if (jfif_.xDensity != 0) thumb_.aspect = static_cast<float>(jfif_.yDensity) / jfif_.xDensity;
    }
    return;
  }
  const bool tiffInfo = tiff_.width != 0 || tiff_.height != 0 || tiff_.colour != 0;
  if (*fileType_ != kTypeTiffRaw || !tiffInfo) return;
  if (flagB_ || out_.thumb == nullptr) {
    static constexpr uint8_t kAspectBits[4] = {0x70, 0x52, 0x77, 0x3F};
    thumb_.format = kFormatHeap3;
    thumb_.bitsPerSample = 8;
    thumb_.bitsPerPixel = tiff_.rgb != 0 ? 24 : 8;
    thumb_.colour = static_cast<uint8_t>(tiff_.rgb);
    thumb_.width = tiff_.width;
    thumb_.height = tiff_.height;
    std::memcpy(&thumb_.aspect, kAspectBits, 4);
    thumb_.xResolution = 186;
    thumb_.yResolution = 180;
    return;
  }
  if (!rec_.Found(ThumbnailDescription)) return;
  thumb_.format = static_cast<uint8_t>(rec_.Word(ThumbnailDescription, 1));
  thumb_.bitsPerSample = static_cast<uint8_t>(rec_.Word(ThumbnailDescription, 2));
  thumb_.bitsPerPixel = static_cast<uint8_t>(rec_.Word(ThumbnailDescription, 3));
  thumb_.colour = static_cast<uint8_t>(rec_.Word(ThumbnailDescription, 4));
  thumb_.width = static_cast<uint16_t>(rec_.Word(ThumbnailDescription, 5));
  thumb_.height = static_cast<uint16_t>(rec_.Word(ThumbnailDescription, 6));
  thumb_.aspect = static_cast<float>(static_cast<int32_t>(rec_.Word(ThumbnailDescription, 7)));
  thumb_.xResolution = static_cast<uint16_t>(rec_.Word(ThumbnailDescription, 8));
  thumb_.yResolution = static_cast<uint16_t>(rec_.Word(ThumbnailDescription, 9));
}

void HeapPath::JpegFallback(bool flagA) {
  const bool colour = sof_.components == 3;
  image_.format = kFormatJpeg;
  image_.width = flagA ? 640 : sof_.width;
  image_.height = flagA ? 480 : sof_.height;
  image_.aspect = 1.0f;
  image_.xResolution = image_.yResolution = 180;
  image_.colour = colour ? 1 : 0;
  image_.bitsPerSample = 8;
  image_.bitsPerPixel = colour ? 24 : 8;
  const uint64_t pixels = uint64_t{image_.width} * image_.height;
  image_.compressedBitsPerPixel =
      fileSize_ != 0 && pixels != 0 ? static_cast<float>(fileSize_ * 8.0 / static_cast<double>(pixels)) : 2.0f;
  image_.fullWidth = image_.width;
  image_.fullHeight = image_.height;
  image_.fullAspect = 1.0f;
  image_.fullXResolution = image_.fullYResolution = 180;
  image_.dataCode = 1;
  std::memset(image_.pathValues, 0xFF, sizeof image_.pathValues);  // packed: no references
  image_.flags = 0;
  std::memcpy(&thumb_, &image_, sizeof thumb_);
  if (flagA) {
    thumb_.width = 80;
    thumb_.height = 60;
    DefaultShotValues(&shot_);
  }
}

uint32_t HeapPath::DescribeImage() {
  if (!rec_.Found(ImageClass) || !rec_.Found(ImageDescription)) {
    if (!flagA_) return QD_E_UNSUPPORTED;
    if (!FrameFound()) return QD_E_UNSUPPORTED;
    JpegFallback(true);
    return QD_E_NOT_APPLICABLE;
  }
  const uint32_t formatWord = rec_.Word(ImageClass, 0);
  const uint32_t componentBits = rec_.Word(ImageDescription, 4);
  switch (formatWord >> 16) {
    case 1: image_.format = kFormatJpeg; break;
    case 2: image_.format = kFormatHeap1; break;
    case 3:
      image_.format = componentBits == 16 ? kFormatHeap16 : kFormatHeap3;
      if (componentBits == 16 && *fileType_ == kTypeTiffRaw) *fileType_ = kTypeTiffRaw16;
      break;
    default:
      if (!FrameFound()) return QD_E_UNSUPPORTED;
      JpegFallback(flagA_);
      return QD_E_NOT_APPLICABLE;
  }
  const uint32_t colourWord = rec_.Word(ImageDescription, 6);
  image_.bitsPerSample = static_cast<uint8_t>((colourWord & 0xFF) == 0 ? 8 : componentBits);
  image_.bitsPerPixel = static_cast<uint8_t>(rec_.Word(ImageDescription, 5));
  image_.colour = static_cast<uint8_t>(colourWord);
  image_.width = static_cast<uint16_t>(rec_.Word(ImageDescription, 0));
  image_.height = static_cast<uint16_t>(rec_.Word(ImageDescription, 1));
  image_.aspect = rec_.Float(ImageDescription, 2);
  const uint64_t pixels = uint64_t{image_.width} * image_.height;
  image_.compressedBitsPerPixel = image_.format == kFormatHeap1 || pixels == 0 || fileSize_ == 0
                                      ? rec_.Float(ImageClass, 1)
                                      : static_cast<float>(fileSize_ * 8.0 / static_cast<double>(pixels));
  switch (formatWord & 0xFFFF) {
    case 0: image_.dataCode = 1; break;
    case 2: image_.dataCode = 3; break;
    case 3: image_.dataCode = image_.colour != 0 ? 1 : 3; break;
    default: image_.dataCode = 2; break;
  }
  std::memset(image_.pathValues, 0xFF, sizeof image_.pathValues);  // packed: no references
  image_.flags = ((colourWord >> 8) & 0xFF) != 0 ? 0x02 : 0;
  FullView(image_.format);
  return QD_OK;
}

// Full-view fields and the main resolutions.
void HeapPath::FullView(uint8_t format) {
  const auto simple = [this] {
    image_.xResolution = image_.yResolution = 180;
    image_.fullYResolution = 180;
    image_.fullWidth = image_.width;
    image_.fullHeight = image_.height;
    const bool colour = image_.colour != 0;
    image_.fullAspect = colour ? 1.0f : image_.aspect;
    image_.fullXResolution = colour ? 180 : 186;
  };
  // A 16-bit TIFF RAW is type 9 by now and takes the simple rule of format 9.
  if (*fileType_ == kTypeTiffRaw || format == kFormatHeap1) {
    if (flagB_) {
      DevelopedSize();
    } else {
      simple();
    }
    return;
  }
  if (format == kFormatHeap16) return simple();
  if (format != kFormatJpeg) return;
  if (!FrameFound()) {
    image_.xResolution = image_.yResolution = 180;
    image_.fullWidth = image_.width;
    image_.fullHeight = image_.height;
    image_.fullAspect = 1.0f;
    image_.fullXResolution = image_.fullYResolution = 180;
    image_.flags &= static_cast<uint8_t>(~0x02);
    return;
  }
  const bool colour = image_.colour != 0;
  if (sof_.components != (colour ? 3 : 1)) {
    image_.fullWidth = sof_.width;
    image_.fullHeight = sof_.height;
    image_.fullAspect = 1.0f;
    image_.xResolution = image_.yResolution = image_.fullXResolution = image_.fullYResolution = 180;
    image_.flags &= static_cast<uint8_t>(~0x02);
    return;
  }
  if ((image_.flags & 0x02) != 0) return DevelopedSize();
  image_.fullWidth = image_.width;
  image_.fullHeight = image_.height;
  image_.fullAspect = image_.aspect;
  const bool densities = jfif_.found != 0 && jfif_.units == 1;
  image_.xResolution = image_.fullXResolution = densities ? jfif_.xDensity : 180;
  image_.yResolution = image_.fullYResolution = densities ? jfif_.yDensity : 180;
}

void HeapPath::DevelopedSize() {
  image_.xResolution = 186;
  image_.yResolution = 180;
  image_.fullYResolution = 180;
  image_.fullWidth = image_.width;
  const bool colour = image_.colour != 0;
  if (image_.height < 481 || !colour) {
    image_.fullHeight = image_.height;
    image_.fullXResolution = colour ? 180 : 186;
    image_.fullAspect = colour ? 1.0f : image_.aspect;
    return;
  }
  const double height = image_.aspect != 0.0f ? image_.height / static_cast<double>(image_.aspect) : 0.0;
  const auto developed = height >= 0 && height < 65536 ? static_cast<uint32_t>(height) : 0u;
  image_.fullHeight = static_cast<uint16_t>(developed & ~7u);
  image_.fullXResolution = 180;
  image_.fullAspect = 1.0f;
}

void HeapPath::Capture(int32_t time) {
  capture_.time = time;
  capture_.fileNumber = rec_.Found(FileNumber) ? rec_.Word(FileNumber, 0) : 0xFFFFFFFF;
  if (rec_.Found(OwnerName)) std::memcpy(capture_.owner, rec_.Data(OwnerName), 31);
  if (rec_.Found(ImageTypeText)) std::memcpy(capture_.imageType, rec_.Data(ImageTypeText), 31);
}

void HeapPath::ShotValues() {
  const WordArray si = ShotInfo();
  const WordArray cs = CameraSettings();
  const auto signedStep = [&si](uint32_t k) { return static_cast<int16_t>(si.At(k)) * kThirtySecond; };
  if (rec_.Found(Record1813)) {
    shot_.aperture = rec_.Float(Record1818, 2);
    shot_.shutterSpeed = rec_.Float(Record1818, 1);
    shot_.exposureCompensation = rec_.Float(Record1818, 0);
  } else if (si.length >= 14) {
    shot_.aperture = si.At(4) == 0x8000 ? -1.0f : signedStep(4);
    shot_.shutterSpeed = signedStep(5);
    shot_.exposureCompensation = signedStep(6);
  } else {
    shot_.aperture = -1.0f;
    shot_.shutterSpeed = 100.0f;
    shot_.exposureCompensation = 100.0f;
  }
  if (rec_.Found(Record1805)) {
    shot_.additionalEv = rec_.Float(Record1813, 0);
  } else if (si.length >= 28) {
    shot_.additionalEv = si.At(13) * kThirtySecond;
  } else {
    shot_.additionalEv = -1.0f;
  }
  if (cs.length >= 6) {
    shot_.settingWord = cs.At(2);
  } else if (rec_.Found(Record1010)) {
    shot_.settingWord = static_cast<uint16_t>(rec_.Word(Record1805, 0) / 100);
  } else {
    shot_.settingWord = 0xFFFF;
  }
  if (rec_.Found(Record1026)) {
    shot_.settingFlag = rec_.Half(Record1026, 1) == 1 ? 1 : 0;
  } else if (cs.Covers(1) && cs.At(1) == 1) {
    shot_.settingFlag = 1;
  } else if (cs.Covers(1) && cs.At(1) == 2) {
    const bool exempt = camera::SettingFlagExempt(model_);
    shot_.settingFlag = exempt ? 0xFF : 0;
  } else {
    shot_.settingFlag = 0xFF;
  }
}

uint16_t HeapPath::IsoSpeed() const {
  const WordArray cs = CameraSettings();
  if (cs.present() && cs.Covers(16) && cs.At(16) != 0 && cs.At(16) != 0x7FFF) return 0;
  const WordArray si = ShotInfo();
  if (si.length < 6 || si.At(2) == 0) return 0;
  return IsoFromShotWord(si.At(2));
}

// Focal length: the second word of 0x1029 in the camera's units, dropped when
// it does not fit its 16 bits.
void HeapPath::ScaleFocalLength(const WordArray& cs) {
  if (!rec_.Found(FocalInfo)) return;
  uint8_t* r1029 = rec_.Fixed(FocalInfo);
  uint32_t focal = rec_.Half(FocalInfo, 1);
  if (camera::IsLumaframeB7(model_)) focal *= 32;
  if (cs.length >= 52 && cs.At(25) != 0) focal = static_cast<uint32_t>(focal / static_cast<double>(cs.At(25)) * 32 + 0.5);
  if (focal > 0xFFFF) {
    rec_.Drop(FocalInfo);
  } else {
    const auto v = static_cast<uint16_t>(focal);
    std::memcpy(r1029 + 2, &v, 2);
  }
}

void HeapPath::WriteStandardRecords(RecordSink& sink) {
  const WordArray cs = CameraSettings();
  ScaleFocalLength(cs);
  uint8_t orientation[6] = {};
  const uint32_t angle = rec_.Word(ImageDescription, 3);
  std::memcpy(orientation, &angle, 4);
  uint16_t record09 = 0xFFFF;
  if (*fileType_ != kTypeTiffRaw && *fileType_ != kTypeTiffRaw16) {
    if (rec_.Found(Record1026)) {
      record09 = rec_.Half(Record1026, 2);
    } else if (cs.length >= 8) {
      record09 = cs.At(3);
    }
  }
  uint16_t record0F = 0;
  bool has0F = true;
  if (cs.length >= 10) {
    record0F = cs.At(4);
  } else if (rec_.Found(Record1026)) {
    record0F = rec_.Half(Record1026, 0);
  } else {
    has0F = false;
  }
  const uint16_t iso = IsoSpeed();
  const uint32_t record0E = rec_.Word(Record180B, 0);

  StandardFields f;
  f.record02 = rec_.Found(Record1014) ? rec_.Data(Record1010) : nullptr;
  f.record03 = rec_.Found(Record1027) ? rec_.Data(Record1027) : nullptr;
  f.record04 = rec_.Found(FocalInfo) ? rec_.Data(FocalInfo) : nullptr;
  f.shotInfo = ShotInfo();
  f.record07 = rec_.Found(ImageDescription) ? orientation : nullptr;
  f.record09 = &record09;
  f.cameraSettings = cs;
  f.record0D = rec_.Has(CustomFunctions) && rec_.Size(CustomFunctions) >= 32 ? rec_.Data(CustomFunctions) : nullptr;
  f.record0E = rec_.Found(Record180B) ? &record0E : nullptr;
  f.record0C = iso != 0 ? &iso : nullptr;
  f.record0F = has0F ? &record0F : nullptr;
  WriteStandardFields(sink, model_, ModelFlag(), f);
}

void HeapPath::PutRecord(RecordSink& sink, uint16_t code, Rec r) const {
  if (rec_.Has(r)) sink.Put(code, rec_.Data(r), rec_.Size(r));
}

void HeapPath::WriteMakerRecords(RecordSink& sink) const {
  static constexpr Rec kMakerRuns[] = {MakerNoteValue1881, MakerNoteValue1882, MakerNoteValue1081, MakerNoteValue1082, MakerNoteValue1083, MakerNoteValue1084, MakerNoteValue0085, MakerNoteValue1086,
                                       MakerNoteValue1087, MakerNoteValue1088, MakerNoteValue1089, MakerNoteValue108A, MakerNoteValue108B, MakerNoteValue108C, MakerNoteValue108D, MakerNoteValue108E};
  const bool has29 = camera::HasRecord(model_, 29);
  for (uint16_t i = 0; i < 16; ++i) {
    const auto code = static_cast<uint16_t>(kPropMakerTag0080 + i);
    if (code != kPropMakerTag0090 || has29) PutRecord(sink, code, kMakerRuns[i]);
  }
  PutRecord(sink, kPropMakerTag0010, ModelId);
  PutRecord(sink, kPropMakerTag0013, Record1039);
  PutRecord(sink, kPropMakerTag0015, Record183B);
  uint8_t make[4 + sizeof maker_];
  const auto n = static_cast<uint32_t>(std::strlen(maker_) + 1);
  std::memcpy(make, &n, 4);
  std::memcpy(make + 4, maker_, n);
  sink.Put(kPropMake, make, 4 + n);
  if (!camera::HasRecord(model_, 13)) PutRecord(sink, kPropMakerTag000FAlt, CustomFunctions);
  if (!has29) PutRecord(sink, kPropMakerTag0090Alt, MakerNoteValue1081);
  PutRecord(sink, kPropCameraRotation, CameraRotation);
  PutRecord(sink, kPropMakerTag00AE, MakerNoteValue10AE);
  PutRecord(sink, kPropColourMode, ColourMode);
  PutRecord(sink, kPropMakerTag00B5, MakerNoteValue10B5);
  if (rec_.Found(ModelId) && (rec_.Word(ModelId, 0) & 0x80000000u) != 0) PutRecord(sink, kPropMakerTag0012, Record1038);
  PutRecord(sink, kPropMakerTag001B, MakerNoteValue003F);
  if (rec_.Found(Record1028)) {
    const uint32_t v = uint32_t{rec_.Half(Record1028, 3)} << 16 | rec_.Half(Record1028, 2);
    sink.Put(kPropMakerTag0003, &v, 4);
  }
}

// The colour space code and what comes with it, the profile and IIM data.
void HeapPath::WriteColourRecords(RecordSink& sink) const {
  const bool colourMode = rec_.Has(ColourMode) && rec_.Size(ColourMode) >= 2;
  const uint16_t colourCode = colourMode ? rec_.Half(ColourMode, 0) : image_.format == kFormatHeap1 ? 1 : 0xFFFF;
  sink.Put(kPropColourSpaceCode, &colourCode, 2);
  if (colourMode && colourCode == 2 && !ModelFlag()) {
    const uint16_t one = 1;
    sink.Put(kPropWideGamutA, &one, 2);
    sink.Put(kPropWideGamutB, &one, 2);
  }
  if (ext_.iccProfile != nullptr && ext_.iccProfileSize != 0) {
    sink.Put(kPropIccProfile, ext_.iccProfile, ext_.iccProfileSize);
  }
  if (ext_.iim != nullptr && ext_.iimSize != 0) sink.Put(kPropIimBlock, ext_.iim, ext_.iimSize);
}

uint32_t HeapPath::WriteProperties() {
  if (!Usable(out_.property)) return QD_OK;
  return WriteRecordStream(out_.property, [this](RecordSink& sink) {
    WriteStandardRecords(sink);
    WriteMakerRecords(sink);
    WriteColourRecords(sink);
  });
}

uint32_t HeapPath::WriteComment() {
  const qdlStream* out = out_.comment;
  if (!Usable(out) || !rec_.Has(Comment)) return QD_OK;
  return WriteCommentStream(out, nullptr, rec_.Data(Comment), rec_.Size(Comment));
}

uint32_t HeapPath::Run(const HeapObject& heap) {
  if (FrameFound()) {
    image_.format = thumb_.format = kFormatJpeg;
    image_.width = thumb_.width = sof_.width;
    image_.height = thumb_.height = sof_.height;
  }
  RecordEntry* cursor = rec_.list();
  uint32_t result = ToResultCode(heap::ReadHeapObject(heap, &cursor, heap::Delivery::kCopy, rec_.room()));
  if (result != QD_OK) return result;
  if (rec_.CopyFailed()) return QD_E_NO_MEMORY;
  result = ReadModel();
  if (result != QD_OK) return result;
  if (rec_.Found(Firmware) && std::strncmp(reinterpret_cast<const char*>(rec_.Data(Firmware)), "Firmware", 8) != 0) {
    firmwareOff_ = true;
  }
  std::memset(&image_, 0, sizeof image_);
  std::memset(&thumb_, 0, sizeof thumb_);
  DescribeThumbnail();
  if (!rec_.Found(CaptureTime)) return QD_E_UNSUPPORTED;
  const int64_t seconds = int64_t{static_cast<int32_t>(rec_.Word(CaptureTime, 0))} -
                          static_cast<int32_t>(rec_.Word(CaptureTime, 1));
  ShotValues();
  result = DescribeImage();
  if (result != QD_OK && result != QD_E_NOT_APPLICABLE) return result;
  std::memcpy(image_.model, model_, sizeof model_);
  std::memcpy(thumb_.model, model_, sizeof model_);
  Capture(seconds > 0 ? LocalSecondsToTime(seconds) : 0);

  if (out_.thumb != nullptr) *out_.thumb = thumb_;
  if (out_.image != nullptr) *out_.image = image_;
  if (out_.capture != nullptr) *out_.capture = capture_;
  if (out_.shot != nullptr) {
    *out_.shot = shot_;
  } else if (result == QD_E_NOT_APPLICABLE) {
    result = QD_OK;
  }
  const uint32_t written = WriteProperties();
  if (written != QD_OK) return written;
  const uint32_t comment = WriteComment();
  return comment != QD_OK ? comment : result;
}

}  // namespace

uint32_t ParseHeapFileStream(uint32_t fileSize, const Outputs& out, const Recognition& found,
                             uint8_t* fileType) {
  HeapPath path(fileSize, out, found.sof, found.jfif, found.image, found.extensions, fileType);
  return path.Run(found.heap);
}

}  // namespace qd::extract
