// `info`: what a file is and how the library describes its images, its
// capture and its exposure, as text or as one JSON object per file.
#include <cmath>
#include <cstdio>
#include <ctime>

#include "commands.h"
#include "describe.h"
#include "host_streams.h"
#include "parse_file.h"
#include "property_records.h"
#include "refusal.h"
#include "render.h"
#include "sound.h"

namespace qdtool {
namespace {

// The values that mean "absent" in ExifShotValues.
constexpr float kAbsentAperture = -1.0f;
constexpr float kAbsentShutter = 100.0f;
constexpr float kAbsentCompensation = 100.0f;
constexpr float kAbsentAdditionalEv = -1.0f;
constexpr uint16_t kAbsentSettingWord = 0xFFFF;
constexpr uint8_t kAbsentSettingFlag = 0xFF;
constexpr uint32_t kNoFileNumber = 0xFFFFFFFF;
constexpr uint32_t kNoPathValue = 0xFFFFFFFF;

// The 48-byte layout shared by the three image descriptions.
template <typename Description>
void ImageRows(std::string& out, const char* role, const Description& d) {
  if (d.format == 0) {
    Row(out, 1, role, "none");
    return;
  }
  Row(out, 1, role, ImageFormatName(d.format) + " (format " + std::to_string(d.format) + ")");
  Row(out, 2, "model", Printable(d.model, sizeof d.model));
  Row(out, 2, "size", std::to_string(d.width) + " x " + std::to_string(d.height) + " pixels");
  Row(out, 2, "samples",
      std::to_string(d.bitsPerSample) + " bits per sample, " + std::to_string(d.bitsPerPixel) +
          " bits per pixel, " + (d.colour != 0 ? "colour" : "monochrome"));
  Row(out, 2, "resolution",
      std::to_string(d.xResolution) + " x " + std::to_string(d.yResolution) + " dpi, pixel aspect " +
          Fixed(d.aspect, 4));
}

template <typename Description>
Json ImageJson(const Description& d) {
  if (d.format == 0) return nullptr;
  return {{"format", d.format},
          {"formatName", ImageFormatName(d.format)},
          {"model", Raw(d.model, sizeof d.model)},
          {"width", Copy(d.width)},
          {"height", Copy(d.height)},
          {"bitsPerSample", d.bitsPerSample},
          {"bitsPerPixel", d.bitsPerPixel},
          {"colour", d.colour != 0},
          {"aspect", Short(d.aspect)},
          {"xResolution", Copy(d.xResolution)},
          {"yResolution", Copy(d.yResolution)}};
}

bool HasPathValues(const QdImageInfo& d) {
  for (uint32_t x : CopyArray<uint32_t, 3>(d.pathValues)) {
    if (x != kNoPathValue) return true;
  }
  return false;
}

void MainImageRows(std::string& out, const QdImageInfo& d) {
  ImageRows(out, "image", d);
  if (d.format == 0) return;
  Row(out, 2, "compression",
      Fixed(d.compressedBitsPerPixel, 2) + " bits per pixel, data code " + std::to_string(d.dataCode));
  Row(out, 2, "full view",
      std::to_string(d.fullWidth) + " x " + std::to_string(d.fullHeight) + " pixels, " +
          std::to_string(d.fullXResolution) + " x " + std::to_string(d.fullYResolution) + " dpi, pixel aspect " +
          Fixed(d.fullAspect, 4));
  char flags[8];
  std::snprintf(flags, sizeof flags, "0x%02X", d.flags);
  Row(out, 2, "flags", flags);
  if (HasPathValues(d)) {
    std::string v;
    for (uint32_t x : CopyArray<uint32_t, 3>(d.pathValues)) v += (v.empty() ? "" : ", ") + std::to_string(x);
    Row(out, 2, "path values", v);
  }
}

Json MainImageJson(const QdImageInfo& d) {
  Json j = ImageJson(d);
  if (j.is_null()) return j;
  j["compressedBitsPerPixel"] = Short(d.compressedBitsPerPixel);
  j["dataCode"] = d.dataCode;
  j["fullView"] = {{"width", Copy(d.fullWidth)},
                   {"height", Copy(d.fullHeight)},
                   {"aspect", Short(d.fullAspect)},
                   {"xResolution", Copy(d.fullXResolution)},
                   {"yResolution", Copy(d.fullYResolution)}};
  j["flags"] = d.flags;
  Json values = Json::array();
  for (uint32_t x : CopyArray<uint32_t, 3>(d.pathValues)) values.push_back(x == kNoPathValue ? Json(nullptr) : Json(x));
  j["pathValues"] = values;
  return j;
}

// The library reads the camera's clock text as local time on the host, so
// the host's local calendar gives the clock's fields back unchanged. The
// camera kept no zone: none is shown.
std::string CameraClock(int32_t seconds, const char* format) {
  const time_t t = seconds;
  struct tm parts {};
  if (localtime_r(&t, &parts) == nullptr) return std::to_string(seconds);
  char buf[64];
  if (std::strftime(buf, sizeof buf, format, &parts) == 0) return std::to_string(seconds);
  return buf;
}

std::string OrNone(const std::string& text) { return text.empty() ? "none" : text; }

void CaptureRows(std::string& out, const ExifCaptureInfo& c) {
  Row(out, 1, "capture", "");
  Row(out, 2, "time", c.time == 0 ? "unknown" : CameraClock(c.time, "%Y-%m-%d %H:%M:%S"));
  Row(out, 2, "file number", c.fileNumber == kNoFileNumber ? "not given" : std::to_string(c.fileNumber));
  Row(out, 2, "owner", OrNone(Printable(c.owner, sizeof c.owner)));
  Row(out, 2, "image type", OrNone(Printable(c.imageType, sizeof c.imageType)));
}

Json CaptureJson(const ExifCaptureInfo& c) {
  return {{"time", c.time == 0 ? Json(nullptr) : Json(Copy(c.time))},
          {"dateTime", c.time == 0 ? Json(nullptr) : Json(CameraClock(c.time, "%Y-%m-%dT%H:%M:%S"))},
          {"fileNumber", c.fileNumber == kNoFileNumber ? Json(nullptr) : Json(Copy(c.fileNumber))},
          {"owner", Raw(c.owner, sizeof c.owner)},
          {"imageType", Raw(c.imageType, sizeof c.imageType)}};
}

// Exposure time 2^-Tv.
std::string ExposureTime(float tv) { return ExposureText(std::exp2(-static_cast<double>(tv))) + " s"; }

// Exposure time, f-number and ISO as the file records them; the APEX shot
// values stand in only where the file records none.
struct Exposure {
  std::string time, fNumber, iso;  // empty: not known
  bool timeFromApex = false, fNumberFromApex = false;
};

Exposure ExposureOf(const std::vector<Record>& records, const ExifShotValues& s) {
  Exposure e;
  double v = 0;
  if (const Record* r = FindRecord(records, kExposureTimeRecord); r != nullptr && RationalValue(*r, &v)) {
    e.time = ExposureText(v);
  } else if (s.shutterSpeed != kAbsentShutter) {
    e.time = ExposureText(std::exp2(-static_cast<double>(s.shutterSpeed)));
    e.timeFromApex = true;
  }
  if (const Record* r = FindRecord(records, kFNumberRecord); r != nullptr && RationalValue(*r, &v)) {
    e.fNumber = Fixed(v, 1);
  } else if (s.aperture != kAbsentAperture) {
    e.fNumber = Fixed(std::exp2(static_cast<double>(s.aperture) / 2), 1);
    e.fNumberFromApex = true;
  }
  if (const Record* r = FindRecord(records, kIsoSpeedRecord); r != nullptr && r->payload.size() >= 2) {
    e.iso = std::to_string(r->payload[0] | r->payload[1] << 8);
  }
  return e;
}

std::string MakeOf(const std::vector<Record>& records) {
  const Record* r = FindRecord(records, kMakeRecord);
  if (r == nullptr || r->fields.empty() || !r->fields[0].json.is_string()) return {};
  return r->fields[0].json.get<std::string>();
}

void ExposureRows(std::string& out, const Exposure& e) {
  if (e.time.empty() && e.fNumber.empty() && e.iso.empty()) return;
  Row(out, 1, "exposure", "");
  const std::string apex = " (from the APEX value)";
  if (!e.time.empty()) Row(out, 2, "time", e.time + " s" + (e.timeFromApex ? apex : ""));
  if (!e.fNumber.empty()) Row(out, 2, "f-number", "f/" + e.fNumber + (e.fNumberFromApex ? apex : ""));
  if (!e.iso.empty()) Row(out, 2, "ISO", e.iso);
}

Json ExposureJson(const Exposure& e) {
  const auto text = [](const std::string& v) { return v.empty() ? Json(nullptr) : Json(v); };
  return {{"time", text(e.time)},
          {"timeFromApex", e.timeFromApex},
          {"fNumber", e.fNumber.empty() ? Json(nullptr) : Json(std::stod(e.fNumber))},
          {"fNumberFromApex", e.fNumberFromApex},
          {"iso", e.iso.empty() ? Json(nullptr) : Json(std::stoi(e.iso))}};
}

void ShotRows(std::string& out, const ExifShotValues& s) {
  const std::string absent = "absent";
  Row(out, 1, "shot values (APEX)", "");
  Row(out, 2, "aperture", s.aperture == kAbsentAperture
                              ? absent
                              : "Av " + Fixed(s.aperture, 2) + " (f/" +
                                    Fixed(std::exp2(static_cast<double>(s.aperture) / 2), 1) + ")");
  Row(out, 2, "shutter speed",
      s.shutterSpeed == kAbsentShutter ? absent
                                       : "Tv " + Fixed(s.shutterSpeed, 2) + " (" + ExposureTime(s.shutterSpeed) + ")");
  Row(out, 2, "exposure comp.",
      s.exposureCompensation == kAbsentCompensation ? absent : Fixed(s.exposureCompensation, 2) + " EV");
  Row(out, 2, "additional EV", s.additionalEv == kAbsentAdditionalEv ? absent : Fixed(s.additionalEv, 2) + " EV");
  Row(out, 2, "setting word", s.settingWord == kAbsentSettingWord ? absent : std::to_string(s.settingWord));
  Row(out, 2, "setting flag", s.settingFlag == kAbsentSettingFlag ? absent : std::to_string(s.settingFlag));
}

Json ShotJson(const ExifShotValues& s) {
  const auto value = [](bool absent, Json v) { return absent ? Json(nullptr) : v; };
  return {{"aperture", value(s.aperture == kAbsentAperture, Short(s.aperture))},
          {"shutterSpeed", value(s.shutterSpeed == kAbsentShutter, Short(s.shutterSpeed))},
          {"exposureCompensation", value(s.exposureCompensation == kAbsentCompensation, Short(s.exposureCompensation))},
          {"additionalEv", value(s.additionalEv == kAbsentAdditionalEv, Short(s.additionalEv))},
          {"settingWord", value(s.settingWord == kAbsentSettingWord, Copy(s.settingWord))},
          {"settingFlag", value(s.settingFlag == kAbsentSettingFlag, s.settingFlag)}};
}

// Fills the JSON object, or returns the text block.
std::string ShowParsed(const std::string& file, const ParsedFile& p, const std::vector<Record>& records,
                       Json* json, bool optionalData) {
  const std::string make = MakeOf(records);
  const Exposure exposure = ExposureOf(records, p.shot);
  if (json) {
    Json j = {{"file", file},
              {"type", FileTypeKey(p.type)},
              {"typeCode", p.type},
              {"typeName", FileTypeName(p.type)},
              {"make", make.empty() ? Json(nullptr) : Json(make)},
              {"model", Raw(p.image.model, sizeof p.image.model)},
              {"exposure", ExposureJson(exposure)},
              {"image", MainImageJson(p.image)},
              {"thumbnail", ImageJson(p.thumb)},
              {"auxiliary", ImageJson(p.aux)}};
    if (p.aux.format != 0) {
      j["auxiliary"]["extra"] = CopyArray<uint16_t, 3>(p.aux.extra);
    }
    j["capture"] = CaptureJson(p.capture);
    j["shot"] = ShotJson(p.shot);
    j["optionalData"] = optionalData;
    *json = std::move(j);
    return {};
  }
  std::string out = file + "\n";
  Row(out, 1, "file type", FileTypeName(p.type) + " (" + std::to_string(p.type) + ")");
  if (!make.empty()) Row(out, 1, "make", make);
  Row(out, 1, "model", OrNone(Printable(p.image.model, sizeof p.image.model)));
  ExposureRows(out, exposure);
  MainImageRows(out, p.image);
  ImageRows(out, "thumbnail", p.thumb);
  ImageRows(out, "auxiliary", p.aux);
  if (p.aux.format != 0) {
    const auto extra = CopyArray<uint16_t, 3>(p.aux.extra);
    Row(out, 2, "extra", std::to_string(extra[0]) + ", " + std::to_string(extra[1]) + ", " + std::to_string(extra[2]));
  }
  CaptureRows(out, p.capture);
  ShotRows(out, p.shot);
  Row(out, 1, "optional data", optionalData ? "a trailer marks maker data after the image" : "none");
  return out;
}

std::string ShowSound(const std::string& file, const SoundFacts& facts, Json* json) {
  if (json) {
    Json j = {{"file", file}, {"type", "wave"}, {"typeCode", nullptr}, {"typeName", "WAVE sound"}};
    SoundJson(j, facts);
    *json = std::move(j);
    return {};
  }
  std::string out = file + "\n";
  Row(out, 1, "file type", "WAVE sound");
  SoundText(out, 1, facts);
  return out;
}

// Returns the exit status. With `json` the object (or the error object) goes
// there; without, `text` receives the text block and refusals go to stderr.
int Describe(const std::string& file, Json* json, std::string* text) {
  const auto refuse = [&](const std::string& what, uint32_t code, const qdlStream* stream,
                          Json extra = Json::object()) {
    if (json == nullptr) return Refuse(file, what, code, stream);
    *json = RefusalJson(file, what, code, stream, extra);
    return 1;
  };
  const InputFile in(file);
  if (in.initError() != 0) return refuse("cannot make a stream", in.initError(), nullptr);
  ParsedFile parsed;
  const OutputBuffer properties;
  const uint32_t result = ParseFile(in.stream(), in.size(), &parsed, properties.stream());
  if (result == QD_OK) {
    uint16_t optionalData = 0;
    const uint32_t trailer = QDParseHasVedraOptionalData(in.stream(), &optionalData);
    if (trailer != QD_OK) return refuse("cannot read", trailer, in.stream());
    bool truncated = false;
    *text = ShowParsed(file, parsed, SplitRecords(properties.bytes(), &truncated), json, optionalData == 1);
    return 0;
  }
  // The parse exports do not read sound memos; those have calls of their own.
  if (parsed.type == 0xFF && !IsHostError(result)) {
    SoundFacts facts;
    if (ReadSound(in.stream(), &facts) == QD_OK) {
      *text = ShowSound(file, facts, json);
      return 0;
    }
  }
  if (parsed.type != 0xFF) return refuse("refused as " + FileTypeName(parsed.type), result, in.stream());
  const Refusal why = ExplainRefusal(in.stream(), result);
  if (json == nullptr && !why.text.empty()) *text = file + "\n" + why.text;
  Json extra = Json::object();
  if (!why.kind.empty()) extra = {{"type", why.kind}, {"description", why.details}};
  return refuse(why.reason, result, in.stream(), extra);
}

}  // namespace

bool DescribeJson(const std::string& file, Json* out) {
  std::string text;
  return Describe(file, out, &text) == 0;
}

int RunInfo(const std::vector<std::string>& files, bool json) {
  int status = 0;
  bool shown = false;
  for (const std::string& file : files) {
    std::string text;
    Json object;
    if (Describe(file, json ? &object : nullptr, &text) != 0) status = 1;
    if (json) PrintJson(object);
    if (text.empty()) continue;
    if (shown) std::fputs("\n", stdout);
    std::fputs(text.c_str(), stdout);
    shown = true;
  }
  std::fflush(stdout);
  return status;
}

}  // namespace qdtool
