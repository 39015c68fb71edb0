// A read-only host stream over bytes in memory, for running the JPEG readers
// over a thumbnail held inside an Exif block.
#pragma once

#include <cstdint>

#include "qdparse.h"

namespace qd::extract {

struct MemoryRange {
  const uint8_t* data;
  uint32_t size;
  uint32_t position;
};

// A stream whose context is `range`; it lives as long as `range` does.
qdlStream MemoryStream(MemoryRange* range);

}  // namespace qd::extract
