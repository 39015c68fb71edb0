// The format chunk of a WAVE sound memo. The cameras write "fmt " as the first
// chunk, so nothing else is searched for: a file with any other chunk in front
// (a "LIST", say) is not one of theirs. The RIFF size is not checked.
#include <cstring>

#include "frame/buffered_reader.h"
#include "frame/byte_order.h"
#include "frame/export_call.h"

namespace qd::sound {
namespace {

constexpr uint32_t kReaderCapacity = 1024;

// RIFF header: "RIFF", u32 size, "WAVE"; then chunks of {id[4], u32 size, data}.
constexpr char kRiffId[] = "RIFF";
constexpr char kWaveId[] = "WAVE";
constexpr char kFormatId[] = "fmt";  // the trailing space is not compared
constexpr uint32_t kIdSize = 4;
constexpr uint32_t kChunkHeaderSize = 8;

// The format chunk's first 16 bytes: tag, channels, rate, bytes per second,
// block align, bits per sample (all little-endian).
constexpr uint32_t kFormatSize = 16;
constexpr uint32_t kTagAt = 0;
constexpr uint32_t kChannelsAt = 2;
constexpr uint32_t kRateAt = 4;
constexpr uint32_t kBytesPerSecondAt = 8;
constexpr uint32_t kBitsAt = 14;

Status ReadFormat(const StreamPort& port, QdWaveInfo* info) {
  ScopedReader reader;
  Status st = reader.Open(port, kReaderCapacity);
  if (st != ST_OK) return st;

  uint8_t riff[kChunkHeaderSize];
  st = ReaderRead(&reader, sizeof riff, riff);
  if (st != ST_OK) return st;
  if (std::memcmp(riff, kRiffId, kIdSize) != 0) return ST_UNSUPPORTED;
  uint8_t wave[kIdSize];
  st = ReaderRead(&reader, sizeof wave, wave);
  if (st != ST_OK) return st;
  if (std::memcmp(wave, kWaveId, kIdSize) != 0) return ST_UNSUPPORTED;

  uint8_t chunk[kChunkHeaderSize];
  st = ReaderRead(&reader, kIdSize, chunk);
  if (st != ST_OK) return st;
  if (std::memcmp(chunk, kFormatId, sizeof kFormatId - 1) != 0) return ST_UNSUPPORTED;
  st = ReaderRead(&reader, kChunkHeaderSize - kIdSize, chunk + kIdSize);
  if (st != ST_OK) return st;
  if (GetLE32(chunk + kIdSize) < kFormatSize) return ST_UNSUPPORTED;

  uint8_t format[kFormatSize];
  st = ReaderRead(&reader, sizeof format, format);
  if (st != ST_OK) return st;
  if (info != nullptr) {
    info->formatTag = GetLE16(format + kTagAt);
    info->channels = GetLE16(format + kChannelsAt);
    info->sampleRate = GetLE32(format + kRateAt);
    info->bytesPerSecond = GetLE32(format + kBytesPerSecondAt);
    info->bitsPerSample = GetLE16(format + kBitsAt);
  }
  return ST_OK;
}

}  // namespace
}  // namespace qd::sound

extern "C" QD_EXPORT uint32_t QD_API QDParseGetWAVEInfo(const qdlStream* stream, QdWaveInfo* info) {
  using namespace qd;
  return RunStreamExport({stream, QD_OPEN_READ, kNeedsReading, true}, {{info, sizeof(QdWaveInfo)}},
                         [&](StreamPort& port) { return sound::ReadFormat(port, info); });
}
