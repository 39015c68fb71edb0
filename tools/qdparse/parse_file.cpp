#include "parse_file.h"

#include <cstdio>

#include "host_streams.h"

namespace qdtool {

uint32_t ParseFile(const qdlStream* in, uint32_t fileSize, ParsedFile* out, const qdlStream* propertyOut,
                   const qdlStream* commentOut) {
  {
    const OpenForReading open(in);
    if (open.error() != 0) return open.error();
    const uint32_t result = QDParseStream2(in, nullptr, nullptr, nullptr, nullptr, nullptr, &out->type);
    if (result != QD_OK) return result;
  }
  return QDParseThumbnailFileStreamEx2(in, fileSize, &out->thumb, &out->image, &out->aux, &out->capture,
                                       &out->shot, nullptr, commentOut, propertyOut, nullptr);
}

namespace {

struct Named {
  uint8_t code;
  const char* key;  // file types only
  const char* name;
};

// File type codes of the parse exports.
constexpr Named kFileTypes[] = {
    {1, "heap-file", "heap file"},
    {2, "jpeg-heap", "JPEG with heap"},
    {3, "tiff-raw", "TIFF RAW"},
    {5, "exif-jpeg", "Exif JPEG"},
    {8, "exif-tiff", "Exif TIFF"},
    {9, "tiff-raw-16", "TIFF RAW, 16-bit samples"},
};

// Image format codes of the descriptions (1, 3 and 9 come from the heap's
// own image format word).
constexpr Named kFormats[] = {
    {0, nullptr, "none"},
    {1, nullptr, "RAW image (heap)"},
    {2, nullptr, "JPEG image"},
    {3, nullptr, "uncompressed image (heap)"},
    {5, nullptr, "Exif JPEG image"},
    {6, nullptr, "the JPEG file itself"},
    {8, nullptr, "Exif TIFF image"},
    {9, nullptr, "uncompressed 16-bit image (heap)"},
    {10, nullptr, "auxiliary image"},
    {11, nullptr, "RAW image in an Exif TIFF"},
    {12, nullptr, "K-model TIFF (known by Make and Model)"},
};

std::string Unknown(const char* what, uint8_t code) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%s 0x%02X", what, code);
  return buf;
}

}  // namespace

std::string FileTypeName(uint8_t type) {
  for (const Named& n : kFileTypes) {
    if (n.code == type) return n.name;
  }
  return Unknown("file type", type);
}

std::string FileTypeKey(uint8_t type) {
  for (const Named& n : kFileTypes) {
    if (n.code == type) return n.key;
  }
  return Unknown("type", type);
}

std::string ImageFormatName(uint8_t format) {
  for (const Named& n : kFormats) {
    if (n.code == format) return n.name;
  }
  return Unknown("format", format);
}

}  // namespace qdtool
