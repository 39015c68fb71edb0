#include "support/counting_stream.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "support/container_builder.h"
#include "support/jpeg_builder.h"

namespace qdtest {
namespace {

constexpr uint32_t kSeekError = 0x7E101;
constexpr uint32_t kReadOnlyError = 0x7E102;

CountingStream* Self(void* ctx) { return static_cast<CountingStream*>(ctx); }

}  // namespace

CountingStream::CountingStream() : output_(true) {
  record_.context = this;
  record_.open = Open;
  record_.close = Close;
  record_.read = Read;
  record_.write = Write;
  record_.seek = Seek;
  record_.tell = Tell;
}

CountingStream::CountingStream(const Bytes& source) : CountingStream() {
  output_ = false;
  data_ = source.data();
  size_ = static_cast<uint32_t>(source.size());
  record_.write = nullptr;
}

void CountingStream::ResetCounts() {
  calls_ = reads_ = bytesRead_ = 0;
  highestRead_ = 0;
  ranges_.clear();
}

uint64_t CountingStream::DistinctBytesIn(uint32_t begin, uint32_t end) const {
  std::vector<std::pair<uint32_t, uint32_t>> spans;  // [from, to) clipped to [begin, end)
  for (const auto& [at, n] : ranges_) {
    const uint32_t from = std::max(at, begin);
    const uint32_t to = std::min(at + n, end);
    if (from < to) spans.emplace_back(from, to);
  }
  std::sort(spans.begin(), spans.end());
  uint64_t total = 0;
  uint32_t covered = begin;  // everything before this is counted
  for (const auto& [from, to] : spans) {
    const uint32_t start = std::max(from, covered);
    if (to > start) total += to - start;
    covered = std::max(covered, to);
  }
  return total;
}

uint32_t QD_CALLBACK CountingStream::Open(void* ctx, uint32_t mode, uint32_t* error) {
  CountingStream* s = Self(ctx);
  ++s->calls_;
  if (s->output_ && mode == QD_OPEN_WRITE) s->sink_.clear();
  s->position_ = 0;
  return *error = 0;
}

uint32_t QD_CALLBACK CountingStream::Close(void* ctx, uint32_t* error) {
  ++Self(ctx)->calls_;
  return *error = 0;
}

uint32_t QD_CALLBACK CountingStream::Read(void* ctx, void* buffer, uint32_t* count, uint32_t* error) {
  CountingStream* s = Self(ctx);
  ++s->calls_;
  ++s->reads_;
  const uint32_t size = s->size();
  const uint32_t n = s->position_ >= size ? 0 : std::min(*count, size - s->position_);
  if (n != 0) {
    std::memcpy(buffer, s->data() + s->position_, n);
    s->ranges_.emplace_back(s->position_, n);
    s->bytesRead_ += n;
    s->highestRead_ = std::max(s->highestRead_, s->position_ + n);
  }
  s->position_ += n;
  *count = n;
  return *error = 0;
}

uint32_t QD_CALLBACK CountingStream::Write(void* ctx, const void* buffer, uint32_t* count, uint32_t* error) {
  CountingStream* s = Self(ctx);
  ++s->calls_;
  if (!s->output_) {
    *count = 0;
    return *error = kReadOnlyError;
  }
  const size_t end = size_t{s->position_} + *count;
  if (s->sink_.size() < end) s->sink_.resize(end);
  if (*count != 0) std::memcpy(s->sink_.data() + s->position_, buffer, *count);
  s->position_ = static_cast<uint32_t>(end);
  return *error = 0;
}

uint32_t QD_CALLBACK CountingStream::Seek(void* ctx, uint32_t origin, int32_t offset, uint32_t* error) {
  CountingStream* s = Self(ctx);
  ++s->calls_;
  int64_t target = 0;
  switch (origin) {
    case QD_SEEK_START: target = static_cast<uint32_t>(offset); break;
    case QD_SEEK_CURRENT: target = int64_t{s->position_} + offset; break;
    case QD_SEEK_END: target = int64_t{s->size()} + offset; break;
    default: return *error = kSeekError;
  }
  if (target < 0 || target > int64_t{UINT32_MAX}) return *error = kSeekError;
  s->position_ = static_cast<uint32_t>(target);
  return *error = 0;
}

uint32_t QD_CALLBACK CountingStream::Tell(void* ctx, uint32_t* error) {
  CountingStream* s = Self(ctx);
  ++s->calls_;
  *error = 0;
  return s->position_;
}

namespace {

constexpr uint16_t kPhotoWidth = 1600;
constexpr uint16_t kPhotoHeight = 1200;
constexpr uint16_t kTypeEmbeddedJpeg = 0x2007;

// Little-endian property record payloads.
struct Le {
  Bytes b;
  Le& u16(uint16_t v) {
    b.insert(b.end(), {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)});
    return *this;
  }
  Le& u32(uint32_t v) { return u16(static_cast<uint16_t>(v)).u16(static_cast<uint16_t>(v >> 16)); }
  Le& text(const std::string& s) {
    b.insert(b.end(), s.begin(), s.end());
    return *this;
  }
};

Bytes Record(uint16_t code, const Bytes& payload) {
  Bytes r = Le().u16(code).u32(static_cast<uint32_t>(payload.size())).b;
  r.insert(r.end(), payload.begin(), payload.end());
  return r;
}

// What a camera writes into APP1: the library's own Exif writer with a
// thumbnail and the common shooting records.
Bytes ExifApp1Payload() {
  ExifImageInfo image{};
  std::strcpy(image.model, "Vedra QX-10");
  image.valid = 1;
  image.width = kPhotoWidth;
  image.height = kPhotoHeight;
  image.xResolution = image.yResolution = 180;
  ExifCaptureInfo capture{1700000000, 1000123, "Owner", "JPEG image"};
  ExifShotValues shot{5.0f, 8.0f, -0.5f, -1.0f, 0xFFFF, 0xFF};
  const std::vector<Bytes> records{
      Record(0x0B, Le().text(std::string("ASCII\0\0\0", 8)).u32(15).text("Harbour at dusk").b),
      Record(0x05, EncodeJpeg({160, 120, 3, 0x22, false, false})),        // thumbnail
      Record(0x07, Le().u32(0).u16(0).b),                                  // orientation
      Record(0x2D, Le().u32(1).u32(125).b),                                // exposure time
      Record(0x2E, Le().u32(56).u32(10).b),                                // F number
      Record(0x0C, Le().u16(200).b),                                       // ISO speed
      Record(0x32, Le().u16(16).b),                                        // flash
      Record(0x08, Le().u32(350).u32(10).u32(3200).u32(1).u32(2400).u32(1).u16(2).b),  // focal plane
      Record(0x36, Le().u16(0).b),                                         // white balance
      Record(0x39, Le().u16(1).b),                                         // colour space
  };
  std::vector<PropertyRecord*> list;
  for (const Bytes& r : records) list.push_back(reinterpret_cast<PropertyRecord*>(const_cast<uint8_t*>(r.data())));
  list.push_back(nullptr);
  TiffBlockInfo block{};
  if (qdParseCreateExifPropBufferEx(&image, &capture, &shot, list.data(), &block) != QD_OK) {
    throw std::runtime_error("Exif property buffer");
  }
  Bytes payload(block.segment, block.tiff + block.tiffSize);
  (void)qdParseFreeExifBuffer(&block);
  return payload;
}

ParseFixture ExifJpeg(const Bytes& photo) {
  ParseFixture f;
  f.name = "ExifJpeg";
  f.bytes = AfterSoi(photo, {App1(ExifApp1Payload())});
  f.fileType = 5;
  const size_t sos = SegmentOffset(f.bytes, marker::kSOS);
  if (sos == npos) throw std::runtime_error("JPEG without a scan");
  f.readLimit = f.imageBegin = static_cast<uint32_t>(sos);
  f.imageEnd = static_cast<uint32_t>(f.bytes.size());
  return f;
}

Bytes Text(const std::string& s) { return Bytes(s.c_str(), s.c_str() + s.size() + 1); }

// The image-properties heap a camera writes: image class and description,
// capture time and file number, comment, owner, maker and model, firmware,
// shot information and camera settings. `imageClass` is the high half of the
// class word (2 heap file, 3 TIFF RAW).
HeapBuilder CameraPropertiesHeap(uint16_t imageClass) {
  constexpr uint32_t kOne = 0x3F800000;        // 1.0f
  constexpr uint32_t kSixBits = 0x40C00000;    // 6.0f compressed bits per pixel
  HeapBuilder h(false);
  h.Data(0x1803, U32s({uint32_t{imageClass} << 16, kSixBits}, false));
  // Width, height, aspect, rotation, bits per component, bits per pixel, colour.
  h.Data(0x1810, U32s({kPhotoWidth, kPhotoHeight, kOne, 0, 8, 24, 1}, false));
  h.Data(0x180E, U32s({1700000000, 0, 0}, false));  // local seconds, zone, flags
  h.Data(0x1817, U32s({1000123}, false));
  h.Data(0x0805, Text("Harbour at dusk"));
  HeapBuilder image(false);
  image.Data(0x0815, Text("RAW image"));
  h.Nested(0x2804, image);
  HeapBuilder camera(false), firmware(false);
  firmware.Data(0x180B, U32s({0x01234567}, false));
  firmware.Data(0x080B, Text("Firmware Version 1.0.2"));
  camera.Data(0x0810, Text("Owner"));
  camera.Data(0x080A, Concat({Text("Vedra"), Text("Vedra QX-10")}));
  camera.Nested(0x3004, firmware);
  h.Nested(0x2807, camera);
  // Shot information and camera settings start with their length in bytes.
  Bytes shotInfo = U16s({64, 0, 160, 0, 160, 256, 0xFFF0}, false);
  shotInfo.resize(64, 0);
  Bytes settings = U16s({92, 2, 1, 3}, false);
  settings.resize(92, 0);
  HeapBuilder shot(false);
  shot.Data(0x102A, shotInfo);
  shot.Data(0x102D, settings);
  h.Nested(0x300B, shot);
  return h;
}

// The embedded image comes first, so the properties lie behind it.
ParseFixture HeapFile(const Bytes& photo) {
  HeapBuilder root(false);
  const uint16_t image = root.Data(kTypeEmbeddedJpeg, photo);
  root.Nested(kTypeImageProperties, CameraPropertiesHeap(2));
  const HeapFileBuilder file(root);
  ParseFixture f;
  f.name = "HeapFile";
  f.bytes = file.Build();
  f.fileType = 1;
  f.readLimit = static_cast<uint32_t>(f.bytes.size());
  f.imageBegin = file.HeaderLength() + root.DataOffset(image);
  f.imageEnd = f.imageBegin + static_cast<uint32_t>(photo.size());
  return f;
}

ParseFixture TiffRaw() {
  TiffShape shape = RawTiffShape(Order::II);
  shape.heap = HeapFileBuilder(CameraPropertiesHeap(3)).Subtype("TIFP").Version(0x00020001).Build();
  shape.width = kPhotoWidth;
  shape.height = kPhotoHeight;
  shape.make = "Vedra";
  shape.model = "Vedra ARX K1600Q";
  const TiffFile file = BuildTiffFile(shape);
  ParseFixture f;
  f.name = "TiffRaw";
  f.bytes = file.bytes;
  f.fileType = 3;
  const uint32_t ifd0End = file.ifd0 + 2 + 12 * uint32_t{GetU16(&file.bytes.at(file.ifd0), false)} + 4;
  f.readLimit = std::max(ifd0End, file.heapAt + file.heapSize);
  f.imageBegin = file.strip;
  f.imageEnd = file.strip + file.stripSize;
  return f;
}

}  // namespace

