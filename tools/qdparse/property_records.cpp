#include "property_records.h"

#include <cmath>
#include <cstring>
#include <utility>

#include "qdparse_host.h"
#include "render.h"

namespace qdtool {
namespace {

// The field kinds of a layout (see qdhPropertyLayout). The array and text
// kinds take the rest of the payload.
enum class Kind {
  kU16,
  kU32,
  kF32,
  kRational,       // u32 numerator, u32 denominator
  kSRational,      // i32, i32
  kU16s,
  kU32s,
  kRationals,
  kText,           // up to the first NUL
  kCountedText,    // u32 n, then n bytes of text
  kCharacterCode,  // char[8]
  kJpeg,           // summarised by its size
  kBytes,
};

struct FieldShape {
  Kind kind;
  std::string name;  // empty: the record's only value
};

Kind KindOf(const std::string& word) {
  static const std::pair<const char*, Kind> kinds[] = {
      {"u16", Kind::kU16},           {"u32", Kind::kU32},
      {"f32", Kind::kF32},           {"rational", Kind::kRational},
      {"srational", Kind::kSRational}, {"u16s", Kind::kU16s},
      {"u32s", Kind::kU32s},         {"rationals", Kind::kRationals},
      {"text", Kind::kText},         {"ctext", Kind::kCountedText},
      {"char8", Kind::kCharacterCode}, {"jpeg", Kind::kJpeg},
  };
  for (const auto& k : kinds) {
    if (word == k.first) return k.second;
  }
  return Kind::kBytes;  // "bytes", or a kind newer than this tool: shown as hex
}

// "u32 angle, u16 mirrored" -> {kU32, "angle"}, {kU16, "mirrored"}.
std::vector<FieldShape> ParseLayout(const char* layout) {
  std::vector<FieldShape> fields;
  std::string rest = layout;
  while (!rest.empty()) {
    const size_t comma = rest.find(", ");
    const std::string field = rest.substr(0, comma);
    rest = comma == std::string::npos ? "" : rest.substr(comma + 2);
    const size_t space = field.find(' ');
    fields.push_back({KindOf(field.substr(0, space)), space == std::string::npos ? "" : field.substr(space + 1)});
  }
  return fields;
}

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t U32(const uint8_t* p) { return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24; }

std::string Joined(const Json& numbers) {
  std::string s;
  for (const Json& n : numbers) s += (s.empty() ? "" : " ") + (n.is_string() ? n.get<std::string>() : n.dump());
  return s;
}

std::string RationalText(int64_t num, int64_t den) { return std::to_string(num) + "/" + std::to_string(den); }

// Decodes one field at `at`; false when the payload is too short for it.
bool DecodeField(const FieldShape& shape, const Bytes& p, size_t* at, Field* f) {
  const size_t left = p.size() - *at;
  const uint8_t* b = p.data() + *at;
  f->name = shape.name;
  switch (shape.kind) {
    case Kind::kU16:
      if (left < 2) return false;
      f->json = U16(b);
      *at += 2;
      break;
    case Kind::kU32:
      if (left < 4) return false;
      f->json = U32(b);
      *at += 4;
      break;
    case Kind::kF32: {
      if (left < 4) return false;
      const uint32_t bits = U32(b);
      float v;
      std::memcpy(&v, &bits, 4);
      f->json = Short(v);
      *at += 4;
      break;
    }
    case Kind::kRational:
    case Kind::kSRational: {
      if (left < 8) return false;
      const bool sign = shape.kind == Kind::kSRational;
      const int64_t num = sign ? int64_t{static_cast<int32_t>(U32(b))} : int64_t{U32(b)};
      const int64_t den = sign ? int64_t{static_cast<int32_t>(U32(b + 4))} : int64_t{U32(b + 4)};
      f->json = RationalText(num, den);
      *at += 8;
      break;
    }
    case Kind::kU16s:
    case Kind::kU32s:
    case Kind::kRationals: {
      const size_t step = shape.kind == Kind::kU16s ? 2 : shape.kind == Kind::kU32s ? 4 : 8;
      f->json = Json::array();
      for (; p.size() - *at >= step; *at += step) {
        const uint8_t* v = p.data() + *at;
        if (step == 2) f->json.push_back(U16(v));
        if (step == 4) f->json.push_back(U32(v));
        if (step == 8) f->json.push_back(RationalText(U32(v), U32(v + 4)));
      }
      f->text = Joined(f->json);
      return true;
    }
    case Kind::kText:
    case Kind::kCharacterCode: {
      const size_t n = shape.kind == Kind::kText ? left : 8;
      if (left < n) return false;
      const auto* chars = reinterpret_cast<const char*>(b);
      f->json = Raw(chars, n);
      f->text = "\"" + Printable(chars, n) + "\"";
      *at += n;
      return true;
    }
    case Kind::kCountedText: {
      if (left < 4 || U32(b) > left - 4) return false;
      const uint32_t n = U32(b);
      const auto* chars = reinterpret_cast<const char*>(b + 4);
      f->json = Raw(chars, n);
      f->text = "\"" + Printable(chars, n) + "\"";
      *at += 4 + n;
      return true;
    }
    case Kind::kJpeg:
      f->json = {{"bytes", left}};
      f->text = "JPEG, " + std::to_string(left) + " bytes";
      *at = p.size();
      return true;
    case Kind::kBytes:
      f->json = Hex(b, left);
      f->text = left <= 32 ? f->json.get<std::string>() : Hex(b, 32) + "... (" + std::to_string(left) + " bytes)";
      *at = p.size();
      return true;
  }
  f->text = f->json.is_string() ? f->json.get<std::string>() : f->json.dump();
  return true;
}

Record Decode(uint16_t code, const Bytes& payload) {
  Record r;
  r.code = code;
  r.size = static_cast<uint32_t>(payload.size());
  r.payload = payload;
  r.name = qdhPropertyName(code);
  const char* layout = qdhPropertyLayout(code);
  if (layout == nullptr) {
    r.rest = payload;
    return r;
  }
  size_t at = 0;
  for (const FieldShape& shape : ParseLayout(layout)) {
    Field f;
    if (!DecodeField(shape, payload, &at, &f)) {
      r.truncated = true;
      break;
    }
    r.fields.push_back(std::move(f));
  }
  r.rest.assign(payload.begin() + static_cast<std::ptrdiff_t>(at), payload.end());
  return r;
}

}  // namespace

std::vector<Record> SplitRecords(const Bytes& stream, bool* truncated) {
  std::vector<Record> records;
  size_t at = 0;
  *truncated = false;
  while (at < stream.size()) {
    const size_t left = stream.size() - at;
    if (left < 6 || U32(&stream[at + 2]) > left - 6) {
      *truncated = true;
      break;
    }
    const uint16_t code = U16(&stream[at]);
    const uint32_t size = U32(&stream[at + 2]);
    const auto* payload = stream.data() + at + 6;
    records.push_back(Decode(code, Bytes(payload, payload + size)));
    at += 6 + size;
  }
  return records;
}

const Record* FindRecord(const std::vector<Record>& records, uint16_t code) {
  for (const Record& r : records) {
    if (r.code == code) return &r;
  }
  return nullptr;
}

std::string ExposureText(double seconds) {
  if (seconds > 0 && seconds < 0.25001) return "1/" + Fixed(1.0 / seconds, 0);
  std::string text = Fixed(seconds, 1);
  if (text.size() > 2 && text.compare(text.size() - 2, 2, ".0") == 0) text.resize(text.size() - 2);
  return text;
}

namespace {

int32_t S32(const uint8_t* p) { return static_cast<int32_t>(U32(p)); }

// The n-th RATIONAL (or SRATIONAL) of a payload as a number.
bool Ratio(const Record& r, size_t n, bool sign, double* value) {
  const size_t at = n * 8;
  if (r.payload.size() < at + 8 || U32(&r.payload[at + 4]) == 0) return false;
  const uint8_t* p = &r.payload[at];
  *value = sign ? static_cast<double>(S32(p)) / S32(p + 4) : static_cast<double>(U32(p)) / U32(p + 4);
  return true;
}

struct Meaning {
  uint16_t value;
  const char* text;
};

// Exif's own readings of the coded values.
constexpr Meaning kFlash[] = {{0x00, "No flash"},         {0x01, "Fired"},
                              {0x05, "Fired, return not detected"}, {0x07, "Fired, return detected"},
                              {0x08, "On, did not fire"}, {0x09, "On, fired"},
                              {0x10, "Off, did not fire"}, {0x18, "Auto, did not fire"},
                              {0x19, "Auto, fired"},      {0x20, "No flash function"},
                              {0x41, "Fired, red-eye reduction"}, {0x59, "Auto, fired, red-eye reduction"}};
constexpr Meaning kExposureMode[] = {{0, "Auto"}, {1, "Manual"}, {2, "Auto bracket"}};
constexpr Meaning kWhiteBalance[] = {{0, "Auto"}, {1, "Manual"}};
constexpr Meaning kSceneCaptureType[] = {{0, "Standard"}, {1, "Landscape"}, {2, "Portrait"}, {3, "Night"}};
constexpr Meaning kCustomRendered[] = {{0, "Normal"}, {1, "Custom"}};
constexpr Meaning kColorSpace[] = {{1, "sRGB"}, {2, "Adobe RGB"}, {0xFFFF, "Uncalibrated"}};

template <size_t N>
std::string Coded(const Record& r, const Meaning (&table)[N]) {
  if (r.payload.size() < 2) return {};
  const uint16_t v = U16(r.payload.data());
  for (const Meaning& m : table) {
    if (m.value == v) return m.text;
  }
  return "unknown (" + std::to_string(v) + ")";
}

std::string Apex(double v, const std::string& meaning) { return Fixed(v, 2) + " (" + meaning + ")"; }

struct Standard {
  uint16_t code;
  const char* exifName;  // null: the library's name is kept
  std::string (*display)(const Record&);
};

const Standard kStandards[] = {
    {0x0007, nullptr,
     [](const Record& r) -> std::string {
       if (r.payload.size() < 6) return {};
       return "rotated " + std::to_string(U32(r.payload.data())) + " degrees" +
              (U16(&r.payload[4]) != 0 ? ", mirrored" : "");
     }},
    {0x0008, nullptr,
     [](const Record& r) -> std::string {
       double focal = 0;
       return Ratio(r, 0, false, &focal) ? "focal length " + Fixed(focal, 1) + " mm" : "";
     }},
    {kIsoSpeedRecord, "ISOSpeedRatings",
     [](const Record& r) -> std::string {
       return r.payload.size() >= 2 ? "ISO " + std::to_string(U16(r.payload.data())) : "";
     }},
    {kExposureTimeRecord, nullptr,
     [](const Record& r) -> std::string {
       double v = 0;
       return Ratio(r, 0, false, &v) ? ExposureText(v) + " s" : "";
     }},
    {kFNumberRecord, nullptr,
     [](const Record& r) -> std::string {
       double v = 0;
       return Ratio(r, 0, false, &v) ? "f/" + Fixed(v, 1) : "";
     }},
    {0x002F, "ShutterSpeedValue",
     [](const Record& r) -> std::string {
       double v = 0;
       return Ratio(r, 0, true, &v) ? Apex(v, ExposureText(std::exp2(-v)) + " s") : "";
     }},
    {0x0030, "ApertureValue",
     [](const Record& r) -> std::string {
       double v = 0;
       return Ratio(r, 0, false, &v) ? Apex(v, "f/" + Fixed(std::exp2(v / 2), 1)) : "";
     }},
    {0x0031, "ExposureBiasValue",
     [](const Record& r) -> std::string {
       double v = 0;
       return Ratio(r, 0, true, &v) ? Fixed(v, 2) + " EV" : "";
     }},
    {0x0032, nullptr, [](const Record& r) { return Coded(r, kFlash); }},
    {0x0034, nullptr, [](const Record& r) { return Coded(r, kCustomRendered); }},
    {0x0035, nullptr, [](const Record& r) { return Coded(r, kExposureMode); }},
    {0x0036, nullptr, [](const Record& r) { return Coded(r, kWhiteBalance); }},
    {0x0037, nullptr,
     [](const Record& r) -> std::string {
       double v = 0;
       return Ratio(r, 0, false, &v) ? Fixed(v, 1) + "x" : "";
     }},
    {0x0038, nullptr, [](const Record& r) { return Coded(r, kSceneCaptureType); }},
    {0x0039, nullptr, [](const Record& r) { return Coded(r, kColorSpace); }},
    {0x0089, "PrimaryChromaticities", nullptr},
    {0x008B, nullptr,
     [](const Record& r) -> std::string {
       double v = 0;
       return Ratio(r, 0, false, &v) ? Fixed(v, 1) : "";
     }},
};

const Standard* StandardOf(uint16_t code) {
  for (const Standard& s : kStandards) {
    if (s.code == code) return &s;
  }
  return nullptr;
}

}  // namespace

bool RationalValue(const Record& r, double* value) { return Ratio(r, 0, false, value); }

const char* StandardName(const Record& r) {
  const Standard* s = StandardOf(r.code);
  return s != nullptr && s->exifName != nullptr ? s->exifName : r.name;
}

std::string DisplayValue(const Record& r) {
  const Standard* s = StandardOf(r.code);
  return s != nullptr && s->display != nullptr ? s->display(r) : std::string();
}

}  // namespace qdtool
