// The TIFF container readers over whole files in both byte orders, with IFD0
// at offset 8 and behind IFD1: the TIFF-RAW and Exif-TIFF probes, Make and
// Model into the caller's 32-byte buffers, and the rewrite of the embedded
// heap, which may touch nothing but the value of tag 0x9219. Error cases
// break one field of a valid file. An independent TIFF reader checks the
// fixtures themselves.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "frame/memory_block.h"
#include "support/container_builder.h"
#include "support/fault_sweep.h"
#include "support/test_stream.h"
#include "tiffjpeg/tiff_probes.h"

namespace qdtest {
namespace {

constexpr uint16_t kTagMake = 0x010F;
constexpr uint16_t kTagModel = 0x0110;

// Packed record fields by value: gtest's comparisons bind references.
template <typename T>
T Val(T v) {
  return v;
}

struct Layout {
  Order order;
  bool ifd0AtEight;
};

std::string LayoutName(const testing::TestParamInfo<Layout>& info) {
  return std::string(info.param.order == Order::II ? "II" : "MM") + (info.param.ifd0AtEight ? "At8" : "Elsewhere");
}

const Layout kLayouts[] = {{Order::II, true}, {Order::II, false}, {Order::MM, true}, {Order::MM, false}};

// A test stream over the bytes and a port onto it.
struct Port {
  explicit Port(Bytes bytes) : stream(std::move(bytes)) { qd::MakeStreamPort(stream.stream(), &port); }
  TestStream stream;
  qd::StreamPort port{};
};

// The TIFF-RAW probe's outputs, released on scope exit.
struct RawProbe {
  ~RawProbe() {
    (void)qdParseFreeHeapObject(heap);
    (void)qdParseFreeOutPutInfo(&extensions);
  }
  qd::Status Run(const Bytes& bytes) {
    Port p(bytes);
    return qd::tiff::ProbeTiffRaw(p.port, &heap, &image, &extensions);
  }
  HeapObject heap{};
  TiffImageInfo image{};
  OutPutInfo extensions{};
};

qd::Status ProbeExif(const Bytes& bytes, TiffBlockInfo* block) {
  Port p(bytes);
  return qd::tiff::ProbeExifTiff(p.port, block);
}

// n bytes counting up from `first`.
Bytes Pattern(uint8_t first, size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(first + i);
  return b;
}

struct MakeModel {
  qd::Status status;
  std::string model, make;
};

// Make and Model read into 32-byte buffers with guard bytes behind them.
MakeModel ReadMakeModel(const TiffFile& f) {
  char model[48], make[48];
  std::memset(model, 0xCC, sizeof model);
  std::memset(make, 0xCC, sizeof make);
  Port p(f.bytes);
  const qd::Status st = qd::tiff::ReadMakeModel(p.port, model, make);
  for (size_t i = 32; i < 48; ++i) EXPECT_TRUE(model[i] == '\xCC' && make[i] == '\xCC') << "wrote past 32 bytes";
  return {st, std::string(model, strnlen(model, 32)), std::string(make, strnlen(make, 32))};
}

// The descriptor of a heap-file image held in a fresh library block.
HeapObject Descriptor(const Bytes& image, uint32_t claimedLength) {
  HeapObject h{};
  h.block = PayloadBlock(image);
  h.headerLength = 26;
  h.heap = h.block + 26;
  h.heapLength = claimedLength - 26;
  std::memcpy(h.type, "TIFP", 5);
  return h;
}

class TiffProbes : public testing::TestWithParam<Layout> {
 protected:
  TiffShape Raw() const {
    TiffShape s = RawTiffShape(GetParam().order);
    s.ifd0AtEight = GetParam().ifd0AtEight;
    return s;
  }
  TiffShape Exif() const {
    TiffShape s = ExifTiffShape(GetParam().order);
    s.ifd0AtEight = GetParam().ifd0AtEight;
    return s;
  }
  bool bigEndian() const { return GetParam().order == Order::MM; }
};

TEST_P(TiffProbes, RawProbeDeliversHeapImageAndExtensionBlocks) {
  for (uint16_t heapType : {kTUndefined, kTByte}) {
    for (uint16_t photometric : {1, 2}) {
      SCOPED_TRACE(testing::Message() << "heap type " << heapType << ", photometric " << photometric);
      TiffShape s = Raw();
      s.heapType = heapType;
      s.photometric = photometric;
      s.dimensionType = photometric == 1 ? kTLong : kTShort;
      s.width = 7;
      s.height = 3;
      s.privateBlock = Pattern(0x40, 40);  // out of line
      s.iptc = Pattern(0x80, 3);           // inside its entry
      const TiffFile f = BuildTiffFile(s);
      ASSERT_EQ(f.ifd0 == 8, GetParam().ifd0AtEight);

      RawProbe probe;
      ASSERT_EQ(probe.Run(f.bytes), qd::ST_OK);
      const TiffImageInfo image = probe.image;
      EXPECT_EQ((std::vector<uint32_t>{image.colour, image.rgb, image.width, image.height}),
                (std::vector<uint32_t>{1, photometric == 2, 7, 3}));
      const HeapObject h = probe.heap;
      EXPECT_EQ(Bytes(h.block, h.block + qd::BlockLength(h.block)), *s.heap);
      EXPECT_STREQ(h.type, "TIFP");
      EXPECT_EQ(Val(h.heap), h.block + 26);
      EXPECT_EQ(Val(h.bigEndian), bigEndian() ? 1 : 0);
      const OutPutInfo x = probe.extensions;
      EXPECT_EQ(Bytes(x.iccProfile, x.iccProfile + x.iccProfileSize), s.privateBlock);
      EXPECT_EQ(Bytes(x.iim, x.iim + x.iimSize), s.iptc);
    }
  }
}

TEST_P(TiffProbes, RawProbeDeclinesOrRefusesWithNothingLeftAllocated) {
  struct Case {
    const char* name;
    std::function<void(TiffShape&)> breakShape;
    uint16_t tooLong;  // a tag whose count then reaches the end of the stream
    qd::Status expected;
  };
  const auto keep = [](TiffShape&) {};
  const bool be = bigEndian();
  const std::vector<Case> cases = {
      {"IFD0 of 33 entries", [](TiffShape& s) { s.ifd0Entries = 33; }, 0, qd::ST_NOT_FOUND},
      {"no photometric", [](TiffShape& s) { s.photometric.reset(); }, 0, qd::ST_NOT_FOUND},
      {"photometric 3", [](TiffShape& s) { s.photometric = 3; }, 0, qd::ST_UNSUPPORTED},
      {"photometric 0", [](TiffShape& s) { s.photometric = 0; }, 0, qd::ST_UNSUPPORTED},
      {"RATIONAL width", [](TiffShape& s) { s.dimensionType = kTRational; }, 0, qd::ST_UNSUPPORTED},
      {"no heap", [](TiffShape& s) { s.heap.reset(); }, 0, qd::ST_NOT_FOUND},
      {"heap of another subtype", [be](TiffShape& s) { s.heap = EmbeddedHeapImage(be, "CCDR"); }, 0,
       qd::ST_UNSUPPORTED},
      {"heap without its magic", [](TiffShape& s) { (*s.heap)[6] = 'h'; }, 0, qd::ST_UNSUPPORTED},
      {"heap as long as the stream", keep, kTagEmbeddedHeap, qd::ST_UNSUPPORTED},
      {"private block past the end", keep, kTagPrivateBlock, qd::ST_UNSUPPORTED},
      {"IPTC block past the end", keep, kTagIptc, qd::ST_UNSUPPORTED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TiffShape s = Raw();
    s.privateBlock = Pattern(1, 12);  // loaded before the heap: must be released again
    s.iptc = Pattern(2, 9);
    c.breakShape(s);
    TiffFile f = BuildTiffFile(s);
    if (c.tooLong != 0) f.SetIfd0Count(c.tooLong, static_cast<uint32_t>(f.bytes.size()));
    const int64_t live = LiveBlocks();
    RawProbe probe;
    EXPECT_EQ(probe.Run(f.bytes), c.expected);
    EXPECT_EQ(LiveBlocks(), live);
    EXPECT_EQ(Val(probe.heap.block), nullptr);
    EXPECT_EQ(Val(probe.extensions.iccProfile), nullptr);
    EXPECT_EQ(Val(probe.extensions.iim), nullptr);
  }

  // 32 entries still fit.
  TiffShape s = Raw();
  s.ifd0Entries = 32;
  RawProbe probe;
  EXPECT_EQ(probe.Run(BuildTiffFile(s).bytes), qd::ST_OK);
}

TEST_P(TiffProbes, ExifProbeNeedsTheExifPointerInIfd0) {
  const TiffFile f = BuildTiffFile(Exif());
  TiffBlockInfo block;
  std::memset(&block, 0xAB, sizeof block);
  ASSERT_EQ(ProbeExif(f.bytes, &block), qd::ST_OK);
  TiffBlockInfo expected{};  // only the order and IFD0 are known
  expected.byteOrder = bigEndian() ? 1 : 0;
  expected.ifdOffset = f.ifd0;
  EXPECT_EQ(std::memcmp(&block, &expected, sizeof block), 0);

  // The 42 is not looked at.
  Bytes magic = f.bytes;
  magic[2] = magic[3] = 0x2B;
  EXPECT_EQ(ProbeExif(magic, &block), qd::ST_OK);
  // A TIFF RAW file has no Exif pointer; neither do files that are no TIFF.
  EXPECT_EQ(ProbeExif(BuildTiffFile(Raw()).bytes, &block), qd::ST_NOT_FOUND);
  Bytes mark = f.bytes;
  mark[1] = mark[0] == 'I' ? 'M' : 'I';
  EXPECT_EQ(ProbeExif(mark, &block), qd::ST_UNSUPPORTED);
  EXPECT_EQ(ProbeExif(f.bytes, nullptr), qd::ST_BAD_ARGUMENT);
}

// The probes decline such a file; the readers that need IFD0 refuse it.
TEST_P(TiffProbes, Ifd0WindowPastTheEndIsDeclinedOrRefused) {
  const TiffFile f = BuildTiffFile(Raw());
  // IFD0 far beyond the end; IFD0 whose window is cut by one byte (at offset
  // 8 the window is the first 398 bytes, so only elsewhere).
  std::vector<Bytes> files(1, f.bytes);
  PutU32(files[0], 4, static_cast<uint32_t>(f.bytes.size() + 100), bigEndian());
  if (f.ifd0 != 8) files.emplace_back(f.bytes.begin(), f.bytes.begin() + f.ifd0 + kIfd0Window - 1);
  for (const Bytes& bytes : files) {
    SCOPED_TRACE(bytes.size());
    RawProbe probe;
    EXPECT_EQ(probe.Run(bytes), qd::ST_NOT_FOUND);
    Port p(bytes);
    char model[32], make[32];
    EXPECT_EQ(qd::tiff::ReadMakeModel(p.port, model, make), qd::ST_WRONG_STATE);
    EXPECT_EQ(qd::tiff::RewriteEmbeddedHeap(p.port, HeapObject{}), qd::ST_WRONG_STATE);
    EXPECT_TRUE(p.stream.writes().empty());
  }
}

TEST_P(TiffProbes, MakeAndModelInlineOutOfLineAndTruncated) {
  const std::string sixty = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWX";
  struct Case {
    std::string make, model;
  };
  // Up to 4 bytes (the NUL included) sit in the entry itself.
  for (const Case& c : {Case{"Abc", "Long model name"}, Case{"Maker Co", "M1"}, Case{sixty, sixty + "!"}}) {
    SCOPED_TRACE(c.make);
    TiffShape s = Raw();
    s.make = c.make;
    s.model = c.model;
    const MakeModel out = ReadMakeModel(BuildTiffFile(s));
    ASSERT_EQ(out.status, qd::ST_OK);
    EXPECT_EQ(out.make, c.make.substr(0, 31));
    EXPECT_EQ(out.model, c.model.substr(0, 31));
  }
}

TEST_P(TiffProbes, TheModelsFailureIsReportedBeforeTheMakes) {
  struct Case {
    const char* name;
    bool model, make;           // present
    bool modelCut, makeCut;     // value moved past the end of the file
    qd::Status expected;
  };
  const Case cases[] = {
      {"no Model", false, true, false, false, qd::ST_NOT_FOUND},
      {"no Make", true, false, false, false, qd::ST_NOT_FOUND},
      {"no Model, Make cut", false, true, false, true, qd::ST_NOT_FOUND},
      {"Model cut, no Make", true, false, true, false, qd::ST_PAST_END},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TiffShape s = Raw();
    if (c.make) s.make = "Maker name";
    if (c.model) s.model = "Model name";
    TiffFile f = BuildTiffFile(s);
    const uint32_t past = static_cast<uint32_t>(f.bytes.size()) - 4;
    if (c.makeCut) f.SetIfd0Field(kTagMake, past);
    if (c.modelCut) f.SetIfd0Field(kTagModel, past);
    const MakeModel out = ReadMakeModel(f);
    EXPECT_EQ(out.status, c.expected);
    // A Make that could be read is delivered whatever happened to the Model.
    if (c.make && !c.makeCut) EXPECT_EQ(out.make, "Maker name");
  }
}

// The rewrite replaces the heap image (or the front of it, when it shrank)
// and refuses a heap that no longer fits, writing nothing.
TEST_P(TiffProbes, RewriteReplacesExactlyTheHeapImage) {
  const bool be = bigEndian();
  const TiffFile f = BuildTiffFile(Raw());
  const Bytes changed = EmbeddedHeapImage(be, "TIFP", 5);
  ASSERT_EQ(changed.size(), f.heapSize);
  ASSERT_NE(changed, Bytes(f.bytes.begin() + f.heapAt, f.bytes.begin() + f.heapAt + f.heapSize));
  Bytes grown = changed, small = changed;
  grown.push_back(0);
  small.resize(small.size() - 8);
  const struct {
    const char* name;
    HeapObject heap;
    const Bytes& file;
    qd::Status expected;
  } cases[] = {
      {"the whole image", Descriptor(changed, f.heapSize), f.bytes, qd::ST_OK},
      {"a heap that shrank by four bytes", Descriptor(changed, f.heapSize - 4), f.bytes, qd::ST_OK},
      {"one byte more than the tag holds", Descriptor(grown, f.heapSize + 1), f.bytes, qd::ST_SIZE_MISMATCH},
      {"longer than its own block", Descriptor(small, f.heapSize), f.bytes, qd::ST_SIZE_MISMATCH},
      {"no block", HeapObject{nullptr, 26, 0, "TIFP", nullptr, 40, 0}, f.bytes, qd::ST_SIZE_MISMATCH},
      {"no tag 0x9219", Descriptor(changed, f.heapSize), BuildTiffFile(Exif()).bytes, qd::ST_NOT_FOUND},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Port p(c.file);
    EXPECT_EQ(qd::tiff::RewriteEmbeddedHeap(p.port, c.heap), c.expected);
    Bytes expected = c.file;
    const uint32_t length = c.heap.heapLength + 26;
    if (c.expected == qd::ST_OK) {
      std::copy(changed.begin(), changed.begin() + length, expected.begin() + f.heapAt);
      ASSERT_EQ(p.stream.writes().size(), 1u);
      EXPECT_EQ(p.stream.writes()[0].offset, f.heapAt);
      EXPECT_EQ(p.stream.writes()[0].length, length);
    } else {
      EXPECT_TRUE(p.stream.writes().empty());
    }
    EXPECT_EQ(p.stream.data(), expected);
    (void)qdParseFreeHeapObject(c.heap);
  }
}

// Swept here: no export reaches the embedded heap's rewrite.
TEST_P(TiffProbes, RewriteUnderFaultsWritesOnlyInsideTheHeapsValue) {
  const TiffFile f = BuildTiffFile(Raw());
  const HeapObject h = Descriptor(EmbeddedHeapImage(bigEndian(), "TIFP", 3), f.heapSize);
  const auto op = [&](TestStream& s) {
    qd::StreamPort port;
    qd::MakeStreamPort(s.stream(), &port);
    return static_cast<uint32_t>(qd::tiff::RewriteEmbeddedHeap(port, h));
  };
  const auto inside = [&](const SweepRun&, TestStream& s) {
    for (const WriteRange& w : s.writes()) {
      EXPECT_GE(w.offset, f.heapAt);
      EXPECT_LE(uint64_t{w.offset} + w.length, uint64_t{f.heapAt} + f.heapSize);
    }
  };
  EXPECT_GT(SweepHostFailures([&] { return std::make_unique<TestStream>(f.bytes); }, op, 0x1234,
                              {qd::ST_STREAM_FAILED}, inside),
            2);
  TestStream s(f.bytes);
  EXPECT_GT(SweepAllocationFailures([&] { return op(s); }, {qd::ST_READER_NO_MEMORY}), 1);
  (void)qdParseFreeHeapObject(h);
}

INSTANTIATE_TEST_SUITE_P(Layouts, TiffProbes, testing::ValuesIn(kLayouts), LayoutName);

TEST(TiffReaders, FilesShorterThanTheIfd0WindowAreRejectedByEveryOne) {
  for (const auto& [order, raw] : {std::pair{Order::II, true}, {Order::MM, true}, {Order::II, false}, {Order::MM, false}}) {
    SCOPED_TRACE(testing::Message() << (order == Order::II ? "II " : "MM ") << (raw ? "TIFF RAW" : "Exif TIFF"));
    TiffShape s = raw ? RawTiffShape(order) : ExifTiffShape(order);
    s.ifd1 = false;  // nothing but padding after 397 bytes
    TiffFile f = BuildTiffFile(s);
    ASSERT_LE(f.contentEnd, kIfd0Window - 1);

    f.bytes.resize(kIfd0Window);
    RawProbe accepted;
    TiffBlockInfo block{};
    EXPECT_EQ(raw ? accepted.Run(f.bytes) : ProbeExif(f.bytes, &block), qd::ST_OK);

    f.bytes.resize(kIfd0Window - 1);
    RawProbe probe;
    EXPECT_EQ(probe.Run(f.bytes), qd::ST_NOT_FOUND);
    EXPECT_EQ(ProbeExif(f.bytes, &block), qd::ST_NOT_FOUND);
    Port p(f.bytes);
    char model[32], make[32];
    EXPECT_EQ(qd::tiff::ReadMakeModel(p.port, model, make), qd::ST_NOT_FOUND);
    EXPECT_EQ(qd::tiff::RewriteEmbeddedHeap(p.port, HeapObject{}), qd::ST_NOT_FOUND);
    EXPECT_TRUE(p.stream.writes().empty());
  }
}

// With IFD0 at offset 8 the window holds 32 whole entries: a 33rd, which runs
// past the window, is not read.
TEST(TiffReaders, AnEntryCutByTheIfd0WindowIsNotRead) {
  for (const Order order : {Order::II, Order::MM}) {
    TiffShape s = RawTiffShape(order);
    s.ifd0Entries = 33;
    TiffFile f = BuildTiffFile(s);
    ASSERT_EQ(f.ifd0, 8u);
    const size_t last = 8 + 2 + 32 * 12;
    PutU16(f.bytes, last, kTagModel, order == Order::MM);
    PutU16(f.bytes, last + 2, 2, order == Order::MM);  // ASCII
    EXPECT_EQ(ReadMakeModel(f).status, qd::ST_NOT_FOUND);
  }
}

// Every fixture TIFF is a TIFF an independent reader accepts, image data
// included.
TEST(TiffFixtures, PassTiffinfo) {
  const char* tool = "/usr/bin/tiffinfo";
  if (std::FILE* probe = std::fopen(tool, "rb")) {
    std::fclose(probe);
  } else {
    GTEST_SKIP() << "tiffinfo is not installed";
  }
  const std::string tag = std::to_string(std::random_device()());  // builds may run side by side
  int n = 0;
  for (const Layout& l : kLayouts) {
    for (bool raw : {true, false}) {
      TiffShape s = raw ? RawTiffShape(l.order) : ExifTiffShape(l.order);
      s.ifd0AtEight = l.ifd0AtEight;
      s.privateBlock = Pattern(1, 20);
      s.iptc = Pattern(2, 8);
      const std::string path = testing::TempDir() + "qdparse_fixture_" + tag + std::to_string(n++) + ".tif";
      const std::string log = path + ".log";
      SCOPED_TRACE(path);
      const Bytes bytes = BuildTiffFile(s).bytes;
      std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                  static_cast<std::streamsize>(bytes.size()));
      const std::string command = std::string(tool) + " -D " + path + " >" + log + " 2>&1";
      EXPECT_EQ(std::system(command.c_str()), 0);
      std::ifstream in(log);
      const std::string output((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      EXPECT_EQ(output.find("Error"), std::string::npos) << output;
      EXPECT_NE(output.find(raw ? "Photometric Interpretation: RGB" : "Make: Maker"), std::string::npos)
          << output;
      std::remove(path.c_str());
      std::remove(log.c_str());
    }
  }
}

}  // namespace
}  // namespace qdtest
