// `iim`: the IIM (IPTC) datasets of an Exif JPEG or TIFF, listed, changed in
// place, packed into a preserved block, and a preserved block's records.
//
// Changes follow the pattern of `set`: the library changes a copy in memory
// first, and the file is written only when it accepted the change there.
#include <cstdio>
#include <cstring>

#include "change_file.h"
#include "commands.h"
#include "host_streams.h"
#include "render.h"

namespace qdtool {
namespace {

// The standard names of the datasets the library extracts.
struct DatasetName {
  uint8_t record, dataset;
  const char* name;
};
constexpr DatasetName kNames[] = {
    {1, 30, "ServiceIdentifier"}, {1, 60, "EnvelopePriority"},   {2, 5, "ObjectName"},
    {2, 15, "Category"},          {2, 20, "SupplementalCategories"}, {2, 25, "Keywords"},
    {2, 40, "SpecialInstructions"}, {2, 55, "DateCreated"},      {2, 60, "TimeCreated"},
    {2, 65, "OriginatingProgram"}, {2, 80, "By-line"},           {2, 85, "By-lineTitle"},
    {2, 90, "City"},              {2, 103, "OriginalTransmissionReference"}, {2, 105, "Headline"},
    {2, 110, "Credit"},           {2, 115, "Source"},            {2, 120, "Caption-Abstract"},
    {2, 122, "Writer-Editor"}};

const char* NameOf(uint8_t record, uint8_t dataset) {
  for (const DatasetName& n : kNames) {
    if (n.record == record && n.dataset == dataset) return n.name;
  }
  return nullptr;
}

std::string Number(uint8_t record, uint8_t dataset) {
  char text[16];
  std::snprintf(text, sizeof text, "%u:%02u", record, dataset);
  return text;
}

// An IimRecord: record, dataset, u32 little-endian length, data.
struct Dataset {
  uint8_t record, dataset;
  std::string data;
};
std::vector<uint8_t> Pack(const Dataset& d) {
  std::vector<uint8_t> r = {d.record, d.dataset};
  for (int i = 0; i < 4; ++i) r.push_back(static_cast<uint8_t>(d.data.size() >> (8 * i)));
  r.insert(r.end(), d.data.begin(), d.data.end());
  return r;
}
std::vector<Dataset> Unpack(const std::vector<uint8_t>& s) {
  std::vector<Dataset> out;
  for (size_t at = 0; at + 6 <= s.size();) {
    const uint32_t n = s[at + 2] | s[at + 3] << 8 | s[at + 4] << 16 | uint32_t{s[at + 5]} << 24;
    if (n > s.size() - at - 6) break;
    out.push_back({s[at], s[at + 1], std::string(s.begin() + at + 6, s.begin() + at + 6 + n)});
    at += 6 + n;
  }
  return out;
}

int Print(const std::string& file, const std::vector<Dataset>& datasets, bool json) {
  if (json) {
    Json list = Json::array();
    for (const Dataset& d : datasets) {
      const char* name = NameOf(d.record, d.dataset);
      list.push_back({{"tag", Number(d.record, d.dataset)}, {"name", name ? name : ""},
                      {"value", Raw(d.data.data(), d.data.size())}, {"length", d.data.size()}});
    }
    PrintJson({{"file", file}, {"datasets", list}});
    return 0;
  }
  std::string out = file + "\n";
  for (const Dataset& d : datasets) {
    const char* name = NameOf(d.record, d.dataset);
    Row(out, 1, Number(d.record, d.dataset), std::string(name ? name : "?") + ": " + Printable(d.data.data(), d.data.size()));
  }
  std::fputs(out.c_str(), stdout);
  return 0;
}

// The datasets the library extracts from `stream`.
uint32_t Read(const qdlStream* stream, std::vector<uint8_t>* records) {
  OutputBuffer out;
  const uint32_t result = QDParseGetIIMInfo(stream, out.stream());
  *records = out.bytes();
  return result;
}

// "2:120=TEXT" as a dataset.
bool ParseSet(const std::string& text, Dataset* d) {
  unsigned record = 0, dataset = 0;
  int used = 0;
  if (std::sscanf(text.c_str(), "%u:%u=%n", &record, &dataset, &used) != 2 || used == 0 || record > 255 ||
      dataset > 255) {
    return false;
  }
  *d = {static_cast<uint8_t>(record), static_cast<uint8_t>(dataset), text.substr(static_cast<size_t>(used))};
  return true;
}

int Change(const std::string& file, const std::vector<std::string>& sets) {
  if (file == "-") return Refuse(file, "standard input cannot be changed in place");
  std::vector<Dataset> wanted;
  for (const std::string& s : sets) {
    Dataset d;
    if (!ParseSet(s, &d)) return Refuse(file, "'" + s + "' does not read as RECORD:DATASET=TEXT");
    wanted.push_back(d);
  }
  std::vector<uint8_t> records;
  {
    const InputFile in(file);
    const uint32_t result = in.initError() != 0 ? in.initError() : Read(in.stream(), &records);
    if (result != QD_OK) return Refuse(file, "no IIM datasets read, file left as it was", result, in.stream());
  }
  // What each change will do, from the stored lengths of the datasets listed.
  const std::vector<Dataset> stored = Unpack(records);
  int present = 0;
  for (const Dataset& w : wanted) {
    const Dataset* s = nullptr;
    for (const Dataset& d : stored) {
      if (d.record == w.record && d.dataset == w.dataset && s == nullptr) s = &d;
    }
    const std::string what = Number(w.record, w.dataset);
    if (s == nullptr) {
      std::printf("%s: %s is not in the file (or not in a form that can be changed); not added\n", file.c_str(),
                  what.c_str());
    } else if (w.data.size() > s->data.size()) {
      std::printf("%s: %s cut to its stored length of %zu bytes\n", file.c_str(), what.c_str(), s->data.size());
    }
    present += s != nullptr;
  }
  if (present == 0) return Refuse(file, "none of the datasets to change is in the file; left as it was");
  std::vector<std::vector<uint8_t>> packed;
  std::vector<IimRecord*> list;
  for (const Dataset& w : wanted) packed.push_back(Pack(w));
  for (auto& p : packed) list.push_back(reinterpret_cast<IimRecord*>(p.data()));
  list.push_back(nullptr);
  return ChangeFile(file, false, "", [&](const qdlStream* s) { return QDParseReplaceIIMInfo(s, list.data()); });
}

int Preserve(const std::string& file, const Output& output) {
  const InputFile source(file);
  std::vector<uint8_t> records;
  uint32_t result = source.initError() != 0 ? source.initError() : Read(source.stream(), &records);
  if (result != QD_OK) return Refuse(file, "no IIM datasets read", result, source.stream());
  if (records.empty()) return Refuse(file, "no IIM datasets to preserve");
  qdlStream memory{};
  OutputBuffer block;
  result = qdhMemoryStreamInit(&memory, records.data(), static_cast<uint32_t>(records.size()));
  if (result == QD_OK) result = QDParseMakePreserveIIMInfo(QD_IIM_SOURCE_STREAM, &memory, block.stream());
  qdhStreamRelease(&memory);
  if (result != QD_OK) return Refuse(file, "no preserved block made", result);
  const std::vector<uint8_t> bytes = block.bytes();
  return WriteOutput(output, file, bytes.data(), bytes.size(),
                     "preserved IIM block, " + std::to_string(Unpack(records).size()) + " datasets");
}

}  // namespace

int RunIim(const std::string& file, const IimOptions& o) {
  if (!o.restore.empty()) {
    if (!file.empty() || !o.sets.empty() || !o.preserve.path.empty()) {
      return Refuse(o.restore, "--restore reads a preserved block alone");
    }
    const InputFile block(o.restore);
    OutputBuffer out;
    const uint32_t result =
        block.initError() != 0 ? block.initError() : QDParseReadPreserveIIMInfo(block.stream(), out.stream());
    if (result != QD_OK) return Refuse(o.restore, "not a preserved IIM block", result, block.stream());
    return Print(o.restore, Unpack(out.bytes()), o.json);
  }
  if (file.empty()) return Refuse("iim", "give a FILE, or --restore BLOCK");
  if (!o.sets.empty() && !o.preserve.path.empty()) return Refuse(file, "--set and --preserve are separate runs");
  if (!o.sets.empty()) return Change(file, o.sets);
  if (!o.preserve.path.empty()) return Preserve(file, o.preserve);
  const InputFile in(file);
  std::vector<uint8_t> records;
  const uint32_t result = in.initError() != 0 ? in.initError() : Read(in.stream(), &records);
  if (result != QD_OK) return Refuse(file, "no IIM datasets read", result, in.stream());
  return Print(file, Unpack(records), o.json);
}

}  // namespace qdtool
