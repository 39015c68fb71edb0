// One run of the library's parse exports over a file: its type code, the
// five descriptions, and on request the property records and user comment.
#pragma once

#include <cstdint>
#include <string>

#include "qdparse.h"

namespace qdtool {

struct ParsedFile {
  uint8_t type = 0xFF;  // file type code
  QdImageInfo image{};
  QdThumbnailInfo thumb{};
  QdAuxImageInfo aux{};
  ExifCaptureInfo capture{};
  ExifShotValues shot{};
};

// The file type and, when it is one the parse exports read, the
// descriptions; propertyOut and commentOut may be null. The export that
// fills the descriptions does not report the type, so the type comes from a
// first, output-free call of QDParseStream2. Returns the library's result.
uint32_t ParseFile(const qdlStream* in, uint32_t fileSize, ParsedFile* out,
                   const qdlStream* propertyOut = nullptr, const qdlStream* commentOut = nullptr);

// "Exif JPEG"; "file type 0x07" for codes the driver does not produce.
std::string FileTypeName(uint8_t type);
// A short stable key for JSON: "exif-jpeg".
std::string FileTypeKey(uint8_t type);
// "Exif JPEG image"; "format 0x0C" for unknown codes.
std::string ImageFormatName(uint8_t format);

}  // namespace qdtool
