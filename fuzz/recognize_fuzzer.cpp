// Container recognition over arbitrary bytes, through every probe. Whatever
// the outcome, releasing what recognition handed out must leave no block.
#include <cstdlib>

#include "frame/fault.h"
#include "frame/memory_block.h"
#include "frame/stream_port.h"
#include "heap/recognize.h"
#include "support/test_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  qdtest::TestStream stream(std::vector<uint8_t>(data, data + size));
  qd::StreamPort port;
  qd::MakeStreamPort(stream.stream(), &port);

  HeapObject heap{};
  TiffBlockInfo exif{};
  JpegSofInfo sof{};
  JfifInfo jfif{};
  TiffImageInfo image{};
  OutPutInfo extensions{};
  uint16_t kind = 0;
  const int64_t live = qd::fault::LiveBlocks();
  const qd::Status st =
      qd::RecognizeContainer(port, &kind, {&heap, &exif, &sof, &jfif, &image, &extensions});
  if (st != qd::ST_OK && qd::fault::LiveBlocks() != live) std::abort();
  if (st != qd::ST_OK && kind != qd::kKindNone) std::abort();
  (void)qdParseFreeHeapObject(heap);
  (void)qdParseFreeExifBuffer(&exif);
  (void)qdParseFreeOutPutInfo(&extensions);
  if (qd::fault::LiveBlocks() != live) std::abort();
  return 0;
}
