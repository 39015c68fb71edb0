// Container recognition over arbitrary bytes, through every probe. Whatever
// the outcome, the owner must leave no block behind.
#include <cstdlib>

#include "frame/fault.h"
#include "frame/stream_port.h"
#include "container/recognize.h"
#include "support/test_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  qdtest::TestStream stream(std::vector<uint8_t>(data, data + size));
  qd::StreamPort port;
  qd::MakeStreamPort(stream.stream(), &port);

  const int64_t live = qd::fault::LiveBlocks();
  {
    qd::Recognition found;
    const qd::Status st = found.Run(port);
    if (st != qd::ST_OK && qd::fault::LiveBlocks() != live) std::abort();
    if (st != qd::ST_OK && found.kind != qd::kKindNone) std::abort();
  }
  if (qd::fault::LiveBlocks() != live) std::abort();
  return 0;
}
