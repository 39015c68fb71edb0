// The library's live-block count, for the leak checks of the suites (the
// fault sweep itself is the shared one in tests/sweep).
#pragma once

#include <cstdint>

#include "support/test_stream.h"

namespace qdtest {

// Library blocks allocated and not released on this thread.
int64_t LiveBlocks();

}  // namespace qdtest
