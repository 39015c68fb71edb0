// QDParseGetJPEGInfo and QDParseGetSOFData over arbitrary bytes. The frame
// header copied out must be a piece of the input.
#include <algorithm>
#include <cstdlib>

#include "support/test_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  const std::vector<uint8_t> bytes(data, data + size);
  {
    qdtest::TestStream stream(bytes);
    JpegImageInfo info{};
    (void)QDParseGetJPEGInfo(stream.stream(), &info);
    if (stream.IsOpen()) std::abort();
  }
  qdtest::TestStream source(bytes);
  qdtest::TestStream destination;
  const uint32_t result = QDParseGetSOFData(source.stream(), destination.stream());
  if (source.IsOpen() || destination.IsOpen()) std::abort();
  const std::vector<uint8_t>& out = destination.data();
  if (result == 0 && !out.empty() &&
      std::search(bytes.begin(), bytes.end(), out.begin(), out.end()) == bytes.end()) {
    std::abort();
  }
  return 0;
}
