// Sound properties of the cameras' memos. They always record 11000 one-byte
// mono samples per second, so the duration follows from the data length alone
// and the format is never read from the file.
#include <cstring>

#include "frame/stream_port.h"
#include "qdparse.h"

namespace qd::sound {
namespace {

constexpr uint32_t kSampleRate = 11000;
// The float nearest 1 / kSampleRate; the duration is a float product.
constexpr float kSecondsPerSample = 9.0909089e-05f;
constexpr uint8_t kBitsPerSample = 8;

void FillFormat(QdSoundProperties* props, uint32_t dataLength) {
  props->duration = static_cast<float>(dataLength) * kSecondsPerSample;
  props->sampleRate = kSampleRate;
  props->fixed[0] = 1;
  props->fixed[1] = 1;
  props->bitsPerSample = kBitsPerSample;
}

// The kinds of file a memo belongs to, by the first three characters of the
// text after the first '.' (case matters: the cameras write upper case).
bool AcceptedName(const char* name) {
  const char* dot = std::strchr(name, '.');
  if (dot == nullptr) return false;
  static const char* const kExtensions[] = {"WAV", "VRW", "JPG", "TIF"};
  for (const char* ext : kExtensions) {
    if (std::strncmp(dot + 1, ext, 3) == 0) return true;
  }
  return false;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A DCF name is four characters (the fourth may be '_' or lower case, then
// only four digits follow), the file number, '.', a three-letter extension.
// Anything else has no number: 0.
uint32_t DcfFileNumber(const char* name) {
  constexpr size_t kNameLength = 12;
  constexpr size_t kDotAt = 8;
  if (std::strlen(name) != kNameLength || name[kDotAt] != '.') return 0;
  const char fourth = name[3];
  const size_t first = (fourth == '_' || (fourth >= 'a' && fourth <= 'z')) ? 4 : 3;
  uint32_t number = 0;
  for (size_t i = first; i < kDotAt; ++i) {
    if (!IsDigit(name[i])) return 0;
    number = number * 10 + static_cast<uint32_t>(name[i] - '0');  // at most 99999
  }
  return number;
}

}  // namespace
}  // namespace qd::sound

// Only the stream's length is needed. Unlike the other stream exports, a
// failed length query returns the host's error without closing the stream,
// and a close error is reported even though the length was found.
extern "C" QD_EXPORT uint32_t QD_API QDParseSoundProperties(const qdlStream* stream,
                                                            QdSoundProperties* props,
                                                            uint32_t /*reserved*/) {
  using namespace qd;
  if (stream == nullptr || stream->seek == nullptr || stream->tell == nullptr || props == nullptr) {
    return QD_E_INVALID_ARG;
  }
  uint32_t error = 0;
  StreamOpen(stream, QD_OPEN_READ, &error);
  if (error != 0) return error;
  const uint32_t length = StreamSize(stream, &error);
  if (error != 0) return error;
  StreamClose(stream, &error);
  if (error != 0) return error;
  sound::FillFormat(props, length);
  return QD_OK;
}

extern "C" QD_EXPORT uint32_t QD_API QDEstimateSoundProperties(const char* fileName,
                                                               uint32_t dataLength, uint32_t value,
                                                               QdSoundProperties* props,
                                                               uint32_t /*reserved*/) {
  using namespace qd::sound;
  if (fileName == nullptr || props == nullptr) return QD_E_INVALID_ARG;
  if (!AcceptedName(fileName)) return QD_E_UNSUPPORTED;
  props->value = value;
  props->fileNumber = DcfFileNumber(fileName);
  FillFormat(props, dataLength);
  return QD_OK;
}
