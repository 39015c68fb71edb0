// The Exif path: Exif JPEG files (the APP1 block in memory) and TIFF files
// with an Exif IFD (read through the stream).
#include <cmath>
#include <cstring>

#include "exifwrite/camera_models.h"
#include "format/property_codes.h"
#include "extract/exif_file_query.h"
#include "extract/parse.h"
#include "extract/raw_substreams.h"
#include "extract/typed_records.h"
#include "frame/buffered_reader.h"
#include "frame/byte_order.h"
#include "frame/memory_block.h"
#include "frame/stream_port.h"
#include "tiffjpeg/exif_query.h"
#include "tiffjpeg/ifd_walk.h"
#include "tiffjpeg/jpeg_segments.h"
#include "format/tiff_format.h"

namespace qd::extract {
namespace {

using namespace qd::tiff;

constexpr uint8_t kModeJpeg = 5;
constexpr uint8_t kModeTiff = 8;
constexpr float kThirtySecond = 1.0f / 32;

// The standard list: R = read (at most `size` bytes; 0: the whole value),
// L = locate, E/X = enter and leave a sub-IFD, N = next IFD. Each IFD's reads
// stay together, before its locates and enters: one run each, answered by
// visiting the IFD's entries once.
#define QD_STANDARD_LIST(R, L, E, X, N)                                                                 \
  R(Width0S, kTagImageWidth, kShort, 2) R(Width0L, kTagImageWidth, kLong, 4)                          \
  R(Height0S, kTagImageLength, kShort, 2) R(Height0L, kTagImageLength, kLong, 4)                      \
  R(Bits0, kTagBitsPerSample, kShort, 2) R(Compression0, kTagCompression, kShort, 2)                  \
  R(Description, kTagImageDescription, kAscii, 64) R(Make, kTagMake, kAscii, 64)                      \
  R(Model, kTagModel, kAscii, 64) R(Orientation, kTagOrientation, kShort, 2)                          \
  R(Samples0, kTagSamplesPerPixel, kShort, 2) R(XRes0, kTagXResolution, kRational, 8)                 \
  R(YRes0, kTagYResolution, kRational, 8) R(Unit0, kTagResolutionUnit, kShort, 2)                     \
  R(Transfer, kTagTransferFunction, kShort, 6) R(Software, kTagSoftware, kAscii, 64)                  \
  R(DateTime, kTagDateTime, kAscii, 21) R(Artist, kTagArtist, kAscii, 64)                             \
  R(WhitePoint, kTagWhitePoint, kRational, 16) R(Primaries, kTagPrimaryChromaticities, kRational, 48) \
  R(Coefficients, kTagYCbCrCoefficients, kRational, 24) R(Positioning, kTagYCbCrPositioning, kShort, 2) \
  R(BlackWhite, kTagReferenceBlackWhite, kRational, 48) R(Tag0D68, kTagPrivate0D68, kAscii, 64)       \
  E(ExifIfd, kTagExifIfd)                                                                             \
  R(ExposureTime, kTagExposureTime, kRational, 8) R(FNumber, kTagFNumber, kRational, 8)               \
  R(Program, kTagExposureProgram, kShort, 2) R(Spectral, kTagSpectralSensitivity, kAscii, 32)         \
  R(Iso, kTagIsoSpeedRatings, kShort, 2) R(Oecf, kTagOecf, kUndefined, 128)                           \
  R(Version, kTagExifVersion, kUndefined, 5) R(DateOriginal, kTagDateTimeOriginal, kAscii, 20)        \
  R(DateDigitized, kTagDateTimeDigitized, kAscii, 20)                                                 \
  R(Components, kTagComponentsConfiguration, kUndefined, 4)                                           \
  R(CompressedBits, kTagCompressedBitsPerPixel, kRational, 8)                                         \
  R(Shutter, kTagShutterSpeedValue, kSRational, 8) R(Aperture, kTagApertureValue, kRational, 8)       \
  R(Brightness, kTagBrightnessValue, kSRational, 8) R(Bias, kTagExposureBiasValue, kSRational, 8)     \
  R(MaxAperture, kTagMaxApertureValue, kRational, 8) R(Distance, kTagSubjectDistance, kRational, 8)   \
  R(Metering, kTagMeteringMode, kShort, 2) R(Light, kTagLightSource, kShort, 2)                       \
  R(Flash, kTagFlash, kShort, 2) R(Focal, kTagFocalLength, kRational, 8)                             \
  R(UserComment, kTagUserComment, kUndefined, 0) R(SubSec, kTagSubSecTime, kAscii, 16)                \
  R(SubSecOriginal, kTagSubSecTimeOriginal, kAscii, 16)                                               \
  R(SubSecDigitized, kTagSubSecTimeDigitized, kAscii, 16)                                             \
  R(Flashpix, kTagFlashpixVersion, kUndefined, 5) R(ColorSpace, kTagColorSpace, kShort, 2)            \
  R(PixelXS, kTagPixelXDimension, kShort, 2) R(PixelXL, kTagPixelXDimension, kLong, 4)                \
  R(PixelYS, kTagPixelYDimension, kShort, 2) R(PixelYL, kTagPixelYDimension, kLong, 4)                \
  R(SoundFile, kTagRelatedSoundFile, kAscii, 13)                                                      \
  R(FlashEnergy, kTagFlashEnergy, kRational, 8)                                                       \
  R(Sfr, kTagSpatialFrequencyResponse, kUndefined, 128)                                               \
  R(PlaneX, kTagFocalPlaneXResolution, kRational, 8) R(PlaneY, kTagFocalPlaneYResolution, kRational, 8) \
  R(PlaneUnit, kTagFocalPlaneResolutionUnit, kShort, 2)                                               \
  R(SubjectLocation, kTagSubjectLocation, kShort, 2) R(ExposureIndex, kTagExposureIndex, kRational, 8) \
  R(Sensing, kTagSensingMethod, kShort, 2) R(FileSource, kTagFileSource, kUndefined, 4)               \
  R(SceneType, kTagSceneType, kUndefined, 4) R(Cfa, kTagCfaPattern, kUndefined, 128)                  \
  R(TagA303, kTagPrivateA303, kRational, 8) R(TagA304, kTagPrivateA304, kRational, 8)                 \
  R(TagA305, kTagPrivateA305, kRational, 2) R(CustomRendered, kTagCustomRendered, kShort, 2)          \
  R(ExposureMode, kTagExposureMode, kShort, 2) R(WhiteBalance, kTagWhiteBalance, kShort, 2)           \
  R(Zoom, kTagDigitalZoomRatio, kRational, 8) R(SceneCapture, kTagSceneCaptureType, kShort, 2)        \
  R(Gamma, kTagGamma, kRational, 8) L(MakerNote, kTagMakerNote)                                      \
  E(InteropIfd, kTagInteropIfd)                                                                       \
  R(InteropIndex, kTagInteropIndex, kAscii, 4) R(InteropVersion, kTagInteropVersion, kUndefined, 4)   \
  R(RelatedWS, kTagRelatedImageWidth, kShort, 2) R(RelatedWL, kTagRelatedImageWidth, kLong, 4)        \
  R(RelatedHS, kTagRelatedImageLength, kShort, 2) R(RelatedHL, kTagRelatedImageLength, kLong, 4) X    \
  X                                                                                                   \
  N(Ifd1)                                                                                             \
  R(Width1S, kTagImageWidth, kShort, 2) R(Width1L, kTagImageWidth, kLong, 4)                          \
  R(Height1S, kTagImageLength, kShort, 2) R(Height1L, kTagImageLength, kLong, 4)                      \
  R(Bits1, kTagBitsPerSample, kShort, 2) R(Compression1, kTagCompression, kShort, 2)                  \
  R(Photometric1, kTagPhotometric, kLong, 2)                                                          \
  R(StripOffsetS, kTagStripOffsets, kShort, 2) R(StripOffsetL, kTagStripOffsets, kLong, 4)            \
  R(Orientation1, kTagOrientation, kShort, 2) R(Samples1, kTagSamplesPerPixel, kShort, 2)             \
  R(RowsS, kTagRowsPerStrip, kShort, 2) R(RowsL, kTagRowsPerStrip, kLong, 4)                          \
  R(StripCountS, kTagStripByteCounts, kShort, 2) R(StripCountL, kTagStripByteCounts, kLong, 4)        \
  R(XRes1, kTagXResolution, kRational, 8) R(YRes1, kTagYResolution, kRational, 8)                     \
  R(Planar1, kTagPlanarConfiguration, kShort, 2) R(Unit1, kTagResolutionUnit, kShort, 2)              \
  R(JpegOffset, kTagJpegOffset, kLong, 4) R(JpegLength, kTagJpegLength, kLong, 4)

// The maker-note list.
#define QD_MAKER_LIST(R)                                                                              \
  R(M01, kMakerCameraSettings, kShort, 92) R(M02, kMakerFocalInfo, kShort, 8)                         \
  R(M03, kMakerTag0003, kShort, 8) R(M04, kMakerShotInfo, kShort, 66)                               \
  R(M05, kMakerTag0005, kShort, 12) R(M06, kMakerImageType, kAscii, 32)                             \
  R(M07, kMakerFirmware, kAscii, 23) R(M08, kMakerFileNumber, kLong, 4)                               \
  R(M09, kMakerOwnerName, kAscii, 32) R(M0C, kMakerSerialNumber, kLong, 4)                           \
  R(M0F, kMakerCustomFunctions, kShort, 0) R(M10, kMakerModelId, kLong, 4)                          \
  R(M11, kMakerTag0011, kShort, 18) R(M12, kMakerTag0012, kShort, 0) R(M13, kMakerTag0013, kShort, 8) \
  R(M15, kMakerTag0015, kLong, 4) R(M16, kMakerCameraRotation, kLong, 4)                            \
  R(M19, kMakerRelocation, kShort, 2) R(M1A, kMakerTag001A, kShort, 2)                              \
  R(M1B, kMakerTag001B, kByte, 0) R(M1D, kMakerTag001D, kShort, 0) R(M23, kMakerTag0023, kLong, 8) \
  R(M80, kMakerTag0080, kLong, 4) R(M81, kMakerTag0081, kLong, 4) R(M90, kMakerTag0090, kShort, 0) \
  R(M91, kMakerTag0091, kShort, 0) R(M92, kMakerTag0092, kShort, 0) R(M93, kMakerTag0093, kShort, 0) \
  R(M94, kMakerTag0094, kUndefined, 0) R(MA0, kMakerTag00A0, kShort, 0)                           \
  R(MA1, kMakerTag00A1, kShort, 0) R(MA2, kMakerTag00A2, kShort, 0) R(MA3, kMakerTag00A3, kShort, 0) \
  R(MA4, kMakerTag00A4, kShort, 0) R(MAE, kMakerTag00AE, kShort, 0) R(MB0, kMakerTag00B0, kShort, 0) \
  R(MB1, kMakerTag00B1, kShort, 0) R(MB2, kMakerTag00B2, kShort, 0) R(MB3, kMakerTag00B3, kShort, 0) \
  R(MB4, kMakerColourMode, kShort, 0) R(MB5, kMakerTag00B5, kShort, 0)

#define QD_TAG_NAME(name, ...) name,
#define QD_NO_TAG(...)
enum Tag : uint32_t {
  QD_STANDARD_LIST(QD_TAG_NAME, QD_TAG_NAME, QD_TAG_NAME, , QD_TAG_NAME) QD_MAKER_LIST(QD_TAG_NAME) kTagCount
};
#undef QD_TAG_NAME
#undef QD_NO_TAG

// The requests of both lists as their shape fixes them; kTagCount names none.
struct Request {
  uint16_t op, tag, type;
  uint32_t size;
  Tag name;
};
#define QD_REQ_READ(name, tag, type, size) Request{IFDQ_READ, tag, type, size, name},
#define QD_REQ_LOCATE(name, tag) Request{IFDQ_LOCATE, tag, 0, 0, name},
#define QD_REQ_ENTER(name, tag) Request{IFDQ_ENTER, tag, 0, 0, name},
#define QD_REQ_LEAVE Request{IFDQ_LEAVE, 0, 0, 0, kTagCount},
#define QD_REQ_NEXT(name) Request{IFDQ_NEXT_IFD, 0, 0, 0, name},
constexpr Request kRequests[] = {
    QD_STANDARD_LIST(QD_REQ_READ, QD_REQ_LOCATE, QD_REQ_ENTER, QD_REQ_LEAVE, QD_REQ_NEXT)  //
    Request{IFDQ_END, 0, 0, 0, kTagCount},
    QD_MAKER_LIST(QD_REQ_READ)  //
    Request{IFDQ_END, 0, 0, 0, kTagCount}};
#undef QD_REQ_READ
#undef QD_REQ_LOCATE
#undef QD_REQ_ENTER
#undef QD_REQ_LEAVE
#undef QD_REQ_NEXT
constexpr uint32_t kRequestCount = sizeof kRequests / sizeof kRequests[0];

// Each tag's request, where the maker-note list starts, and room enough for
// a copy of every value the lists read with a size, each at an 8-byte step.
struct Layout {
  uint32_t makerList = 0;
  uint16_t request[kTagCount] = {};
  uint32_t fixedBytes = 0;
};
constexpr Layout MakeLayout() {
  Layout l;
  for (uint32_t i = 0; i < kRequestCount; ++i) {
    const Request& r = kRequests[i];
    if (r.op == IFDQ_END && l.makerList == 0) l.makerList = i + 1;
    if (r.name == kTagCount) continue;
    l.request[r.name] = static_cast<uint16_t>(i);
    if (r.op == IFDQ_READ) l.fixedBytes += (r.size + 7) / 8 * 8;
  }
  return l;
}
constexpr Layout kLayout = MakeLayout();

// The lists as they start, their answers still unset.
struct Blank {
  IfdQuery at[kRequestCount] = {};
};
constexpr Blank MakeBlank() {
  Blank b;
  for (uint32_t i = 0; i < kRequestCount; ++i) {
    const Request& r = kRequests[i];
    b.at[i] = IfdQuery{r.op, r.tag, r.type, 0, 0, r.size, 0};
  }
  return b;
}
constexpr Blank kBlank = MakeBlank();
constexpr RunIndex kStandardRuns(kBlank.at);
constexpr RunIndex kMakerRuns(kBlank.at + kLayout.makerList);

// Copies are needed when the values are not in memory in host order; the
// values of unknown size among them seldom take more than this.
constexpr uint32_t kRoomSize = kLayout.fixedBytes + 1024;

// Query lists and the room for what they copy. A read tag's answer points at
// its value in host order: in the Exif block or in the room.
class TagLists {
 public:
  TagLists() { std::memcpy(lists_, kBlank.at, sizeof lists_); }
  TagLists(const TagLists&) = delete;
  TagLists& operator=(const TagLists&) = delete;

