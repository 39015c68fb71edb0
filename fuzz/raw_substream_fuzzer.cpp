// The RAW sub-stream exports over arbitrary bytes, each into a fresh output
// stream. Input: u32 offset, u32 length (little-endian), a flags byte, then
// the file. Flags: bit 0 folds offset and length into the file's size, bit 1
// leaves the strip exports without an output, bits 4-7 cap every host read
// of the file at 16 * n bytes (0: no cap).
// Whatever the file, no block is left behind, every opened stream is closed,
// and an export writes only bytes of the file: _cropStream exactly the range
// it was asked for (less only after a short read), the others one piece of
// the file.
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <vector>

#include "frame/byte_order.h"
#include "frame/fault.h"
#include "support/test_stream.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kPrefix = 9;

// A successful export's output is a nonempty run of the file's bytes.
bool PieceOf(const Bytes& out, const Bytes& file) {
  if (out.empty() || out.size() > file.size()) return false;
  return std::search(file.begin(), file.end(), std::boyer_moore_horspool_searcher(out.begin(), out.end())) !=
         file.end();
}

struct Streams {
  qdtest::TestStream in, out;
  Streams(const Bytes& file, uint32_t chunk) : in(file) { in.LimitTransfers(chunk); }
  bool AnyOpen() const { return in.IsOpen() || out.IsOpen(); }
};

void CheckCrop(const Bytes& file, uint32_t chunk, uint32_t offset, uint32_t length) {
  Streams s(file, chunk);
  uint32_t error = 0;
  const uint32_t start = static_cast<uint32_t>((uint64_t{offset} * 31 + length) % (file.size() + 1));
  s.in.stream()->seek(&s.in, QD_SEEK_START, static_cast<int32_t>(start), &error);
  const uint32_t result = _cropStream(s.in.stream(), offset, length, s.out.stream());
  if (s.AnyOpen() || s.in.CountOf(qdtest::Callback::Open) != 0) std::abort();
  if (s.in.position() != start) std::abort();  // restored
  const bool inside = !file.empty() && uint64_t{offset} + length <= file.size();
  if ((result == QD_OK) != inside) std::abort();
  const Bytes& out = s.out.data();
  if (out.size() > length) std::abort();
  if (result != QD_OK) {
    if (!out.empty()) std::abort();
    return;
  }
  const uint32_t expected = chunk != 0 ? std::min(length, chunk) : length;
  if (out.size() != expected || !std::equal(out.begin(), out.end(), file.begin() + offset)) std::abort();
}

void CheckJpeg(const Bytes& file, uint32_t chunk, uint8_t which) {
  Streams s(file, chunk);
  const uint32_t result = qdParseGetJpegDataFromQdRAW(s.in.stream(), which, s.out.stream());
  if (s.AnyOpen()) std::abort();
  if (result == QD_OK ? !PieceOf(s.out.data(), file) : !s.out.data().empty()) std::abort();
}

void CheckStrip(const Bytes& file, uint32_t chunk, bool withOut, decltype(&qdParseGetLCDDataFromTiffRAW) fn) {
  Streams s(file, chunk);
  uint16_t width = 0, height = 0;
  const uint32_t result = fn(s.in.stream(), &width, &height, withOut ? s.out.stream() : nullptr);
  if (s.AnyOpen()) std::abort();
  const Bytes& out = s.out.data();
  if (!withOut && s.out.TotalCalls() != 0) std::abort();
  if (out.empty()) return;  // a strip of no bytes is a successful copy of nothing
  if (result != QD_OK || !withOut || !PieceOf(out, file)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kPrefix || size > (1u << 20)) return 0;
  uint32_t offset = qd::GetLE32(data);
  uint32_t length = qd::GetLE32(data + 4);
  const uint8_t flags = data[8];
  const Bytes file(data + kPrefix, data + size);
  if ((flags & 1) != 0) {
    offset %= file.size() + 1;
    length %= file.size() + 1;
  }
  const uint32_t chunk = 16u * (flags >> 4);
  const int64_t live = qd::fault::LiveBlocks();

  CheckCrop(file, chunk, offset, length);
  CheckJpeg(file, chunk, 1);
  CheckJpeg(file, chunk, 2);
  CheckStrip(file, chunk, (flags & 2) == 0, qdParseGetTWAINThumbnailDataFromTiffRAW);
  CheckStrip(file, chunk, (flags & 2) == 0, qdParseGetLCDDataFromTiffRAW);
  if (qd::fault::LiveBlocks() != live) std::abort();
  return 0;
}
