// The TIFF container readers over whole files in both byte orders, with IFD0
// at offset 8 and behind IFD1: the TIFF-RAW and Exif-TIFF probes, Make and
// Model, and the rewrite of the embedded heap. Error cases break one field of
// a valid file.
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
#include "support/test_stream.h"

namespace qdtest {
namespace {

using Nums = std::vector<uint32_t>;

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

// Make and Model into 32-byte buffers with guard bytes behind them.
qd::Status ReadMakeModel(const Bytes& bytes, std::string* make = nullptr,
                         std::string* model = nullptr) {
  char buffers[2][48];
  std::memset(buffers, 0, sizeof buffers);
  std::memset(buffers[0] + 32, 0xCC, 16);
  std::memset(buffers[1] + 32, 0xCC, 16);
  const qd::Status st = qd::tiff::ReadMakeModel(Port(bytes).port, buffers[1], buffers[0]);
  EXPECT_EQ(Bytes(buffers[0] + 32, buffers[0] + 48), Bytes(16, 0xCC));
  EXPECT_EQ(Bytes(buffers[1] + 32, buffers[1] + 48), Bytes(16, 0xCC));
  if (make != nullptr) *make = buffers[0];
  if (model != nullptr) *model = buffers[1];
  return st;
}

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

TEST_P(TiffProbes, RawProbeDeliversHeapImageAndExtensionBlocks) {
  for (const auto& [heapType, photometric, dimensionType] :
       {std::tuple{kTUndefined, 1, kTLong}, {kTByte, 2, kTShort}}) {
    TiffShape s = Shape();
    s.heapType = heapType;
    s.photometric = static_cast<uint16_t>(photometric);
    s.dimensionType = dimensionType;
    s.width = 7;
    s.height = 3;
    s.privateBlock = Bytes(40, 0x40);  // out of line
    s.iptc = {1, 2, 3};                // inside its entry
    RawProbe probe(BuildTiffFile(s).bytes);
    ASSERT_EQ(probe.status, qd::ST_OK);
    const TiffImageInfo& i = probe.image;
    const HeapObject& h = probe.heap;
    EXPECT_EQ((Nums{i.colour, i.rgb, i.width, i.height, h.bigEndian}),
              (Nums{1, photometric == 2, 7, 3, big()}));
    EXPECT_EQ(Bytes(h.block, h.block + qd::BlockLength(h.block)), *s.heap);
    EXPECT_STREQ(h.type, "TIFP");
    EXPECT_EQ(static_cast<uint8_t*>(h.heap), h.block + 26);
    EXPECT_EQ(Bytes(probe.ext.iccProfile, probe.ext.iccProfile + probe.ext.iccProfileSize),
              s.privateBlock);
    EXPECT_EQ(Bytes(probe.ext.iim, probe.ext.iim + probe.ext.iimSize), s.iptc);
  }
}

TEST_P(TiffProbes, RawProbeDeclinesOrRefusesWithNothingLeftAllocated) {
  const bool be = big();
  const struct {
    const char* name;
    std::function<void(TiffShape&)> breakShape;
    uint16_t tooLong;  // a tag whose count then reaches the end of the stream
    qd::Status expected;
  } rows[] = {
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
    s.privateBlock = Bytes(12, 1);  // loaded before the heap: must be released again
    s.iptc = Bytes(9, 2);
    if (row.breakShape) row.breakShape(s);
    TiffFile f = BuildTiffFile(s);
    if (row.tooLong != 0) f.SetIfd0Count(row.tooLong, static_cast<uint32_t>(f.bytes.size()));
    const int64_t live = LiveBlocks();
    {
      RawProbe probe(f.bytes);
      EXPECT_EQ(probe.status, row.expected);
      if (row.expected != qd::ST_OK)
        EXPECT_TRUE(probe.heap.block == nullptr && probe.ext.iccProfile == nullptr);
    }
    EXPECT_EQ(LiveBlocks(), live);
  }
}

// Only the order and IFD0 are delivered; the 42 is not looked at. A TIFF RAW
// file has no Exif pointer; neither has one whose IFD0 entries run past the end.
TEST_P(TiffProbes, ExifProbeNeedsTheExifPointerInIfd0) {
  const TiffFile f = BuildTiffFile(Shape(false));
  TiffBlockInfo block, expected{};
  std::memset(&block, 0xAB, sizeof block);
  ASSERT_EQ(ProbeExif(f.bytes, &block), qd::ST_OK);
  expected.byteOrder = big();
  expected.ifdOffset = f.ifd0;
  EXPECT_EQ(std::memcmp(&block, &expected, sizeof block), 0);
  Bytes magic = f.bytes, mark = f.bytes, count = f.bytes;
  magic[2] = magic[3] = 0x2B;
  EXPECT_EQ(ProbeExif(magic, &block), qd::ST_OK);
  mark[1] = mark[0] == 'I' ? 'M' : 'I';
  EXPECT_EQ(ProbeExif(mark, &block), qd::ST_UNSUPPORTED);
  PutU16(count, f.ifd0, 0xFFFF, big());
  EXPECT_EQ(ProbeExif(count, &block), qd::ST_NOT_FOUND);
  EXPECT_EQ(ProbeExif(BuildTiffFile(Shape()).bytes, &block), qd::ST_NOT_FOUND);
}

// The probes decline a file whose IFD0 window lies past the end (at offset 8
// it is the first 398 bytes, so only elsewhere can it be cut); the readers
// that need IFD0 refuse it.
TEST_P(TiffProbes, Ifd0WindowPastTheEndIsDeclinedOrRefused) {
  const TiffFile f = BuildTiffFile(Shape());
  std::vector<Bytes> files(1, f.bytes);
  PutU32(files[0], 4, static_cast<uint32_t>(f.bytes.size() + 100), big());
  if (f.ifd0 != 8) files.emplace_back(f.bytes.begin(), f.bytes.begin() + f.ifd0 + kIfd0Window - 1);
  for (const Bytes& bytes : files) {
    EXPECT_EQ(RawProbe(bytes).status, qd::ST_NOT_FOUND);
    EXPECT_EQ(ReadMakeModel(bytes), qd::ST_WRONG_STATE);
    Port p(bytes);
    EXPECT_EQ(qd::tiff::RewriteEmbeddedHeap(p.port, HeapObject{}), qd::ST_WRONG_STATE);
    EXPECT_TRUE(p.stream.writes().empty());
  }
}

// Up to 4 bytes (the NUL included) sit in the entry itself; longer texts are
// cut to 31. The Model's failure is reported before the Make's, and a Make
// that could be read is delivered whatever happened to the Model.
TEST_P(TiffProbes, MakeAndModel) {
  const std::string sixty(60, 'x');
  const struct {
    std::string make, model;
    bool makeCut, modelCut;  // value moved past the end of the file
    qd::Status expected;
  } rows[] = {
      {"Abc", "Long model name", false, false, qd::ST_OK},
      {sixty, sixty + "!", false, false, qd::ST_OK},
      {"", "Model name", false, false, qd::ST_NOT_FOUND},
      {"Maker name", "", true, false, qd::ST_NOT_FOUND},
      {"Maker name", "Model name", false, true, qd::ST_PAST_END},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.make + "/" + row.model);
    TiffShape s = Shape();
    s.make = row.make;
    s.model = row.model;
    TiffFile f = BuildTiffFile(s);
    if (row.makeCut) f.SetIfd0Field(0x010F, static_cast<uint32_t>(f.bytes.size()) - 4);
    if (row.modelCut) f.SetIfd0Field(0x0110, static_cast<uint32_t>(f.bytes.size()) - 4);
    std::string make, model;
    EXPECT_EQ(ReadMakeModel(f.bytes, &make, &model), row.expected);
    EXPECT_EQ(make, row.makeCut ? "" : row.make.substr(0, 31));
    if (row.expected == qd::ST_OK) EXPECT_EQ(model, row.model.substr(0, 31));
  }
}

// The rewrite replaces the heap image (or the front of it, when it shrank) and
// refuses a heap that no longer fits, writing nothing. No export reaches it,
// so the reader's allocation failure is checked here.
TEST_P(TiffProbes, RewriteReplacesExactlyTheHeapImage) {
  const TiffFile f = BuildTiffFile(Shape());
  const Bytes changed = EmbeddedHeapImage(big(), "TIFP", 5);
  ASSERT_EQ(changed.size(), f.heapSize);
  const auto descriptor = [&](uint32_t blockSize, uint32_t length) {
    HeapObject h{PayloadBlock(Bytes(changed.begin(), changed.begin() + blockSize)), 26};
    h.heap = h.block + 26;
    h.heapLength = length - 26;
    return h;
  };
  for (const auto& [blockSize, length, expected] :
       {std::tuple{f.heapSize, f.heapSize, qd::ST_OK},
        {f.heapSize, f.heapSize - 4, qd::ST_OK},
        {f.heapSize, f.heapSize + 1, qd::ST_SIZE_MISMATCH}}) {
    SCOPED_TRACE(testing::Message() << blockSize << " " << length);
    const HeapObject h = descriptor(blockSize, length);
    Port p(f.bytes);
    EXPECT_EQ(qd::tiff::RewriteEmbeddedHeap(p.port, h), expected);
    Bytes written = f.bytes;
    if (expected == qd::ST_OK)
      std::copy(changed.begin(), changed.begin() + length, written.begin() + f.heapAt);
    EXPECT_EQ(p.stream.data(), written);
    EXPECT_EQ(p.stream.writes().size(), expected == qd::ST_OK ? 1u : 0u);
    (void)qdParseFreeHeapObject(h);
  }
  const HeapObject h = descriptor(f.heapSize, f.heapSize);
  const auto rewrite = [&] {
    return uint32_t(qd::tiff::RewriteEmbeddedHeap(Port(f.bytes).port, h));
  };
  EXPECT_GT(SweepAllocationFailures(rewrite, {qd::ST_READER_NO_MEMORY}), 1);
  (void)qdParseFreeHeapObject(h);
}

INSTANTIATE_TEST_SUITE_P(Layouts, TiffProbes,
                         testing::Values(Layout{Order::II, true}, Layout{Order::II, false},
                                         Layout{Order::MM, true}, Layout{Order::MM, false}),
                         [](const auto& info) {
                           return std::string(info.param.order == Order::II ? "II" : "MM") +
                                  (info.param.ifd0AtEight ? "At8" : "Elsewhere");
                         });

TEST(TiffReaders, FilesShorterThanTheIfd0WindowAreRejectedByEveryOne) {
  for (const auto& [order, raw] :
       {std::pair{Order::II, true}, {Order::MM, true}, {Order::MM, false}}) {
    TiffShape s = raw ? RawTiffShape(order) : ExifTiffShape(order);
    s.ifd1 = false;  // nothing but padding after 397 bytes
    TiffFile f = BuildTiffFile(s);
    ASSERT_LE(f.contentEnd, kIfd0Window - 1);
    f.bytes.resize(kIfd0Window);
    TiffBlockInfo block{};
    EXPECT_EQ(raw ? RawProbe(f.bytes).status : ProbeExif(f.bytes, &block), qd::ST_OK);
    f.bytes.resize(kIfd0Window - 1);
    EXPECT_EQ(RawProbe(f.bytes).status, qd::ST_NOT_FOUND);
    EXPECT_EQ(ProbeExif(f.bytes, &block), qd::ST_NOT_FOUND);
    EXPECT_EQ(ReadMakeModel(f.bytes), qd::ST_NOT_FOUND);
    EXPECT_EQ(qd::tiff::RewriteEmbeddedHeap(Port(f.bytes).port, HeapObject{}), qd::ST_NOT_FOUND);
  }
}

// Only IFD0's entries are entries: not what follows the last one.
TEST(TiffReaders, OnlyWholeEntriesOfIfd0AreRead) {
  for (const Order order : {Order::II, Order::MM}) {
    const bool be = order == Order::MM;
    // A Make inline, then a value holding what reads as a Model entry on the
    // 12-byte grid of the entries: the value starts at 8 + 2 + 2 * 12 + 4 = 38.
    Bytes fake =
        Concat({Bytes(8, 0), U16s({0x0110, kTAscii}, be), U32s({3}, be), Bytes{'a', 'b', 0, 0}});
    TiffBuilder tb(order);
    tb.NewIfd().Ascii(0x010F, "Mk").Undefined(0x9999, fake);
    tb.Pad(kIfd0Window);
    EXPECT_EQ(ReadMakeModel(tb.Build().bytes), qd::ST_NOT_FOUND);
  }
}

}  // namespace
}  // namespace qdtest
