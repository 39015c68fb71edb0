// qdparse check: whether each file is laid out as the cameras write it.
#include <cstdio>

#include "commands.h"
#include "host_streams.h"
#include "render.h"

namespace qdtool {
namespace {

// The tags the check can name as failing.
const char* CheckedTagName(uint16_t tag) {
  struct Name {
    uint16_t tag;
    const char* name;
  };
  static constexpr Name kNames[] = {
      {0x0001, "InteroperabilityIndex"}, {0x0002, "InteroperabilityVersion"}, {0x0100, "ImageWidth"},
      {0x0101, "ImageLength"}, {0x0102, "BitsPerSample"}, {0x0103, "Compression"},
      {0x0106, "PhotometricInterpretation"}, {0x010F, "Make"}, {0x0110, "Model"}, {0x0111, "StripOffsets"},
      {0x0115, "SamplesPerPixel"}, {0x0116, "RowsPerStrip"}, {0x0117, "StripByteCounts"},
      {0x011A, "XResolution"}, {0x011B, "YResolution"}, {0x011C, "PlanarConfiguration"},
      {0x0128, "ResolutionUnit"}, {0x013E, "WhitePoint"}, {0x013F, "PrimaryChromaticities"},
      {0x0201, "JPEGInterchangeFormat"}, {0x0202, "JPEGInterchangeFormatLength"},
      {0x0211, "YCbCrCoefficients"}, {0x0212, "YCbCrSubSampling"}, {0x0213, "YCbCrPositioning"},
      {0x8769, "ExifIFD"}, {0x9000, "ExifVersion"}, {0x9003, "DateTimeOriginal"},
      {0x9004, "DateTimeDigitized"}, {0x9101, "ComponentsConfiguration"}, {0xA000, "FlashpixVersion"},
      {0xA001, "ColorSpace"}, {0xA002, "PixelXDimension"}, {0xA003, "PixelYDimension"},
      {0xA005, "InteroperabilityIFD"}, {0xA500, "Gamma"}, {0xFFFF, "a required IFD"},
  };
  for (const Name& n : kNames) {
    if (n.tag == tag) return n.name;
  }
  return "";
}

std::string TagHex(uint16_t tag) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", tag);
  return text;
}

// The host names do not cover this export's own non-error code.
std::string CheckResultText(uint32_t result) {
  return result == QD_CHECK_TAG_OR_PORTRAIT ? "0x00000051 QD_CHECK_TAG_OR_PORTRAIT" : ResultText(result);
}

int CheckOne(const std::string& file, bool json) {
  const InputFile in(file);
  if (in.initError() != 0) return Refuse(file, "cannot make a stream", in.initError());
  uint16_t tag = 0, portrait = 0;
  const uint32_t result = QDParseJpegCheck(in.stream(), 0, &tag, &portrait);
  const bool conforms = result == QD_OK || (result == QD_CHECK_TAG_OR_PORTRAIT && portrait == 1);
  const bool tagFailed = result == QD_CHECK_TAG_OR_PORTRAIT && !conforms;
  if (!conforms && !tagFailed && result != QD_E_UNSUPPORTED) return Refuse(file, "cannot check", result, in.stream());

  const std::string rule = conforms    ? ""
                           : tagFailed ? "tag"
                                       : "structure";
  if (json) {
    Json j = {{"file", file}, {"conforms", conforms}, {"portrait", portrait == 1}, {"result", CheckResultText(result)}};
    j["rule"] = conforms ? Json(nullptr) : Json(rule);
    j["tag"] = tagFailed ? Json(tag) : Json(nullptr);
    j["tagName"] = tagFailed ? Json(CheckedTagName(tag)) : Json(nullptr);
    PrintJson(j);
  } else if (conforms) {
    std::printf("%s: conforms%s\n", file.c_str(), portrait == 1 ? ", portrait" : "");
  } else if (tagFailed) {
    std::printf("%s: tag %s %s is missing or breaks its rule (%s)\n", file.c_str(), TagHex(tag).c_str(),
                CheckedTagName(tag), CheckResultText(result).c_str());
  } else {
    std::printf("%s: segment structure (marker order, Exif signature or thumbnail) does not conform (%s)\n",
                file.c_str(), ResultText(result).c_str());
  }
  return conforms ? 0 : 1;
}

}  // namespace

int RunCheck(const std::vector<std::string>& files, bool json) {
  int status = 0;
  for (const std::string& file : files) {
    if (CheckOne(file, json) != 0) status = 1;
  }
  std::fflush(stdout);
  return status;
}

}  // namespace qdtool
