// The tool's commands, each returning the process exit status: 0 done,
// 1 a file was refused (reported on stderr).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qdtool {

int RunInfo(const std::vector<std::string>& files, bool json);
int RunProps(const std::string& file, bool json);
int RunThumb(const std::string& file, const std::string& output);
int RunWav(const std::string& file, bool json);
int RunType(const std::vector<std::string>& files, bool json);
int RunGet(const std::string& file, uint32_t id, bool json);
int RunHeap(const std::string& file, const std::string& output, bool developed);
int RunMakerNote(const std::string& file, bool json);

}  // namespace qdtool
