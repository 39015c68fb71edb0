// The description `info --json` prints for a file, as a value: shared by
// `info` and `scan`.
#pragma once

#include <string>

#include "render.h"

namespace qdtool {

// Fills `out` with the file's object, or with the error object of a refusal
// (RefusalJson). Returns whether the file was described.
bool DescribeJson(const std::string& file, Json* out);

}  // namespace qdtool
