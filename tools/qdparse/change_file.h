// Changing a file in place the safe way, for every command that does.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "qdparse.h"

namespace qdtool {

bool ReadWhole(const std::string& path, std::vector<uint8_t>* bytes);

// Runs `change` on a copy of the file in memory; only when the library
// accepts it and the length stays is it run on the file itself (after a
// backup to FILE + `backup` when that is not empty), so a refused change
// leaves the file byte for byte as it was. With `dryRun` the file is not
// touched. Reports what changed; returns the exit status.
int ChangeFile(const std::string& file, bool dryRun, const std::string& backup,
               const std::function<uint32_t(const qdlStream*)>& change);

}  // namespace qdtool
