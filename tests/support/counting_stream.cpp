#include "support/counting_stream.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "support/container_builder.h"
#include "support/jpeg_builder.h"

namespace qdtest {

CountingStream::CountingStream() {
  record_.aux = nullptr;
  clearOnWrite_ = true;
}

CountingStream::CountingStream(const Bytes& source) : CountingStream() {
  data_ = source;
  record_.write = nullptr;
}

uint64_t CountingStream::bytesRead() const {
  uint64_t n = 0;
  for (const auto& read : reads_) n += read.second;
  return n;
}

uint32_t CountingStream::highestRead() const {
  uint32_t end = 0;
  for (const auto& [at, n] : reads_) end = std::max(end, at + n);
  return end;
}

uint64_t CountingStream::DistinctBytesIn(uint32_t begin, uint32_t end) const {
  std::vector<bool> seen(end > begin ? end - begin : 0);
  for (const auto& [at, n] : reads_) {
    for (uint32_t i = std::max(at, begin); i < std::min(at + n, end); ++i) seen[i - begin] = true;
  }
  return static_cast<uint64_t>(std::count(seen.begin(), seen.end(), true));
}

namespace {

constexpr uint16_t kPhotoWidth = 1600;
constexpr uint16_t kPhotoHeight = 1200;
constexpr uint16_t kTypeEmbeddedJpeg = 0x2007;

Bytes Le16(std::initializer_list<uint16_t> v) { return U16s(v, false); }
Bytes Le32(std::initializer_list<uint32_t> v) { return U32s(v, false); }
Bytes Chars(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes Text(const std::string& s) { return Bytes(s.c_str(), s.c_str() + s.size() + 1); }

Bytes Record(uint16_t code, const Bytes& payload) {
  return Concat({Le16({code}), Le32({static_cast<uint32_t>(payload.size())}), payload});
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
      Record(0x0B, Concat({Chars({"ASCII\0\0\0", 8}), Le32({15}), Chars("Harbour at dusk")})),
      Record(0x05, EncodeJpeg({160, 120, 3, 0x22, false, false})),  // thumbnail
      Record(0x07, Bytes(6, 0)),                                    // orientation
      Record(0x2D, Le32({1, 125})),                                 // exposure time
      Record(0x2E, Le32({56, 10})),                                 // F number
      Record(0x0C, Le16({200})),                                    // ISO speed
      Record(0x32, Le16({16})),                                     // flash
      Record(0x08, Concat({Le32({350, 10, 3200, 1, 2400, 1}), Le16({2})})),  // focal plane
      Record(0x36, Le16({0})),                                      // white balance
      Record(0x39, Le16({1})),                                      // colour space
  };
  std::vector<PropertyRecord*> list;
  for (const Bytes& r : records) {
    list.push_back(reinterpret_cast<PropertyRecord*>(const_cast<uint8_t*>(r.data())));
  }
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
  Bytes bytes = AfterSoi(photo, {App1(ExifApp1Payload())});
  const auto sos = static_cast<uint32_t>(SegmentOffset(bytes, marker::kSOS));
  if (sos == npos) throw std::runtime_error("JPEG without a scan");
  const auto size = static_cast<uint32_t>(bytes.size());
  return {"ExifJpeg", std::move(bytes), 5, sos, sos, size};
}

// The image-properties heap a camera writes: image class and description,
// capture time and file number, comment, owner, maker and model, firmware,
// shot information and camera settings. `imageClass` is the high half of the
// class word (2 heap file, 3 TIFF RAW).
HeapBuilder CameraPropertiesHeap(uint16_t imageClass) {
  constexpr uint32_t kOne = 0x3F800000;        // 1.0f
  constexpr uint32_t kSixBits = 0x40C00000;    // 6.0f compressed bits per pixel
  HeapBuilder h(false);
  h.Data(0x1803, Le32({uint32_t{imageClass} << 16, kSixBits}));
  // Width, height, aspect, rotation, bits per component, bits per pixel, colour.
  h.Data(0x1810, Le32({kPhotoWidth, kPhotoHeight, kOne, 0, 8, 24, 1}));
  h.Data(0x180E, Le32({1700000000, 0, 0}));  // local seconds, zone, flags
  h.Data(0x1817, Le32({1000123}));
  h.Data(0x0805, Text("Harbour at dusk"));
  HeapBuilder image(false);
  image.Data(0x0815, Text("RAW image"));
  h.Nested(0x2804, image);
  HeapBuilder camera(false), firmware(false);
  firmware.Data(0x180B, Le32({0x01234567}));
  firmware.Data(0x080B, Text("Firmware Version 1.0.2"));
  camera.Data(0x0810, Text("Owner"));
  camera.Data(0x080A, Concat({Text("Vedra"), Text("Vedra QX-10")}));
  camera.Nested(0x3004, firmware);
  h.Nested(0x2807, camera);
  // Shot information and camera settings start with their length in bytes.
  Bytes shotInfo = Le16({64, 0, 160, 0, 160, 256, 0xFFF0});
  shotInfo.resize(64, 0);
  Bytes settings = Le16({92, 2, 1, 3});
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
  const uint32_t begin = file.HeaderLength() + root.DataOffset(image);
  Bytes bytes = file.Build();
  const auto size = static_cast<uint32_t>(bytes.size());
  const uint32_t end = begin + static_cast<uint32_t>(photo.size());
  return {"HeapFile", std::move(bytes), 1, size, begin, end};
}

ParseFixture TiffRaw() {
  TiffShape shape = RawTiffShape(Order::II);
  shape.heap = HeapFileBuilder(CameraPropertiesHeap(3)).Subtype("TIFP").Version(0x00020001).Build();
  shape.width = kPhotoWidth;
  shape.height = kPhotoHeight;
  shape.make = "Vedra";
  shape.model = "Vedra ARX K1600Q";
  const TiffFile file = BuildTiffFile(shape);
  const uint32_t ifd0End = file.ifd0 + 6 + 12 * uint32_t{GetU16(&file.bytes.at(file.ifd0), false)};
  return {"TiffRaw", file.bytes, 3, std::max(ifd0End, file.heapAt + file.heapSize), file.strip,
          file.strip + file.stripSize};
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
  return QDParseThumbnailFileStreamEx2(
      in->stream(), static_cast<uint32_t>(f.bytes.size()), &out->thumb, &out->image, &out->aux,
      &out->capture, &out->shot, nullptr, out->comment.stream(), out->properties.stream(),
      out->dcfThumbnail.stream());
}

std::string ReadBoundProblem(const ParseFixture& f, const CountingStream& in) {
  using std::to_string;
  std::string problem;
  if (uint64_t{in.highestRead()} > uint64_t{f.readLimit} + kReadSlack) {
    problem += "read up to offset " + to_string(in.highestRead()) + ", past " +
               to_string(f.readLimit) + " + " + to_string(kReadSlack) + "; ";
  }
  const uint64_t image = in.DistinctBytesIn(f.imageBegin, f.imageEnd);
  if (image > kReadSlack) {
    problem += "read " + to_string(image) + " bytes of the image data at [" +
               to_string(f.imageBegin) + ", " + to_string(f.imageEnd) + ")";
  }
  return problem;
}

}  // namespace qdtest
