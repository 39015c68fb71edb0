// `thumb`: writes the thumbnail the library can extract from a file: the
// DCF thumbnail of an Exif file, the embedded JPEG of a heap file, the IFD1
// strip of a TIFF with an Exif IFD.
#include <cstdio>

#include "commands.h"
#include "host_streams.h"
#include "parse_file.h"

namespace qdtool {
namespace {

// Image numbers of the two embedded JPEGs of a heap file, in the order tried.
constexpr uint8_t kHeapJpegs[] = {1, 2};

// The IFD1 strip image of a TIFF with an Exif IFD: raw samples, not a JPEG.
int SaveIfd1Strip(const InputFile& in, const Output& output, const std::string& refusal) {
  const OutputBuffer out;
  uint16_t width = 0;
  uint16_t height = 0;
  const uint32_t result = qdParseGetTWAINThumbnailDataFromTiffRAW(in.stream(), &width, &height, out.stream());
  if (result != QD_OK) return Refuse(in.path(), refusal, result, in.stream());
  const std::vector<uint8_t> bytes = out.bytes();
  return WriteOutput(output, in.path(), bytes.data(), bytes.size(),
                     "IFD1 strip image " + std::to_string(width) + " x " + std::to_string(height) +
                         ", uncompressed samples");
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
    if (result != QD_OK) return Refuse(file, "not a file the library reads", result, in.stream());
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
      return SaveIfd1Strip(in, output, "no thumbnail the library extracts from a TIFF RAW without an Exif IFD");
    default:
      return Refuse(file, "a " + FileTypeName(type) + " has no thumbnail the library extracts");
  }
}

}  // namespace qdtool
