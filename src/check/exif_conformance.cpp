// The Exif APP1 block of a camera file: the tags a camera always writes, with
// the only type it writes them in and the values it uses; the Adobe RGB
// option tags when the interoperability index names that option; and the
// maker note's word that a file was written by one of our cameras in a mode
// that records other tags.
#include <cstring>
#include <iterator>

#include "check/conformance.h"
#include "format/jpeg_format.h"
#include "format/tiff_format.h"
#include "tiffjpeg/exif_query.h"

namespace qd::check {
namespace {

using namespace qd::tiff;

constexpr uint16_t kScopeTag = 0xFFFF;  // reported for a missing IFD or scope
constexpr uint32_t kMaxValue = 64;

enum class Missing : uint8_t { kFails, kAllowed };

enum class Rule : uint8_t {
  kNone,
  kZeroByte,         // the value holds a NUL within the bytes read
  kExifVersion,
  kFlashpixVersion,  // also the interoperability version
  kPixelDimension,   // a SHORT or a LONG request for the tag was found
  kInteropIndex,     // "R98", or "R03" for the Adobe RGB option
  kColorSpace,       // sRGB, or uncalibrated under the option
  kWhitePoint,
  kPrimaries,
  kCoefficients,
  kGamma,
  kAbsent,  // the image-tag test: a found request fails
};

struct Request {
  uint16_t op;
  uint16_t tag;
  uint16_t type;
  uint8_t size;
  Missing missing;
  Rule rule;
};

constexpr Request Read(uint16_t tag, uint16_t type, uint8_t size, Rule rule = Rule::kNone,
                       Missing missing = Missing::kFails) {
  return {IFDQ_READ, tag, type, size, missing, rule};
}
constexpr Request Op(uint16_t op, uint16_t tag = kScopeTag, Missing missing = Missing::kFails) {
  return {op, tag, 0, 0, missing, Rule::kNone};
}
constexpr Missing kMay = Missing::kAllowed;

constexpr Request kConformance[] = {
    Read(kTagMake, kAscii, 64, Rule::kZeroByte),
    Read(kTagModel, kAscii, 64, Rule::kZeroByte),
    Read(kTagXResolution, kRational, 8),
    Read(kTagYResolution, kRational, 8),
    Read(kTagResolutionUnit, kShort, 2),
    Read(kTagYCbCrPositioning, kShort, 2),
    Op(IFDQ_ENTER, kTagExifIfd),
    Read(kTagExifVersion, kUndefined, 8, Rule::kExifVersion),
    Read(kTagComponentsConfiguration, kUndefined, 8),
    Read(kTagFlashpixVersion, kUndefined, 8, Rule::kFlashpixVersion),
    Read(kTagPixelXDimension, kShort, 2, Rule::kPixelDimension, kMay),
    Read(kTagPixelYDimension, kShort, 2, Rule::kPixelDimension, kMay),
    Read(kTagPixelXDimension, kLong, 4, Rule::kPixelDimension, kMay),
    Read(kTagPixelYDimension, kLong, 4, Rule::kPixelDimension, kMay),
    Read(kTagDateTimeOriginal, kAscii, 20, Rule::kZeroByte),
    Read(kTagDateTimeDigitized, kAscii, 20, Rule::kZeroByte),
    Op(IFDQ_LOCATE, kTagMakerNote, kMay),
    Op(IFDQ_ENTER, kTagInteropIfd),
    Read(kTagInteropIndex, kAscii, 8, Rule::kInteropIndex, kMay),
    Read(kTagInteropVersion, kUndefined, 8, Rule::kFlashpixVersion, kMay),
    Op(IFDQ_LEAVE),
    Read(kTagColorSpace, kShort, 2, Rule::kColorSpace),
    Op(IFDQ_LEAVE),
    Op(IFDQ_NEXT_IFD),
    Read(kTagCompression, kShort, 2),
    Read(kTagXResolution, kRational, 8),
    Read(kTagYResolution, kRational, 8),
    Read(kTagResolutionUnit, kShort, 2),
    Read(kTagJpegLength, kLong, 4),
    Read(kTagJpegOffset, kLong, 4),
    Op(IFDQ_END, kScopeTag, kMay),
};
constexpr size_t kMakeRow = 0;
constexpr size_t kMakerNoteRow = 16;
constexpr size_t kThumbnailRow = 29;
static_assert(kConformance[kMakeRow].tag == kTagMake && kConformance[kMakerNoteRow].tag == kTagMakerNote &&
              kConformance[kThumbnailRow].tag == kTagJpegOffset);

constexpr Request kAdobeRgb[] = {
    Read(kTagWhitePoint, kRational, 16, Rule::kWhitePoint),
    Read(kTagPrimaryChromaticities, kRational, 48, Rule::kPrimaries),
    Read(kTagYCbCrCoefficients, kRational, 24, Rule::kCoefficients),
    Op(IFDQ_ENTER, kTagExifIfd),
    Read(kTagGamma, kRational, 8, Rule::kGamma),
    Op(IFDQ_LEAVE),
    Op(IFDQ_END, kScopeTag, kMay),
};

// The tags that describe an uncompressed or a TIFF-framed image. A camera's
// JPEG records none of them in IFD0, and in IFD1 only the three that locate
// its JPEG thumbnail; an editor that rewrites the file tends to add them. So
// the first of them found, in list order, fails the file.
constexpr Request Absent(uint16_t tag, uint16_t type) {
  return Read(tag, type, 4, Rule::kAbsent, kMay);
}
constexpr Request kImageTags[] = {
    Absent(kTagImageWidth, kShort), Absent(kTagImageWidth, kLong),
    Absent(kTagImageLength, kShort), Absent(kTagImageLength, kLong),
    Absent(kTagBitsPerSample, kShort), Absent(kTagCompression, kShort),
    Absent(kTagPhotometric, kShort), Absent(kTagPhotometric, kLong),
    Absent(kTagStripOffsets, kShort), Absent(kTagStripOffsets, kLong),
    Absent(kTagSamplesPerPixel, kShort), Absent(kTagRowsPerStrip, kShort),
    Absent(kTagRowsPerStrip, kLong), Absent(kTagStripByteCounts, kShort),
    Absent(kTagStripByteCounts, kLong), Absent(kTagPlanarConfiguration, kShort),
    Absent(kTagJpegOffset, kLong), Absent(kTagJpegLength, kLong),
    Absent(kTagYCbCrSubSampling, kShort),
    Op(IFDQ_NEXT_IFD, kScopeTag, kMay),
    Absent(kTagImageWidth, kShort), Absent(kTagImageWidth, kLong),
    Absent(kTagImageLength, kShort), Absent(kTagImageLength, kLong),
    Absent(kTagBitsPerSample, kShort), Absent(kTagPhotometric, kShort),
    Absent(kTagPhotometric, kLong), Absent(kTagStripOffsets, kShort),
    Absent(kTagStripOffsets, kLong), Absent(kTagSamplesPerPixel, kShort),
    Absent(kTagRowsPerStrip, kShort), Absent(kTagRowsPerStrip, kLong),
    Absent(kTagStripByteCounts, kShort), Absent(kTagStripByteCounts, kLong),
    Absent(kTagPlanarConfiguration, kShort), Absent(kTagYCbCrSubSampling, kShort),
    Op(IFDQ_END, kScopeTag, kMay),
};

// The maker note's model word and colour mode of a camera set to Adobe RGB
// with its own tag layout.
constexpr uint32_t kExemptModel = 0x01A50000;
constexpr uint16_t kExemptColourMode = 2;
constexpr char kExemptMake[] = "VEDRA";
constexpr Request kMakerNoteWords[] = {
    Read(kMakerModelId, kLong, 4),
    Read(kMakerColourMode, kShort, 2),
    Op(IFDQ_END, kScopeTag, kMay),
};

struct Ratio {
  uint32_t numerator, denominator;
};
constexpr Ratio kWhitePointValues[] = {{313, 1000}, {329, 1000}};
constexpr Ratio kPrimaryValues[] = {{64, 100}, {33, 100}, {21, 100}, {71, 100}, {15, 100}, {6, 100}};
constexpr Ratio kCoefficientValues[] = {{299, 1000}, {587, 1000}, {114, 1000}};
constexpr Ratio kGammaValues[] = {{22, 10}};

// A table turned into a query list with a zeroed value buffer per request.
template <size_t N>
class QueryList {
 public:
  explicit QueryList(const Request (&table)[N]) : table_(table) {
    for (size_t i = 0; i < N; ++i) {
      const Request& r = table[i];
      const bool read = r.op == IFDQ_READ;
      list_[i] = IfdQuery{r.op, r.tag, r.type, 0, read ? reinterpret_cast<uintptr_t>(values_[i]) : 0,
                          read ? r.size : 0u, 0};
    }
  }
  IfdQuery* list() { return list_; }
  const Request& request(size_t i) const { return table_[i]; }
  const IfdQuery& answer(size_t i) const { return list_[i]; }
  const uint8_t* value(size_t i) const { return values_[i]; }
  static constexpr size_t size() { return N; }

