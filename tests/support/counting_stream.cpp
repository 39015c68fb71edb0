#include "support/counting_stream.h"

#include <algorithm>
#include <stdexcept>

#include "exifwrite/exif_support.h"
#include "extract/parse_support.h"
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

// What a camera writes into APP1: the library's own Exif writer with a
// thumbnail and every record it takes.
Bytes ExifApp1Payload() {
  RichInput in(EncodeJpeg({160, 120, 3, 0x22, false, false}), false);
  TiffBlockInfo block{};
  if (in.Call(qdParseCreateExifPropBufferEx, &block) != QD_OK) {
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

// The embedded image comes first, so the properties (those of the parse
// tests, every record the heap path reads) lie behind it.
ParseFixture HeapFile(const Bytes& photo) {
  HeapBuilder root(false);
  const uint16_t image = root.Data(kTypeEmbeddedJpeg, photo);
  root.Nested(kTypeImageProperties, parse::PropertiesHeap(parse::RichHeap(false), false));
  const HeapFileBuilder file(root);
  const uint32_t begin = file.HeaderLength() + root.DataOffset(image);
  Bytes bytes = file.Build();
  const auto size = static_cast<uint32_t>(bytes.size());
  const uint32_t end = begin + static_cast<uint32_t>(photo.size());
  return {"HeapFile", std::move(bytes), 1, size, begin, end};
}

ParseFixture TiffRaw() {
  TiffShape shape = RawTiffShape(Order::II);
  const HeapBuilder properties = parse::PropertiesHeap(parse::RichHeap(false), false);
  shape.heap = HeapFileBuilder(properties).Subtype("TIFP").Version(0x00020001).Build();
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
