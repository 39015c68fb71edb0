// `props`: the typed property records that the parse exports write to their
// property stream ({u16 code, u32 size, payload}, little-endian), decoded
// into named fields. Names are the library's own record codes; codes the
// table does not know are shown as hex bytes.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>

#include "commands.h"
#include "format/property_codes.h"
#include "host_streams.h"
#include "parse_file.h"
#include "render.h"

namespace qdtool {
namespace {

using Bytes = std::vector<uint8_t>;

// How a payload field is laid out. The array and text kinds take the rest
// of the payload.
enum class Kind {
  kU16,
  kU32,
  kF32,
  kRational,        // u32 numerator, u32 denominator
  kSRational,       // i32, i32
  kU16s,
  kU32s,
  kRationals,
  kText,            // up to the first NUL
  kCountedText,     // u32 n, then n bytes of text
  kCharacterCode,   // char[8]
  kJpeg,            // summarised by its size
  kBytes,
};

struct FieldSpec {
  Kind kind;
  const char* name;  // nullptr: the record's only value
};

struct RecordSpec {
  std::string name;
  std::vector<FieldSpec> fields;
};

// Maker-note tags that records 0x1B..0x2A carry, in code order.
constexpr uint16_t kMakerRunTags[] = {0x0080, 0x0081, 0x0090, 0x0091, 0x0092, 0x0093, 0x0094, 0x00A0,
                                      0x00A1, 0x00A2, 0x00A3, 0x00A4, 0x00B0, 0x00B1, 0x00B2, 0x00B3};

const std::map<uint16_t, RecordSpec>& Layouts() {
  static const std::map<uint16_t, RecordSpec> layouts = [] {
    std::map<uint16_t, RecordSpec> m;
    // The name is the library's constant without its "kProp" prefix.
#define QD_RECORD(code, ...) m[qd::code] = RecordSpec{std::string(#code).substr(5), {__VA_ARGS__}};
    QD_RECORD(kPropUserComment, {Kind::kText, nullptr})
    QD_RECORD(kPropCameraSettingsPair, {Kind::kU16, "cs5"}, {Kind::kU16, "cs6"})
    QD_RECORD(kPropMakerTag0005, {Kind::kU32s, nullptr})
    QD_RECORD(kPropMakerTag0002, {Kind::kU16s, nullptr})
    QD_RECORD(kPropThumbnail, {Kind::kJpeg, nullptr})
    QD_RECORD(kPropShotInfoPair, {Kind::kU16, "si7"}, {Kind::kU16, "si8"})
    QD_RECORD(kPropOrientation, {Kind::kU32, "angle"}, {Kind::kU16, "mirrored"})
    QD_RECORD(kPropFocalPlane, {Kind::kRational, "focalLength"}, {Kind::kRational, "xResolution"},
              {Kind::kRational, "yResolution"}, {Kind::kU16, "unit"})
    QD_RECORD(kPropCameraSetting3, {Kind::kU16, nullptr})
    QD_RECORD(kPropCameraSettingsRun, {Kind::kU16, "length"}, {Kind::kU16s, "words"})
    QD_RECORD(kPropCodedUserComment, {Kind::kCharacterCode, "code"}, {Kind::kCountedText, "text"})
    QD_RECORD(kPropIsoSpeed, {Kind::kU16, nullptr})
    QD_RECORD(kPropMakerTag000F, {Kind::kU16s, nullptr})
    QD_RECORD(kPropMakerTag000C, {Kind::kU32, nullptr})
    QD_RECORD(kPropCameraSetting4, {Kind::kU16, nullptr})
    QD_RECORD(kPropShotInfo14, {Kind::kU16, nullptr})
    QD_RECORD(kPropShotInfo24, {Kind::kU16, nullptr})
    QD_RECORD(kPropCameraSetting7, {Kind::kU16, nullptr})
    QD_RECORD(kPropCameraSetting20, {Kind::kU16, nullptr})
    QD_RECORD(kPropFocalUnits, {Kind::kU16, "cs23"}, {Kind::kU16, "cs24"}, {Kind::kU16, "cs25"})
    QD_RECORD(kPropCameraSetting29, {Kind::kU16, nullptr})
    QD_RECORD(kPropShotInfoEv, {Kind::kU16, "si16"}, {Kind::kF32, "ev"})
    QD_RECORD(kPropShotInfo15, {Kind::kF32, nullptr})
    QD_RECORD(kPropCameraSettingsRun2, {Kind::kU16, "length"}, {Kind::kU16s, "words"})
    QD_RECORD(kPropCameraSetting18, {Kind::kU16, nullptr})
    QD_RECORD(kPropCameraSettings26, {Kind::kU16, "cs26"}, {Kind::kU16, "cs27"})
    QD_RECORD(kPropCameraSetting40, {Kind::kU16, nullptr})
    QD_RECORD(kPropCameraSetting42, {Kind::kU16, nullptr})
    QD_RECORD(kPropExposureTime, {Kind::kRational, nullptr})
    QD_RECORD(kPropFNumber, {Kind::kRational, nullptr})
    QD_RECORD(kPropShutterSpeed, {Kind::kSRational, nullptr})
    QD_RECORD(kPropAperture, {Kind::kRational, nullptr})
    QD_RECORD(kPropExposureBias, {Kind::kSRational, nullptr})
    QD_RECORD(kPropFlash, {Kind::kU16, nullptr})
    QD_RECORD(kPropExifVersion, {Kind::kText, nullptr})
    QD_RECORD(kPropCustomRendered, {Kind::kU16s, nullptr})
    QD_RECORD(kPropExposureMode, {Kind::kU16s, nullptr})
    QD_RECORD(kPropWhiteBalance, {Kind::kU16s, nullptr})
    QD_RECORD(kPropDigitalZoomRatio, {Kind::kRationals, nullptr})
    QD_RECORD(kPropSceneCaptureType, {Kind::kU16s, nullptr})
    QD_RECORD(kPropColorSpace, {Kind::kU16, nullptr})
    QD_RECORD(kPropMakerTag0010, {Kind::kU32s, nullptr})
    QD_RECORD(kPropMakerTag0013, {Kind::kU16s, nullptr})
    QD_RECORD(kPropMakerTag0015, {Kind::kU32s, nullptr})
    QD_RECORD(kPropMake, {Kind::kCountedText, nullptr})
    QD_RECORD(kPropMakerTag000FAlt, {Kind::kU16s, nullptr})
    QD_RECORD(kPropMakerTag0090Alt, {Kind::kU16s, nullptr})
    QD_RECORD(kPropCameraRotation, {Kind::kU32s, nullptr})
    QD_RECORD(kPropMakerTag00AE, {Kind::kU16s, nullptr})
    QD_RECORD(kPropColourMode, {Kind::kU16s, nullptr})
    QD_RECORD(kPropMakerTag00B5, {Kind::kU16s, nullptr})
    QD_RECORD(kPropMakerTag0012, {Kind::kU16s, nullptr})
    QD_RECORD(kPropWhitePoint, {Kind::kRationals, nullptr})
    QD_RECORD(kPropPrimaries, {Kind::kRationals, nullptr})
    QD_RECORD(kPropYCbCrCoefficients, {Kind::kRationals, nullptr})
    QD_RECORD(kPropGamma, {Kind::kRational, nullptr})
    QD_RECORD(kPropMakerTag0019, {Kind::kU16s, nullptr})
    QD_RECORD(kPropMakerTag001A, {Kind::kU16s, nullptr})
    QD_RECORD(kPropMakerTag001B, {Kind::kBytes, nullptr})
    QD_RECORD(kPropInfoWord, {Kind::kU32, nullptr})
    QD_RECORD(kPropMakerTag0003, {Kind::kU32, nullptr})
    QD_RECORD(kPropInfoPair, {Kind::kU32, "first"}, {Kind::kU32, "second"})
    QD_RECORD(kPropWideGamutA, {Kind::kU16, nullptr})
    QD_RECORD(kPropWideGamutB, {Kind::kU16, nullptr})
    QD_RECORD(kPropColourSpaceCode, {Kind::kU16, nullptr})
    QD_RECORD(kPropIccProfile, {Kind::kBytes, nullptr})
    QD_RECORD(kPropIimBlock, {Kind::kBytes, nullptr})
    QD_RECORD(kPropMakerTag001D, {Kind::kU16s, nullptr})
    QD_RECORD(kPropFileSource, {Kind::kBytes, nullptr})
    QD_RECORD(kPropMakerTag0023, {Kind::kU32s, nullptr})
#undef QD_RECORD
    // 0x1B..0x2A pass maker-note tags through: LONG, SHORT or UNDEFINED values.
    for (uint16_t i = 0; i < 16; ++i) {
      const uint16_t tag = kMakerRunTags[i];
      char name[16];
      std::snprintf(name, sizeof name, "MakerTag%04X", tag);
      const Kind kind = tag <= 0x0081 ? Kind::kU32s : tag == 0x0094 ? Kind::kBytes : Kind::kU16s;
      m[static_cast<uint16_t>(qd::kPropMakerTag0080 + i)] = RecordSpec{name, {{kind, nullptr}}};
    }
    return m;
  }();
  return layouts;
}

struct Field {
  std::string name;  // empty: the record's only value
  std::string text;
  Json json;
};

struct Record {
  uint16_t code = 0;
  uint32_t size = 0;
  const RecordSpec* layout = nullptr;
  std::vector<Field> fields;
  Bytes rest;           // bytes beyond the layout, or the whole payload of an unknown code
  bool truncated = false;  // the payload ended inside the layout
};

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t U32(const uint8_t* p) { return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24; }

std::string Joined(const Json& numbers) {
  std::string s;
  for (const Json& n : numbers) s += (s.empty() ? "" : " ") + (n.is_string() ? n.get<std::string>() : n.dump());
  return s;
}

std::string RationalText(int64_t num, int64_t den) { return std::to_string(num) + "/" + std::to_string(den); }

// Decodes one field at `at`; false when the payload is too short for it.
bool DecodeField(const FieldSpec& layout, const Bytes& p, size_t* at, Field* f) {
  const size_t left = p.size() - *at;
  const uint8_t* b = p.data() + *at;
  f->name = layout.name != nullptr ? layout.name : "";
  switch (layout.kind) {
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
      const bool sign = layout.kind == Kind::kSRational;
      const int64_t num = sign ? int64_t{static_cast<int32_t>(U32(b))} : int64_t{U32(b)};
      const int64_t den = sign ? int64_t{static_cast<int32_t>(U32(b + 4))} : int64_t{U32(b + 4)};
      f->json = RationalText(num, den);
      *at += 8;
      break;
    }
    case Kind::kU16s:
    case Kind::kU32s:
    case Kind::kRationals: {
      const size_t step = layout.kind == Kind::kU16s ? 2 : layout.kind == Kind::kU32s ? 4 : 8;
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
      const size_t n = layout.kind == Kind::kText ? left : 8;
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
  const auto found = Layouts().find(code);
  if (found == Layouts().end()) {
    r.rest = payload;
    return r;
  }
  r.layout = &found->second;
  size_t at = 0;
  for (const FieldSpec& layout : r.layout->fields) {
    Field f;
    if (!DecodeField(layout, payload, &at, &f)) {
      r.truncated = true;
      break;
    }
    r.fields.push_back(std::move(f));
  }
  r.rest.assign(payload.begin() + static_cast<std::ptrdiff_t>(at), payload.end());
  return r;
}

// Splits a record stream; a tail too short for its framing sets `truncated`.
std::vector<Record> Split(const Bytes& stream, bool* truncated) {
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

std::string CodeText(uint16_t code) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%04X", code);
  return buf;
}

std::string RecordText(const Record& r) {
  std::string line = "  " + CodeText(r.code) + " ";
  std::string name = r.layout != nullptr ? r.layout->name : "(unknown)";
  name.resize(std::max<size_t>(name.size() + 1, 22), ' ');
  line += name;
  std::string value;
  for (const Field& f : r.fields) {
    if (!value.empty()) value += ", ";
    value += (f.name.empty() ? "" : f.name + " ") + f.text;
  }
  if (!r.rest.empty()) {
    if (!value.empty()) value += ", ";
    const std::string hex = Hex(r.rest.data(), std::min<size_t>(r.rest.size(), 32));
    value += (r.layout != nullptr ? "then " : "") + hex + (r.rest.size() > 32 ? "..." : "") + " (" +
             std::to_string(r.rest.size()) + " bytes)";
  }
  if (r.truncated) value += " [payload shorter than its layout]";
  if (value.empty()) value = "(empty)";
  return line + value + "\n";
}

Json RecordJson(const Record& r) {
  Json j = {{"code", r.code}, {"name", r.layout != nullptr ? Json(r.layout->name) : Json(nullptr)}, {"size", r.size}};
  if (r.fields.size() == 1 && r.fields[0].name.empty()) {
    j["value"] = r.fields[0].json;
  } else if (!r.fields.empty()) {
    Json fields = Json::object();
    for (const Field& f : r.fields) fields[f.name] = f.json;
    j["fields"] = fields;
  }
  if (!r.rest.empty()) j[r.layout != nullptr ? "rest" : "hex"] = Hex(r.rest.data(), r.rest.size());
  if (r.truncated) j["short"] = true;
  return j;
}

}  // namespace

int RunProps(const std::string& file, bool json) {
  const InputFile in(file);
  if (in.initError() != 0) return Refuse(file, "cannot make a stream", in.initError());
  const OutputBuffer properties;
  const OutputBuffer comment;
  ParsedFile parsed;
  const uint32_t result = ParseFile(in.stream(), in.size(), &parsed, properties.stream(), comment.stream());
  if (result != QD_OK) {
    const std::string what = IsHostError(result)   ? "cannot read"
                            : parsed.type == 0xFF ? "not a file with property records"
                                                  : "refused as " + FileTypeName(parsed.type);
    return Refuse(file, what, result, in.stream());
  }
  bool truncated = false;
  bool commentTruncated = false;
  const std::vector<Record> records = Split(properties.bytes(), &truncated);
  const std::vector<Record> comments = Split(comment.bytes(), &commentTruncated);
  if (json) {
    Json list = Json::array();
    for (const Record& r : records) list.push_back(RecordJson(r));
    Json j = {{"file", file}, {"type", FileTypeKey(parsed.type)}, {"records", list}};
    j["comment"] = comments.empty() ? Json(nullptr) : RecordJson(comments.front());
    if (truncated || commentTruncated) j["truncated"] = true;
    PrintJson(j);
  } else {
    std::string out = file + ": " + FileTypeName(parsed.type) + ", " + std::to_string(records.size()) +
                      " property records\n";
    for (const Record& r : records) out += RecordText(r);
    if (truncated) out += "  (the stream ends inside a record)\n";
    out += "user comment\n";
    if (comments.empty()) out += "  none\n";
    for (const Record& r : comments) out += RecordText(r);
    std::fputs(out.c_str(), stdout);
  }
  return 0;
}

}  // namespace qdtool
