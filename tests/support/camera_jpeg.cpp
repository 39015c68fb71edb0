#include "support/camera_jpeg.h"

namespace qdtest {

Bytes CameraImage(uint16_t width, uint16_t height, uint8_t sampling) {
  const Bytes jpeg = EncodeJpeg({width, height, 3, sampling, false, false});
  Bytes dqt, dht, sof;
  size_t at = 2;
  for (; at + 4 <= jpeg.size() && jpeg[at + 1] != marker::kSOS; at += 2 + (jpeg[at + 2] << 8 | jpeg[at + 3])) {
    Bytes& into = jpeg[at + 1] == 0xDB ? dqt : jpeg[at + 1] == marker::kDHT ? dht : sof;
    into.insert(into.end(), jpeg.begin() + at + 4, jpeg.begin() + at + 2 + (jpeg[at + 2] << 8 | jpeg[at + 3]));
  }
  return Concat({{0xFF, marker::kSOI}, Segment(0xDB, dqt), Segment(marker::kDHT, dht), Segment(marker::kSOF0, sof),
                 Bytes(jpeg.begin() + at, jpeg.end())});
}

namespace {

// Entries in ascending tag order, as the cameras write them.
TiffImage BuildTiff(const CameraShape& s, uint32_t thumbnailAt, uint32_t thumbnailSize) {
  TiffBuilder tb(s.order);
  TiffIfd &ifd0 = tb.NewIfd(), &exif = tb.NewIfd(), &interop = tb.NewIfd(), &ifd1 = tb.NewIfd();
  const auto keep = [&](uint16_t tag) { return s.omit.count(tag) == 0; };
  const auto adobe = [&](uint16_t tag) { return s.adobeRgbTags && keep(tag); };
  if (keep(0x010F)) ifd0.Ascii(0x010F, s.make);
  ifd0.Ascii(0x0110, "Vedra QX-10");
  ifd1.Short(0x0103, {6});
  for (TiffIfd* ifd : {&ifd0, &ifd1}) ifd->Rational(0x011A, {{180, 1}}).Rational(0x011B, {{180, 1}}).Short(0x0128, {2});
  if (adobe(0x013E)) ifd0.Rational(0x013E, {{313, 1000}, {329, 1000}});
  if (adobe(0x013F)) ifd0.Rational(0x013F, {{64, 100}, {33, 100}, {21, 100}, {71, 100}, {15, 100}, {6, 100}});
  if (adobe(0x0211)) ifd0.Rational(0x0211, {{299, 1000}, {587, 1000}, {114, 1000}});
  if (keep(0x0213)) ifd0.Short(0x0213, {2});
  ifd0.Sub(kTagExifIfd, exif);
  if (keep(0x9000)) exif.Undefined(0x9000, Bytes(s.exifVersion.begin(), s.exifVersion.end()));
  exif.Ascii(0x9003, "2026:12:06 05:00:00").Ascii(0x9004, "2026:12:06 05:00:00").Undefined(0x9101, {1, 2, 3, 0});
  if (!s.makerNote.empty()) exif.Undefined(kTagMakerNote, s.makerNote);
  exif.Undefined(0xA000, {'0', '1', '0', '0'}).Short(0xA001, {s.colorSpace});
  if (keep(0xA002)) exif.Short(0xA002, {64});
  exif.Short(0xA003, {48}).Sub(kTagInteropIfd, interop);
  if (adobe(0xA500)) exif.Rational(0xA500, {{22, 10}});
  if (keep(0x0001)) interop.Ascii(0x0001, s.interopIndex);
  interop.Undefined(0x0002, {'0', '1', '0', '0'});
  if (s.ifd1) ifd0.Next(ifd1);
  ifd1.Raw(0x0201, kTLong, 1, thumbnailAt).Long(0x0202, {thumbnailSize});
  CameraIfds f{ifd0, exif, interop, ifd1};
  if (s.extra) s.extra(f);
  return tb.Build();
}

}  // namespace

Bytes CameraJpeg(const CameraShape& s) {
  const Bytes thumbnail = !s.thumbnail.empty() ? s.thumbnail
                          : s.portrait         ? CameraImage(120, 160, 0x12)
                                               : CameraImage(160, 120, 0x21);
  const auto size = static_cast<uint32_t>(thumbnail.size());
  // The thumbnail follows the TIFF structure, whose size does not depend on where it points.
  const Bytes tiff = BuildTiff(s, BuildTiff(s, 0, size).size(), size).bytes;
  return AfterSoi(CameraImage(64, 48, s.portrait ? 0x12 : 0x21), {App1(App1Payload(Concat({tiff, thumbnail})))});
}

}  // namespace qdtest