  IfdQuery* standard() { return lists_; }
  IfdQuery* maker() { return lists_ + kLayout.makerList; }
  ValueRoom* room() { return &room_; }

  bool Found(Tag t) const { return Query(t).found != 0; }
  uint32_t Size(Tag t) const { return Query(t).size; }
  const uint8_t* Data(Tag t) const {
    return Query(t).op == IFDQ_READ ? reinterpret_cast<const uint8_t*>(Query(t).data) : nullptr;
  }
  // A found read's value; empty otherwise.
  ByteView Value(Tag t) const {
    const IfdQuery& q = Query(t);
    return q.op == IFDQ_READ && q.found != 0 ? ByteView(reinterpret_cast<const uint8_t*>(q.data), q.size) : ByteView();
  }
  void Drop(Tag t) { Query(t).found = 0; }
  uint16_t U16(Tag t, uint32_t k = 0) const { return HostElement<uint16_t>(Found(t), Data(t), Size(t), k); }
  uint32_t U32(Tag t, uint32_t k = 0) const { return HostElement<uint32_t>(Found(t), Data(t), Size(t), k); }
  // A located tag: its raw value-or-offset field and count.
  uint32_t Field(Tag t) const { return static_cast<uint32_t>(Query(t).data); }
  // The first `n` bytes of a found value into `out`, zeros past its end.
  void Copy(Tag t, void* out, uint32_t n) const {
    const ByteView v = Value(t);
    const uint32_t have = v.size() < n ? v.size() : n;
    if (have != 0) std::memcpy(out, v.data(), have);
    std::memset(static_cast<uint8_t*>(out) + have, 0, n - have);
  }
  // Text of at most `max` characters, copied into `out` with its zero byte.
  void Text(Tag t, char* out, uint32_t max) const {
    const ByteView v = Value(t);
    if (v.size() == 0) {
      if (Found(t)) out[0] = '\0';
      return;
    }
    const uint32_t most = v.size() < max ? v.size() : max;
    const auto* end = static_cast<const uint8_t*>(std::memchr(v.data(), 0, most));
    const uint32_t n = end != nullptr ? static_cast<uint32_t>(end - v.data()) : most;
    std::memcpy(out, v.data(), n);
    out[n] = '\0';
  }

