// The replacement exports over a file and caller inputs decoded from the
// input. Whatever the outcome: the file keeps its length, no write reaches
// past its end, a JPEG changes nowhere before its first APP segment nor from
// its first SOS segment on, the two copies write nothing, every stream is
// closed again and, once the outputs are released, no block is left behind.
//
// Input: FILE PARAMS n, where n (the last two bytes, little-endian) is the
// length of PARAMS; when n does not fit, the whole input is the file and the
// caller gives nothing. PARAMS, through FuzzedDataProvider: a flags byte
// (bit 0 image, bit 1 second image, bit 2 capture, bit 3 shot values given),
// the single-property identifier (4 bytes), the single value's length (up to
// 1023) and bytes, the four records' bytes, then property records {code in
// 0..0x11F, size in 0..1023, payload} until PARAMS ends.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "frame/fault.h"
#include "support/test_stream.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kMaxRecords = 16;

void Check(bool ok) {
  if (!ok) std::abort();
}

struct Inputs {
  Bytes file;
  ExifImageInfo image{};
  QdAuxImageInfo second{};
  ExifCaptureInfo capture{};
  ExifShotValues shot{};
  uint8_t flags = 0;
  uint32_t id = 0;
  Bytes value;
  std::vector<Bytes> records;  // head and payload, each in a buffer of its own size
  std::vector<PropertyRecord*> list;

  Inputs(const uint8_t* data, size_t size) {
    size_t n = size >= 2 ? data[size - 2] | size_t{data[size - 1]} << 8 : 0;
    const size_t fileSize = size >= 2 && n <= size - 2 ? size - 2 - n : size;
    if (fileSize == size) n = 0;  // all file
    file.assign(data, data + fileSize);
    FuzzedDataProvider in(data + fileSize, n);
    flags = in.ConsumeIntegral<uint8_t>();
    id = in.ConsumeIntegral<uint32_t>();
    value = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<uint16_t>(0, 1023));
    in.ConsumeData(&image, sizeof image);
    in.ConsumeData(&second, sizeof second);
    in.ConsumeData(&capture, sizeof capture);
    in.ConsumeData(&shot, sizeof shot);
    capture.owner[31] = capture.imageType[31] = '\0';  // the caller's promise
    while (in.remaining_bytes() != 0 && records.size() < kMaxRecords) {
      const uint16_t code = in.ConsumeIntegralInRange<uint16_t>(0, 0x11F);
      const Bytes payload = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<uint16_t>(0, 1023));
      Bytes r(6 + payload.size());
      std::memcpy(r.data(), &code, 2);
      const auto length = static_cast<uint32_t>(payload.size());
      std::memcpy(r.data() + 2, &length, 4);
      if (!payload.empty()) std::memcpy(r.data() + 6, payload.data(), payload.size());
      records.push_back(std::move(r));
    }
    for (Bytes& r : records) list.push_back(reinterpret_cast<PropertyRecord*>(r.data()));
    list.push_back(nullptr);
  }

  const ExifImageInfo* Image() const { return (flags & 1) != 0 ? &image : nullptr; }
  const QdAuxImageInfo* Second() const { return (flags & 2) != 0 ? &second : nullptr; }
  const ExifShotValues* Shot() const { return (flags & 8) != 0 ? &shot : nullptr; }
  // Each call gets its own copy: the time may come back shifted.
  ExifCaptureInfo* Capture(ExifCaptureInfo* copy) const {
    *copy = capture;
    return (flags & 4) != 0 ? copy : nullptr;
  }
  PropertyRecord** List() { return list.data(); }
};

// The bytes a rewrite may write: [low, high). For a JPEG, from its first APP
// segment to its first SOS segment, with markers found as a lenient reader
// finds them (bytes between segments passed over, 0xFF 0x00 no marker, every
// marker but SOI with a length); without an APP segment first, nothing before
// the point where the walk ended.
struct Span {
  size_t low = 0, high = 0;
};