 private:
  const Request (&table_)[N];
  IfdQuery list_[N];
  uint8_t values_[N][kMaxValue] = {};
};

bool Equals(const uint8_t* value, const char* text) { return std::memcmp(value, text, std::strlen(text) + 1) == 0; }

uint16_t Short(const uint8_t* value) {  // the walkers store values in host order
  uint16_t v = 0;
  std::memcpy(&v, value, sizeof v);
  return v;
}
uint32_t Long(const uint8_t* value) {
  uint32_t v = 0;
  std::memcpy(&v, value, sizeof v);
  return v;
}

template <size_t M>
bool RatiosIn(const uint8_t* value, uint32_t bytes, const Ratio (&allowed)[M]) {
  for (uint32_t at = 0; at + 8 <= bytes; at += 8) {
    const Ratio r{Long(value + at), Long(value + at + 4)};
    bool known = false;
    for (const Ratio& a : allowed) known = known || (a.numerator == r.numerator && a.denominator == r.denominator);
    if (!known) return false;
  }
  return true;
}

// Judges answers in list order; the interoperability index decides the
// Adobe RGB option before the colour space is judged.
class Judge {
 public:
  bool adobeRgb = false;

  // False with *tag at the first request that breaks its rule.
  template <size_t N>
  bool Passes(const QueryList<N>& q, uint16_t* tag) {
    for (size_t i = 0; i < N; ++i) {
      const Request& r = q.request(i);
      const IfdQuery& a = q.answer(i);
      const bool found = a.found != 0;
      const bool ok = found ? Holds(q, i) : r.missing == Missing::kAllowed && Holds(q, i);
      if (!ok) {
        *tag = r.tag;
        return false;
      }
    }
    return true;
  }

