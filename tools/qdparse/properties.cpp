// `props`: the typed property records of a file, decoded. Codes the host
// library does not know are shown as hex bytes.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "commands.h"
#include "host_streams.h"
#include "parse_file.h"
#include "property_records.h"
#include "render.h"

namespace qdtool {
namespace {

std::string CodeText(uint16_t code) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%04X", code);
  return buf;
}

std::string RecordText(const Record& r) {
  std::string line = "  " + CodeText(r.code) + " ";
  std::string name = r.name != nullptr ? StandardName(r) : "(unknown)";
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
  const std::string display = DisplayValue(r);
  if (!display.empty()) value = display + "  [" + value + "]";
  return line + value + "\n";
}

Json RecordJson(const Record& r) {
  Json j = {{"code", r.code}, {"name", r.name != nullptr ? Json(StandardName(r)) : Json(nullptr)}, {"size", r.size}};
  if (r.name != nullptr && StandardName(r) != r.name) j["recordName"] = r.name;
  const std::string display = DisplayValue(r);
  if (!display.empty()) j["display"] = display;
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
  const std::vector<Record> records = SplitRecords(properties.bytes(), &truncated);
  const std::vector<Record> comments = SplitRecords(comment.bytes(), &commentTruncated);
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
