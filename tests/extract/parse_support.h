// Fixtures of the parse tests and of the parse fuzzer's seeds: the properties
// heap that the heap path reads, files of every kind around it, Exif blocks
// from the library's own writer, a raw Exif TIFF laid out by hand, and the
// typed record stream read back.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>

#include "exifwrite/exif_buffer.h"
#include "exifwrite/exif_support.h"
#include "frame/fault.h"
#include "support/container_builder.h"
#include "support/heap_builder.h"
#include "support/jpeg_builder.h"
#include "support/test_stream.h"
#include "support/tiff_builder.h"

namespace qdtest::parse {

using namespace std::string_literals;

inline uint32_t Bits(float f) {
  uint32_t v;
  std::memcpy(&v, &f, 4);
  return v;
}
inline Bytes Text(const std::string& s) { return Bytes(s.c_str(), s.c_str() + s.size() + 1); }
inline Bytes Words(const std::vector<uint16_t>& w, bool be) {
  Bytes b(w.size() * 2);
  for (size_t i = 0; i < w.size(); ++i) PutU16(b, 2 * i, w[i], be);
  return b;
}

// Camera settings and shot information (each starts with its own length in
// bytes), filled so that every record of the standard field writer is due.
inline std::vector<uint16_t> RichSettings() {
  return {92, 1, 4, 9, 11, 0xFFFF, 0, 3, 0xFFFF, 0xFFFF, 0x21, 0x22,
          0, 0x7FFF, 0x7FFF, 0x7FFF, 0, 0xFFFF, 1, 0, 5, 0xFFFF, 0xFFFF, 0x18,
          0x24, 64, 1, 2, 0xFFFF, 6, 0, 0, 0x40, 0xFFFF, 0xFFFF, 0,
          0, 0, 0, 0xFFFF, 0x28, 0, 0x2A, 0x7FFF, 0xFFFF, 0xFFFF};
}
inline std::vector<uint16_t> RichShotInfo() {
  std::vector<uint16_t> si(33, 0);
  si[0] = 66;
  si[2] = 168;  // ISO 125
  si[4] = 96, si[5] = 64, si[6] = 16, si[7] = 1, si[8] = 2, si[13] = 64, si[14] = 14;
  si[15] = 0xFFF0, si[16] = 3, si[17] = 48, si[24] = 24;
  si[27] = si[28] = si[29] = 0xFFFF;
  return si;
}

// The properties heap by record type; PropertiesHeap puts each type into the
// nested heap that the path reads it from.
using HeapContent = std::map<uint16_t, Bytes>;

inline HeapContent RichHeap(bool be) {
  std::vector<uint16_t> custom(16);
  for (uint16_t i = 0; i < 16; ++i) custom[i] = static_cast<uint16_t>(0x3300 + i);
  return {
      {0x1803, U32s({0x00020000, Bits(2.5f)}, be)},  // class 2 (format 1), data 0
      {0x1810, U32s({3000, 2000, Bits(1.0f), 270, 12, 36, 0x0101}, be)},
      {0x1817, U32s({0x00123456}, be)}, {0x180E, U32s({1000000000, 3600, 0}, be)},
      {0x1026, U16s({5, 1, 7}, be)}, {0x0805, Text("A heap comment")},
      {0x1010, U16s({0x0102, 0x0304}, be)}, {0x1014, U16s({1}, be)}, {0x1805, U32s({1234}, be)},
      {0x1813, U32s({Bits(0.75f), 0}, be)},
      {0x1818, U32s({Bits(1.5f), Bits(2.5f), Bits(3.5f)}, be)},
      {0x0815, Text("Heap image type")}, {0x0810, Text("Heap owner")},
      {0x080A, Text("Vedra\0Vedra ARX K24 Pro"s)}, {0x180B, U32s({0xCAFE0001}, be)},
      {0x080B, Text("Firmware Version 2.10")}, {0x1029, U16s({1, 50, 0x0C00, 0x0800}, be)},
      {0x1027, U16s({1, 2, 3, 4, 5, 6}, be)}, {0x1028, U16s({0, 0, 6, 5}, be)},
      {0x102A, Words(RichShotInfo(), be)}, {0x102D, Words(RichSettings(), be)},
      {0x1033, Words(custom, be)}, {0x1834, U32s({0x80000001}, be)},
      {0x1039, U16s({0x39, 1, 2, 3}, be)}, {0x183B, U32s({0x3B}, be)},
      {0x183D, U32s({0, 2, 8, 24, 1, 160, 120, 1, 72, 96}, be)}, {0x183E, U32s({90}, be)},
      {0x1038, U16s({0x38, 0}, be)}, {0x003F, {0x3F, 1, 2}}, {0x1881, U32s({0x1881}, be)},
      {0x1081, U16s({0x1081, 1}, be)}, {0x1082, U16s({0x1082}, be)}, {0x0085, {0x85, 0}},
      {0x108E, U16s({0x108E}, be)}, {0x10AE, U16s({0xAE}, be)}, {0x10B4, U16s({2}, be)},
      {0x10B5, U16s({0xB5, 1}, be)},
  };
}

inline HeapBuilder PropertiesHeap(const HeapContent& content, bool be) {
  // Where each type lives: 0 for the top heap; anything not named in 0x300B.
  static const std::map<uint16_t, uint16_t> kParent = {
      {0x1803, 0}, {0x1810, 0}, {0x100A, 0}, {0x1804, 0}, {0x1817, 0}, {0x180E, 0}, {0x1026, 0},
      {0x0805, 0}, {0x1010, 0x3002}, {0x1805, 0x3002}, {0x1813, 0x3002}, {0x1818, 0x3002},
      {0x1807, 0x3002}, {0x1014, 0x3002}, {0x0815, 0x2804}, {0x0810, 0x2807}, {0x080A, 0x2807},
      {0x180B, 0x3004}, {0x080B, 0x3004}, {0x1812, 0x3004}};
  std::map<uint16_t, HeapBuilder> nested;
  HeapBuilder top(be);
  for (const auto& [type, bytes] : content) {
    const auto p = kParent.find(type);
    const uint16_t parent = p != kParent.end() ? p->second : 0x300B;
    if (parent == 0) top.Data(type, bytes);
    if (parent != 0) nested.emplace(parent, HeapBuilder(be)).first->second.Data(type, bytes);
  }
  if (nested.count(0x3004) != 0) {
    nested.emplace(0x2807, HeapBuilder(be)).first->second.Nested(0x3004, nested.at(0x3004));
  }
  for (uint16_t t : {0x3002, 0x2804, 0x2807, 0x300B}) {
    if (nested.count(t) != 0) top.Nested(t, nested.at(t));
  }
  return top;
}

// Larger than the parse gathers records in, so its record goes out by itself.
inline Bytes Icc() {
  Bytes profile = {'p', 'r', 'o', 'f', 'i', 'l', 'e', 1, 2, 3};
  profile.resize(5000, 0x1C);
  return profile;
}
inline Bytes Iim() { return {0x1C, 0x02, 0x78, 0x00, 0x03, 'a', 'b', 'c'}; }

// `segments` after the JFIF header (or after SOI without one).
inline Bytes JpegWith(std::initializer_list<Bytes> segments, const JpegShape& shape = {}) {
  const Bytes image = EncodeJpeg(shape);
  return Insert(image, SegmentOffset(image, marker::kDQT), segments);
}

// The three heap kinds, with an ICC profile and IIM data where they can carry one.
inline Bytes HeapFile(const HeapContent& c, bool be) {
  HeapBuilder root(be);
  root.Data(0x0805, Text("root comment"));
  root.Nested(kTypeImageProperties, PropertiesHeap(c, be));
  return HeapFileBuilder(root).Build();
}
// `jfif` replaces the encoder's JFIF header (give a shape without one).
inline Bytes JpegHeap(const HeapContent& c, bool be, const JpegShape& shape = {},
                      const Bytes& jfif = {}) {
  const Bytes heap = HeapFileBuilder(PropertiesHeap(c, be)).Subtype("JPGM").Build();
  return JpegWith({jfif, HeapApp0(heap), IccApp2(1, 1, Icc()), IimApp13(Iim())}, shape);
}
inline Bytes TiffRaw(const HeapContent& c, bool be) {
  TiffShape raw = RawTiffShape(be ? Order::MM : Order::II);
  raw.heap = HeapFileBuilder(PropertiesHeap(c, be)).Subtype("TIFP").Build();
  raw.privateBlock = Icc();
  raw.iptc = Iim();
  return BuildTiffFile(raw).bytes;
}

// Typed records {code, payload}, as the writer takes them and the parse writes them.
using RecordStream = std::vector<std::pair<uint16_t, Bytes>>;

// An APP1 payload ("Exif\0\0" and the TIFF bytes) from the library's writer,
// in either byte order.
inline Bytes WriterPayload(const ExifImageInfo* image, const ExifCaptureInfo* capture,
                           const ExifShotValues* shot, const RecordStream& records, bool be) {
  std::vector<Bytes> blocks;  // each record in a block of exactly its length
  std::vector<PropertyRecord*> list;
  for (const auto& [code, payload] : records) {
    blocks.push_back(Le().u16(code).u32(static_cast<uint32_t>(payload.size())));
    blocks.back().insert(blocks.back().end(), payload.begin(), payload.end());
  }
  for (Bytes& b : blocks) list.push_back(reinterpret_cast<PropertyRecord*>(b.data()));
  list.push_back(nullptr);
  TiffBlockInfo block{};
  // The relocation footer is little-endian only.
  const qd::Status st = qd::exif::BuildExifBuffer(image, capture, shot, list.data(),
                                                  {false, false, be, !be}, &block);
  if (st != qd::ST_OK) return {};
  Bytes payload(block.segment, block.tiff + block.tiffSize);
  (void)qdParseFreeExifBuffer(&block);
  return payload;
}

// An Exif JPEG around a block from the library's writer, with an ICC profile
// and IIM data.
struct ExifJpegFixture {
  ExifImageInfo image = Image("Vedra Q10", 640, 480, 300);
  ExifCaptureInfo capture{1700000000, 1000123, "Test Owner", "JPEG test image"};
  ExifShotValues shot{5.0f, 8.0f, -0.5f, 2.0f, 400, 1};
  RecordStream records;
  Bytes Build(bool be) const {
    const Bytes payload = WriterPayload(&image, &capture, &shot, records, be);
    return JpegWith({App1(payload), IccApp2(1, 1, Icc()), IimApp13(Iim())},
                    {40, 24, 3, 0x22, false, false});
  }
};
// With a thumbnail, a user comment, an ISO speed, record 0x85 and `more`.
inline Bytes RichExifJpeg(bool be, const RecordStream& more = {}) {
  ExifJpegFixture f;
  f.records = {
      {0x05, EncodeJpeg({16, 12, 3, 0x22, false, false})},
      {0x0B, Bytes{'A', 'S', 'C', 'I', 'I', 0, 0, 0, 2, 0, 0, 0, 'h', 'i'}},
      {0x0C, Bytes{200, 0}},
      {0x85, Bytes{2, 0}},
  };
  f.records.insert(f.records.end(), more.begin(), more.end());
  return f.Build(be);
}

// A raw Exif TIFF: maker note with camera settings (word 9 = 4), an ICC
// profile, IPTC data held in the entry itself, and IFD1 with an 8x6 RGB strip
// that ends exactly at the end of the file.
struct RawExif {
  Bytes file;
  Bytes strip;
};
// Its user comment, longer than the values the parse keeps without a block.
inline Bytes RawComment() { return Le().text(std::string("ASCII\0\0\0", 8)).text(std::string(3000, 'c')); }
struct RawExifOptions {
  std::string make = "vEdRa", firmware = "Firmware 1.0", type = "RAW";
  std::string model = "Vedra ARX-7Q";
  uint16_t kind = 4;               // camera settings word 9
  std::vector<uint16_t> settings;  // instead of the rich ones
  bool shortStrips = false;        // IFD1's strip tags as SHORT
  bool thumbSize = true;           // IFD1's width and length
  // More tags for IFD0, the Exif IFD and IFD1 (called on each layout pass).
  std::function<void(TiffIfd&, TiffIfd&, TiffIfd&)> edit;
};
inline RawExif RawExifTiff(Order order, const RawExifOptions& o = {}) {
  std::vector<uint16_t> cs = RichSettings();
  cs[1] = 2;  // the two-state setting, exempt for this model
  cs[9] = o.kind;
  if (!o.settings.empty()) cs = o.settings;
  RawExif out;
  for (uint32_t i = 0; i < 8 * 6 * 3; ++i) out.strip.push_back(static_cast<uint8_t>(i * 5 + 3));
  const auto stripSize = static_cast<uint32_t>(out.strip.size());
  uint32_t noteAt = 0, stripAt = 0, pad = 0;
  for (int pass = 0; pass < 2; ++pass) {  // the second pass knows where things land
    TiffBuilder note(order);
    note.NewIfd().Short(0x01, cs).Ascii(0x06, o.type).Ascii(0x07, o.firmware).Long(0x08, {4711})
        .Short(0x90, {0x90, 1});
    TiffBuilder tb(order);
    TiffIfd& ifd0 = tb.NewIfd();
    TiffIfd& exif = tb.NewIfd();
    TiffIfd& ifd1 = tb.NewIfd();
    ifd0.Short(0x100, {64}).Short(0x101, {48}).Short(0x102, {12}).Ascii(0x10F, o.make)
        .Ascii(0x110, o.model).Short(0x115, {1}).Rational(0x11A, {{72, 1}})
        .Rational(0x11B, {{72, 1}}).Short(0x128, {3}).Ascii(0x13B, "Artist Name")
        .Undefined(0x83BB, {0x1C, 0x02, 0x00, 0x00}).Sub(kTagExifIfd, exif)
        .Undefined(0x8773, Icc()).Next(ifd1);
    exif.Rational(0x829A, {{1, 125}}).Rational(0x829D, {{28, 10}}).Short(0x8827, {100})
        .Ascii(0x9003, "2001:02:03 04:05:06")
        .Undefined(kTagMakerNote, note.MakerNote(noteAt, false))
        .Undefined(0x9286, RawComment())
        .Rational(0xA20B, {{2, 1}});
    if (o.thumbSize) ifd1.Short(0x100, {8}).Short(0x101, {6});
    ifd1.Short(0x102, {8});
    if (o.shortStrips) ifd1.Short(0x111, {static_cast<uint16_t>(stripAt)}).Short(0x115, {3});
    if (o.shortStrips) ifd1.Short(0x117, {static_cast<uint16_t>(stripSize)});
    if (!o.shortStrips) ifd1.Long(0x111, {stripAt}).Short(0x115, {3}).Long(0x117, {stripSize});
    ifd1.Rational(0x11A, {{300, 1}}).Rational(0x11B, {{150, 1}}).Short(0x128, {2});
    if (o.edit) o.edit(ifd0, exif, ifd1);
    tb.Pad(pad);
    const TiffImage image = tb.Build();
    noteAt = image.ValueOffset(exif, kTagMakerNote);
    pad = image.size() < 512 ? 512 - image.size() : 0;
    stripAt = image.size() + pad;
    out.file = image.bytes;
  }
  out.file.insert(out.file.end(), out.strip.begin(), out.strip.end());
  return out;
}

// A typed record stream read back in stream order. An incomplete record ends
// the list with code 0xFFFF.
inline RecordStream ReadRecords(const Bytes& s) {
  RecordStream out;
  for (size_t at = 0; at < s.size();) {
    const uint32_t n = s.size() - at < 6 ? 0xFFFFFFFF : GetU32(&s[at + 2], false);
    if (n > s.size() - at - 6) {
      out.push_back({0xFFFF, {}});
      break;
    }
    out.push_back({GetU16(&s[at], false), Bytes(s.begin() + at + 6, s.begin() + at + 6 + n)});
    at += 6 + n;
  }
  return out;
}

// Descriptions as text, so that a mismatch shows every field (the records are
// packed: fields are copied, never bound to references).
inline std::string Describe(const QdThumbnailInfo& t) {
  char s[200];
  std::snprintf(s, sizeof s, "'%.32s' format %u bits %u/%u colour %u %ux%u aspect %g res %ux%u",
                t.model, +t.format, +t.bitsPerSample, +t.bitsPerPixel, +t.colour, +t.width,
                +t.height, double{t.aspect}, +t.xResolution, +t.yResolution);
  return s;
}
inline std::string Describe(const QdImageInfo& i) {
  QdThumbnailInfo head;
  std::memcpy(&head, &i, sizeof head);
  char s[200];
  std::snprintf(s, sizeof s, " cbpp %g data %u full %ux%u aspect %g res %ux%u flags %u",
                double{i.compressedBitsPerPixel}, +i.dataCode, +i.fullWidth, +i.fullHeight,
                double{i.fullAspect}, +i.fullXResolution, +i.fullYResolution, +i.flags);
  return Describe(head) + s;
}
inline std::string Describe(const ExifCaptureInfo& c) {
  char s[160];
  std::snprintf(s, sizeof s, "time %d number %x owner '%.32s' type '%.32s'", int{c.time},
                +c.fileNumber, c.owner, c.imageType);
  return s;
}
inline std::string Describe(const ExifShotValues& v) {
  char s[120];
  std::snprintf(s, sizeof s, "%g %g %g %g %x %x", double{v.aperture}, double{v.shutterSpeed},
                double{v.exposureCompensation}, double{v.additionalEv}, +v.settingWord,
                +v.settingFlag);
  return s;
}

// Everything QDParseThumbnailFileStreamEx2 (or an export of the same shape)
// reports, every output requested. The records start out filled with 0xA5 so
// that clearing shows.
struct Parsed {
  uint32_t result = 0;
  QdThumbnailInfo thumb;
  QdImageInfo image;
  QdAuxImageInfo aux;
  ExifCaptureInfo capture;
  ExifShotValues shot;
  Bytes comment, property, dcf;
  // The payload of the first record `code` written; {0xEE} when there is none.
  Bytes record(uint16_t code) const {
    for (const auto& [c, payload] : ReadRecords(property)) {
      if (c == code) return payload;
    }
    return {0xEE};
  }
};
using Ex2Export = decltype(&QDParseThumbnailFileStreamEx2);
inline Parsed Parse(const Bytes& file, uint32_t fileSize = 0,
                    Ex2Export entry = QDParseThumbnailFileStreamEx2) {
  Parsed p;
  std::memset(static_cast<void*>(&p.thumb), 0xA5,
              reinterpret_cast<uint8_t*>(&p.comment) - reinterpret_cast<uint8_t*>(&p.thumb));
  TestStream in(file), comment, property, dcf;
  p.result = entry(in.stream(), fileSize, &p.thumb, &p.image, &p.aux, &p.capture, &p.shot,
                   nullptr, comment.stream(), property.stream(), dcf.stream());
  p.comment = comment.data();
  p.property = property.data();
  p.dcf = dcf.data();
  return p;
}
// The file type code (0xFF when nothing was recognised).
inline uint8_t FileType(const Bytes& file) {
  TestStream in(file);
  uint8_t type = 0;
  (void)QDParseStream(in.stream(), nullptr, nullptr, nullptr, nullptr, &type);
  return type;
}

// The parse tests read times in UTC unless they set a zone, and each leaves
// no library block behind.
class ParseTest : public testing::Test {
 protected:
  void SetUp() override { Zone("UTC"); }
  void TearDown() override {
    Zone("UTC");
    EXPECT_EQ(qd::fault::LiveBlocks(), live_) << "blocks leaked";
  }
  static void Zone(const char* tz) {
    setenv("TZ", tz, 1);
    tzset();
  }

 private:
  const int64_t live_ = qd::fault::LiveBlocks();
};

}  // namespace qdtest::parse
