// Writes one sample file of every kind the library reads into a folder:
//   qdparse_samples DIR
// The Exif block of the Exif JPEG comes from the library's own writer; heaps,
// TIFF structures, JPEG images and the WAVE file come from the test
// builders, since the library does not write those. Every camera value is
// made up. The files are the same on every run and in every time zone.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "qdparse.h"
#include "support/camera_jpeg.h"
#include "support/container_builder.h"
#include "support/heap_builder.h"
#include "support/jpeg_builder.h"
#include "support/tiff_builder.h"
#include "support/wave_builder.h"

namespace {

using qdtest::Bytes;
using qdtest::HeapBuilder;

constexpr bool kLittleEndian = false;  // the builders' bigEndian flag

// Heap record types the parse exports read.
constexpr uint16_t kImageFormat = 0x1803;
constexpr uint16_t kImageSpec = 0x1810;
constexpr uint16_t kFileNumber = 0x1817;
constexpr uint16_t kCaptureTime = 0x180E;
constexpr uint16_t kComment = 0x0805;
constexpr uint16_t kImageTypeHeap = 0x2804;
constexpr uint16_t kImageTypeText = 0x0815;
constexpr uint16_t kCameraHeap = 0x2807;
constexpr uint16_t kOwner = 0x0810;
constexpr uint16_t kMakerModel = 0x080A;
constexpr uint16_t kFirmwareHeap = 0x3004;
constexpr uint16_t kFirmware = 0x080B;
constexpr uint16_t kSerial = 0x180B;
constexpr uint16_t kShotHeap = 0x300B;
constexpr uint16_t kFocal = 0x1029;
constexpr uint16_t kShotInfo = 0x102A;
constexpr uint16_t kCameraSettings = 0x102D;
constexpr uint16_t kModelId = 0x1834;
constexpr uint16_t kThumbDescription = 0x183D;
constexpr uint16_t kRotation = 0x183E;
constexpr uint16_t kImageProperties = 0x300A;
constexpr uint16_t kEmbeddedJpeg = 0x2007;

// Property record codes given to the Exif writer.
constexpr uint16_t kRecThumbnail = 0x05;
constexpr uint16_t kRecOrientation = 0x07;
constexpr uint16_t kRecFocalPlane = 0x08;
constexpr uint16_t kRecCodedComment = 0x0B;
constexpr uint16_t kRecIso = 0x0C;
constexpr uint16_t kRecExposureTime = 0x2D;
constexpr uint16_t kRecFNumber = 0x2E;
constexpr uint16_t kRecFlash = 0x32;
constexpr uint16_t kRecExposureMode = 0x35;
constexpr uint16_t kRecWhiteBalance = 0x36;

const char kMaker[] = "Vedra";

// 2024-05-06 07:08:09 on the camera's clock.
int32_t CaptureClock() {
  struct tm t {};
  t.tm_year = 2024 - 1900;
  t.tm_mon = 4;
  t.tm_mday = 6;
  t.tm_hour = 7;
  t.tm_min = 8;
  t.tm_sec = 9;
  return static_cast<int32_t>(mktime(&t));  // TZ is UTC here (main)
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes U16s(std::initializer_list<uint16_t> v) { return qdtest::U16s(v, kLittleEndian); }
Bytes U32s(std::initializer_list<uint32_t> v) { return qdtest::U32s(v, kLittleEndian); }

Bytes Float(float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, 4);
  return U32s({bits});
}

// Text in a zero-filled field of `size` bytes.
Bytes Field(const std::string& text, size_t size) {
  Bytes b(size, 0);
  std::memcpy(b.data(), text.data(), std::min(text.size(), size - 1));
  return b;
}

// What a camera stores about one picture in its image-properties heap.
struct Picture {
  std::string model;
  uint16_t format;       // high half of the image format word: 1 JPEG, 2 RAW, 3 uncompressed
  uint16_t dataKind;     // its low half
  float storedBitsPerPixel;
  uint32_t width, height;
  uint32_t componentBits, pixelBits;
  std::string imageType;
  uint32_t fileNumber;
  std::string comment;
  Bytes thumbDescription;  // record 0x183D, when not empty
};

// The camera-settings and shot-information arrays, each led by its length in
// bytes; values not set here are the cameras' "unset" words.
Bytes CameraSettings() {
  std::vector<uint16_t> cs = {92, 1, 5, 1, 3, 0xFFFF, 0, 4, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0, 0x7FFF, 0x7FFF,
                              0x7FFF, 0x7FFF, 0xFFFF, 2, 0, 0xFFFF, 0xFFFF, 0xFFFF, 0, 0, 32, 0, 0, 0xFFFF, 0,
                              0, 0, 0xFFFF, 0xFFFF, 0xFFFF, 0, 0, 0, 0, 0xFFFF, 0xFFFF, 0, 0x7FFF, 0x7FFF,
                              0xFFFF, 0xFFFF};
  Bytes b;
  for (uint16_t w : cs) b.insert(b.end(), {static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8)});
  return b;
}

