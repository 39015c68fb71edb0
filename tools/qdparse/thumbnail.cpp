// `thumb`: writes the thumbnail the library can extract from a file: the
// DCF thumbnail of an Exif file, the embedded JPEG of a heap file, the IFD1
// strip of a TIFF with an Exif IFD.
#include <cstdio>

#include "commands.h"
#include "host_streams.h"
#include "parse_file.h"
#include "refusal.h"

namespace qdtool {
namespace {

// Image numbers of the two embedded JPEGs of a heap file, in the order tried.
constexpr uint8_t kHeapJpegs[] = {1, 2};

void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

// A baseline TIFF around 8-bit grey or RGB samples, so that a viewer opens
// the strip image: header, one IFD, the values that do not fit in their
// entries (bits per sample of RGB, the two 72 dpi resolutions), the samples.
std::vector<uint8_t> StripTiff(const std::vector<uint8_t>& samples, uint16_t width, uint16_t height,
                               uint16_t perPixel) {
  struct Entry {
    uint16_t tag, type;
    uint32_t count, value;
  };
  constexpr uint16_t kShortType = 3, kLongType = 4, kRationalType = 5;
  constexpr uint32_t kEntries = 13;
  constexpr uint32_t kIfd = 8, kResolutionsAt = kIfd + 2 + kEntries * 12 + 4;
  const uint32_t bitsAt = kResolutionsAt + 16, dataAt = bitsAt + (perPixel == 3 ? 6 : 0);
  const Entry entries[kEntries] = {
      {0x0100, kShortType, 1, width},
      {0x0101, kShortType, 1, height},
      {0x0102, kShortType, perPixel, perPixel == 3 ? bitsAt : 8},
      {0x0103, kShortType, 1, 1},                        // no compression
      {0x0106, kShortType, 1, perPixel == 3 ? 2u : 1u},  // RGB or BlackIsZero
      {0x0111, kLongType, 1, dataAt},
      {0x0115, kShortType, 1, perPixel},
      {0x0116, kShortType, 1, height},
      {0x0117, kLongType, 1, static_cast<uint32_t>(samples.size())},
      {0x011A, kRationalType, 1, kResolutionsAt},
      {0x011B, kRationalType, 1, kResolutionsAt + 8},
      {0x011C, kShortType, 1, 1},  // chunky
      {0x0128, kShortType, 1, 2},  // inches
  };
  std::vector<uint8_t> out = {'I', 'I', 42, 0};
  Put32(out, kIfd);
  Put16(out, kEntries);
  for (const Entry& e : entries) {
    Put16(out, e.tag);
    Put16(out, e.type);
    Put32(out, e.count);
    Put32(out, e.value);  // a SHORT sits in the first two bytes, little-endian
  }
  Put32(out, 0);
  for (int i = 0; i < 2; ++i) {
    Put32(out, 72);
    Put32(out, 1);
  }
  if (perPixel == 3) {
    for (int i = 0; i < 3; ++i) Put16(out, 8);
  }
  out.insert(out.end(), samples.begin(), samples.end());
  return out;
}

// The IFD1 strip image of a TIFF with an Exif IFD: uncompressed samples,
// written as a TIFF of their own.
int SaveIfd1Strip(const InputFile& in, const Output& output, const std::string& refusal) {
  const OutputBuffer out;
  uint16_t width = 0;
  uint16_t height = 0;
  const uint32_t result = qdParseGetTWAINThumbnailDataFromTiffRAW(in.stream(), &width, &height, out.stream());
  if (result != QD_OK) return Refuse(in.path(), refusal);
  const std::vector<uint8_t> samples = out.bytes();
  const uint64_t pixels = uint64_t{width} * height;
  const uint64_t perPixel = pixels != 0 ? samples.size() / pixels : 0;
  if ((perPixel != 1 && perPixel != 3) || samples.size() != pixels * perPixel) {
    return Refuse(in.path(), "its IFD1 strip image is not 8-bit grey or RGB samples; nothing written");
  }
  const std::vector<uint8_t> tiff = StripTiff(samples, width, height, static_cast<uint16_t>(perPixel));
  return WriteOutput(output, in.path(), tiff.data(), tiff.size(),
                     "IFD1 strip image " + std::to_string(width) + " x " + std::to_string(height) + " as a TIFF");
}

}  // namespace

int RunThumb(const std::string& file, const Output& output) {
  const InputFile in(file);
  if (in.initError() != 0) return Refuse(file, "cannot make a stream", in.initError());
  uint8_t type = 0xFF;
  {
    const OpenForReading open(in.stream());
    if (open.error() != 0) return Refuse(file, "cannot read", open.error(), in.stream());
    const uint32_t result = QDParseStream2(in.stream(), nullptr, nullptr, nullptr, nullptr, nullptr, &type);
    if (result != QD_OK) {
      const std::string why = IsHostError(result) ? "cannot read" : ExplainRefusal(in.stream(), result).reason;
      return Refuse(file, why + "; no thumbnail", result, in.stream());
    }
  }
  switch (type) {
    case 5:
    case 8: {
      const OutputBuffer out;
      const uint32_t result = QDParseGetDCFThumbnail(in.stream(), out.stream());
      if (result != QD_OK) return Refuse(file, "DCF thumbnail refused", result, in.stream());
      const std::vector<uint8_t> bytes = out.bytes();
      if (!bytes.empty()) return WriteOutput(output, file, bytes.data(), bytes.size(), "DCF thumbnail");
      if (type == 8) return SaveIfd1Strip(in, output, "no DCF thumbnail and no IFD1 strip image");
      return Refuse(file, "this Exif JPEG has no DCF thumbnail");
    }
    case 1: {
      uint32_t result = QD_OK;
      for (uint8_t which : kHeapJpegs) {
        const OutputBuffer out;
        result = qdParseGetJpegDataFromQdRAW(in.stream(), which, out.stream());
        if (result != QD_OK) continue;
        const std::vector<uint8_t> bytes = out.bytes();
        return WriteOutput(output, file, bytes.data(), bytes.size(), "embedded JPEG " + std::to_string(which));
      }
      return Refuse(file, "no embedded JPEG in this heap file", result, in.stream());
    }
    case 3:
    case 9:
      // The library extracts IFD1 strips only from TIFFs whose IFD0 points to an Exif IFD.
      return SaveIfd1Strip(in, output, "a TIFF RAW without an Exif IFD has no thumbnail the library extracts");
    default:
      return Refuse(file, "a " + FileTypeName(type) + " has no thumbnail the library extracts");
  }
}

}  // namespace qdtool
