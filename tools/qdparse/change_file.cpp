#include "change_file.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sys/stat.h>

#include "host_streams.h"

namespace qdtool {

bool ReadWhole(const std::string& path, std::vector<uint8_t>* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), {});
  return !in.bad();
}

namespace {

// What the library changed: bytes and places that differ.
std::string Difference(const std::vector<uint8_t>& before, const std::vector<uint8_t>& after) {
  size_t bytes = 0, places = 0;
  for (size_t i = 0; i < before.size(); ++i) {
    if (before[i] == after[i]) continue;
    if (i == 0 || before[i - 1] == after[i - 1]) ++places;
    ++bytes;
  }
  return std::to_string(bytes) + " bytes in " + std::to_string(places) + " places";
}

}  // namespace

int ChangeFile(const std::string& file, bool dryRun, const std::string& backup,
               const std::function<uint32_t(const qdlStream*)>& change) {
  if (file == "-") return Refuse(file, "standard input cannot be changed in place");
  std::vector<uint8_t> before;
  if (!ReadWhole(file, &before)) return Refuse(file, "cannot read it");
  if (before.size() > UINT32_MAX) return Refuse(file, "longer than 4 GiB - 1, which the streams cannot address");
  std::vector<uint8_t> copy = before;
  qdlStream memory{};
  uint32_t result = qdhMemoryStreamInitWritable(&memory, copy.data(), static_cast<uint32_t>(copy.size()));
  if (result == 0) result = change(&memory);
  qdhStreamRelease(&memory);
  if (result != QD_OK) return Refuse(file, "change refused, file left as it was", result);
  if (copy.size() != before.size()) return Refuse(file, "the change would resize the file; left as it was");
  const std::string what = Difference(before, copy);
  if (dryRun) {
    std::printf("%s: would change %s\n", file.c_str(), what.c_str());
    return 0;
  }
  if (!backup.empty()) {
    struct stat st {};
    if (stat((file + backup).c_str(), &st) == 0) return Refuse(file + backup, "backup exists; not overwritten");
    if (SaveFile(file + backup, before.data(), before.size()) != 0) return 1;
  }
  const InputFile in(file);
  result = in.initError() != 0 ? in.initError() : change(in.stream());
  if (result != QD_OK) return Refuse(file, "change failed", result, in.stream());
  std::printf("%s: changed %s\n", file.c_str(), what.c_str());
  return 0;
}


}  // namespace qdtool
