#include "tiffjpeg/jpeg_stream.h"

#include <cstring>

#include "frame/byte_order.h"
#include "frame/memory_block.h"
#include "frame/stream_port.h"

namespace qd::jpeg {
namespace {

constexpr uint32_t kTiffAt = 6;  // signature (5 bytes) and a pad byte

bool ReadByte(const qdlStream* stream, uint8_t* byte) {
  uint32_t error = 0;
  StreamReadExact(stream, byte, 1, kErrorBase, &error);
  return error == 0;
}

}  // namespace

Status AdoptExifBlock(TiffBlockInfo* block) {
  const uint32_t length = BlockLength(block->segment);
  if (length < kTiffAt + 2) return ST_UNSUPPORTED;
  const uint8_t* s = block->segment;
  if (std::memcmp(s, "Exif", 5) != 0 && std::memcmp(s, "LoLe", 5) != 0) return ST_UNSUPPORTED;
  ByteOrder order = kLittleEndian;
  if (!OrderFromMark(s + kTiffAt, &order)) return ST_UNSUPPORTED;
  block->tiff = block->segment + kTiffAt;
  block->tiffSize = length - kTiffAt;
  block->byteOrder = order;
  block->ifdOffset = 0;
  return ST_OK;
}

void ReleaseExifBlock(TiffBlockInfo* block) {
  (void)BlockFree(block->segment);
  *block = TiffBlockInfo{};
}

uint8_t NextMarker(const qdlStream* stream) {
  uint8_t byte = 0;
  for (;;) {
    do {
      if (!ReadByte(stream, &byte)) return 0;
    } while (byte != 0xFF);
    do {
      if (!ReadByte(stream, &byte)) return 0;
    } while (byte == 0xFF);
    if (byte != 0x00) return byte;  // 0xFF 0x00 is a stuffed zero, not a marker
  }
}

}  // namespace qd::jpeg