std::vector<ParseFixture> ParseFixtures() {
  const Bytes photo = EncodeJpeg({kPhotoWidth, kPhotoHeight, 3, 0x21, false, false});
  std::vector<ParseFixture> all;
  all.push_back(ExifJpeg(photo));
  all.push_back(HeapFile(photo));
  all.push_back(TiffRaw());
  return all;
}

uint32_t ParseEverything(const ParseFixture& f, CountingStream* in, ParseSinks* out) {
  return QDParseThumbnailFileStreamEx2(in->stream(), static_cast<uint32_t>(f.bytes.size()), &out->thumb,
                                       &out->image, &out->aux, &out->capture, &out->shot, nullptr,
                                       out->comment.stream(), out->properties.stream(),
                                       out->dcfThumbnail.stream());
}

std::string ReadBoundProblem(const ParseFixture& f, const CountingStream& in) {
  std::string problem;
  if (uint64_t{in.highestRead()} > uint64_t{f.readLimit} + kReadSlack) {
    problem += "read up to offset " + std::to_string(in.highestRead()) + ", past " +
               std::to_string(f.readLimit) + " + " + std::to_string(kReadSlack) + "; ";
  }
  const uint64_t image = in.DistinctBytesIn(f.imageBegin, f.imageEnd);
  if (image > kReadSlack) {
    problem += "read " + std::to_string(image) + " bytes of the image data at [" + std::to_string(f.imageBegin) +
               ", " + std::to_string(f.imageEnd) + ")";
  }
  return problem;
}

}  // namespace qdtest
