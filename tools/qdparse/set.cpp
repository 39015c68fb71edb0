// `set`, `set-value` and `exif`: changing a file's properties in place, and
// an Exif block with changed properties as an APP1 segment.
//
// A change is first made on a copy in memory; only when the library accepts
// it there is the file itself changed, so a refused change leaves it as it was.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "change_file.h"
#include "commands.h"
#include "host_streams.h"
#include "parse_file.h"
#include "property_value.h"

namespace qdtool {

bool ParseDate(const std::string& text, int32_t* seconds) {
  struct tm t {};
  char end = 0;
  if (std::sscanf(text.c_str(), "%d:%d:%d %d:%d:%d%c", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour,
                  &t.tm_min, &t.tm_sec, &end) != 6) {
    return false;
  }
  t.tm_year -= 1900;
  t.tm_mon -= 1;
  // Read as standard time: the library writes the time back as text with the
  // zone's standard offset (mktime of gmtime's fields), so the file gets the
  // text given, summer or not.
  t.tm_isdst = 0;
  const time_t s = std::mktime(&t);
  if (s == static_cast<time_t>(-1) || s < INT32_MIN || s > INT32_MAX) return false;
  *seconds = static_cast<int32_t>(s);
  return true;
}

bool ParseValue(Shape shape, bool converted, const std::string& text, std::vector<uint8_t>* bytes) {
  auto put = [bytes](uint64_t v, int n) {
    for (int i = 0; i < n; ++i) bytes->push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  bytes->clear();
  int32_t seconds = 0;
  if (converted) return ParseDate(text, &seconds) && (put(static_cast<uint32_t>(seconds), 4), true);
  if (shape == Shape::kText) {
    bytes->assign(text.begin(), text.end());
    bytes->push_back(0);
    return true;
  }
  if (shape == Shape::kBytes) {
    if (text.size() % 2 != 0) return false;
    for (size_t i = 0; i < text.size(); i += 2) {
      unsigned v = 0;
      if (std::sscanf(text.c_str() + i, "%2x", &v) != 1) return false;
      bytes->push_back(static_cast<uint8_t>(v));
    }
    return !bytes->empty();
  }
  const int width = shape == Shape::kU16 ? 2 : 4;
  for (size_t at = 0; at <= text.size();) {
    size_t next = text.find(',', at);
    if (next == std::string::npos) next = text.size();
    unsigned long long n = 0, d = 0;
    const std::string item = text.substr(at, next - at);
    char end = 0;
    if (shape == Shape::kRational ? std::sscanf(item.c_str(), "%llu/%llu%c", &n, &d, &end) != 2
                                  : std::sscanf(item.c_str(), "%llu%c", &n, &end) != 1) {
      return false;
    }
    put(n, width);
    if (shape == Shape::kRational) put(d, width);
    at = next + 1;
  }
  return true;
}

namespace {

// A property record: {u16 code, u32 size, payload}, little-endian.
std::vector<uint8_t> Record(uint16_t code, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> r = {static_cast<uint8_t>(code), static_cast<uint8_t>(code >> 8)};
  for (int i = 0; i < 4; ++i) r.push_back(static_cast<uint8_t>(payload.size() >> (8 * i)));
  r.insert(r.end(), payload.begin(), payload.end());
  return r;
}

std::vector<uint8_t> Words(std::initializer_list<uint32_t> words) {
  std::vector<uint8_t> b;
  for (uint32_t w : words) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(w >> (8 * i)));
  }
  return b;
}

// "1/250", "0.004" or "2" as a rational.
bool Rational(const std::string& text, uint32_t* n, uint32_t* d) {
  char end = 0;
  if (std::sscanf(text.c_str(), "%u/%u%c", n, d, &end) == 2) return *d != 0;
  double v = 0;
  if (std::sscanf(text.c_str(), "%lf%c", &v, &end) != 1 || !(v >= 1e-6) || v > 1e6) return false;
  if (v < 1) {
    *n = 1, *d = static_cast<uint32_t>(std::lround(1 / v));
  } else {
    *n = static_cast<uint32_t>(std::lround(v * 10)), *d = 10;
  }
  return true;
}

// The records and capture data the options ask for.
struct Request {
  std::vector<std::vector<uint8_t>> records;
  std::vector<PropertyRecord*> list;
  ExifCaptureInfo capture{};
  bool hasCapture = false;
};

int BuildRequest(const std::string& file, const SetOptions& o, Request* r) {
  static const uint32_t kOrientation[9][2] = {{0, 0},   {0, 0},  {0, 1},  {180, 0}, {180, 1},
                                              {270, 1}, {90, 0}, {90, 1}, {270, 0}};
  if (o.orientation != 0) {
    if (o.orientation > 8) return Refuse(file, "orientation must be 1 to 8");
    std::vector<uint8_t> p = Words({kOrientation[o.orientation][0]});
    p.push_back(static_cast<uint8_t>(kOrientation[o.orientation][1]));
    p.push_back(0);
    r->records.push_back(Record(0x07, p));
  }
  if (!o.comment.empty()) r->records.push_back(Record(0x01, {o.comment.begin(), o.comment.end()}));
  uint32_t n = 0, d = 0;
  if (!o.exposure.empty()) {
    if (!Rational(o.exposure, &n, &d)) return Refuse(file, "exposure must read like 1/250 or 0.5");
    r->records.push_back(Record(0x2D, Words({n, d})));
  }
  if (!o.fnumber.empty()) {
    if (!Rational(o.fnumber, &n, &d)) return Refuse(file, "f-number must read like 7.1");
    r->records.push_back(Record(0x2E, Words({n, d})));
  }
  if (o.iso != 0) r->records.push_back(Record(0x0C, {static_cast<uint8_t>(o.iso), static_cast<uint8_t>(o.iso >> 8)}));
  if (!o.datetime.empty()) {
    // The capture record also carries owner, file number and image type:
    // the file's own values go back unchanged.
    const InputFile in(file);
    ParsedFile parsed;
    const uint32_t result = in.initError() != 0 ? in.initError() : ParseFile(in.stream(), in.size(), &parsed);
    if (result != QD_OK) return Refuse(file, "cannot read its capture data", result, in.stream());
    r->capture = parsed.capture;
    if (!ParseDate(o.datetime, &r->capture.time)) return Refuse(file, "date must read YYYY:MM:DD HH:MM:SS");
    r->hasCapture = true;
  }
  for (auto& rec : r->records) r->list.push_back(reinterpret_cast<PropertyRecord*>(rec.data()));
  r->list.push_back(nullptr);
  return 0;
}

}  // namespace