 private:
  IfdQuery& Query(Tag t) { return lists_[kLayout.request[t]]; }
  const IfdQuery& Query(Tag t) const { return lists_[kLayout.request[t]]; }

  IfdQuery lists_[kRequestCount];
  alignas(8) uint8_t roomBytes_[kRoomSize];
  ValueRoom room_{roomBytes_, kRoomSize};
};

bool Ratio(uint32_t num, uint32_t den, double* out) {
  if (den == 0) return false;
  *out = static_cast<double>(num) / den;
  return true;
}

class ExifPath {
 public:
  ExifPath(const qdlStream* stream, uint32_t fileSize, const Outputs& out, TiffBlockInfo* exif,
           const JpegSofInfo* sof, OutPutInfo* ext, uint8_t mode)
      : stream_(stream), fileSize_(fileSize), out_(out), exif_(exif), sof_(sof), ext_(ext), mode_(mode) {}
  ~ExifPath() {
    (void)BlockFree(iccCopy_);
    (void)BlockFree(iptcCopy_);
  }

  uint32_t Run();

 private:
  uint32_t Read();
  uint32_t ReadTiffExtras();
  bool IsCameraMaker() const;
  uint32_t DescribeImage();
  struct Resolved {
    float aspect;
    uint16_t x, y;
  };
  Resolved Resolution(Tag x, Tag y, Tag unit) const;
  template <typename Info>
  void SetResolution(Info* info, Tag x, Tag y, Tag unit) const {
    const Resolved r = Resolution(x, y, unit);  // packed records: assign, never point
    info->aspect = r.aspect;
    info->xResolution = r.x;
    info->yResolution = r.y;
  }
  uint32_t DescribeThumbnail();
  void ThumbnailFromFrame(uint16_t fallbackW, uint16_t fallbackH);
  uint32_t DescribeStripThumbnail();
  uint32_t DescribeJpegThumbnail();
  void DescribeByImageType();
  void Capture();
  void ShotValues();
  uint32_t WriteDcfThumbnail();
  uint32_t WriteProperties();
  bool IsoSpeed(const WordArray& si, uint16_t* iso) const;
  void WriteStandardRecords(RecordSink& sink) const;
  void PutTag(RecordSink& sink, uint16_t code, Tag t) const;
  void WriteExifRecords(RecordSink& sink) const;
  void WriteMakerRecords(RecordSink& sink) const;
  void WriteColourRecords(RecordSink& sink) const;
  uint32_t WriteComment();
  uint16_t ColourSpaceDecision() const;

