// `type`, `get`, `heap` and `makernote`: the small questions the library
// answers without a full parse, and the heap object a file carries.
#include <cstdio>
#include <cstring>
#include <ctime>

#include "commands.h"
#include "host_streams.h"
#include "parse_file.h"
#include "property_value.h"
#include "refusal.h"
#include "render.h"

namespace qdtool {
namespace {

Json Decoded(Shape shape, const std::vector<uint8_t>& bytes) {
  switch (shape) {
    case Shape::kText:
      return Raw(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    case Shape::kU16: return Numbers<uint16_t>(bytes);
    case Shape::kU32: return Numbers<uint32_t>(bytes);
    case Shape::kRational: {
      Json pairs = Json::array();
      const std::vector<uint64_t> n = Numbers<uint32_t>(bytes);
      for (size_t i = 0; i + 1 < n.size(); i += 2) pairs.push_back(std::to_string(n[i]) + "/" + std::to_string(n[i + 1]));
      return pairs;
    }
    default: return nullptr;
  }
}

}  // namespace

int RunType(const std::vector<std::string>& files, bool json) {
  int status = 0;
  for (const std::string& file : files) {
    const InputFile in(file);
    uint8_t format = 0;
    char model[32] = {};
    char maker[32] = {};
    const uint32_t result =
        in.initError() != 0 ? in.initError() : qdParseGetFileType(in.stream(), &format, model, maker);
    if (result != QD_OK) {
      status = ReportRefusal(file, "no file type", result, in.stream(), json);
      continue;
    }
    if (json) {
      PrintJson({{"file", file}, {"format", format}, {"formatName", ImageFormatName(format)},
                 {"maker", Raw(maker, sizeof maker)}, {"model", Raw(model, sizeof model)}});
    } else {
      std::printf("%s: %s, maker \"%s\", model \"%s\"\n", file.c_str(), ImageFormatName(format).c_str(),
                  Printable(maker, sizeof maker).c_str(), Printable(model, sizeof model).c_str());
    }
  }
  return status;
}

int RunGet(const std::string& file, uint32_t id, bool json) {
  const InputFile in(file);
  if (in.initError() != 0) return Refuse(file, "cannot make a stream", in.initError());
  const OutputBuffer out;
  uint8_t fileType = 0xFF;
  const uint32_t result = QDParseGetSingleProperty(in.stream(), &fileType, id, out.stream());
  if (result != QD_OK) return Refuse(file, "no such property", result, in.stream());
  const std::vector<uint8_t> bytes = out.bytes();
  const Json value = Decoded(ShapeOf(fileType, PropertyId(id)), bytes);
  char idText[11];
  std::snprintf(idText, sizeof idText, "0x%08X", id);
  if (json) {
    PrintJson({{"file", file}, {"id", idText}, {"size", bytes.size()}, {"hex", Hex(bytes.data(), bytes.size())},
               {"value", value}});
    return 0;
  }
  std::string text = file + " " + idText + ": " + std::to_string(bytes.size()) + " bytes\n";
  Row(text, 1, "hex", Hex(bytes.data(), bytes.size()));
  if (!value.is_null()) Row(text, 1, "value", value.is_string() ? value.get<std::string>() : value.dump());
  if (PropertyId(id).converted && bytes.size() == 4) {
    const time_t t = static_cast<time_t>(static_cast<int32_t>(Numbers<uint32_t>(bytes)[0]));
    char when[32] = {};
    std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", std::localtime(&t));
    Row(text, 1, "local time", when);
  }
  std::fputs(text.c_str(), stdout);
  return 0;
}

int RunHeap(const std::string& file, const Output& output, bool developed) {
  const InputFile in(file);
  if (in.initError() != 0) return Refuse(file, "cannot make a stream", in.initError());
  HeapObject heap{};
  // The developed heap describes the full view the parse reports.
  ParsedFile parsed;
  uint32_t result = developed ? ParseFile(in.stream(), in.size(), &parsed) : QD_OK;
  if (result != QD_OK) return Refuse(file, "not a file the library reads", result, in.stream());
  {
    const OpenForReading open(in.stream());
    if (open.error() != 0) return Refuse(file, "cannot read", open.error(), in.stream());
    if (developed) {
      result = qdParseGetHeapObjectDeveloped(in.stream(), &parsed.image, 0, 0, &heap);
    } else {
      uint8_t heapClass = 0;
      JpegSofInfo sof{};
      JfifInfo jfif{};
      TiffImageInfo tiff{};
      result = qdParseGetPropHeapObject(in.stream(), &heapClass, &heap, &sof, &jfif, &tiff);
    }
  }
  if (result != QD_OK) return Refuse(file, "no heap object", result, in.stream());
  // A heap file's heap comes bare: merging nothing gives it a header.
  HeapObject image = heap;
  const RecordEntry end{};
  if (heap.headerLength == 0) result = qdParseMergePropertiesIntoHeapObject(&heap, &end, &image);
  const int status = result != QD_OK ? Refuse(file, "cannot write the heap", result)
                                     : WriteOutput(output, file, image.block, image.headerLength + image.heapLength,
                                                   std::string(image.type, strnlen(image.type, sizeof image.type)) +
                                                       " heap image");
  if (image.block != heap.block) qdParseFreeHeapObject(image);
  qdParseFreeHeapObject(heap);
  return status;
}

int RunMakerNote(const std::string& file, bool json) {
  const InputFile in(file);
  if (in.initError() != 0) return Refuse(file, "cannot make a stream", in.initError());
  MakerNoteLocation where{};
  const uint32_t result = qdParseGetDCFMakerNote(in.stream(), &where, nullptr);
  if (result != QD_OK) return Refuse(file, "no camera maker's maker note", result, in.stream());
  const uint32_t length = where.length, offset = where.offset;
  const char* order = where.byteOrder != 0 ? "MM" : "II";
  if (json) {
    PrintJson({{"file", file}, {"offset", offset}, {"length", length}, {"byteOrder", order}});
  } else {
    std::printf("%s: maker note at offset %u, %u bytes, byte order %s\n", file.c_str(), offset, length, order);
  }
  return 0;
}

}  // namespace qdtool
