#include "support/wave_builder.h"

namespace qdtest {
namespace {

void Le(std::vector<uint8_t>& b, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void Chunk(std::vector<uint8_t>& b, const char* id, const std::vector<uint8_t>& body) {
  b.insert(b.end(), id, id + 4);
  Le(b, static_cast<uint32_t>(body.size()), 4);
  b.insert(b.end(), body.begin(), body.end());
  if (body.size() % 2 != 0) b.push_back(0);  // chunks start on even offsets
}

}  // namespace

std::vector<uint8_t> BuildWave(const WaveShape& s) {
  std::vector<uint8_t> format;
  Le(format, s.formatTag, 2);
  Le(format, s.channels, 2);
  Le(format, s.sampleRate, 4);
  Le(format, s.bytesPerSecond, 4);
  Le(format, s.blockAlign, 2);
  Le(format, s.bitsPerSample, 2);
  format.resize(s.formatSize, 0);  // cut short, or cbSize and extra bytes as zeros

  std::vector<uint8_t> body = {'W', 'A', 'V', 'E'};
  if (s.listFirst) {  // LIST "INFO" holding one ISFT text
    Chunk(body, "LIST", {'I', 'N', 'F', 'O', 'I', 'S', 'F', 'T', 2, 0, 0, 0, 'x', 0});
  }
  Chunk(body, "fmt ", format);
  std::vector<uint8_t> samples(s.dataLength);
  for (uint32_t i = 0; i < s.dataLength; ++i) samples[i] = static_cast<uint8_t>(0x80 + (i % 17));
  Chunk(body, "data", samples);

  std::vector<uint8_t> file = {'R', 'I', 'F', 'F'};
  Le(file, static_cast<uint32_t>(body.size()), 4);
  file.insert(file.end(), body.begin(), body.end());
  return file;
}

}  // namespace qdtest
