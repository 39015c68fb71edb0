// The parse export over arbitrary bytes with every output requested. Whatever
// the outcome, no block may be left behind, every stream opened must be
// closed again, and the property stream must hold whole records.
#include <cstdlib>
#include <vector>

#include "frame/fault.h"
#include "support/test_stream.h"

namespace {

bool WholeRecords(const std::vector<uint8_t>& s) {
  size_t at = 0;
  while (s.size() - at >= 6) {
    const uint32_t size = s[at + 2] | s[at + 3] << 8 | s[at + 4] << 16 | uint32_t{s[at + 5]} << 24;
    if (size > s.size() - at - 6) return false;
    at += 6 + size;
  }
  return at == s.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  qdtest::TestStream in(std::vector<uint8_t>(data, data + size)), comment, property, dcf;
  QdThumbnailInfo thumb;
  QdImageInfo image;
  QdAuxImageInfo aux;
  ExifCaptureInfo capture;
  ExifShotValues shot;
  const int64_t live = qd::fault::LiveBlocks();
  (void)QDParseThumbnailFileStreamEx2(in.stream(), static_cast<uint32_t>(size), &thumb, &image, &aux, &capture,
                                      &shot, nullptr, comment.stream(), property.stream(), dcf.stream());
  if (qd::fault::LiveBlocks() != live) std::abort();
  if (in.IsOpen() || comment.IsOpen() || property.IsOpen() || dcf.IsOpen()) std::abort();
  if (!WholeRecords(property.data()) || !WholeRecords(comment.data())) std::abort();
  return 0;
}
