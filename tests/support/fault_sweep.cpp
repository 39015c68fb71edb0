#include "support/fault_sweep.h"

#include "frame/fault.h"

namespace qdtest {

int64_t LiveBlocks() { return qd::fault::LiveBlocks(); }

}  // namespace qdtest
