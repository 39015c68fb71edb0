// WAVE format information and the sound properties of memos.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "support/test_stream.h"
#include "support/wave_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;
using qdtest::TestStream;

TEST(WaveInfo, CopiesTheFormatChunkOrRefusesAndClears) {
  const struct {
    const char* name;
    uint32_t formatSize;
    bool listFirst;
    size_t flip, keep;  // a byte whose case is changed; the bytes kept of the file
    uint32_t result;
  } rows[] = {
      {"extended format chunk", 20, false, 0, 99, QD_OK},
      {"one byte short of the format", 16, false, 0, 35, QD_E_FAILED},
      {"cut inside the chunk header", 16, false, 0, 14, QD_E_FAILED},
      {"LIST chunk first", 16, true, 0, 99, QD_E_UNSUPPORTED},
      {"15 format bytes", 15, false, 0, 99, QD_E_UNSUPPORTED},
      {"Wave", 16, false, 9, 99, QD_E_UNSUPPORTED},
      {"fMt", 16, false, 13, 99, QD_E_UNSUPPORTED},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Bytes file = qdtest::BuildWave({0x11, 2, 11000, 0x01020304, 0x7777, 4, row.formatSize,
                                    row.listFirst});
    if (row.flip != 0) file[row.flip] ^= 0x20;
    file.resize(std::min(file.size(), row.keep));
    TestStream s(file);
    QdWaveInfo info;
    std::memset(&info, 0xAB, sizeof info);
    ASSERT_EQ(QDParseGetWAVEInfo(s.stream(), &info), row.result);
    EXPECT_FALSE(s.IsOpen());
    TestStream again(file);  // the record is optional
    EXPECT_EQ(QDParseGetWAVEInfo(again.stream(), nullptr), row.result);
    const QdWaveInfo zero{};
    if (row.result != QD_OK) EXPECT_EQ(std::memcmp(&info, &zero, sizeof info), 0);
    if (row.result != QD_OK) continue;
    EXPECT_EQ(+info.formatTag, 0x11);
    EXPECT_EQ(+info.channels, 2);
    EXPECT_EQ(+info.bytesPerSecond, 0x01020304u);
    EXPECT_EQ(+info.bitsPerSample, 4);
  }
}

TEST(SoundProperties, DurationFollowsFromTheStreamLengthAlone) {
  QdSoundProperties p;
  std::memset(&p, 0xAB, sizeof p);
  TestStream s(Bytes(11000));
  s.SetNull(qdtest::Callback::Read);
  ASSERT_EQ(QDParseSoundProperties(s.stream(), &p, 0), QD_OK);
  EXPECT_FLOAT_EQ(+p.duration, 1.0f);
  EXPECT_EQ(+p.sampleRate, 11000u);
  EXPECT_EQ(p.bitsPerSample, 8);
  EXPECT_EQ(+p.fileNumber, 0xABABABABu) << "not this function's field";
  EXPECT_FALSE(s.IsOpen());
}

TEST(EstimateSoundProperties, NamesDecideAcceptanceAndFileNumber) {
  const struct {
    const char* name;
    uint32_t result;
    uint32_t number;
  } rows[] = {
      {"MVI_0123.WAV", QD_OK, 123},          {"ABCd0123.WAV", QD_OK, 123},
      {"ABC01234.TIF", QD_OK, 1234},         {"ABCD0123.VRW", QD_OK, 0},
      {"MVI_01A3.WAV", QD_OK, 0},            {"IMG_0001.JPGX", QD_OK, 0},
      {"MVI_0123", QD_E_UNSUPPORTED, 0},     {"SND_0001.WAX", QD_E_UNSUPPORTED, 0},
      {"MVI_0123.wav", QD_E_UNSUPPORTED, 0}, {"A.B.WAV", QD_E_UNSUPPORTED, 0},
      {"ABC{0123.WAV", QD_OK, 0},            {"MVI_01-3.WAV", QD_OK, 0},
      {"A.WAV0123456", QD_OK, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    QdSoundProperties p;
    std::memset(&p, 0xAB, sizeof p);
    ASSERT_EQ(QDEstimateSoundProperties(row.name, 22000, 0x51, &p, 0), row.result);
    EXPECT_EQ(+p.value, row.result == QD_OK ? 0x51u : 0xABABABABu);
    if (row.result != QD_OK) continue;
    EXPECT_EQ(+p.fileNumber, row.number);
    EXPECT_FLOAT_EQ(+p.duration, 2.0f);
  }
  QdSoundProperties p;
  EXPECT_EQ(QDEstimateSoundProperties(nullptr, 0, 0, &p, 0), QD_E_INVALID_ARG);
  EXPECT_EQ(QDEstimateSoundProperties("MVI_0123.WAV", 0, 0, nullptr, 0), QD_E_INVALID_ARG);
}

}  // namespace