Bytes ShotInformation() {
  // Word 2 ISO 100, words 4..6 Av 5, Tv 7, -0.5 EV, word 13 one more EV; all in 1/32 steps.
  std::vector<uint16_t> si = {66, 0, 160, 0, 160, 224, 0xFFF0, 0xFFFF, 3, 0, 8, 8, 0, 32, 0, 0, 0,
                              0,  0, 0,   0, 0,   0,   0,      0,      0, 0, 0xFFFF, 0xFFFF, 0xFFFF, 0, 0, 0};
  Bytes b;
  for (uint16_t w : si) b.insert(b.end(), {static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8)});
  return b;
}

HeapBuilder ImagePropertiesHeap(const Picture& p) {
  HeapBuilder heap(kLittleEndian);
  heap.Data(kImageFormat, Join({U32s({uint32_t{p.format} << 16 | p.dataKind}), Float(p.storedBitsPerPixel)}));
  // Width, height, pixel aspect, rotation angle, bit depths, colour word.
  heap.Data(kImageSpec, Join({U32s({p.width, p.height}), Float(1.0f), U32s({0, p.componentBits, p.pixelBits, 1})}));
  heap.Data(kFileNumber, U32s({p.fileNumber}));
  // Clock seconds, zone offset, a third word.
  heap.Data(kCaptureTime, U32s({static_cast<uint32_t>(CaptureClock()), 0, 0}));
  heap.Data(kComment, Field(p.comment, p.comment.size() + 1));

  HeapBuilder imageType(kLittleEndian);
  imageType.Data(kImageTypeText, Field(p.imageType, 32));
  heap.Nested(kImageTypeHeap, imageType);

  HeapBuilder firmware(kLittleEndian);
  firmware.Data(kSerial, U32s({0x00C0FFEE}));
  firmware.Data(kFirmware, Field("Firmware Version 1.0.2", 32));
  HeapBuilder camera(kLittleEndian);
  camera.Data(kOwner, Field("Demo Owner", 32));
  Bytes makerModel = Field(kMaker, 64);
  std::memcpy(makerModel.data() + sizeof kMaker, p.model.data(), std::min<size_t>(p.model.size(), 64 - sizeof kMaker - 1));
  camera.Data(kMakerModel, makerModel);
  camera.Nested(kFirmwareHeap, firmware);
  heap.Nested(kCameraHeap, camera);

  HeapBuilder shot(kLittleEndian);
  shot.Data(kFocal, U16s({0, 24 * 32, 0, 0}));  // focal length 24 mm in 1/32 mm
  shot.Data(kShotInfo, ShotInformation());
  shot.Data(kCameraSettings, CameraSettings());
  shot.Data(kModelId, U32s({0x01140000}));
  if (!p.thumbDescription.empty()) shot.Data(kThumbDescription, p.thumbDescription);
  shot.Data(kRotation, U32s({0}));
  heap.Nested(kShotHeap, shot);
  return heap;
}

// Heap file: the image-properties heap and a JPEG version of the picture.
Bytes HeapFile() {
  const Picture p{"Vedra Lumaframe T190", 2, 0, 10.5f, 640, 480, 12, 36, "DEMO RAW IMAGE", 1000123,
                  "Sample heap file", {}};
  HeapBuilder root(kLittleEndian);
  root.Nested(kImageProperties, ImagePropertiesHeap(p));
  root.Data(kEmbeddedJpeg, qdtest::EncodeJpeg({160, 120, 3, 0x22, false, true}));
  return qdtest::HeapFileBuilder(root).Build();
}

// JPEG whose second APP0, after the JFIF header, carries the heap.
Bytes JpegWithHeap() {
  const Picture p{"Vedra Lumaframe T180", 1, 0, 2.4f, 320, 240, 8, 24, "DEMO JPEG IMAGE", 1000124,
                  "Sample JPEG with a heap", {}};
  qdtest::HeapFileBuilder file(ImagePropertiesHeap(p));
  file.Subtype("JPGM");
  return qdtest::AfterSoi(qdtest::EncodeJpeg({320, 240, 3, 0x22, false, false}),
                          {qdtest::JfifApp0(0x0102, 1, 180, 180), qdtest::HeapApp0(file.Build())});
}

