// The TIFF container readers over whole files in both byte orders, IFD0 at 8
// or behind IFD1: the TIFF-RAW and Exif-TIFF probes, Make and Model. Error
// cases break one field of a valid file. The heap's write-back is the heap
// replacement's (tests/replace and the sweep).
#include "tiffjpeg/tiff_probes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "frame/memory_block.h"
#include "support/container_builder.h"
#include "support/fault_sweep.h"
#include "support/jpeg_builder.h"

namespace qdtest {
namespace {

// A test stream over the bytes and a port onto it.
struct Port {
  explicit Port(const Bytes& bytes) : stream(bytes) { qd::MakeStreamPort(stream.stream(), &port); }
  TestStream stream;
  qd::StreamPort port{};
};

// The TIFF-RAW probe's outputs, released on scope exit.
struct RawProbe {
  explicit RawProbe(const Bytes& bytes)
      : status(qd::tiff::ProbeTiffRaw(Port(bytes).port, &heap, &image, &ext)) {}
  ~RawProbe() {
    (void)qdParseFreeHeapObject(heap);
    (void)qdParseFreeOutPutInfo(&ext);
  }
  HeapObject heap{};
  TiffImageInfo image{};
  OutPutInfo ext{};
  qd::Status status;
};

qd::Status ProbeExif(const Bytes& bytes, TiffBlockInfo* block) {
  return qd::tiff::ProbeExifTiff(Port(bytes).port, block);
}
qd::Status ReadMakeModel(const Bytes& bytes) {
  char make[32], model[32];
  return qd::tiff::ReadMakeModel(Port(bytes).port, model, make);
}

Bytes Of(const uint8_t* p, uint32_t n) { return p == nullptr ? Bytes{} : Bytes(p, p + n); }

struct Layout {
  Order order;
  bool ifd0AtEight;
};

class TiffProbes : public testing::TestWithParam<Layout> {
 protected:
  TiffShape Shape(bool raw = true) const {
    TiffShape s = raw ? RawTiffShape(GetParam().order) : ExifTiffShape(GetParam().order);
    s.ifd0AtEight = GetParam().ifd0AtEight;
    return s;
  }
  bool big() const { return GetParam().order == Order::MM; }
};

// The heap, the image description and both extension blocks, or nothing at
// all after a decline (the extension blocks are loaded before the heap).
TEST_P(TiffProbes, RawProbe) {
  const bool be = big();
  const struct {
    const char* name;
    std::function<void(TiffShape&)> change;
    uint16_t tooLong;  // a tag whose count then reaches the end of the stream
    qd::Status expected;
  } rows[] = {
      {"grey", [](TiffShape& s) { s.photometric = 1; }, 0, qd::ST_OK},
      {"LONG dimensions", [](TiffShape& s) { s.dimensionType = kTLong; }, 0, qd::ST_OK},
      {"BYTE heap", [](TiffShape& s) { s.heapType = kTByte; }, 0, qd::ST_OK},
      {"IFD0 of 33 entries", [](TiffShape& s) { s.ifd0Entries = 33; }, 0, qd::ST_NOT_FOUND},
      {"no photometric", [](TiffShape& s) { s.photometric.reset(); }, 0, qd::ST_NOT_FOUND},
      {"photometric 3", [](TiffShape& s) { s.photometric = 3; }, 0, qd::ST_UNSUPPORTED},
      {"RATIONAL width", [](TiffShape& s) { s.dimensionType = kTRational; }, 0, qd::ST_UNSUPPORTED},
      {"another subtype", [be](TiffShape& s) { s.heap = EmbeddedHeapImage(be, "CCDR"); }, 0,
       qd::ST_UNSUPPORTED},
      {"heap as long as the stream", nullptr, kTagEmbeddedHeap, qd::ST_UNSUPPORTED},
      {"IPTC block past the end", nullptr, kTagIptc, qd::ST_UNSUPPORTED},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TiffShape s = Shape();
    s.width = 7;
    s.height = 3;
    s.privateBlock = Bytes(40, 0x40);  // out of line
    s.iptc = {1, 2, 3};                // inside its entry
    if (row.change) row.change(s);
    TiffFile f = BuildTiffFile(s);
    if (row.tooLong != 0) f.SetIfd0Count(row.tooLong, static_cast<uint32_t>(f.bytes.size()));
    const int64_t live = LiveBlocks();
    {
      RawProbe probe(f.bytes);
      const TiffImageInfo& i = probe.image;
      const HeapObject& h = probe.heap;
      const bool ok = row.expected == qd::ST_OK;
      EXPECT_EQ(probe.status, row.expected);
      EXPECT_EQ((std::vector<uint32_t>{i.colour, i.rgb, i.width, i.height, h.bigEndian}),
                (std::vector<uint32_t>{ok, ok && s.photometric == 2, ok * 7u, ok * 3u, ok && be}));
      EXPECT_EQ(Of(h.block, qd::BlockLength(h.block)), ok ? *s.heap : Bytes{});
      EXPECT_STREQ(h.type, ok ? "TIFP" : "");
      EXPECT_EQ(static_cast<uint8_t*>(h.heap), ok ? h.block + 26 : nullptr);
      EXPECT_EQ(Of(probe.ext.iccProfile, probe.ext.iccProfileSize), ok ? s.privateBlock : Bytes{});
      EXPECT_EQ(Of(probe.ext.iim, probe.ext.iimSize), ok ? s.iptc : Bytes{});
    }
    EXPECT_EQ(LiveBlocks(), live);
  }
}

// Only the order and IFD0 are delivered; the 42 is not looked at. A TIFF RAW
// file has no Exif pointer; neither has one whose IFD0 entries run past the
// end, nor a file shorter than the IFD0 window. A file whose IFD0 window lies
// past the end is declined by the probes and refused by the readers that need
// IFD0. Only IFD0's entries are entries, not what follows the last one.
TEST_P(TiffProbes, ExifProbeAndIfd0PastTheEnd) {
  const TiffFile f = BuildTiffFile(Shape(false));
  TiffBlockInfo block, expected{};
  std::memset(&block, 0xAB, sizeof block);
  ASSERT_EQ(ProbeExif(f.bytes, &block), qd::ST_OK);
  expected.byteOrder = big();
  expected.ifdOffset = f.ifd0;
  EXPECT_EQ(std::memcmp(&block, &expected, sizeof block), 0);
  Bytes magic = f.bytes, mark = f.bytes, count = f.bytes, far = f.bytes;
  magic[2] = magic[3] = 0x2B;
  EXPECT_EQ(ProbeExif(magic, &block), qd::ST_OK);
  mark[1] = mark[0] == 'I' ? 'M' : 'I';
  EXPECT_EQ(ProbeExif(mark, &block), qd::ST_UNSUPPORTED);
  PutU16(count, f.ifd0, 0xFFFF, big());
  EXPECT_EQ(ProbeExif(count, &block), qd::ST_NOT_FOUND);
  EXPECT_EQ(ProbeExif(BuildTiffFile(Shape()).bytes, &block), qd::ST_NOT_FOUND);
  PutU32(far, 4, static_cast<uint32_t>(f.bytes.size() + 100), big());
  EXPECT_EQ(RawProbe(far).status, qd::ST_NOT_FOUND);
  EXPECT_EQ(ReadMakeModel(far), qd::ST_WRONG_STATE);
  const Bytes cut(f.bytes.begin(), f.bytes.begin() + kIfd0Window - 1);
  EXPECT_EQ(ProbeExif(cut, &block), qd::ST_NOT_FOUND);
  EXPECT_EQ(RawProbe(cut).status, qd::ST_NOT_FOUND);
  EXPECT_EQ(ReadMakeModel(cut), qd::ST_NOT_FOUND);
  // A Make inline, then a value holding what reads as a Model entry on the
  // 12-byte grid of the entries: the value starts at 8 + 2 + 2 * 12 + 4 = 38.
  const Bytes fake = Concat(
      {Bytes(8, 0), U16s({0x0110, kTAscii}, big()), U32s({3}, big()), Bytes{'a', 'b', 0, 0}});
  TiffBuilder tb(GetParam().order);
  tb.NewIfd().Ascii(0x010F, "Mk").Undefined(0x9999, fake);
  tb.Pad(kIfd0Window);
  EXPECT_EQ(ReadMakeModel(tb.Build().bytes), qd::ST_NOT_FOUND);
}

INSTANTIATE_TEST_SUITE_P(Layouts, TiffProbes,
                         testing::Values(Layout{Order::II, true}, Layout{Order::II, false},
                                         Layout{Order::MM, true}, Layout{Order::MM, false}),
                         [](const auto& info) {
                           return std::string(info.param.order == Order::II ? "II" : "MM") +
                                  (info.param.ifd0AtEight ? "At8" : "Elsewhere");
                         });

}  // namespace
}  // namespace qdtest