  bool FrameFound() const { return sof_ != nullptr && sof_->found != 0; }
  WordArray CameraSettings() const {
    return t_.Found(M01) ? WordArray::Of(t_.Data(M01), t_.Size(M01)) : WordArray{};
  }
  WordArray ShotInfo() const {
    return t_.Found(M04) ? WordArray::Of(t_.Data(M04), t_.Size(M04)) : WordArray{};
  }
  bool ModelFlag() const {
    if (!t_.Found(M10)) return false;
    const uint32_t id = t_.U32(M10);
    return id == 0x01B20000 || id == 0x01C48000 || (id & 0x80000000u) != 0;
  }
  ByteOrder Order() const { return OrderOf(*exif_); }

  const qdlStream* stream_;
  uint32_t fileSize_;
  const Outputs& out_;
  TiffBlockInfo* exif_;
  const JpegSofInfo* sof_;
  OutPutInfo* ext_;
  uint8_t mode_;
  TagLists t_;
  uint8_t* iccCopy_ = nullptr;
  uint32_t iccSize_ = 0;
  uint8_t* iptcCopy_ = nullptr;
  uint32_t iptcSize_ = 0;
  char model_[32] = {};
  bool thumbnailPresent_ = false;
  uint32_t thumbOffset_ = 0;
  uint32_t thumbLength_ = 0;
  QdImageInfo image_{};
  QdThumbnailInfo thumb_{};
  QdAuxImageInfo aux_{};
  ExifCaptureInfo capture_{};
  ExifShotValues shot_{};
};

uint32_t ExifPath::Read() {
  const ExifFile file{mode_ == kModeTiff ? stream_ : nullptr, exif_};
  uint32_t result = QueryExifFile(file, t_.standard(), t_.room(), &kStandardRuns);
  if (result != QD_OK) return result;
  if (mode_ == kModeTiff) {
    result = ReadTiffExtras();
    if (result != QD_OK) return result;
  }
  const uint32_t noteAt = t_.Field(MakerNote);
  const uint32_t noteSize = t_.Size(MakerNote);
  // Offset 0 would start the maker-note walk at IFD0.
  const bool note = IsCameraMaker() && noteAt != 0;
  if (note) {
    result = QueryExifMakerNote(file, noteAt, noteSize, t_.maker(), t_.room(), &kMakerRuns);
    if (result != QD_OK) return result;
  }
  if (!note) return QD_OK;
  char firmware[8];
  t_.Copy(M07, firmware, 8);
  if (t_.Found(M07) && std::memcmp(firmware, "Firmware", 8) != 0) {
    t_.Drop(M01);
    t_.Drop(M04);
  }
  return QD_OK;
}

// The ICC profile and IPTC block that a TIFF file keeps in IFD0.
uint32_t ExifPath::ReadTiffExtras() {
  IfdQuery list[3] = {};
  list[0] = {IFDQ_LOCATE, 0x8773, 0, 0, 0, 0, 0};
  list[1] = {IFDQ_LOCATE, 0x83BB, 0, 0, 0, 0, 0};
  list[2].op = IFDQ_END;
  const uint32_t result = QueryExifFile({stream_, exif_}, list);
  if (result != QD_OK) return result;
  StreamPort port;
  MakeStreamPort(stream_, &port);
  ScopedReader reader;
  Status st = reader.Open(port, kProbeReaderCapacity);
  // As in the walks: a failing host's own error, else the reader's status.
  if (st != ST_OK) return port.hostError != 0 ? port.hostError : ToResultCode(st);
  uint8_t** copies[2] = {&iccCopy_, &iptcCopy_};
  uint32_t* sizes[2] = {&iccSize_, &iptcSize_};
  for (int i = 0; i < 2; ++i) {
    if (list[i].found == 0) continue;
    const uint64_t bytes = uint64_t{list[i].size} * ValueSize(list[i].type);
    const auto at = static_cast<uint32_t>(list[i].data);
    // Only what the stream holds decides an allocation.
    if (bytes == 0 || (bytes > kInlineSize && !FitsIn(at, bytes, ReaderSize(reader)))) continue;
    *copies[i] = BlockAlloc(static_cast<uint32_t>(bytes));
    if (*copies[i] == nullptr) return QD_E_NO_MEMORY;
    *sizes[i] = static_cast<uint32_t>(bytes);
    if (bytes <= kInlineSize) {  // the value is the entry's own field, not an offset
      uint8_t field[4];
      Put32(at, field, Order());
      std::memcpy(*copies[i], field, *sizes[i]);
      continue;
    }
    st = ReaderSeek(&reader, at, kReaderAbsolute);
    if (st == ST_OK) st = ReaderRead(&reader, *sizes[i], *copies[i]);
    if (st != ST_OK) return port.hostError != 0 ? port.hostError : ToResultCode(st);
  }
  return QD_OK;
}

bool ExifPath::IsCameraMaker() const {
  if (!t_.Found(Make) || !t_.Found(MakerNote)) return false;
  char make[65] = {};
  t_.Text(Make, make, 64);
  return camera::IsMaker(make);
}

// A resolution from rational tags: aspect y / x, inches or centimetres.
ExifPath::Resolved ExifPath::Resolution(Tag x, Tag y, Tag unit) const {
  const Resolved fallback{1.0f, 180, 180};
  if (!t_.Found(x) || !t_.Found(y) || !t_.Found(unit)) return fallback;
  if (t_.U32(x, 1) == 0 || t_.U32(y, 1) == 0) return fallback;
  const uint32_t xv = t_.U32(x, 0) / t_.U32(x, 1);
  const uint32_t yv = t_.U32(y, 0) / t_.U32(y, 1);
  const uint16_t u = t_.U16(unit);
  if (xv == 0 || yv == 0 || (u != 2 && u != 3)) return fallback;
  const double scale = u == 3 ? 2.54 : 1.0;
  // Up to 2^32 * 2.54: truncated in 64 bits, then kept to the field's 16.
  return Resolved{static_cast<float>(yv) / static_cast<float>(xv),
                  static_cast<uint16_t>(static_cast<uint64_t>(xv * scale)),
                  static_cast<uint16_t>(static_cast<uint64_t>(yv * scale))};
}

uint32_t ExifPath::DescribeImage() {
  // The model stays known after a thumbnail file clears the image record.
  t_.Text(Model, model_, 31);
  std::memcpy(image_.model, model_, sizeof model_);
  const WordArray cs = CameraSettings();
  const bool raw = mode_ == kModeTiff && cs.length >= 20 && (cs.At(9) == 4 || cs.At(9) == 5);
  image_.format = mode_ == kModeJpeg ? kFormatExifJpeg : raw ? kFormatRawExifTiff : kFormatExifTiff;
  uint16_t bits = 8;
  if (t_.Found(Bits0)) {
    bits = t_.U16(Bits0);
    if (raw) bits = t_.Found(Bits1) ? (t_.U16(Bits1) > bits ? t_.U16(Bits1) : bits) : 16;
  }
  image_.bitsPerSample = static_cast<uint8_t>(bits);
  if (mode_ == kModeTiff) {
    const uint16_t samples = t_.Found(Samples0) ? t_.U16(Samples0) : 3;
    image_.bitsPerPixel = static_cast<uint8_t>(uint32_t{bits} * samples);
    image_.colour = samples != 1 ? 1 : 0;
  } else {
    const bool grey = FrameFound() && sof_->components == 1;
    image_.bitsPerPixel = grey ? 8 : 24;
    image_.colour = grey ? 0 : 1;
  }

  struct Pair {
    uint32_t w, h;
  };
  Pair size{0, 0};
  const auto take = [&size](uint32_t w, uint32_t h) {
    if (size.w == 0 && w != 0 && h != 0) size = {w, h};
  };
  if (mode_ == kModeJpeg && !t_.Found(InteropIfd) && t_.Found(M12)) take(t_.U16(M12, 2), t_.U16(M12, 3));
  take(t_.U16(RelatedWS), t_.U16(RelatedHS));
  take(t_.U32(RelatedWL), t_.U32(RelatedHL));
  if (mode_ == kModeJpeg && FrameFound()) take(sof_->width, sof_->height);
  take(t_.U16(PixelXS), t_.U16(PixelYS));
  take(t_.U32(PixelXL), t_.U32(PixelYL));
  take(t_.U16(Width0S), t_.U16(Height0S));
  take(t_.U32(Width0L), t_.U32(Height0L));
  if (size.w == 0) return QD_E_UNSUPPORTED;
  image_.width = static_cast<uint16_t>(size.w);
  image_.height = static_cast<uint16_t>(size.h);

  SetResolution(&image_, XRes0, YRes0, Unit0);
  const double pixels = static_cast<double>(image_.width) * image_.height;
  image_.compressedBitsPerPixel =
      fileSize_ != 0 && pixels != 0 ? static_cast<float>(fileSize_ * 8.0 / pixels) : 1.0f;
  image_.dataCode = mode_ == kModeJpeg ? 1 : raw ? 3 : 2;
  image_.fullWidth = image_.width;
  image_.fullHeight = image_.height;
  image_.fullAspect = image_.aspect;
  image_.fullXResolution = image_.xResolution;
  image_.fullYResolution = image_.yResolution;
  std::memset(image_.pathValues, 0xFF, sizeof image_.pathValues);  // packed: no references
  image_.flags = raw ? 2 : 0;
  return QD_OK;
}

// The frame's size, or the fallback where the JPEG has no frame.
void ExifPath::ThumbnailFromFrame(uint16_t fallbackW, uint16_t fallbackH) {
  thumb_.width = FrameFound() ? sof_->width : fallbackW;
  thumb_.height = FrameFound() ? sof_->height : fallbackH;
}

// A TIFF's thumbnail is IFD1's strip image; a raw file hands it out.
uint32_t ExifPath::DescribeStripThumbnail() {
  const bool shortStrips = t_.Found(StripOffsetS) && t_.Found(StripCountS);
  const bool longStrips = t_.Found(StripOffsetL) && t_.Found(StripCountL);
  if (!t_.Found(Ifd1) || (!shortStrips && !longStrips)) {
    thumb_.format = kFormatNone;
    return QD_OK;
  }
  uint32_t result = QD_OK;
  if (t_.U16(Width1S) != 0 || t_.U16(Height1S) != 0) {
    thumb_.width = t_.U16(Width1S);
    thumb_.height = t_.U16(Height1S);
  } else if (t_.Found(Width1L) || t_.Found(Height1L)) {
    thumb_.width = static_cast<uint16_t>(t_.U32(Width1L));
    thumb_.height = static_cast<uint16_t>(t_.U32(Height1L));
  } else {
    thumb_.width = 160;
    thumb_.height = 120;
    result = QD_E_UNSUPPORTED;
  }
  if (t_.Found(Bits1)) thumb_.bitsPerSample = static_cast<uint8_t>(t_.U16(Bits1));
  if (t_.Found(Samples1)) {
    thumb_.bitsPerPixel = static_cast<uint8_t>(uint32_t{thumb_.bitsPerSample} * t_.U16(Samples1));
    thumb_.colour = t_.U16(Samples1) != 1 ? 1 : 0;
  }
  SetResolution(&thumb_, XRes1, YRes1, Unit1);
  // The crop needs the output's open and close as well.
  const qdlStream* dcf = out_.dcfThumb;
  if (image_.format == kFormatRawExifTiff && Usable(dcf) && dcf->open != nullptr && dcf->close != nullptr) {
    const uint32_t offset = shortStrips ? t_.U16(StripOffsetS) : t_.U32(StripOffsetL);
    const uint32_t count = shortStrips ? t_.U16(StripCountS) : t_.U32(StripCountL);
    const uint32_t cropped = CropStream(stream_, offset, count, out_.dcfThumb);
    if (cropped != QD_OK) return cropped;
  }
  return result;
}

// IFD1's JPEG inside the block, sized by its own frame header.
uint32_t ExifPath::DescribeJpegThumbnail() {
  const uint32_t blockSize = exif_->tiffSize;
  thumbOffset_ = t_.U32(JpegOffset);
  thumbLength_ = t_.U32(JpegLength);
  if (thumbLength_ == 0) {
    thumb_.format = kFormatNone;
    return QD_OK;
  }
  if (thumbLength_ > blockSize - thumbOffset_) thumbLength_ = blockSize - thumbOffset_;
  JpegSofInfo frame{};
  jpeg::FindFrameHeader(exif_->tiff + thumbOffset_, thumbLength_, &frame);
  thumb_.width = frame.found != 0 ? frame.width : 160;
  thumb_.height = frame.found != 0 ? frame.height : 120;
  thumbnailPresent_ = true;
  if (image_.format == kFormatExifJpeg && FrameFound()) {
    image_.width = sof_->width;
    image_.height = sof_->height;
  }
  return QD_OK;
}

// A JPEG without a thumbnail of its own is one, by the maker's image type.
void ExifPath::DescribeByImageType() {
  char type[33] = {};
  t_.Text(M06, type, 32);
  thumb_.format = kFormatThumbnailFile;
  if (camera::EqualsIgnoringCase(type, "VRW")) {
    ThumbnailFromFrame(thumb_.width, thumb_.height);
    image_.format = kFormatHeap1;
  } else if (camera::EqualsIgnoringCase(type, "MVI") && CameraSettings().At(9) != 3) {
    ThumbnailFromFrame(160, 120);
    std::memset(&image_, 0, sizeof image_);
    std::memset(&aux_, 0, sizeof aux_);
  } else {
    ThumbnailFromFrame(thumb_.width, thumb_.height);
    std::memcpy(&aux_, &image_, sizeof thumb_);
    aux_.format = kFormatAuxiliary;
    if (t_.Found(M11)) {
      for (uint32_t k = 1; k <= 3; ++k) {
        if (t_.Size(M11) >= 2 * k + 2) aux_.extra[k - 1] = t_.U16(M11, k);
      }
    }
    std::memset(&image_, 0, sizeof image_);
  }
}

uint32_t ExifPath::DescribeThumbnail() {
  std::memcpy(&thumb_, &image_, sizeof thumb_);
  if (mode_ == kModeTiff) return DescribeStripThumbnail();
  const uint32_t blockSize = exif_->tiffSize;
  if (t_.Found(JpegOffset) && t_.Found(JpegLength) && t_.U32(JpegOffset) < blockSize &&
      t_.U32(JpegLength) < blockSize) {
    return DescribeJpegThumbnail();
  }
  if (t_.Found(M06)) {
    DescribeByImageType();
    return QD_OK;
  }
  char index[5] = {};
  t_.Text(InteropIndex, index, 4);
  index[3] = '\0';
  if (camera::EqualsIgnoringCase(index, "THM")) {
    thumb_.format = kFormatThumbnailFile;
    ThumbnailFromFrame(160, 120);
    std::memset(&image_, 0, sizeof image_);
    std::memset(&aux_, 0, sizeof aux_);
    return QD_OK;
  }
  thumb_.format = kFormatNone;
  return QD_OK;
}

void ExifPath::Capture() {
  if (t_.Found(DateOriginal)) {
    capture_.time = ParseDateText(reinterpret_cast<const char*>(t_.Data(DateOriginal)), t_.Size(DateOriginal));
  }
  capture_.fileNumber = t_.Found(M08) ? t_.U32(M08) : 0xFFFFFFFF;
  if (t_.Found(M09)) {
    t_.Copy(M09, capture_.owner, 31);
  } else {
    t_.Text(Artist, capture_.owner, 31);
  }
  t_.Text(M06, capture_.imageType, 31);
}

void ExifPath::ShotValues() {
  const WordArray si = ShotInfo();
  const WordArray cs = CameraSettings();
  const auto step = [&si](uint32_t k) { return static_cast<int16_t>(si.At(k)) * kThirtySecond; };
  double v = 0;
  if (t_.Found(Aperture) && Ratio(t_.U32(Aperture, 0), t_.U32(Aperture, 1), &v)) {
    shot_.aperture = t_.U32(Aperture, 0) == 0x80000000u && t_.U32(Aperture, 1) == 1 ? -1.0f : static_cast<float>(v);
  } else if (t_.Found(FNumber) && Ratio(t_.U32(FNumber, 0), t_.U32(FNumber, 1), &v)) {
    shot_.aperture = v == 0 ? -1.0f : static_cast<float>(2 * std::log2(v));
  } else if (si.Covers(4) && si.At(4) != 0x8000) {
    shot_.aperture = step(4);
  } else {
    shot_.aperture = -1.0f;
  }
  const auto num = static_cast<int32_t>(t_.U32(Shutter, 0));
  const auto den = static_cast<int32_t>(t_.U32(Shutter, 1));
  if (t_.Found(Shutter) && den != 0) {
    shot_.shutterSpeed = static_cast<float>(static_cast<double>(num) / den);
  } else if (t_.Found(ExposureTime) && Ratio(t_.U32(ExposureTime, 0), t_.U32(ExposureTime, 1), &v) && v > 0) {
    shot_.shutterSpeed = static_cast<float>(-std::log2(v));
  } else if (si.Covers(5) && si.At(5) != 0x8000) {
    shot_.shutterSpeed = step(5);
  } else {
    shot_.shutterSpeed = 100.0f;
  }
  const auto biasNum = static_cast<int32_t>(t_.U32(Bias, 0));
  const auto biasDen = static_cast<int32_t>(t_.U32(Bias, 1));
  if (si.Covers(6)) {
    shot_.exposureCompensation = step(6);
  } else if (t_.Found(Bias) && biasDen != 0) {
    shot_.exposureCompensation = static_cast<float>(static_cast<double>(biasNum) / biasDen);
  } else {
    shot_.exposureCompensation = 100.0f;
  }
  if (si.length >= 28) {
    shot_.additionalEv = si.At(13) * kThirtySecond;
  } else if (t_.Found(FlashEnergy) && t_.Found(Iso) && Ratio(t_.U32(FlashEnergy, 0), t_.U32(FlashEnergy, 1), &v)) {
    const double e = std::sqrt(v * t_.U16(Iso) * 1158.0162048) * 0.03125;
    shot_.additionalEv = e > 0 ? static_cast<float>(e) : 0.0f;
  } else {
    shot_.additionalEv = -1.0f;
  }
  shot_.settingWord = cs.Covers(2) ? cs.At(2) : 0xFFFF;
  if (cs.Covers(1) && cs.At(1) == 1) {
    shot_.settingFlag = 1;
  } else if (cs.Covers(1) && cs.At(1) == 2) {
    shot_.settingFlag = camera::SettingFlagExempt(model_) ? 0xFF : 0;
  } else {
    shot_.settingFlag = 0xFF;
  }
}

uint32_t ExifPath::WriteDcfThumbnail() {
  if (mode_ != kModeJpeg || !thumbnailPresent_ || !Usable(out_.dcfThumb)) return QD_OK;
  return StreamWriteWhole(out_.dcfThumb, exif_->tiff + thumbOffset_, thumbLength_);
}

uint16_t ExifPath::ColourSpaceDecision() const {
  if (t_.U16(ColorSpace) == 1) return 1;
  static constexpr uint32_t kWhite[4] = {313, 1000, 329, 1000};
  static constexpr uint32_t kPrimaries[12] = {64, 100, 33, 100, 21, 100, 71, 100, 15, 100, 6, 100};
  static constexpr uint32_t kCoefficients[6] = {299, 1000, 587, 1000, 114, 1000};
  static constexpr uint32_t kGamma[2] = {22, 10};
  const auto equals = [this](Tag t, const uint32_t* values, uint32_t n) {
    if (!t_.Found(t) || t_.Size(t) < 4 * n) return false;
    for (uint32_t i = 0; i < n; ++i) {
      if (t_.U32(t, i) != values[i]) return false;
    }
    return true;
  };
  char version[4];
  t_.Copy(Version, version, 4);
  const bool known = t_.Found(Version) && (std::memcmp(version, "0200", 4) == 0 ||
                                           std::memcmp(version, "0210", 4) == 0 ||
                                           std::memcmp(version, "0220", 4) == 0);
  if (t_.Found(ColorSpace) && t_.U16(ColorSpace) >= 0xFFFF && !known && equals(WhitePoint, kWhite, 4) &&
      equals(Primaries, kPrimaries, 12) && equals(Coefficients, kCoefficients, 6) && equals(Gamma, kGamma, 2)) {
    return 2;
  }
  return 0xFFFF;
}

// ISOSpeedRatings counts when present, even as 0; two models fall back on the
// shot information, when the speed fits.
bool ExifPath::IsoSpeed(const WordArray& si, uint16_t* iso) const {
  if (t_.Found(Iso)) {
    *iso = t_.U16(Iso);
    return true;
  }
  if (!camera::IsArxK(model_) || si.length < 6 || si.At(2) == 0) return false;
  const double exact = 3.125 * std::pow(2.0, si.At(2) / 32.0);
  auto speed = exact < 65536.0 ? static_cast<uint32_t>(exact) : 0u;
  if (speed == 12800) speed = 12500;
  if (speed == 993 || speed == 1037) speed = 1000;
  *iso = static_cast<uint16_t>(speed);
  return speed != 0;
}

void ExifPath::WriteStandardRecords(RecordSink& sink) const {
  const WordArray cs = CameraSettings();
  const WordArray si = ShotInfo();
  uint16_t record02[2] = {cs.At(5), si.length >= 20 ? static_cast<uint16_t>(si.At(9) == 0 ? 0 : si.At(9) - 1) : cs.At(6)};
  uint8_t orientation[6] = {};
  {
    static constexpr uint32_t kAngle[9] = {0, 0, 0, 180, 180, 270, 90, 90, 270};
    static constexpr uint16_t kMirrored[9] = {0, 0, 1, 0, 1, 1, 0, 1, 0};
    const uint16_t o = t_.U16(Orientation);
    const uint32_t angle = o <= 8 ? kAngle[o] : 0;
    const uint16_t mirrored = o <= 8 ? kMirrored[o] : 0;
    std::memcpy(orientation, &angle, 4);
    std::memcpy(orientation + 4, &mirrored, 2);
  }
  const uint16_t record09 = mode_ == kModeTiff && image_.format != kFormatRawExifTiff ? 0xFFFF : cs.At(3);
  const uint16_t record0F = cs.At(4);
  uint16_t iso = 0;
  const bool isoKnown = IsoSpeed(si, &iso);
  uint8_t focal[26] = {};
  const bool focalAll = t_.Found(Focal) && t_.Found(PlaneX) && t_.Found(PlaneY) && t_.Found(PlaneUnit);
  if (focalAll) {
    t_.Copy(Focal, focal, 8);
    t_.Copy(PlaneX, focal + 8, 8);
    t_.Copy(PlaneY, focal + 16, 8);
    t_.Copy(PlaneUnit, focal + 24, 2);
  }
  const uint32_t record0E = t_.U32(M0C);

  StandardFields f;
  f.record02 = t_.Found(M01) ? reinterpret_cast<const uint8_t*>(record02) : nullptr;
  f.record03 = t_.Found(M05) && t_.Size(M05) >= 12 ? t_.Data(M05) : nullptr;
  f.record04 = t_.Found(M02) && t_.Size(M02) >= 8 ? t_.Data(M02) : nullptr;
  f.record08 = focalAll ? focal : nullptr;
  f.shotInfo = si;
  f.record07 = t_.Found(Orientation) ? orientation : nullptr;
  f.record09 = cs.Covers(3) ? &record09 : nullptr;
  f.cameraSettings = cs;
  f.record0D = t_.Found(M0F) && t_.Size(M0F) >= 32 ? t_.Data(M0F) : nullptr;
  f.record0E = t_.Found(M0C) ? &record0E : nullptr;
  f.record0C = isoKnown ? &iso : nullptr;
  f.record0F = cs.length >= 10 ? &record0F : nullptr;
  WriteStandardFields(sink, model_, ModelFlag(), f);
}

void ExifPath::PutTag(RecordSink& sink, uint16_t code, Tag t) const {
  const ByteView v = t_.Value(t);
  if (v.size() != 0) sink.Put(code, v.data(), v.size());
}

// Exif values and the maker-note runs of records 0x1B..0x2A.
void ExifPath::WriteExifRecords(RecordSink& sink) const {
  PutTag(sink, kPropMakerTag0080, M80);
  PutTag(sink, kPropMakerTag0081, M81);
  static constexpr Tag kRuns[] = {M90, M91, M92, M93, M94, MA0, MA1, MA2, MA3, MA4, MB0, MB1, MB2, MB3};
  for (uint16_t i = 0; i < 14; ++i) {
    const auto code = static_cast<uint16_t>(kPropMakerTag0090 + i);
    if (code != kPropMakerTag0090 || camera::HasRecord(model_, 29)) PutTag(sink, code, kRuns[i]);
  }
  static constexpr std::pair<uint16_t, Tag> kValues[] = {
      {kPropExposureTime, ExposureTime}, {kPropFNumber, FNumber},         {kPropShutterSpeed, Shutter},
      {kPropAperture, Aperture},         {kPropExposureBias, Bias},       {kPropFlash, Flash},
      {kPropExifVersion, Version},       {kPropCustomRendered, CustomRendered},
      {kPropExposureMode, ExposureMode}, {kPropWhiteBalance, WhiteBalance}, {kPropDigitalZoomRatio, Zoom},
      {kPropSceneCaptureType, SceneCapture}, {kPropColorSpace, ColorSpace}};
  for (const auto& [code, tag] : kValues) PutTag(sink, code, tag);
  if (t_.Found(Make)) {
    uint8_t make[4 + 64];
    const uint32_t n = t_.Size(Make) < 64 ? t_.Size(Make) : 64;
    std::memcpy(make, &n, 4);
    std::memcpy(make + 4, t_.Data(Make), n);
    sink.Put(kPropMake, make, 4 + n);
  }
  static constexpr std::pair<uint16_t, Tag> kColour[] = {{kPropWhitePoint, WhitePoint},
                                                         {kPropPrimaries, Primaries},
                                                         {kPropYCbCrCoefficients, Coefficients},
                                                         {kPropGamma, Gamma}};
  for (const auto& [code, tag] : kColour) PutTag(sink, code, tag);
}

void ExifPath::WriteMakerRecords(RecordSink& sink) const {
  const WordArray si = ShotInfo();
  PutTag(sink, kPropMakerTag0010, M10);
  PutTag(sink, kPropMakerTag0013, M13);
  PutTag(sink, kPropMakerTag0015, M15);
  if (!camera::HasRecord(model_, 13)) PutTag(sink, kPropMakerTag000FAlt, M0F);
  if (!camera::HasRecord(model_, 29)) PutTag(sink, kPropMakerTag0090Alt, M90);
  if (t_.Found(M16)) {
    PutTag(sink, kPropCameraRotation, M16);
  } else if (si.present()) {
    uint16_t raw = 0xFFFF;
    if (ModelFlag() && si.length >= 4) {
      raw = si.At(1);
    } else if (si.length >= 26) {
      raw = static_cast<uint8_t>(si.At(12) >> 8);  // byte 25 of the array
    }
    const uint32_t rotation = raw <= 3 ? raw * 90u : 0xFFFF;
    sink.Put(kPropCameraRotation, &rotation, 4);
  }
  PutTag(sink, kPropMakerTag00AE, MAE);
  PutTag(sink, kPropColourMode, MB4);
  PutTag(sink, kPropMakerTag00B5, MB5);
  if (t_.Found(M10) && (t_.U32(M10) & 0x80000000u) != 0) PutTag(sink, kPropMakerTag0012, M12);
  PutTag(sink, kPropMakerTag0019, M19);
  PutTag(sink, kPropMakerTag001A, M1A);
  if (t_.Found(M11) && t_.Size(M11) >= 12) {
    const uint32_t word = uint32_t{t_.U16(M11, 5)} << 16 | t_.U16(M11, 4);
    sink.Put(kPropInfoWord, &word, 4);
  }
  if (t_.Found(M11) && t_.Size(M11) >= 16) {
    const uint32_t pair[2] = {t_.U16(M11, 6), t_.U16(M11, 7)};
    sink.Put(kPropInfoPair, pair, 8);
  }
  PutTag(sink, kPropMakerTag001B, M1B);
  PutTag(sink, kPropMakerTag001D, M1D);
  if (t_.Found(FileSource)) {
    uint8_t source[5] = {};
    const uint32_t n = t_.Size(FileSource) < 4 ? t_.Size(FileSource) : 4;
    std::memcpy(source, t_.Data(FileSource), n);
    sink.Put(kPropFileSource, source, n + 1);  // the writer counts one byte less
  }
  if (t_.Found(M03)) {
    const uint32_t v = uint32_t{t_.U16(M03, 3)} << 16 | t_.U16(M03, 2);
    sink.Put(kPropMakerTag0003, &v, 4);
  }
}

// The colour space code and what comes with it, the profile and IIM data.
void ExifPath::WriteColourRecords(RecordSink& sink) const {
  uint16_t colourCode = 0;
  if (t_.Found(MB4) && t_.Size(MB4) >= 2) {
    colourCode = t_.U16(MB4);
  } else if (image_.format == kFormatHeap1) {
    colourCode = 1;
  } else if (image_.format == kFormatNone && aux_.format == kFormatNone) {
    colourCode = 0xFFFF;
  } else {
    colourCode = ColourSpaceDecision();
  }
  sink.Put(kPropColourSpaceCode, &colourCode, 2);
  if (t_.Found(MB4) && colourCode == 2 && !ModelFlag() && image_.format == kFormatHeap1) {
    const uint16_t one = 1;
    sink.Put(kPropWideGamutA, &one, 2);
    sink.Put(kPropWideGamutB, &one, 2);
  }
  // A TIFF keeps them in IFD0; a JPEG's came with recognition (packed: copied, never bound).
  const bool tiff = mode_ == kModeTiff;
  const uint8_t* icc = tiff ? iccCopy_ : static_cast<const uint8_t*>(ext_->iccProfile);
  const uint32_t iccSize = tiff ? iccSize_ : uint32_t{ext_->iccProfileSize};
  const uint8_t* iim = tiff ? iptcCopy_ : static_cast<const uint8_t*>(ext_->iim);
  const uint32_t iimSize = tiff ? iptcSize_ : uint32_t{ext_->iimSize};
  if (icc != nullptr && iccSize != 0) sink.Put(kPropIccProfile, icc, iccSize);
  if (iim != nullptr && iimSize != 0) sink.Put(kPropIimBlock, iim, iimSize);
  PutTag(sink, kPropMakerTag0023, M23);
}

uint32_t ExifPath::WriteProperties() {
  if (!Usable(out_.property)) return QD_OK;
  return WriteRecordStream(out_.property, [this](RecordSink& sink) {
    WriteStandardRecords(sink);
    WriteExifRecords(sink);
    WriteMakerRecords(sink);
    WriteColourRecords(sink);
  });
}

uint32_t ExifPath::WriteComment() {
  const qdlStream* out = out_.comment;
  if (!Usable(out) || !t_.Found(UserComment) || t_.Size(UserComment) <= 8) return QD_OK;
  const uint8_t* comment = t_.Data(UserComment);
  return WriteCommentStream(out, comment, comment + 8, t_.Size(UserComment) - 8);
}

uint32_t ExifPath::Run() {
  uint32_t result = Read();
  if (result != QD_OK) return result;
  result = DescribeImage();
  if (result != QD_OK) return result;
  result = DescribeThumbnail();
  if (result != QD_OK && result != QD_E_UNSUPPORTED) return result;
  Capture();
  ShotValues();
  if (out_.thumb != nullptr) *out_.thumb = thumb_;
  if (out_.image != nullptr) *out_.image = image_;
  if (out_.aux != nullptr) *out_.aux = aux_;
  if (out_.capture != nullptr) *out_.capture = capture_;
  if (out_.shot != nullptr) *out_.shot = shot_;
  uint32_t written = WriteDcfThumbnail();
  if (written == QD_OK) written = WriteProperties();
  if (written == QD_OK) written = WriteComment();
  return written != QD_OK ? written : result;
}

}  // namespace

uint32_t ParseExifFileStream(const qdlStream* stream, uint32_t fileSize, const Outputs& out,
                             Recognition* found, uint8_t mode) {
  const JpegSofInfo* sof = mode == kModeTiff ? nullptr : &found->sof;
  ExifPath path(stream, fileSize, out, &found->exif, sof, &found->extensions, mode == 6 ? kModeJpeg : mode);
  return path.Run();
}

}  // namespace qd::extract
