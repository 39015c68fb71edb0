#include "support/wave_builder.h"

#include "support/heap_builder.h"
#include "support/jpeg_builder.h"

namespace qdtest {
namespace {

Bytes Le32(uint32_t v) { return U32s({v}, false); }

// Chunks start on even offsets: an odd body is followed by a pad byte.
Bytes Chunk(const char* id, const Bytes& body) {
  const auto size = static_cast<uint32_t>(body.size());
  return Concat({Bytes(id, id + 4), Le32(size), body, Bytes(size % 2, 0)});
}

}  // namespace

std::vector<uint8_t> BuildWave(const WaveShape& s) {
  Bytes format = Concat({U16s({s.formatTag, s.channels}, false), Le32(s.sampleRate),
                         Le32(s.bytesPerSecond), U16s({s.blockAlign, s.bitsPerSample}, false)});
  format.resize(s.formatSize, 0);  // cut short, or cbSize and extra bytes as zeros
  Bytes samples(s.dataLength);
  for (uint32_t i = 0; i < s.dataLength; ++i) samples[i] = static_cast<uint8_t>(0x80 + (i % 17));
  // LIST "INFO" holding one ISFT text.
  const Bytes list = Chunk("LIST", {'I', 'N', 'F', 'O', 'I', 'S', 'F', 'T', 2, 0, 0, 0, 'x', 0});
  const Bytes body = Concat({{'W', 'A', 'V', 'E'}, s.listFirst ? list : Bytes{},
                             Chunk("fmt ", format), Chunk("data", samples)});
  return Concat({{'R', 'I', 'F', 'F'}, Le32(static_cast<uint32_t>(body.size())), body});
}

}  // namespace qdtest