Span Writable(const Bytes& f) {
  const size_t n = f.size();
  Span s{0, n};
  if (n < 2 || f[0] != 0xFF || f[1] != 0xD8) return s;
  size_t at = 2, stop = n;
  bool app = false;
  while (at < n) {
    size_t m = at;
    while (m < n && f[m] != 0xFF) ++m;
    while (m < n && f[m] == 0xFF) ++m;
    if (m >= n) break;
    const uint8_t marker = f[m];
    at = m + 1;
    if (marker == 0x00 || marker == 0xD8) continue;
    stop = m - 1;  // the segment's 0xFF
    if (marker == 0xDA) s.high = stop;
    if (marker == 0xDA || marker == 0xD9 || m + 2 >= n) break;
    const size_t length = size_t{f[m + 1]} << 8 | f[m + 2];
    if (length < 2) break;
    if (!app && marker >= 0xE0 && marker <= 0xEF) s.low = stop, app = true;
    at = m + 1 + length;
    stop = n;
  }
  if (!app) s.low = std::min(stop, s.high);
  return s;
}

// After a rewrite of `before`: same length, every write inside the span.
void CheckRewrite(const Bytes& before, const qdtest::TestStream& s) {
  const Span span = Writable(before);
  Check(!s.IsOpen() && s.data().size() == before.size());
  for (const qdtest::WriteRange& w : s.writes()) {
    Check(w.offset >= span.low && uint64_t{w.offset} + w.length <= span.high);
  }
  Check(std::equal(before.begin(), before.begin() + span.low, s.data().begin()));
  Check(std::equal(s.data().begin() + span.high, s.data().end(), before.begin() + span.high));
}

void CheckUntouched(const Bytes& before, const qdtest::TestStream& s) {
  Check(!s.IsOpen() && s.writes().empty() && s.data() == before);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("TZ", "UTC", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  Inputs in(data, size);
  const int64_t live = qd::fault::LiveBlocks();
  ExifCaptureInfo capture;
  {
    qdtest::TestStream s(in.file);
    (void)QDParseReplaceProperties2(s.stream(), in.Image(), in.Second(), in.Capture(&capture), in.Shot(),
                                    in.List());
    CheckRewrite(in.file, s);
  }
  {
    qdtest::TestStream s(in.file), value(in.value);
    uint8_t fileType = 0;
    (void)QDParseReplaceSingleProperty(s.stream(), &fileType, in.id, value.stream());
    CheckRewrite(in.file, s);
    Check(!value.IsOpen() && value.writes().empty());
  }
  {
    qdtest::TestStream s(in.file);
    TiffBlockInfo out;
    const uint32_t result = qdParseGetExifPropBufferWithReplace(s.stream(), in.Image(), in.Capture(&capture),
                                                                in.Shot(), in.List(), &out);
    CheckUntouched(in.file, s);
    Check(result == QD_OK ? out.segment != nullptr : out.segment == nullptr);
    Check(qdParseFreeExifBuffer(&out) == QD_OK);
  }
  {
    qdtest::TestStream s(in.file);
    ExtensionInfo segment, others;
    const uint32_t result = qdParseExifJpegMakeImageProperty(s.stream(), in.Image(), in.Capture(&capture),
                                                             in.Shot(), in.List(), &segment, &others);
    CheckUntouched(in.file, s);
    if (result == QD_OK) {
      // A whole APP1 segment whose length field counts all but the marker.
      Check(segment.buffer != nullptr && segment.size >= 4 && segment.buffer[0] == 0xFF &&
            segment.buffer[1] == 0xE1 && (segment.buffer[2] << 8 | segment.buffer[3]) == segment.size - 2);
    } else {
      Check(segment.buffer == nullptr && others.buffer == nullptr);
    }
    Check(qdParseFreeApp1Info(&segment) == QD_OK && qdParseFreeApp1Info(&others) == QD_OK);
  }
  Check(qd::fault::LiveBlocks() == live);
  return 0;
}