 private:
  template <size_t N>
  bool Holds(const QueryList<N>& q, size_t i) {
    const uint8_t* v = q.value(i);
    const IfdQuery& a = q.answer(i);
    switch (q.request(i).rule) {
      case Rule::kNone: return true;
      case Rule::kZeroByte: return std::memchr(v, 0, a.size) != nullptr;
      case Rule::kExifVersion:
        return Equals(v, "0221") || Equals(v, "0220") || Equals(v, "0200") || Equals(v, "0210");
      case Rule::kFlashpixVersion: return Equals(v, "0100");
      case Rule::kPixelDimension:
        for (size_t k = 0; k < N; ++k) {
          if (q.request(k).tag == q.request(i).tag && q.answer(k).found != 0) return true;
        }
        return false;
      case Rule::kInteropIndex:
        adobeRgb = Equals(v, "R03");
        return adobeRgb || Equals(v, "R98");
      case Rule::kColorSpace: return Short(v) == (adobeRgb ? 0xFFFF : 1);
      case Rule::kWhitePoint: return RatiosIn(v, a.size, kWhitePointValues);
      case Rule::kPrimaries: return RatiosIn(v, a.size, kPrimaryValues);
      case Rule::kCoefficients: return RatiosIn(v, a.size, kCoefficientValues);
      case Rule::kGamma: return RatiosIn(v, a.size, kGammaValues);
      case Rule::kAbsent: return a.found == 0;
    }
    return false;
  }
};

template <size_t N>
Status Query(TiffBlockInfo* block, QueryList<N>* q) {
  return QueryExif(block, q->list(), ReadMode::kCopy) == ST_OK ? ST_OK : ST_UNSUPPORTED;
}

// True when the maker note of a file from our cameras says it was written in
// the mode whose tags differ from the list.
template <size_t N>
bool MakerNoteExempts(const TiffBlockInfo& block, const QueryList<N>& q) {
  const IfdQuery& note = q.answer(kMakerNoteRow);
  const uint8_t* make = q.value(kMakeRow);
  if (note.found == 0 || note.data == 0) return false;
  for (size_t i = 0; i < sizeof kExemptMake; ++i) {
    const auto c = static_cast<char>(make[i] >= 'a' && make[i] <= 'z' ? make[i] - 'a' + 'A' : make[i]);
    if (c != kExemptMake[i]) return false;
  }
  TiffBlockInfo maker = block;
  maker.ifdOffset = static_cast<uint32_t>(note.data);
  QueryList<std::size(kMakerNoteWords)> words(kMakerNoteWords);
  if (QueryMakerNote(&maker, words.list(), maker.ifdOffset, note.size, ReadMode::kCopy) != ST_OK) {
    return false;
  }
  return words.answer(0).found != 0 && words.answer(1).found != 0 &&
         Long(words.value(0)) == kExemptModel && Short(words.value(1)) == kExemptColourMode;
}

}  // namespace

Status CheckExifApp1(const ByteView& payload, PortraitFlags* portrait, uint16_t* failingTag) {
  constexpr uint32_t kSignatureSize = sizeof jpeg::kExifSignature;
  ByteView tiffView;
  if (!payload.Sub(kSignatureSize, uint64_t{payload.size()} - kSignatureSize, &tiffView) ||
      std::memcmp(payload.data(), jpeg::kExifSignature, kSignatureSize) != 0 ||
      !tiffView.Contains(0, 4)) {
    return ST_UNSUPPORTED;
  }
  const uint8_t* h = tiffView.data();
  const bool ii = h[0] == 'I' && h[1] == 'I' && h[2] == 0x2A && h[3] == 0;
  const bool mm = h[0] == 'M' && h[1] == 'M' && h[2] == 0 && h[3] == 0x2A;
  if (!ii && !mm) return ST_UNSUPPORTED;

  TiffBlockInfo block{};
  block.segment = const_cast<uint8_t*>(payload.data());
  block.tiff = const_cast<uint8_t*>(tiffView.data());
  block.tiffSize = tiffView.size();
  QueryList<std::size(kConformance)> tags(kConformance);
  if (Query(&block, &tags) != ST_OK) return ST_UNSUPPORTED;

  Judge judge;
  uint16_t tag = 0;
  const bool failed = !judge.Passes(tags, &tag);
  const bool exempt = failed && MakerNoteExempts(block, tags);
  if (failed && !exempt) {
    *failingTag = tag;
    return ST_BAD_ARGUMENT;
  }
  if (judge.adobeRgb && !exempt) {
    QueryList<std::size(kAdobeRgb)> option(kAdobeRgb);
    if (Query(&block, &option) != ST_OK) return ST_UNSUPPORTED;
    if (!judge.Passes(option, &tag)) {
      *failingTag = tag;
      return ST_BAD_ARGUMENT;
    }
  }

  const uint32_t thumbnailAt = Long(tags.value(kThumbnailRow));
  ByteView thumbnail;
  if (!tiffView.Sub(thumbnailAt, uint64_t{tiffView.size()} - thumbnailAt, &thumbnail)) return ST_UNSUPPORTED;
  const Status st = CheckThumbnail(thumbnail, portrait);
  if (st != ST_OK) return st;

  if (!exempt) {
    QueryList<std::size(kImageTags)> image(kImageTags);
    if (Query(&block, &image) != ST_OK) return ST_UNSUPPORTED;
    if (!judge.Passes(image, &tag)) {
      *failingTag = tag;
      return ST_BAD_ARGUMENT;
    }
  }
  return ST_OK;
}

}  // namespace qd::check
