// RIFF/WAVE files laid out by hand: "RIFF", size, "WAVE", an optional "LIST"
// chunk, the "fmt " chunk and a "data" chunk of made-up samples.
#pragma once

#include <cstdint>
#include <vector>

namespace qdtest {

struct WaveShape {
  uint16_t formatTag = 1;  // PCM
  uint16_t channels = 1;
  uint32_t sampleRate = 11000, bytesPerSecond = 11000;
  uint16_t blockAlign = 1, bitsPerSample = 8;
  uint32_t formatSize = 16;  // size field of "fmt "; the chunk holds that many bytes
  bool listFirst = false;    // an "INFO" LIST chunk in front of "fmt "
  uint32_t dataLength = 64;
};

std::vector<uint8_t> BuildWave(const WaveShape& shape = {});

}  // namespace qdtest
