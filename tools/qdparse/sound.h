// WAVE sound memos: the format chunk and the sound properties the library
// derives from the stream's length. Shared by `wav` and `info`.
#pragma once

#include <cstdint>
#include <string>

#include "qdparse.h"
#include "render.h"

namespace qdtool {

struct SoundFacts {
  QdWaveInfo wave{};
  QdSoundProperties sound{};
};

// QDParseGetWAVEInfo, then QDParseSoundProperties; the first failure's result.
uint32_t ReadSound(const qdlStream* in, SoundFacts* out);

// Rows at `depth`, and the matching JSON members.
void SoundText(std::string& out, int depth, const SoundFacts& facts);
void SoundJson(Json& j, const SoundFacts& facts);

}  // namespace qdtool
