#include "refusal.h"

#include <cstdio>
#include <cstring>
#include <algorithm>
#include <vector>

#include "host_streams.h"

namespace qdtool {
namespace {

using Bytes = std::vector<uint8_t>;

// Metadata sits at the front of every kind the library reads.
constexpr size_t kLookAhead = 256 * 1024;
constexpr size_t kShortestCameraFile = 12;

constexpr uint16_t kShort = 3;
constexpr uint16_t kLong = 4;
constexpr uint16_t kAscii = 2;

bool Starts(const Bytes& b, size_t at, const char* text) {
  const size_t n = std::strlen(text);
  return b.size() >= at + n && std::memcmp(b.data() + at, text, n) == 0;
}

bool IsTiffHeader(const Bytes& b) {
  static const uint8_t kIntel[] = {'I', 'I', 42, 0};
  static const uint8_t kMotorola[] = {'M', 'M', 0, 42};
  return b.size() >= 8 && (std::memcmp(b.data(), kIntel, 4) == 0 || std::memcmp(b.data(), kMotorola, 4) == 0);
}

uint16_t Be16(const Bytes& b, size_t at) { return static_cast<uint16_t>(b[at] << 8 | b[at + 1]); }

// The application segments before the image data, from the marker
// framing alone.
struct JpegSegments {
  bool cutShort = false;  // a segment runs past the end of the file
  bool damaged = false;   // no marker where one must be
  bool exif = false, icc = false, iim = false;
  int jfifVersion = -1;  // major * 256 + minor
  std::vector<int> otherApps;
};

JpegSegments ScanJpeg(const Bytes& b, uint64_t fileSize) {
  JpegSegments s;
  size_t at = 2;
  bool imageData = false;
  while (at + 4 <= b.size()) {
    if (b[at] != 0xFF) {
      s.damaged = true;
      return s;
    }
    const uint8_t marker = b[at + 1];
    if (marker == 0xFF) {
      ++at;  // fill byte
      continue;
    }
    const uint16_t length = Be16(b, at + 2);
    if (marker == 0xDA || length < 2) {
      imageData = marker == 0xDA;
      break;
    }
    const size_t payload = at + 4;
    if (marker == 0xE0 && Starts(b, payload, "JFIF") && payload + 7 <= b.size()) {
      s.jfifVersion = Be16(b, payload + 5);
    } else if (marker == 0xE1 && Starts(b, payload, "Exif")) {
      s.exif = true;
    } else if (marker == 0xE2 && Starts(b, payload, "ICC_PROFILE")) {
      s.icc = true;
    } else if (marker == 0xED) {
      s.iim = true;
    } else if (marker >= 0xE0 && marker <= 0xEF) {
      s.otherApps.push_back(marker - 0xE0);
    }
    at += 2 + size_t{length};
  }
  // The whole file was seen and it ends before its image data.
  s.cutShort = !imageData && at + 4 > fileSize;
  return s;
}

std::string SegmentList(const JpegSegments& s) {
  std::string list;
  const auto add = [&list](const std::string& item) { list += (list.empty() ? "" : ", ") + item; };
  if (s.jfifVersion >= 0) {
    add("JFIF " + std::to_string(s.jfifVersion >> 8) + "." + (s.jfifVersion % 256 < 10 ? "0" : "") +
        std::to_string(s.jfifVersion % 256));
  }
  if (s.exif) add("Exif");
  if (s.icc) add("ICC profile");
  if (s.iim) add("APP13 (IPTC/IIM)");
  for (int n : s.otherApps) add("APP" + std::to_string(n));
  return list.empty() ? "none" : list;
}

void DescribeJpeg(const qdlStream* stream, const Bytes& b, uint64_t size, Refusal* r) {
  const JpegSegments s = ScanJpeg(b, size);
  r->kind = "jpeg";
  r->reason = s.cutShort                                       ? "a JPEG cut short inside its metadata"
              : s.damaged                                      ? "a JPEG whose segments are damaged"
              : s.exif                                         ? "a JPEG whose Exif block the library cannot read"
              : s.jfifVersion < 0 && !s.icc && !s.iim && s.otherApps.empty() ? "a JPEG without an application block"
                                                               : "a JPEG without camera metadata";
  JpegImageInfo frame{};
  const bool framed = QDParseGetJPEGInfo(stream, &frame) == QD_OK;
  r->details = {{"cameraMetadata", false}, {"segments", SegmentList(s)}};
  Row(r->text, 1, "file type", "JPEG, no camera metadata");
  if (framed) {
    const uint16_t sampling = frame.sampling;
    const std::string samplingText = std::to_string(sampling >> 4) + "x" + std::to_string(sampling & 15);
    r->details["frame"] = {{"width", Copy(frame.width)},
                           {"height", Copy(frame.height)},
                           {"components", Copy(frame.components)},
                           {"sampling", samplingText}};
    Row(r->text, 1, "image",
        std::to_string(frame.width) + " x " + std::to_string(frame.height) + " pixels, " +
            std::to_string(frame.components) + " components, sampling " + samplingText);
  }
  Row(r->text, 1, "segments", SegmentList(s));
}

// IFD0 fields of a TIFF, through the library's IFD query over the bytes.
void DescribeTiff(const Bytes& b, uint64_t size, Refusal* r) {
  r->kind = "tiff";
  TiffBlockInfo block{};
  block.tiff = const_cast<uint8_t*>(b.data());
  block.tiffSize = static_cast<uint32_t>(b.size());
  uint16_t width16 = 0, height16 = 0, compression = 0;
  uint32_t width32 = 0, height32 = 0;
  char make[64] = {}, model[64] = {};
  IfdQuery list[] = {
      {IFDQ_READ, 0x0100, kShort, 0, reinterpret_cast<uintptr_t>(&width16), 2, 0},
      {IFDQ_READ, 0x0100, kLong, 0, reinterpret_cast<uintptr_t>(&width32), 4, 0},
      {IFDQ_READ, 0x0101, kShort, 0, reinterpret_cast<uintptr_t>(&height16), 2, 0},
      {IFDQ_READ, 0x0101, kLong, 0, reinterpret_cast<uintptr_t>(&height32), 4, 0},
      {IFDQ_READ, 0x0103, kShort, 0, reinterpret_cast<uintptr_t>(&compression), 2, 0},
      {IFDQ_READ, 0x010F, kAscii, 0, reinterpret_cast<uintptr_t>(make), sizeof make - 1, 0},
      {IFDQ_READ, 0x0110, kAscii, 0, reinterpret_cast<uintptr_t>(model), sizeof model - 1, 0},
      {IFDQ_END, 0, 0, 0, 0, 0, 0},
  };
  const bool read = qdParseExifProperty(&block, list) == QD_OK;
  r->reason = !read && size > b.size()  ? "a TIFF whose first IFD lies beyond what was read"
              : !read                   ? "a TIFF cut short inside its metadata"
                                        : "a TIFF without camera metadata (no Exif IFD, no heap)";
  r->details = {{"cameraMetadata", false}};
  Row(r->text, 1, "file type", "TIFF, no camera metadata");
  if (!read) return;
  const uint32_t width = list[0].found != 0 ? width16 : width32;
  const uint32_t height = list[2].found != 0 ? height16 : height32;
  r->details["width"] = width;
  r->details["height"] = height;
  r->details["compression"] = compression;
  r->details["make"] = Raw(make, sizeof make);
  r->details["model"] = Raw(model, sizeof model);
  Row(r->text, 1, "image",
      std::to_string(width) + " x " + std::to_string(height) + " pixels, compression " +
          std::to_string(compression));
  if (make[0] != '\0') Row(r->text, 1, "make", Printable(make, sizeof make));
  if (model[0] != '\0') Row(r->text, 1, "model", Printable(model, sizeof model));
}

// Formats people mistake for camera files, by their signatures.
const char* OtherFormat(const Bytes& b) {
  static const struct {
    size_t at;
    const char* signature;
    const char* name;
  } kFormats[] = {{0, "\x89PNG", "PNG"}, {0, "GIF8", "GIF"}, {0, "%PDF", "PDF"},
                  {4, "ftyp", "ISO media (HEIF, MP4 or MOV)"}, {0, "PK\x03\x04", "ZIP"}};
  for (const auto& f : kFormats) {
    if (Starts(b, f.at, f.signature)) return f.name;
  }
  return nullptr;
}

// The first bytes of the stream, where the metadata sits, and its size.
Bytes ReadFront(const qdlStream* s, uint64_t* size) {
  Bytes b;
  uint32_t error = 0;
  if (s->open != nullptr) s->open(s->context, QD_OPEN_READ, &error);
  if (error != 0) return b;
  s->seek(s->context, QD_SEEK_END, 0, &error);
  *size = error == 0 ? s->tell(s->context, &error) : 0;
  s->seek(s->context, QD_SEEK_START, 0, &error);
  b.resize(static_cast<size_t>(std::min<uint64_t>(*size, kLookAhead)));
  uint32_t count = static_cast<uint32_t>(b.size());
  if (error == 0 && count != 0) s->read(s->context, b.data(), &count, &error);
  b.resize(error == 0 ? std::min<size_t>(count, b.size()) : 0);
  uint32_t ignored = 0;
  if (s->close != nullptr) s->close(s->context, &ignored);
  return b;
}

}  // namespace

Refusal ExplainRefusal(const qdlStream* stream, uint32_t result) {
  Refusal r;
  if (IsHostError(result)) {
    r.reason = "cannot read";
    return r;
  }
  uint64_t size = 0;
  const Bytes b = ReadFront(stream, &size);

  if (size == 0) {
    r.reason = "an empty file";
  } else if (Starts(b, 0, "\xFF\xD8")) {
    DescribeJpeg(stream, b, size, &r);
  } else if (Starts(b, 6, "HEAPCCDR")) {
    r.reason = "a heap file cut short or damaged inside its heap";
  } else if (IsTiffHeader(b)) {
    DescribeTiff(b, size, &r);
  } else if (Starts(b, 0, "RIFF") && Starts(b, 8, "WAVE")) {
    r.reason = "a WAVE file the library cannot read (damaged, cut short or not a sound memo)";
  } else if (const char* other = OtherFormat(b)) {
    r.reason = std::string("a ") + other + " file, not a camera file the library reads";
  } else if (size < kShortestCameraFile) {
    r.reason = "too short to be a camera file (" + std::to_string(size) + " bytes)";
  } else {
    r.reason = "not a camera file (not a JPEG, TIFF, heap file or WAVE memo)";
  }
  return r;
}

Json RefusalJson(const std::string& file, const std::string& what, uint32_t code, const qdlStream* stream,
                 const Json& extra) {
  const char* name = qdhResultName(code) != nullptr ? qdhResultName(code) : qdhErrorName(code);
  Json j = {{"file", file}};
  for (auto& item : extra.items()) j[item.key()] = item.value();
  std::string message = what;
  const int os = stream != nullptr && IsHostError(code) ? qdhFileStreamOsError(stream) : 0;
  if (os != 0) message += std::string(": ") + std::strerror(os);
  j["error"] = {{"code", code}, {"name", name != nullptr ? Json(name) : Json(nullptr)}, {"message", message}};
  return j;
}

int ReportRefusal(const std::string& file, const std::string& what, uint32_t code, const qdlStream* stream,
                  bool json, Json extra) {
  if (!json) return Refuse(file, what, code, stream);
  PrintJson(RefusalJson(file, what, code, stream, extra));
  return 1;
}

}  // namespace qdtool
