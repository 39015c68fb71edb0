#include "support/jpeg_builder.h"

#include "support/heap_builder.h"

#ifdef QDPARSE_TEST_LIBJPEG
#include <cstdio>  // jpeglib.h uses FILE without including it
#include <cstdlib>

#include <jpeglib.h>
#endif

namespace qdtest {
namespace {

Bytes Be16(std::initializer_list<uint16_t> values) { return U16s(values, true); }

#ifdef QDPARSE_TEST_LIBJPEG

// A textured image, so that the entropy-coded data is not trivial (and holds
// stuffed zeros). A libjpeg error ends the test program with its message.
Bytes Encode(const JpegShape& s) {
  Bytes pixels;
  for (uint32_t y = 0; y < s.height; ++y) {
    for (uint32_t x = 0; x < s.width; ++x) {
      for (uint32_t c = 0; c < s.components; ++c) {
        pixels.push_back(static_cast<uint8_t>(x * 29 + y * 71 + c * 83 + ((x ^ y) & 7) * 40));
      }
    }
  }
  jpeg_error_mgr errors;
  jpeg_compress_struct c;
  c.err = jpeg_std_error(&errors);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = s.width;
  c.image_height = s.height;
  c.input_components = s.components;
  c.in_color_space = s.components == 3 ? JCS_RGB : JCS_GRAYSCALE;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 90, TRUE);
  c.write_JFIF_header = s.jfif ? TRUE : FALSE;
  c.JFIF_major_version = static_cast<UINT8>(kJfifVersion >> 8);
  c.JFIF_minor_version = static_cast<UINT8>(kJfifVersion & 0xFF);
  c.density_unit = kJfifUnits;
  c.X_density = kJfifXDensity;
  c.Y_density = kJfifYDensity;
  if (s.components == 3) {
    c.comp_info[0].h_samp_factor = s.sampling >> 4;
    c.comp_info[0].v_samp_factor = s.sampling & 15;
  }
  if (s.progressive) jpeg_simple_progression(&c);
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = &pixels[size_t{c.next_scanline} * s.width * s.components];
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  const Bytes jpeg(out, out + size);
  std::free(out);
  return jpeg;
}

#else

uint32_t CeilDiv(uint32_t a, uint32_t b) { return (a + b - 1) / b; }

// A flat image written by hand: every DC difference and every AC coefficient
// is zero, coded with one-symbol Huffman tables whose only code is a single
// 0 bit. A scan is then one bit per block and coefficient band, padded with
// 1 bits.
Bytes Encode(const JpegShape& s) {
  using namespace marker;
  const uint32_t n = s.components;
  const uint32_t h0 = n == 3 ? s.sampling >> 4 : 1;
  const uint32_t v0 = n == 3 ? s.sampling & 15 : 1;
  Bytes dqt(65, 1);  // table 0, 8-bit entries, all 1
  dqt[0] = 0;
  Bytes sof = Concat({{8}, Be16({s.height, s.width}), {s.components}});
  for (uint32_t c = 0; c < n; ++c) {
    const auto factors = static_cast<uint8_t>(c == 0 ? h0 << 4 | v0 : 0x11);
    sof.insert(sof.end(), {static_cast<uint8_t>(c + 1), factors, 0});
  }
  Bytes table(17, 0);  // one code of length 1, for symbol 0
  table[0] = 1;
  Bytes out = Concat({{0xFF, kSOI}, s.jfif ? JfifApp0() : Bytes{}, Segment(kDQT, dqt),
                      Segment(s.progressive ? kSOF2 : kSOF0, sof),
                      Segment(kDHT, Concat({{0x00}, table, {0x10}, table}))});  // DC 0, AC 0

  auto scan = [&](const Bytes& ids, uint8_t ss, uint8_t se, uint32_t bits) {
    Bytes sos{static_cast<uint8_t>(ids.size())};
    for (uint8_t id : ids) sos.insert(sos.end(), {id, 0x00});
    sos.insert(sos.end(), {ss, se, 0});
    out = Concat({out, Segment(kSOS, sos), Bytes(bits / 8, 0x00)});
    if (bits % 8 != 0) out.push_back(static_cast<uint8_t>((1u << (8 - bits % 8)) - 1));
  };
  const uint32_t mcus = CeilDiv(s.width, 8 * h0) * CeilDiv(s.height, 8 * v0);
  const uint32_t blocksPerMcu = h0 * v0 + (n - 1);
  const Bytes all = n == 3 ? Bytes{1, 2, 3} : Bytes{1};
  if (!s.progressive) {
    scan(all, 0, 63, mcus * blocksPerMcu * 2);  // DC category 0, then EOB
  } else {
    scan(all, 0, 0, mcus * blocksPerMcu);  // DC first, then each component's EOBs
    for (uint8_t id : all) {
      const uint32_t h = id == 1 ? h0 : 1, v = id == 1 ? v0 : 1;  // its blocks in a scan of its own
      const uint32_t blocks =
          CeilDiv(CeilDiv(s.width * h, h0), 8) * CeilDiv(CeilDiv(s.height * v, v0), 8);
      scan({id}, 1, 63, blocks);
    }
  }
  return Concat({out, {0xFF, kEOI}});
}

#endif

}  // namespace

