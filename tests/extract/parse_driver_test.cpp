// The parse driver and its exports: file type codes, the JPEG frame pre-fill,
// argument checks, the bracketing of host callbacks and the precedence of
// results, and the second names.
#include <gtest/gtest.h>

#include <functional>

#include "exifwrite/exif_support.h"
#include "extract/parse_support.h"
#include "frame/stream_port.h"
#include "container/recognize.h"

namespace {

using namespace qdtest;
using namespace qdtest::parse;

constexpr uint32_t kHostError = 0x7E001;

struct KindFile {
  const char* name;
  Bytes bytes;
  uint8_t type;
};

std::vector<KindFile> Kinds(bool be) {
  return {{"heap file", HeapFile(RichHeap(be), be), 1},
          {"JPEG with a heap", JpegHeap(RichHeap(be), be), 2},
          {"TIFF RAW", TiffRaw(RichHeap(be), be), 3},
          {"Exif JPEG", RichExifJpeg(be), 5},
          {"Exif TIFF", RawExifTiff(be ? Order::MM : Order::II).file, 8}};
}

using ParseDriver = ParseTest;

TEST_F(ParseDriver, FileTypeCodesWithoutOpeningTheStream) {
  for (bool be : {false, true}) {
    for (const KindFile& k : Kinds(be)) {
      SCOPED_TRACE(k.name);
      TestStream in(k.bytes);
      uint8_t type = 0;
      EXPECT_EQ(QDParseStream(in.stream(), nullptr, nullptr, nullptr, nullptr, &type), QD_OK);
      EXPECT_EQ(type, k.type);
      EXPECT_EQ(in.CountOf(Callback::Open) + in.CountOf(Callback::Close), 0);

      QdAuxImageInfo aux;
      std::memset(&aux, 0xA5, sizeof aux);
      TestStream again(k.bytes);
      ASSERT_EQ(QDParseStream2(again.stream(), nullptr, nullptr, &aux, nullptr, nullptr, nullptr), QD_OK);
      if (k.type <= 3) EXPECT_TRUE(AllZero(aux)) << "a heap file has no auxiliary image";
    }
  }
  // Nothing recognised: the last probe's status, and type 0xFF.
  const Bytes junk(600, 0x55);
  TestStream probe(junk), in(junk);
  qd::StreamPort port;
  qd::MakeStreamPort(probe.stream(), &port);
  qd::Recognition found;
  const uint32_t declined = qd::ToResultCode(found.Run(port));
  ASSERT_NE(declined, QD_OK);
  uint8_t type = 0;
  EXPECT_EQ(QDParseStream(in.stream(), nullptr, nullptr, nullptr, nullptr, &type), declined);
  EXPECT_EQ(type, 0xFF);
  EXPECT_EQ(QDParseStream(nullptr, nullptr, nullptr, nullptr, nullptr, &type), QD_E_INVALID_ARG);
}

TEST_F(ParseDriver, JpegFrameFillsTheDescriptionsEvenWhenThePathFails) {
  HeapContent h = RichHeap(false);
  h.erase(0x080A);
  const Parsed p = Parse(JpegHeap(h, false));
  EXPECT_EQ(p.result, QD_E_UNSUPPORTED);
  EXPECT_EQ(Describe(p.thumb), "'' format 2 bits 0/0 colour 0 40x24 aspect 0 res 0x0");
  EXPECT_EQ(Describe(p.image).substr(0, 53), "'' format 2 bits 0/0 colour 0 40x24 aspect 0 res 0x0 ");
  EXPECT_EQ(Describe(p.capture), "time 0 number ffffffff owner '' type ''");
  EXPECT_EQ(Describe(p.shot), "-1 100 100 -1 ffff ff");

  // Recognition itself refuses a JPEG whose only APP1 holds an XMP packet, and
  // the frame still describes both images.
  const std::string xmp = "http://ns.adobe.com/xap/1.0/";
  Bytes packet(xmp.begin(), xmp.end());
  packet.push_back(0);
  const Parsed x = Parse(JpegWith({JfifApp0(), App1(packet)}, {8, 8, 3, 0x22, false, false}));
  EXPECT_NE(x.result, QD_OK);  // which refusal depends on the file's size
  EXPECT_EQ(Describe(x.thumb), "'' format 2 bits 0/0 colour 0 8x8 aspect 0 res 0x0");
  EXPECT_EQ(Describe(x.image).substr(0, 51), "'' format 2 bits 0/0 colour 0 8x8 aspect 0 res 0x0 ");
}

// Every file export, with an image record and a property stream where it takes them.
using Export = std::function<uint32_t(const qdlStream*, QdImageInfo*, const qdlStream* property)>;
const std::vector<std::pair<const char*, Export>> kThumbnailExports = {
    {"ThumbnailFileStream", [](auto s, auto i, auto o) {
       return QDParseThumbnailFileStream(s, 0, nullptr, i, nullptr, nullptr, nullptr, nullptr, o);
     }},
    {"ThumbnailFileStreamEx", [](auto s, auto i, auto o) {
       return QDParseThumbnailFileStreamEx(s, 0, nullptr, i, nullptr, nullptr, nullptr, nullptr, o, nullptr);
     }},
    {"GetFileStream", [](auto s, auto i, auto o) {
       return QDParseGetFileStream(s, 0, nullptr, i, nullptr, nullptr, nullptr, nullptr, o, nullptr);
     }},
    {"ThumbnailFileStreamEx2", [](auto s, auto i, auto o) {
       return QDParseThumbnailFileStreamEx2(s, 0, nullptr, i, nullptr, nullptr, nullptr, nullptr, nullptr, o, nullptr);
     }},
    {"GetFileStream2", [](auto s, auto i, auto o) {
       return QDParseGetFileStream2(s, 0, nullptr, i, nullptr, nullptr, nullptr, nullptr, nullptr, o, nullptr);
     }},
};
const std::vector<std::pair<const char*, Export>> kFullViewExports = {
    {"FullViewFileStream", [](auto s, auto i, auto o) {
       return QDParseFullViewFileStream(s, i, nullptr, nullptr, nullptr, nullptr, o);
     }},
    {"FullViewFileStreamEx", [](auto s, auto i, auto o) {
       return QDParseFullViewFileStreamEx(s, i, nullptr, nullptr, nullptr, nullptr, o, nullptr);
     }},
    {"GetDCFThumbnail", [](auto s, auto, auto) { return QDParseGetDCFThumbnail(s, nullptr); }},
};

TEST_F(ParseDriver, ExportsCheckCallbacksBracketTheStreamAndRankResults) {
  const Bytes good = RichExifJpeg(false);
  HeapContent broken = RichHeap(false);
  broken.erase(0x180E);
  const Bytes failing = JpegHeap(broken, false);  // recognised, then the path fails
  for (const bool thumbnail : {true, false}) {
    for (const auto& [name, call] : thumbnail ? kThumbnailExports : kFullViewExports) {
      SCOPED_TRACE(name);
      for (Callback missing : {Callback::Seek, Callback::Tell, Callback::Read}) {
        TestStream in(good);
        in.SetNull(missing);
        EXPECT_EQ(call(in.stream(), nullptr, nullptr), QD_E_INVALID_ARG);
        EXPECT_EQ(in.TotalCalls(), 0);
      }
      // A close error after a failing path: the thumbnail exports report it,
      // the full-view ones the path's error.
      TestStream both(failing);
      both.FailCall(Callback::Close, 1, kHostError);
      EXPECT_EQ(call(both.stream(), nullptr, nullptr), thumbnail ? kHostError : QD_E_UNSUPPORTED);
      if (thumbnail) continue;

      TestStream noSize(good);  // the size is taken after open: its error after a close
      noSize.FailCall(Callback::Tell, 1, kHostError);
      EXPECT_EQ(call(noSize.stream(), nullptr, nullptr), kHostError);
      EXPECT_EQ(noSize.CountOf(Callback::Close), 1);
    }
  }
  // The full-view exports measure the stream; the thumbnail exports take the caller's size.
  QdImageInfo image;
  TestStream in(good);
  ASSERT_EQ(kFullViewExports[0].second(in.stream(), &image, nullptr), QD_OK);
  EXPECT_FLOAT_EQ(+image.compressedBitsPerPixel, good.size() * 8.0f / (640 * 480));
  TestStream again(good);
  ASSERT_EQ(kThumbnailExports[0].second(again.stream(), &image, nullptr), QD_OK);
  EXPECT_FLOAT_EQ(+image.compressedBitsPerPixel, 1.0f);
}

TEST_F(ParseDriver, SecondNamesAreTheSameEntryPoints) {
#if defined(__GNUC__) && !defined(_WIN32)
  EXPECT_EQ(reinterpret_cast<void*>(&QDParseGetFileStream), reinterpret_cast<void*>(&QDParseThumbnailFileStreamEx));
#endif
  for (const KindFile& k : Kinds(true)) {
    const Parsed p = Parse(k.bytes, 9, QDParseGetFileStream2);
    EXPECT_TRUE(p == Parse(k.bytes, 9)) << k.name;
    EXPECT_FALSE(p.property.empty()) << k.name;
  }
}

}  // namespace
