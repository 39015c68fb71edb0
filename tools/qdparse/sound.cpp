#include "sound.h"

#include <cstdio>

#include "commands.h"
#include "host_streams.h"

namespace qdtool {

uint32_t ReadSound(const qdlStream* in, SoundFacts* out) {
  const uint32_t result = QDParseGetWAVEInfo(in, &out->wave);
  if (result != QD_OK) return result;
  return QDParseSoundProperties(in, &out->sound, 0);
}

namespace {

std::string FormatTagName(uint16_t tag) {
  switch (tag) {
    case 1: return "PCM";
    case 2: return "ADPCM";
    case 3: return "IEEE float";
    case 6: return "A-law";
    case 7: return "mu-law";
    default: return "format";
  }
}

}  // namespace

void SoundText(std::string& out, int depth, const SoundFacts& f) {
  const QdWaveInfo& w = f.wave;
  const QdSoundProperties& s = f.sound;
  Row(out, depth, "format chunk", "");
  Row(out, depth + 1, "format", FormatTagName(w.formatTag) + " (tag " + std::to_string(w.formatTag) + ")");
  Row(out, depth + 1, "channels", std::to_string(w.channels));
  Row(out, depth + 1, "sample rate", std::to_string(w.sampleRate) + " Hz");
  Row(out, depth + 1, "byte rate", std::to_string(w.bytesPerSecond) + " bytes per second");
  Row(out, depth + 1, "sample size", std::to_string(w.bitsPerSample) + " bits");
  Row(out, depth, "as a camera memo", "");
  Row(out, depth + 1, "duration", Fixed(s.duration, 3) + " s");
  Row(out, depth + 1, "sample rate", std::to_string(s.sampleRate) + " Hz");
  Row(out, depth + 1, "sample size", std::to_string(s.bitsPerSample) + " bits");
}

void SoundJson(Json& j, const SoundFacts& f) {
  const QdWaveInfo& w = f.wave;
  const QdSoundProperties& s = f.sound;
  j["wave"] = {{"formatTag", Copy(w.formatTag)},           {"channels", Copy(w.channels)},
               {"sampleRate", Copy(w.sampleRate)},         {"bytesPerSecond", Copy(w.bytesPerSecond)},
               {"bitsPerSample", Copy(w.bitsPerSample)}};
  j["sound"] = {{"duration", Short(s.duration)},
                {"sampleRate", Copy(s.sampleRate)},
                {"bitsPerSample", s.bitsPerSample}};
}

int RunWav(const std::string& file, bool json) {
  const InputFile in(file);
  if (in.initError() != 0) return Refuse(file, "cannot make a stream", in.initError());
  SoundFacts facts;
  const uint32_t result = ReadSound(in.stream(), &facts);
  if (result != QD_OK) return Refuse(file, "not a WAVE sound memo", result, in.stream());
  if (json) {
    Json j = {{"file", file}};
    SoundJson(j, facts);
    PrintJson(j);
  } else {
    std::string out = file + "\n";
    SoundText(out, 1, facts);
    std::fputs(out.c_str(), stdout);
  }
  return 0;
}

}  // namespace qdtool
