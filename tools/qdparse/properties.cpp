// `props`: the typed property records that the parse exports write to their
// property stream ({u16 code, u32 size, payload}, little-endian), decoded
// into named fields by the layouts the host library gives each code. Codes
// it does not know are shown as hex bytes.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "commands.h"
#include "host_streams.h"
#include "parse_file.h"
#include "render.h"

namespace qdtool {
namespace {

using Bytes = std::vector<uint8_t>;

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

struct Field {
  std::string name;  // empty: the record's only value
  std::string text;
  Json json;
};

struct Record {
  uint16_t code = 0;
  uint32_t size = 0;
  const char* name = nullptr;  // nullptr: a code the host library does not know
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
  std::string name = r.name != nullptr ? r.name : "(unknown)";
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
    value += (r.name != nullptr ? "then " : "") + hex + (r.rest.size() > 32 ? "..." : "") + " (" +
             std::to_string(r.rest.size()) + " bytes)";
  }
  if (r.truncated) value += " [payload shorter than its layout]";
  if (value.empty()) value = "(empty)";
  return line + value + "\n";
}

Json RecordJson(const Record& r) {
  Json j = {{"code", r.code}, {"name", r.name != nullptr ? Json(r.name) : Json(nullptr)}, {"size", r.size}};
  if (r.fields.size() == 1 && r.fields[0].name.empty()) {
    j["value"] = r.fields[0].json;
  } else if (!r.fields.empty()) {
    Json fields = Json::object();
    for (const Field& f : r.fields) fields[f.name] = f.json;
    j["fields"] = fields;
  }
  if (!r.rest.empty()) j[r.name != nullptr ? "rest" : "hex"] = Hex(r.rest.data(), r.rest.size());
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