Bytes EncodeJpeg(const JpegShape& s) { return Encode(s); }

Bytes Segment(uint8_t marker, const Bytes& payload, std::optional<uint16_t> length) {
  const uint16_t field = length.value_or(static_cast<uint16_t>(payload.size() + 2));
  return Concat({{0xFF, marker}, Be16({field}), payload});
}

Bytes JfifApp0(uint16_t version, uint8_t units, uint16_t xDensity, uint16_t yDensity) {
  // No thumbnail: its width and height are zero.
  return Segment(marker::kAPP0, Concat({{'J', 'F', 'I', 'F', 0}, Be16({version}), {units},
                                        Be16({xDensity, yDensity, 0})}));
}

Bytes IccApp2(uint8_t sequence, uint8_t count, const Bytes& profile) {
  const Bytes head{'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0, sequence, count};
  return Segment(marker::kAPP2, Concat({head, profile}));
}

Bytes IimApp13(const Bytes& iim, std::optional<uint32_t> sizeField) {
  const char kHead[] = "Photoshop 3.0";
  const Bytes head(kHead, kHead + sizeof kHead);  // with its NUL
  const Bytes resource{'8', 'B', 'I', 'M', 0x04, 0x04, 0, 0};  // IPTC-NAA, empty name
  const Bytes size = U32s({sizeField.value_or(static_cast<uint32_t>(iim.size()))}, true);
  const Bytes pad(iim.size() % 2, 0);  // resources are padded to even length
  return Segment(marker::kAPP13, Concat({head, resource, size, iim, pad}));
}

Bytes Fill(size_t extra, const Bytes& segment) { return Concat({Bytes(extra, 0xFF), segment}); }

size_t SegmentOffset(const Bytes& jpeg, uint8_t m) {
  const size_t n = jpeg.size();
  if (m == marker::kEOI) return n >= 2 && jpeg[n - 2] == 0xFF && jpeg[n - 1] == m ? n - 2 : npos;
  size_t at = 2;  // after SOI
  while (at < n && jpeg[at] == 0xFF) {
    size_t code = at + 1;
    while (code < n && jpeg[code] == 0xFF) ++code;
    if (code + 2 >= n || (jpeg[code] == marker::kSOS && m != marker::kSOS)) return npos;
    if (jpeg[code] == m) return at;
    at = code + 1 + GetU16(&jpeg[code + 1], true);
  }
  return npos;
}

Bytes Insert(const Bytes& jpeg, size_t at, std::initializer_list<Bytes> pieces) {
  Bytes out(jpeg.begin(), jpeg.begin() + static_cast<ptrdiff_t>(at));
  for (const Bytes& p : pieces) out.insert(out.end(), p.begin(), p.end());
  out.insert(out.end(), jpeg.begin() + static_cast<ptrdiff_t>(at), jpeg.end());
  return out;
}

Bytes Concat(std::initializer_list<Bytes> pieces) { return Insert({}, 0, pieces); }

}  // namespace qdtest