Bytes Record(uint16_t code, const Bytes& payload) {
  Bytes r(6 + payload.size());
  const auto size = static_cast<uint32_t>(payload.size());
  std::memcpy(r.data(), &code, 2);
  std::memcpy(r.data() + 2, &size, 4);
  std::memcpy(r.data() + 6, payload.data(), payload.size());
  return r;
}

// Exif JPEG: the APP1 block from qdParseCreateExifPropBufferEx, with a thumbnail.
Bytes ExifJpeg() {
  ExifImageInfo image{};
  std::strcpy(image.model, "Vedra Lumaframe T270");
  image.valid = 5;
  image.bitsPerSample = 8;
  image.bitsPerPixel = 24;
  image.colour = 1;
  image.width = 320;
  image.height = 240;
  image.aspect = 1.0f;
  image.xResolution = image.yResolution = 180;

  ExifCaptureInfo capture{};
  capture.time = CaptureClock();
  capture.fileNumber = 1000125;
  std::strcpy(capture.owner, "Demo Owner");
  std::strcpy(capture.imageType, "DEMO EXIF JPEG");

  ExifShotValues shot{};
  shot.aperture = 5.0f;                                   // f/5.7
  shot.shutterSpeed = static_cast<float>(std::log2(125));  // 1/125 s
  shot.exposureCompensation = -1.0f / 3;
  shot.additionalEv = 1.0f;
  shot.settingWord = 500;
  shot.settingFlag = 1;

  const std::string comment = "Sample Exif JPEG";
  Bytes coded = {'A', 'S', 'C', 'I', 'I', 0, 0, 0};
  coded = Join({coded, U32s({static_cast<uint32_t>(comment.size())}), Bytes(comment.begin(), comment.end())});
  std::vector<Bytes> records = {
      Record(kRecThumbnail, qdtest::EncodeJpeg({160, 120, 3, 0x22, false, false})),
      Record(kRecOrientation, Join({U32s({0}), U16s({0})})),
      Record(kRecFocalPlane, Join({U32s({24, 1, 1600, 1, 1600, 1}), U16s({2})})),
      Record(kRecCodedComment, coded),
      Record(kRecIso, U16s({200})),
      Record(kRecExposureTime, U32s({1, 125})),
      Record(kRecFNumber, U32s({57, 10})),
      Record(kRecFlash, U16s({16})),
      Record(kRecExposureMode, U16s({0})),
      Record(kRecWhiteBalance, U16s({0})),
  };
  std::vector<PropertyRecord*> list;
  for (Bytes& r : records) list.push_back(reinterpret_cast<PropertyRecord*>(r.data()));
  list.push_back(nullptr);

  TiffBlockInfo block{};
  const uint32_t result = qdParseCreateExifPropBufferEx(&image, &capture, &shot, list.data(), &block);
  if (result != QD_OK) {
    std::fprintf(stderr, "qdparse_samples: qdParseCreateExifPropBufferEx failed: 0x%08X\n", result);
    return {};
  }
  const Bytes payload(block.segment, block.tiff + block.tiffSize);
  (void)qdParseFreeExifBuffer(&block);
  return qdtest::AfterSoi(qdtest::EncodeJpeg({320, 240, 3, 0x22, false, false}), {qdtest::App1(payload)});
}

// A JPEG as the cameras write it, ending with the optional-data trailer.
Bytes CameraJpeg() {
  const char kTrailer[] = "VEDRA OPTIONAL DATA\0";  // and the literal's own NUL: 21 bytes
  Bytes trailer(kTrailer, kTrailer + sizeof kTrailer);
  trailer.resize(64, 0x20);
  return qdtest::Concat({qdtest::CameraJpeg(), trailer});
}

// TIFF RAW: an uncompressed RGB strip and a "TIFP" heap in IFD0.
Bytes TiffRaw() {
  // Thumbnail description: the builder's 2 x 1 grey IFD1 strip.
  const Bytes thumb = U32s({0, 3, 8, 8, 0, 2, 1, 1, 180, 180});
  const Picture p{"Vedra ARX K1600Q", 3, 3, 24.0f, 160, 120, 8, 24, "DEMO TIFF RAW", 1000126,
                  "Sample TIFF RAW", thumb};
  qdtest::HeapFileBuilder heap(ImagePropertiesHeap(p));
  heap.Subtype("TIFP").Version(0x00020001);
  qdtest::TiffShape shape = qdtest::RawTiffShape(qdtest::Order::II);
  shape.width = 160;
  shape.height = 120;
  shape.make = kMaker;
  shape.model = p.model;
  shape.heap = heap.Build();
  return qdtest::BuildTiffFile(shape).bytes;
}