int RunSet(const std::string& file, const SetOptions& o) {
  Request r;
  if (BuildRequest(file, o, &r) != 0) return 1;
  if (r.records.empty() && !r.hasCapture) return Refuse(file, "nothing to change: give at least one value");
  return ChangeFile(file, o.dryRun, o.backup, [&](const qdlStream* s) {
    ExifCaptureInfo capture = r.capture;  // the library shifts its time in place
    return QDParseReplaceProperties(s, nullptr, r.hasCapture ? &capture : nullptr, nullptr, r.list.data());
  });
}

int RunSetValue(const std::string& file, uint32_t id, const std::string& value, const SetOptions& o) {
  const PropertyId p(id);
  std::vector<uint8_t> bytes;
  if (!ParseValue(ShapeOf(ImpliedFileType(p), p), p.converted, value, &bytes) || bytes.empty()) {
    return Refuse(file, "value does not read as this property's kind");
  }
  return ChangeFile(file, o.dryRun, o.backup, [&](const qdlStream* s) {
    qdlStream v{};
    uint32_t result = qdhMemoryStreamInit(&v, bytes.data(), static_cast<uint32_t>(bytes.size()));
    if (result == 0) result = QDParseReplaceSingleProperty(s, nullptr, id, &v);
    qdhStreamRelease(&v);
    return result;
  });
}

namespace {

// `jpeg` with its first APP1 segment replaced by `segment`; empty when it has none.
std::vector<uint8_t> WithSegment(const std::vector<uint8_t>& jpeg, const uint8_t* segment, size_t size) {
  for (size_t at = 2; at + 4 <= jpeg.size() && jpeg[at] == 0xFF;) {
    const size_t length = size_t{jpeg[at + 2]} << 8 | jpeg[at + 3];
    if (jpeg[at + 1] == 0xDA || length < 2 || at + 2 + length > jpeg.size()) break;
    if (jpeg[at + 1] == 0xE1) {
      std::vector<uint8_t> out(jpeg.begin(), jpeg.begin() + static_cast<long>(at));
      out.insert(out.end(), segment, segment + size);
      out.insert(out.end(), jpeg.begin() + static_cast<long>(at + 2 + length), jpeg.end());
      return out;
    }
    at += 2 + length;
  }
  return {};
}

}  // namespace

int RunExif(const std::string& file, const Output& output, const SetOptions& o) {
  Request r;
  if (BuildRequest(file, o, &r) != 0) return 1;
  std::vector<uint8_t> thumbnail, original;
  if (!o.thumbnail.empty()) {
    if (!ReadWhole(o.thumbnail, &thumbnail)) return Refuse(o.thumbnail, "cannot read it");
    r.records.push_back(Record(0x05, thumbnail));
    r.list.insert(r.list.end() - 1, reinterpret_cast<PropertyRecord*>(r.records.back().data()));
  }
  if (o.wholeJpeg && !ReadWhole(file, &original)) return Refuse(file, "cannot read it");
  const InputFile source(file);
  if (source.initError() != 0) return Refuse(file, "cannot make a stream", source.initError());
  ExtensionInfo segment{};
  ExifCaptureInfo capture = r.capture;
  const uint32_t result = qdParseExifJpegMakeImageProperty(source.stream(), nullptr, r.hasCapture ? &capture : nullptr,
                                                           nullptr, r.list.data(), &segment, nullptr);
  if (result != QD_OK) return Refuse(file, "no Exif block made", result, source.stream());
  int status = 0;
  if (o.wholeJpeg) {
    const std::vector<uint8_t> jpeg = WithSegment(original, segment.buffer, segment.size);
    status = jpeg.empty() ? Refuse(file, "its APP1 segment was not found")
                          : WriteOutput(output, file, jpeg.data(), jpeg.size(), "JPEG with the new APP1 segment");
  } else {
    status = WriteOutput(output, file, segment.buffer, segment.size, "APP1 segment");
  }
  qdParseFreeApp1Info(&segment);
  return status;
}

}  // namespace qdtool
