// The conformance check, the trailer test and the IIM exports over arbitrary
// bytes. Whatever the outcome: every stream is closed again, no block is left
// behind, the check's answers are consistent with its result, the trailer
// answer is the trailer's bytes, every IIM record written is well framed and
// carries bytes of the input, and an in-place IIM replacement writes only the
// data of the datasets it names, leaving the file's length as it was.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "frame/fault.h"
#include "support/test_stream.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Check(bool ok) {
  if (!ok) std::abort();
}

uint32_t Le32(const uint8_t* p) { return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24; }

// A stream of IimRecords: framed exactly, each data a piece of `source`.
void CheckRecords(const Bytes& out, const Bytes& source) {
  size_t at = 0;
  while (at < out.size()) {
    Check(out.size() - at >= 6);
    const uint32_t length = Le32(&out[at + 2]);
    Check(length <= out.size() - at - 6);
    const auto data = out.begin() + static_cast<std::ptrdiff_t>(at + 6);
    Check(length == 0 || std::search(source.begin(), source.end(), data, data + length) != source.end());
    at += 6 + size_t{length};
  }
}

// The datasets a replacement may write: the caller's and the four fixed ones.
struct Named {
  uint8_t record, dataset;
};
constexpr Named kFixed[] = {{1, 0}, {1, 20}, {1, 22}, {2, 0}};
constexpr Named kAsked[] = {{2, 120}, {2, 5}};

bool MayWrite(uint8_t record, uint8_t dataset) {
  for (const Named& n : kFixed) {
    if (n.record == record && n.dataset == dataset) return true;
  }
  for (const Named& n : kAsked) {
    if (n.record == record && n.dataset == dataset) return true;
  }
  return false;
}

void CheckCheck(const Bytes& bytes) {
  qdtest::TestStream stream(bytes);
  uint16_t tag = 0xABCD, portrait = 7;
  const uint32_t result = QDParseJpegCheck(stream.stream(), 0, &tag, &portrait);
  Check(!stream.IsOpen());
  Check(portrait == 0 || (portrait == 1 && result == QD_CHECK_TAG_OR_PORTRAIT));
  // The failing tag is written only for a tag failure.
  Check(tag == 0xABCD || (result == QD_CHECK_TAG_OR_PORTRAIT && portrait == 0));
}

void CheckTrailer(const Bytes& bytes) {
  qdtest::TestStream stream(bytes);
  uint16_t present = 7;
  const uint32_t result = QDParseHasVedraOptionalData(stream.stream(), &present);
  Check(!stream.IsOpen());
  if (result != QD_OK) return;
  static const char kSignature[21] = "VEDRA OPTIONAL DATA";  // and two NULs
  const bool trailer = bytes.size() >= 64 && std::memcmp(&bytes[bytes.size() - 64], kSignature, 21) == 0;
  Check(present == (trailer ? 1 : 0));
}

void CheckIim(const Bytes& bytes) {
  {
    qdtest::TestStream source(bytes), destination;
    if (QDParseGetIIMInfo(source.stream(), destination.stream()) == QD_OK) {
      CheckRecords(destination.data(), bytes);
    }
    Check(!source.IsOpen() && !destination.IsOpen());
  }
  {
    qdtest::TestStream source(bytes), destination;
    if (QDParseReadPreserveIIMInfo(source.stream(), destination.stream()) == QD_OK) {
      CheckRecords(destination.data(), bytes);
    }
    Check(!source.IsOpen() && !destination.IsOpen());
  }
  {
    qdtest::TestStream source(bytes), destination;
    if (QDParseMakePreserveIIMInfo(QD_IIM_SOURCE_STREAM, source.stream(), destination.stream()) == QD_OK) {
      Check(destination.data().size() == 20 + bytes.size());
      Check(std::equal(bytes.begin(), bytes.end(), destination.data().begin() + 20));
    }
    Check(!source.IsOpen() && !destination.IsOpen());
  }
  // Two replacements, one shorter and one longer than most stored values.
  uint8_t caption[6 + 4] = {2, 120, 4, 0, 0, 0, 'f', 'u', 'z', 'z'};
  uint8_t name[6 + 40] = {2, 5, 40, 0, 0, 0};
  std::memset(name + 6, 'n', 40);
  IimRecord* list[] = {reinterpret_cast<IimRecord*>(caption), reinterpret_cast<IimRecord*>(name), nullptr};
  qdtest::TestStream file(bytes);
  (void)QDParseReplaceIIMInfo(file.stream(), list);
  Check(!file.IsOpen() && file.data().size() == bytes.size());
  for (const qdtest::WriteRange& w : file.writes()) {
    // Each write is the data of a standard dataset whose header says so.
    Check(w.offset >= 5 && uint64_t{w.offset} + w.length <= bytes.size());
    const uint8_t* head = &bytes[w.offset - 5];
    Check(head[0] == 0x1C && MayWrite(head[1], head[2]));
    Check((uint32_t{head[3]} << 8 | head[4]) == w.length);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  const Bytes bytes(data, data + size);
  const int64_t before = qd::fault::LiveBlocks();
  CheckCheck(bytes);
  CheckTrailer(bytes);
  CheckIim(bytes);
  Check(qd::fault::LiveBlocks() == before);
  return 0;
}
