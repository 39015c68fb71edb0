// The tool's commands, each returning the process exit status: 0 done,
// 1 a file was refused (reported on stderr).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host_streams.h"

namespace qdtool {

// Options of the commands that change properties; empty or 0 = not given.
struct SetOptions {
  int orientation = 0;
  std::string datetime, comment, exposure, fnumber;
  int iso = 0;
  bool dryRun = false;
  std::string backup;
  std::string thumbnail;   // exif: a JPEG for the new thumbnail
  bool wholeJpeg = false;  // exif: the whole file with the new segment, not the segment alone
};

// `iim`: list (or change, or preserve) a file's IIM datasets, or restore a block.
struct IimOptions {
  bool json = false;
  std::vector<std::string> sets;  // "2:120=TEXT"
  Output preserve;  // --preserve: where the preserved block goes
  std::string restore;
};

// `scan`: -o empty or "-" is standard output.
struct ScanOptions {
  unsigned jobs = 1;
  bool csv = false;
  std::vector<std::string> kinds;  // type keys, "refused"; empty: every file
  std::string output;
  bool force = false;
};

int RunInfo(const std::vector<std::string>& files, bool json);
int RunProps(const std::string& file, bool json);
int RunThumb(const std::string& file, const Output& output);
int RunWav(const std::string& file, bool json);
int RunType(const std::vector<std::string>& files, bool json);
int RunGet(const std::string& file, uint32_t id, bool json);
int RunHeap(const std::string& file, const Output& output, bool developed);
int RunMakerNote(const std::string& file, bool json);
int RunSet(const std::string& file, const SetOptions& options);
int RunSetValue(const std::string& file, uint32_t id, const std::string& value, const SetOptions& options);
int RunExif(const std::string& file, const Output& output, const SetOptions& options);
int RunIim(const std::string& file, const IimOptions& options);
// Exit 1 when any file does not conform or cannot be checked.
int RunCheck(const std::vector<std::string>& files, bool json);
int RunScan(const std::vector<std::string>& roots, const ScanOptions& options);

}  // namespace qdtool