// Exif TIFF: an uncompressed RGB strip, an Exif IFD and a 2 x 1 IFD1 strip.
Bytes ExifTiff() {
  qdtest::TiffShape shape = qdtest::ExifTiffShape(qdtest::Order::II);
  shape.width = 160;
  shape.height = 120;
  shape.make = kMaker;
  shape.model = "Vedra ARX-7Q";
  return qdtest::BuildTiffFile(shape).bytes;
}

// An Exif JPEG whose IFD0 carries IIM datasets behind its IPTC-NAA tag (LONGs
// holding the datasets' bytes, zero-padded to whole words).
Bytes IptcJpeg() {
  const auto dataset = [](uint8_t record, uint8_t number, const std::string& data) {
    Bytes d = {0x1C, record, number, static_cast<uint8_t>(data.size() >> 8), static_cast<uint8_t>(data.size())};
    d.insert(d.end(), data.begin(), data.end());
    return d;
  };
  Bytes iim = Join({dataset(2, 0, std::string("\0\4", 2)), dataset(2, 5, "Harbour at dawn"),
                    dataset(2, 25, "harbour"), dataset(2, 25, "boats"), dataset(2, 80, "Demo Photographer"),
                    dataset(2, 120, "Fishing boats leaving the harbour at first light")});
  iim.resize((iim.size() + 3) & ~size_t{3});
  std::vector<uint32_t> words;  // written back little-endian: the bytes as they are
  for (size_t i = 0; i < iim.size(); i += 4) {
    words.push_back(iim[i] | iim[i + 1] << 8 | iim[i + 2] << 16 | uint32_t{iim[i + 3]} << 24);
  }
  qdtest::TiffBuilder tb(qdtest::Order::II);
  qdtest::TiffIfd& ifd0 = tb.NewIfd();
  qdtest::TiffIfd& exif = tb.NewIfd();
  ifd0.Ascii(0x010F, kMaker).Ascii(0x0110, "Vedra Lumaframe T270").Short(0x0112, {1}).Long(0x83BB, words);
  ifd0.Sub(0x8769, exif);
  exif.Undefined(0x9000, {'0', '2', '2', '0'});
  const qdtest::TiffImage tiff = tb.Build();
  return qdtest::AfterSoi(qdtest::EncodeJpeg({160, 120, 3, 0x22, false, false}),
                          {qdtest::App1(qdtest::App1Payload(tiff.bytes))});
}

// Two seconds in the cameras' memo format: 11000 one-byte samples a second.
Bytes Wave() {
  qdtest::WaveShape shape;
  shape.dataLength = 2 * 11000;
  return qdtest::BuildWave(shape);
}

bool Write(const std::filesystem::path& dir, const char* name, const Bytes& bytes) {
  const std::string path = (dir / name).string();
  if (bytes.empty()) return false;
  FILE* f = std::fopen(path.c_str(), "wb");
  bool ok = f != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (f != nullptr && std::fclose(f) != 0) ok = false;
  if (!ok) {
    std::perror(("qdparse_samples: " + path).c_str());
    return false;
  }
  std::printf("%s (%zu bytes)\n", path.c_str(), bytes.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  // Capture times are written on the camera's clock: with UTC the files do
  // not depend on where they were generated.
  setenv("TZ", "UTC0", 1);
  tzset();
  try {
    const std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir);
    bool ok = Write(dir, "heap-file.heap", HeapFile());
    ok = Write(dir, "jpeg-heap.jpg", JpegWithHeap()) && ok;
    ok = Write(dir, "exif.jpg", ExifJpeg()) && ok;
    ok = Write(dir, "camera.jpg", CameraJpeg()) && ok;
    ok = Write(dir, "tiff-raw.tif", TiffRaw()) && ok;
    ok = Write(dir, "exif.tif", ExifTiff()) && ok;
    ok = Write(dir, "memo.wav", Wave()) && ok;
    ok = Write(dir, "iptc.jpg", IptcJpeg()) && ok;
    return ok ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qdparse_samples: %s\n", e.what());
    return 1;
  }
}
