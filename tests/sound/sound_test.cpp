// WAVE format information and the sound properties of memos.
#include <gtest/gtest.h>

#include <cstring>

#include "support/test_stream.h"
#include "support/wave_builder.h"

namespace {

using qdtest::BuildWave;
using qdtest::Callback;
using qdtest::TestStream;
using qdtest::WaveShape;

// Packed record fields by value: gtest's comparisons bind references.
template <typename T>
T Val(T v) {
  return v;
}

bool Cleared(const QdWaveInfo& info) {
  const QdWaveInfo zero{};
  return std::memcmp(&info, &zero, sizeof info) == 0;
}

// The result, with `info` preset to garbage; a failure must leave it cleared.
uint32_t WaveInfo(std::vector<uint8_t> file, QdWaveInfo* info) {
  TestStream s(std::move(file));
  std::memset(info, 0xAB, sizeof *info);
  const uint32_t result = QDParseGetWAVEInfo(s.stream(), info);
  if (result != QD_OK) EXPECT_TRUE(Cleared(*info));
  EXPECT_FALSE(s.IsOpen());
  return result;
}

TEST(WaveInfo, CopiesTheFormatChunkButNotBlockAlign) {
  WaveShape shape;
  shape.formatTag = 0x0011;
  shape.channels = 2;
  shape.sampleRate = 22050;
  shape.bytesPerSecond = 0x01020304;
  shape.blockAlign = 0x7777;
  shape.bitsPerSample = 4;
  shape.formatSize = 20;  // an extended chunk is read as far as needed
  QdWaveInfo info;
  ASSERT_EQ(WaveInfo(BuildWave(shape), &info), QD_OK);
  EXPECT_EQ(Val(info.formatTag), 0x0011);
  EXPECT_EQ(Val(info.channels), 2);
  EXPECT_EQ(Val(info.sampleRate), 22050u);
  EXPECT_EQ(Val(info.bytesPerSecond), 0x01020304u);
  EXPECT_EQ(Val(info.bitsPerSample), 4);
  TestStream s(BuildWave());
  EXPECT_EQ(QDParseGetWAVEInfo(s.stream(), nullptr), QD_OK);
}

TEST(WaveInfo, RejectsWhatTheCamerasDoNotWrite) {
  QdWaveInfo info;
  WaveShape list;
  list.listFirst = true;
  EXPECT_EQ(WaveInfo(BuildWave(list), &info), QD_E_UNSUPPORTED);
  WaveShape shortFormat;
  shortFormat.formatSize = 15;
  EXPECT_EQ(WaveInfo(BuildWave(shortFormat), &info), QD_E_UNSUPPORTED);
  for (size_t at : {0u, 8u, 12u}) {  // "RIFF", "WAVE", "fmt"
    std::vector<uint8_t> bad = BuildWave();
    bad[at + 1] ^= 0x20;
    EXPECT_EQ(WaveInfo(bad, &info), QD_E_UNSUPPORTED) << at;
  }
  // Prefixes shorter than the header and the 16 format bytes end cleanly.
  const std::vector<uint8_t> full = BuildWave();
  for (size_t n = 0; n <= 40; ++n) {
    EXPECT_EQ(WaveInfo({full.begin(), full.begin() + n}, &info), n < 36 ? QD_E_FAILED : QD_OK) << n;
  }
}

TEST(SoundProperties, DurationFollowsFromTheStreamLengthAlone) {
  QdSoundProperties p;
  std::memset(&p, 0xAB, sizeof p);
  TestStream s(std::vector<uint8_t>(11000));
  s.SetNull(Callback::Read);
  ASSERT_EQ(QDParseSoundProperties(s.stream(), &p, 0), QD_OK);
  EXPECT_FLOAT_EQ(Val(p.duration), 1.0f);
  EXPECT_EQ(Val(p.sampleRate), 11000u);
  EXPECT_EQ(p.fixed[0], 1);
  EXPECT_EQ(p.fixed[1], 1);
  EXPECT_EQ(p.bitsPerSample, 8);
  EXPECT_EQ(Val(p.value), 0xABABABABu) << "not this function's field";
  EXPECT_EQ(Val(p.fileNumber), 0xABABABABu);
  EXPECT_FALSE(s.IsOpen());
  TestStream empty;
  ASSERT_EQ(QDParseSoundProperties(empty.stream(), &p, 0), QD_OK);
  EXPECT_EQ(Val(p.duration), 0.0f);
  EXPECT_EQ(QDParseSoundProperties(empty.stream(), nullptr, 0), QD_E_INVALID_ARG);
}

TEST(EstimateSoundProperties, NamesDecideAcceptanceAndFileNumber) {
  struct Case {
    const char* name;
    uint32_t result;
    uint32_t number;
  };
  const Case cases[] = {
      {"MVI_0123.WAV", QD_OK, 123},  {"ABCd0123.WAV", QD_OK, 123},  {"ABC01234.TIF", QD_OK, 1234},
      {"ABCD0123.VRW", QD_OK, 0},    {"MVI_01A3.WAV", QD_OK, 0},    {"IMG_0001.JPGX", QD_OK, 0},
      {"MVI_0123", QD_E_UNSUPPORTED, 0},     {"SND_0001.MP3", QD_E_UNSUPPORTED, 0},
      {"MVI_0123.wav", QD_E_UNSUPPORTED, 0}, {"A.B.WAV", QD_E_UNSUPPORTED, 0},
  };
  for (const Case& c : cases) {
    QdSoundProperties p;
    std::memset(&p, 0xAB, sizeof p);
    ASSERT_EQ(QDEstimateSoundProperties(c.name, 22000, 0x51, &p, 0), c.result) << c.name;
    if (c.result != QD_OK) {
      EXPECT_EQ(Val(p.value), 0xABABABABu) << c.name;
      continue;
    }
    EXPECT_EQ(Val(p.fileNumber), c.number) << c.name;
    EXPECT_EQ(Val(p.value), 0x51u);
    EXPECT_FLOAT_EQ(Val(p.duration), 2.0f);
    EXPECT_EQ(Val(p.sampleRate), 11000u);
  }
  QdSoundProperties p;
  EXPECT_EQ(QDEstimateSoundProperties(nullptr, 0, 0, &p, 0), QD_E_INVALID_ARG);
  EXPECT_EQ(QDEstimateSoundProperties("MVI_0001.WAV", 0, 0, nullptr, 0), QD_E_INVALID_ARG);
}

}  // namespace
