#include "support/jpeg_builder.h"

#include <gtest/gtest.h>

#include <cstring>

#ifdef QDPARSE_TEST_LIBJPEG
#include <jpeglib.h>

#include <csetjmp>
#include <cstdio>  // jpeglib.h uses FILE without including it
#include <cstdlib>
#endif

namespace qdtest {
namespace {

void Append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

void Put16(Bytes& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}

uint32_t CeilDiv(uint32_t a, uint32_t b) { return (a + b - 1) / b; }

// A flat image written by hand: every DC difference and every AC coefficient
// is zero, coded with one-symbol Huffman tables whose only code is a single
// 0 bit. A scan is then one bit per block and coefficient band, padded with
// 1 bits.
[[maybe_unused]] Bytes FlatJpeg(const JpegShape& s) {
  using namespace marker;
  const uint32_t n = s.components;
  const uint32_t h0 = n == 3 ? s.sampling >> 4 : 1;
  const uint32_t v0 = n == 3 ? s.sampling & 15 : 1;

  Bytes out{0xFF, kSOI};
  if (s.jfif) Append(out, JfifApp0());
  Bytes dqt(65, 1);  // table 0, 8-bit entries, all 1
  dqt[0] = 0;
  Append(out, Segment(kDQT, dqt));
  Bytes sof{8};
  Put16(sof, s.height);
  Put16(sof, s.width);
  sof.push_back(static_cast<uint8_t>(n));
  for (uint32_t c = 0; c < n; ++c) {
    sof.insert(sof.end(),
               {static_cast<uint8_t>(c + 1), static_cast<uint8_t>(c == 0 ? h0 << 4 | v0 : 0x11), 0});
  }
  Append(out, Segment(s.progressive ? kSOF2 : kSOF0, sof));
  Bytes dht;
  for (uint8_t tableClass : {0x00, 0x10}) {  // DC 0, AC 0: one code of length 1 for symbol 0
    dht.push_back(tableClass);
    dht.push_back(1);
    dht.insert(dht.end(), 15, 0);
    dht.push_back(0);
  }
  Append(out, Segment(kDHT, dht));

  auto scan = [&](const Bytes& ids, uint8_t ss, uint8_t se, uint32_t bits) {
    Bytes sos{static_cast<uint8_t>(ids.size())};
    for (uint8_t id : ids) sos.insert(sos.end(), {id, 0x00});
    sos.insert(sos.end(), {ss, se, 0});
    Append(out, Segment(kSOS, sos));
    out.insert(out.end(), bits / 8, 0x00);
    if (bits % 8 != 0) out.push_back(static_cast<uint8_t>((1u << (8 - bits % 8)) - 1));
  };
  const uint32_t mcus = CeilDiv(s.width, 8 * h0) * CeilDiv(s.height, 8 * v0);
  const uint32_t blocksPerMcu = h0 * v0 + (n - 1);
  auto blocksOf = [&](uint32_t c) {  // one component's blocks in a scan of its own
    const uint32_t h = c == 0 ? h0 : 1, v = c == 0 ? v0 : 1;
    return CeilDiv(CeilDiv(s.width * h, h0), 8) * CeilDiv(CeilDiv(s.height * v, v0), 8);
  };
  const Bytes all = n == 3 ? Bytes{1, 2, 3} : Bytes{1};
  if (!s.progressive) {
    scan(all, 0, 63, mcus * blocksPerMcu * 2);  // DC category 0, then EOB
  } else {
    scan(all, 0, 0, mcus * blocksPerMcu);                         // DC first
    for (uint8_t id : all) scan({id}, 1, 63, blocksOf(id - 1u));  // EOB each
  }
  out.insert(out.end(), {0xFF, kEOI});
  return out;
}

#ifdef QDPARSE_TEST_LIBJPEG

// Samples of a textured image, so that the entropy-coded data is not trivial
// (and holds stuffed zeros).
Bytes Pixels(const JpegShape& s) {
  Bytes p(size_t{s.width} * s.height * s.components);
  size_t i = 0;
  for (uint32_t y = 0; y < s.height; ++y) {
    for (uint32_t x = 0; x < s.width; ++x) {
      for (uint32_t c = 0; c < s.components; ++c) {
        p[i++] = static_cast<uint8_t>(x * 29 + y * 71 + c * 83 + ((x ^ y) & 7) * 40);
      }
    }
  }
  return p;
}

struct ErrorTrap {
  jpeg_error_mgr mgr;
  jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void Trap(j_common_ptr c) {
  auto* trap = reinterpret_cast<ErrorTrap*>(c->err);
  (*c->err->format_message)(c, trap->message);
  longjmp(trap->jump, 1);
}

// Only trivially destructible locals here: a libjpeg error leaves by longjmp.
bool Encode(const JpegShape& s, const uint8_t* pixels, unsigned char** out, unsigned long* size,
            ErrorTrap* trap) {
  jpeg_compress_struct c;
  c.err = jpeg_std_error(&trap->mgr);
  trap->mgr.error_exit = Trap;
  if (setjmp(trap->jump)) {
    jpeg_destroy_compress(&c);
    return false;
  }
  jpeg_create_compress(&c);
  jpeg_mem_dest(&c, out, size);
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
  const size_t stride = size_t{s.width} * s.components;
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = const_cast<uint8_t*>(pixels + c.next_scanline * stride);
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  return true;
}

#endif

}  // namespace

bool EncoderIsLibjpeg() {
#ifdef QDPARSE_TEST_LIBJPEG
  return true;
#else
  return false;
#endif
}

Bytes EncodeJpeg(const JpegShape& s) {
#ifdef QDPARSE_TEST_LIBJPEG
  const Bytes pixels = Pixels(s);
  ErrorTrap trap{};
  unsigned char* out = nullptr;
  unsigned long size = 0;
  const bool ok = Encode(s, pixels.data(), &out, &size, &trap);
  Bytes jpeg;
  if (ok) jpeg.assign(out, out + size);
  std::free(out);
  EXPECT_TRUE(ok) << "libjpeg: " << trap.message;
  return jpeg;
#else
  return FlatJpeg(s);
#endif
}

Bytes Segment(uint8_t marker, const Bytes& payload, std::optional<uint16_t> length) {
  Bytes out{0xFF, marker};
  Put16(out, length ? *length : static_cast<uint32_t>(payload.size() + 2));
  Append(out, payload);
  return out;
}

Bytes JfifApp0(uint16_t version, uint8_t units, uint16_t xDensity, uint16_t yDensity) {
  Bytes p{'J', 'F', 'I', 'F', 0};
  Put16(p, version);
  p.push_back(units);
  Put16(p, xDensity);
  Put16(p, yDensity);
  p.insert(p.end(), {0, 0});  // no thumbnail
  return Segment(marker::kAPP0, p);
}

Bytes HeapApp0(const Bytes& heapFile) { return Segment(marker::kAPP0, heapFile); }

Bytes App1(const Bytes& payload) { return Segment(marker::kAPP1, payload); }

Bytes IccApp2(uint8_t sequence, uint8_t count, const Bytes& profile) {
  Bytes p{'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0, sequence, count};
  Append(p, profile);
  return Segment(marker::kAPP2, p);
}

Bytes IimApp13(const Bytes& iim, std::optional<uint32_t> sizeField) {
  const char kHead[] = "Photoshop 3.0";
  Bytes p(kHead, kHead + sizeof kHead);                       // with its NUL
  p.insert(p.end(), {'8', 'B', 'I', 'M', 0x04, 0x04, 0, 0});  // resource 0x0404, empty name
  const uint32_t size = sizeField ? *sizeField : static_cast<uint32_t>(iim.size());
  Put16(p, size >> 16);
  Put16(p, size & 0xFFFF);
  Append(p, iim);
  if (iim.size() % 2 != 0) p.push_back(0);  // resources are padded to even length
  return Segment(marker::kAPP13, p);
}

Bytes Fill(size_t extra, const Bytes& segment) {
  Bytes out(extra, 0xFF);
  Append(out, segment);
  return out;
}

size_t SegmentOffset(const Bytes& jpeg, uint8_t m) {
  if (m == marker::kEOI) {
    const size_t n = jpeg.size();
    return n >= 2 && jpeg[n - 2] == 0xFF && jpeg[n - 1] == marker::kEOI ? n - 2 : npos;
  }
  size_t at = 2;  // after SOI
  while (at < jpeg.size() && jpeg[at] == 0xFF) {
    size_t code = at + 1;
    while (code < jpeg.size() && jpeg[code] == 0xFF) ++code;
    if (code + 2 >= jpeg.size()) return npos;
    if (jpeg[code] == m) return at;
    if (jpeg[code] == marker::kSOS) return npos;
    at = code + 1 + (size_t{jpeg[code + 1]} << 8 | jpeg[code + 2]);
  }
  return npos;
}

Bytes Insert(const Bytes& jpeg, size_t at, std::initializer_list<Bytes> pieces) {
  Bytes out(jpeg.begin(), jpeg.begin() + static_cast<ptrdiff_t>(at));
  for (const Bytes& p : pieces) Append(out, p);
  out.insert(out.end(), jpeg.begin() + static_cast<ptrdiff_t>(at), jpeg.end());
  return out;
}

Bytes Concat(std::initializer_list<Bytes> pieces) {
  Bytes out;
  for (const Bytes& p : pieces) Append(out, p);
  return out;
}

}  // namespace qdtest
