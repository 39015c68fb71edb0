// The sound exports over arbitrary bytes: the WAVE format chunk (read whole
// and again one byte per host read), the properties from the stream's length,
// and the estimate from a file name taken from the input's last bytes.
// Nothing may stay open or allocated, and a failed read leaves its record
// cleared.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "frame/byte_order.h"
#include "frame/fault.h"
#include "support/test_stream.h"

namespace {

uint32_t WaveInfo(const std::vector<uint8_t>& bytes, uint32_t chunk, QdWaveInfo* info) {
  qdtest::TestStream in(bytes);
  in.LimitTransfers(chunk);
  std::memset(info, 0xA5, sizeof *info);
  const uint32_t result = QDParseGetWAVEInfo(in.stream(), info);
  if (in.IsOpen()) std::abort();
  return result;
}

bool FixedFormat(const QdSoundProperties& p) {
  return p.sampleRate == 11000 && p.fixed[0] == 1 && p.fixed[1] == 1 && p.bitsPerSample == 8;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  const std::vector<uint8_t> bytes(data, data + size);
  const int64_t live = qd::fault::LiveBlocks();

  QdWaveInfo whole, trickled;
  const uint32_t result = WaveInfo(bytes, 0, &whole);
  // A host that hands out one byte per read changes nothing.
  const uint32_t trickledResult = WaveInfo(bytes, 1, &trickled);
  if (trickledResult != result || std::memcmp(&whole, &trickled, sizeof whole) != 0) std::abort();
  const QdWaveInfo cleared{};
  if (result == QD_OK) {
    // "fmt " must be the first chunk, so its fields sit at fixed places.
    if (size < 36 || whole.formatTag != qd::GetLE16(data + 20) || whole.channels != qd::GetLE16(data + 22) ||
        whole.sampleRate != qd::GetLE32(data + 24) || whole.bytesPerSecond != qd::GetLE32(data + 28) ||
        whole.bitsPerSample != qd::GetLE16(data + 34)) {
      std::abort();
    }
  } else if (std::memcmp(&whole, &cleared, sizeof whole) != 0) {
    std::abort();
  }

  qdtest::TestStream in(bytes);
  QdSoundProperties props{};
  props.value = props.fileNumber = 0xA5A5A5A5u;
  if (QDParseSoundProperties(in.stream(), &props, 0) != QD_OK || in.IsOpen()) std::abort();
  if (!FixedFormat(props) || props.value != 0xA5A5A5A5u || props.fileNumber != 0xA5A5A5A5u) std::abort();
  if (!(props.duration >= 0.0f) || std::fabs(props.duration - size / 11000.0) > 1e-3 + size * 1e-6) std::abort();

  // A name of up to 12 characters from the end of the input.
  const size_t n = std::min<size_t>(size, 12);
  const std::string name(reinterpret_cast<const char*>(data + size - n), n);
  QdSoundProperties estimate{};
  const uint32_t length = static_cast<uint32_t>(size);
  const uint32_t r = QDEstimateSoundProperties(name.c_str(), length, 7, &estimate, 0);
  if (r == QD_OK) {
    if (!FixedFormat(estimate) || estimate.value != 7 || estimate.fileNumber > 99999) std::abort();
    if (estimate.duration != props.duration) std::abort();
  } else if (r != QD_E_UNSUPPORTED) {
    std::abort();
  }
  if (qd::fault::LiveBlocks() != live) std::abort();
  return 0;
}
