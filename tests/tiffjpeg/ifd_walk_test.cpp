// IFD query lists: what a read delivers, the list as a program over IFD chains
// and nested scopes, and input built to make the walkers read where they must
// not, through both walkers in both byte orders; then the queries over Exif
// blocks and maker notes.
#include "tiffjpeg/ifd_walk.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "frame/buffered_reader.h"
#include "frame/memory_block.h"
#include "support/container_builder.h"
#include "support/fault_sweep.h"
#include "support/jpeg_builder.h"
#include "support/tiff_builder.h"
#include "tiffjpeg/exif_query.h"

namespace qdtest {
namespace {

using Flags = std::vector<uint16_t>;

struct Walker {
  bool memory;
  Order order;
};

IfdQuery Op(uint16_t op, uint16_t tag = 0) { return IfdQuery{op, tag, 0, 0, 0, 0, 0}; }
IfdQuery ReadInto(uint16_t tag, uint16_t type, void* into, uint32_t size) {
  return IfdQuery{IFDQ_READ, tag, type, 0, reinterpret_cast<uintptr_t>(into), size, 0};
}
// Size 0: `*slot` receives a new library block.
IfdQuery ReadAlloc(uint16_t tag, uint16_t type, uint8_t** slot) {
  *slot = nullptr;
  return ReadInto(tag, type, slot, 0);
}
std::vector<uint16_t> FoundFlags(const IfdQuery* list, size_t n) {
  std::vector<uint16_t> flags;
  for (size_t i = 0; i < n; ++i) flags.push_back(list[i].found);
  return flags;
}

qd::ByteOrder ByteOrderOf(Order o) { return o == Order::II ? qd::kLittleEndian : qd::kBigEndian; }

// The memory walker over an exactly sized copy of `bytes` (ASan sees a read
// past it), or the stream walker over a test stream holding them.
uint32_t Walk(const Walker& w, const Bytes& bytes, IfdQuery* list, uint32_t ifd = 8) {
  if (w.memory) {
    const Bytes exact(bytes);
    IfdQuery* cursor = list;
    const qd::ByteView view(exact.data(), static_cast<uint32_t>(exact.size()));
    return qd::ToResultCode(qd::tiff::WalkMemory(view, ifd, ByteOrderOf(w.order), &cursor, 0));
  }
  TestStream stream(bytes);
  return qd::tiff::QueryStream(stream.stream(), ifd, ByteOrderOf(w.order), list);
}

class Walkers : public testing::TestWithParam<Walker> {
 protected:
  const Walker& w() const { return GetParam(); }
};

// Every readable type, inline and out of line, arrives in host order: whole,
// cut to the whole elements a small buffer holds, or in a new block (size 0).
// A request of another type, of an unreadable type or for a missing tag stays
// unfound.
TEST_P(Walkers, ReadsEveryTypeIntoBuffersOrBlocks) {
  const struct {
    uint16_t type;
    uint32_t element;
    std::vector<uint64_t> values;
    uint32_t small;  // a buffer size that cuts the value
  } rows[] = {
      {kTByte, 1, {1, 2, 3, 4, 5, 6}, 4}, {kTAscii, 1, {'h', 'i', 0}, 2},
      {kTShort, 2, {0x1234, 0xABCD}, 3},  {kTShort, 2, {1, 0x0203, 0xFFFF}, 5},
      {kTLong, 4, {0x01020304}, 4},       {kTSRational, 4, {0xFFFFFFFF, 3, 7, 2}, 12},
  };
  const size_t n = std::size(rows);
  TiffBuilder tb(w().order);
  TiffIfd& ifd0 = tb.NewIfd();
  for (size_t i = 0; i < n; ++i)
    ifd0.Values(uint16_t(0x0101 + i), rows[i].type, rows[i].element, rows[i].values);
  ifd0.CountField(2);  // the rationals: pairs
  ifd0.Values(0x0181, kTSShort, 2, {1}).Values(0x0182, kTDouble, 8, {1}).Values(0x0183, 13, 4, {8});
  tb.Pad(2);  // nothing ends exactly at the end of the block

  std::vector<std::array<uint8_t, 32>> whole(n), cut(n);
  std::vector<uint8_t*> slots(n);
  std::vector<IfdQuery> list;
  for (size_t i = 0; i < n; ++i) {
    cut[i].fill(0xEE);
    const uint16_t tag = uint16_t(0x0101 + i), type = rows[i].type;
    list.insert(list.end(), {ReadInto(tag, type, whole[i].data(), 32),
                             ReadInto(tag, type, cut[i].data(), rows[i].small),
                             ReadAlloc(tag, type, &slots[i])});
  }
  uint8_t* noSlot = nullptr;
  for (auto [tag, type] : {std::pair<uint16_t, uint16_t>{0x0101, kTShort},
                           {0x0103, kTLong},
                           {0x0181, kTSShort},
                           {0x0182, kTDouble},
                           {0x0183, 13},
                           {0x0999, kTShort}}) {
    list.push_back(ReadInto(tag, type, &noSlot, 8));
  }
  list.push_back(ReadAlloc(0x0182, kTDouble, &noSlot));
  list.push_back(Op(IFDQ_END));
  const int64_t live = LiveBlocks();
  ASSERT_EQ(Walk(w(), tb.Build().bytes, list.data()), QD_OK);
  EXPECT_EQ(LiveBlocks(), live + static_cast<int64_t>(n));
  for (size_t i = 0; i < n; ++i) {
    SCOPED_TRACE(i);
    Bytes expected;
    for (uint64_t v : rows[i].values) {
      const auto* b =
          reinterpret_cast<const uint8_t*>(&v);  // the low bytes first on little-endian hosts
      expected.insert(expected.end(), b, b + rows[i].element);
    }
    Bytes prefix(expected.begin(),
                 expected.begin() + rows[i].small / rows[i].element * rows[i].element);
    EXPECT_EQ(FoundFlags(&list[3 * i], 3), (Flags{1, 1, 1}));
    EXPECT_EQ(Bytes(whole[i].begin(), whole[i].begin() + list[3 * i].size), expected);
    EXPECT_EQ(list[3 * i + 1].size, prefix.size());
    prefix.resize(32, 0xEE);  // nothing past the stored bytes
    EXPECT_EQ(Bytes(cut[i].begin(), cut[i].end()), prefix);
    EXPECT_EQ(Bytes(slots[i], slots[i] + qd::BlockLength(slots[i])), expected);
    EXPECT_EQ(qd::BlockFree(slots[i]), qd::ST_OK);
  }
  EXPECT_EQ(FoundFlags(&list[3 * n], 7), Flags(7, 0));
  EXPECT_EQ(noSlot, nullptr) << "nothing written, nothing allocated";
}

// LOCATE reports type, count and value field; only the memory form knows the
// block and checks the field against it. The memory form also wants a value
// to end strictly before the block does.
TEST_P(Walkers, LocateAndValuesAtTheEndOfTheBlock) {
  constexpr uint32_t kSize = 8 + 2 + 12 * 4 + 4;  // inline fields only
  TiffBuilder tb(w().order);
  tb.NewIfd()
      .Raw(0x0601, kTLong, 3, 20)
      .Raw(0x0602, kTUndefined, 1, kSize - 1)  // ends at the end: still inside
      .Raw(0x0603, kTUndefined, 2, kSize - 1)  // one byte past it
      .Raw(0x0604, kTShort, 0x00010005, 0x1F);
  IfdQuery list[] = {Op(IFDQ_LOCATE, 0x0601), Op(IFDQ_LOCATE, 0x0602), Op(IFDQ_LOCATE, 0x0603),
                     Op(IFDQ_LOCATE, 0x0604), Op(IFDQ_LOCATE, 0x0999), Op(IFDQ_END)};
  ASSERT_EQ(Walk(w(), tb.Build().bytes, list), QD_OK);
  EXPECT_EQ(FoundFlags(list, 5), (Flags{1, 1, !w().memory, 1, 0}));
  EXPECT_EQ((std::vector<uintptr_t>{list[0].type, list[0].size, list[0].data, list[3].size,
                                    list[3].data}),
            (std::vector<uintptr_t>{kTLong, 3, 20, 5, 0x1F}));

  for (uint32_t pad : {0u, 1u}) {
    TiffBuilder text(w().order);
    text.NewIfd().Short(0x0701, {1}).Ascii(0x0702, "hello");
    text.Pad(pad);
    char got[8] = {};
    IfdQuery read[] = {ReadInto(0x0702, kTAscii, got, sizeof got), Op(IFDQ_END)};
    ASSERT_EQ(Walk(w(), text.Build().bytes, read), QD_OK);
    EXPECT_STREQ(got, !w().memory || pad != 0 ? "hello" : "") << pad;
  }
}

// Query lists as programs over IFD0 -> IFD1 and IFD0 -> Exif IFD -> interop IFD.
// A scope that cannot be entered is skipped with everything nested in it, and
// its requests keep what they held (7); a zero link ends the whole walk.
TEST_P(Walkers, ListsWalkChainsAndNestedScopes) {
  constexpr uint16_t A = 0x0100, B = 0x9000, C = 0x0002, kNoIfd = 0x0200, kMissing = 0x1234;
  constexpr uint16_t R = IFDQ_READ, E = IFDQ_ENTER, L = IFDQ_LEAVE, N = IFDQ_NEXT_IFD;
  TiffBuilder tb(w().order);
  TiffIfd& ifd0 = tb.NewIfd();
  TiffIfd& ifd1 = tb.NewIfd();
  TiffIfd& exif = tb.NewIfd();
  TiffIfd& interop = tb.NewIfd();
  ifd0.Short(A, {1}).Sub(kTagExifIfd, exif).Raw(kNoIfd, kTLong, 1, 0).Next(ifd1);
  ifd1.Short(A, {2});
  exif.Short(B, {3}).Sub(kTagInteropIfd, interop);
  interop.Short(C, {4});
  const TiffImage img = tb.Build();
  const struct {
    const char* name;
    std::vector<std::pair<uint16_t, uint16_t>> ops;  // op, tag; END is added
    uint32_t result;
    Flags found;   // of every request but END
    Flags values;  // what the reads stored, in list order
  } rows[] = {
      {"nested",
       {{R, A},
        {E, kTagExifIfd},
        {R, B},
        {R, A},
        {E, kTagInteropIfd},
        {R, C},
        {L, 0},
        {R, B},
        {L, 0},
        {R, A},
        {N, 0},
        {R, A}},
       QD_OK,
       {1, 1, 1, 0, 1, 1, 1, 1, 1, 1, 1, 1},
       {1, 3, 7, 4, 3, 1, 2}},
      {"missing scope",
       {{E, kMissing}, {R, B}, {E, kTagInteropIfd}, {R, C}, {L, 0}, {R, B}, {L, 0}, {R, A}},
       QD_OK,
       {0, 7, 7, 7, 7, 7, 7, 1},
       {7, 7, 7, 1}},
      {"scope at offset 0",
       {{E, kNoIfd}, {R, B}, {E, kTagInteropIfd}, {R, C}, {L, 0}, {L, 0}, {R, A}},
       QD_OK,
       {0, 7, 7, 7, 7, 7, 1},
       {7, 7, 1}},
      {"end of chain", {{R, A}, {N, 0}, {R, A}, {N, 0}, {R, A}}, QD_OK, {1, 1, 1, 0, 7}, {1, 2, 7}},
      {"end of chain in a scope",
       {{E, kTagExifIfd}, {R, B}, {N, 0}, {R, B}, {L, 0}, {R, A}},
       QD_OK,
       {1, 1, 0, 7, 7, 7},
       {3, 7, 7}},
      {"unclosed skipped scope",
       {{R, A}, {E, kMissing}, {R, B}},
       QD_E_INVALID_ARG,
       {1, 0, 7},
       {1, 7}},
      {"chain step in a skipped scope",
       {{R, A}, {E, kMissing}, {N, 0}, {L, 0}},
       QD_E_INVALID_ARG,
       {1, 0, 7, 7},
       {1}},
      {"unknown op", {{R, A}, {6, 0}, {R, A}}, QD_E_INVALID_ARG, {1, 0, 7}, {1, 7}},
      {"placeholder in a scope",
       {{R, A}, {E, kTagExifIfd}, {IFDQ_PLACEHOLDER, 0}, {L, 0}},
       QD_E_INVALID_ARG,
       {1, 1, 0, 7},
       {1}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Flags values;
    values.reserve(row.ops.size());  // reads point into it
    std::vector<IfdQuery> list;
    for (const auto& [op, tag] : row.ops) {
      if (op == R) values.push_back(7);
      list.push_back(op == R ? ReadInto(tag, kTShort, &values.back(), 2) : Op(op, tag));
      list.back().found = 7;
    }
    list.push_back(Op(IFDQ_END));
    EXPECT_EQ(Walk(w(), img.bytes, list.data()), row.result);
    EXPECT_EQ(FoundFlags(list.data(), row.ops.size()), row.found);
    EXPECT_EQ(values, row.values);
  }
}

// Wherever the block is cut, the walk ends cleanly and allocates nothing.
// IFD0 opens once its entries are whole, its link not yet.
TEST_P(Walkers, EveryPrefixIsHandled) {
  TiffBuilder tb(w().order);
  TiffIfd& ifd0 = tb.NewIfd();
  TiffIfd& ifd1 = tb.NewIfd();
  TiffIfd& exif = tb.NewIfd();
  ifd0.Short(0x0100, {640}).Undefined(0x02BC, Bytes(40, 0x5A)).Sub(kTagExifIfd, exif).Next(ifd1);
  ifd1.Long(0x0201, {1000, 2000});
  exif.Ascii(0x0001, "R98");
  const Bytes bytes = tb.Build().bytes;
  const int64_t live = LiveBlocks();
  for (size_t n = 0; n < bytes.size(); ++n) {
    uint16_t width = 0;
    uint8_t* block = nullptr;
    char text[8];
    IfdQuery list[] = {ReadInto(0x0100, kTShort, &width, 2),
                       ReadAlloc(0x02BC, kTUndefined, &block),
                       Op(IFDQ_ENTER, kTagExifIfd),
                       ReadInto(0x0001, kTAscii, text, 8),
                       Op(IFDQ_LEAVE),
                       Op(IFDQ_NEXT_IFD),
                       ReadInto(0x0201, kTLong, text, 8),
                       Op(IFDQ_END)};
    const bool opens = n >= 8 + 2 + 12 * 3;
    EXPECT_EQ(Walk(w(), Bytes(bytes.begin(), bytes.begin() + n), list),
              opens || !w().memory ? QD_OK : QD_E_UNSUPPORTED)
        << n;
    ASSERT_EQ(width, opens ? 640 : 0) << n;
    (void)qd::BlockFree(block);
  }
  EXPECT_EQ(LiveBlocks(), live);
}

INSTANTIATE_TEST_SUITE_P(Forms, Walkers,
                         testing::Values(Walker{true, Order::II}, Walker{true, Order::MM},
                                         Walker{false, Order::II}, Walker{false, Order::MM}),
                         [](const auto& info) {
                           return std::string(info.param.memory ? "Memory" : "Stream") +
                                  (info.param.order == Order::II ? "II" : "MM");
                         });

// A TIFF block in a heap copy of exactly its length.
struct Block {
  explicit Block(const Bytes& b) : bytes(new uint8_t[b.size()]) {
    std::memcpy(bytes.get(), b.data(), b.size());
    info.tiff = bytes.get();
    info.tiffSize = static_cast<uint32_t>(b.size());
  }
  std::unique_ptr<uint8_t[]> bytes;
  TiffBlockInfo info{};
};

// The first query reads the header and keeps order and IFD0; a known start is
// taken as it is. An unusable start fails before any request is touched.
TEST(ExifQueries, TheStartingIfd) {
  for (Order order : {Order::II, Order::MM}) {
    const bool big = order == Order::MM;
    TiffShape shape = ExifTiffShape(order);
    shape.ifd0AtEight = false;
    const TiffFile f = BuildTiffFile(shape);
    Block b(f.bytes);
    char make[16] = {};
    uint32_t exposure[2] = {};
    IfdQuery list[] = {ReadInto(0x010F, kTAscii, make, sizeof make), Op(IFDQ_END)};
    ASSERT_EQ(qdParseExifProperty(&b.info, list), QD_OK);
    EXPECT_EQ((std::vector<uint32_t>{b.info.byteOrder, b.info.ifdOffset}),
              (std::vector<uint32_t>{big, f.ifd0}));
    EXPECT_STREQ(make, "Maker");
    b.info.ifdOffset = f.exifIfd;
    IfdQuery direct[] = {ReadInto(0x829A, kTRational, exposure, 8), Op(IFDQ_END)};
    EXPECT_EQ(qdParseExifProperty(&b.info, direct), QD_OK);
    EXPECT_EQ(exposure[1], 60u);

    Bytes mark = f.bytes, beyond = f.bytes, entries = f.bytes;
    mark[0] = 'X';
    PutU32(beyond, 4, static_cast<uint32_t>(beyond.size()), big);  // IFD0 at the very end
    PutU16(entries, f.ifd0, 0x7FFF, big);                          // entries past the end
    for (const Bytes* bytes : {&mark, &beyond, &entries}) {
      Block bad(*bytes);
      list[0].found = 0x55;
      EXPECT_EQ(qdParseExifProperty(&bad.info, list), QD_E_UNSUPPORTED);
      EXPECT_EQ(qd::tiff::QueryExif(&bad.info, list, qd::tiff::ReadMode::kLocate),
                qd::ST_UNSUPPORTED);
      EXPECT_EQ(list[0].found, 0x55);
    }
  }
}

// A maker note now at 4000 whose stated offsets were written for 5000, with a
// same-shaped note at 5000, so either place gives a known answer. Only a valid
// footer, relocation tag 1 and a known size move the values.
TEST(ExifQueries, MakerNoteFooterRelocatesOutOfLineValues) {
  constexpr uint32_t kNow = 4000, kFirst = 5000;
  const struct {
    uint16_t relocate;
    bool footerValid, withSize, otherOrder, relocated;  // otherOrder: the block's order differs
  } rows[] = {{1, true, true, false, true},
              {0, true, true, false, false},
              {1, false, true, false, false},
              {1, true, false, false, false},
              {1, true, true, true, true}};
  for (Order order : {Order::II, Order::MM}) {
    for (const auto& row : rows) {
      auto note = [&](const char* text) {
        TiffBuilder tb(order);
        tb.NewIfd().Short(0x0019, {row.relocate}).Ascii(0x0020, text).Short(0x0021, {7, 8, 9});
        return tb.MakerNote(kFirst);
      };
      Bytes bytes(kFirst + 100, 0), moved = note("moved here"), first = note("first home");
      if (!row.footerValid) moved[moved.size() - 6] = 0x2B;  // the footer's 42
      std::copy(moved.begin(), moved.end(), bytes.begin() + kNow);
      std::copy(first.begin(), first.end(), bytes.begin() + kFirst);
      for (auto mode : {qd::tiff::ReadMode::kCopy, qd::tiff::ReadMode::kLocate}) {
        SCOPED_TRACE(testing::Message()
                     << (order == Order::MM) << row.relocate << row.footerValid << row.withSize
                     << row.otherOrder << (mode == qd::tiff::ReadMode::kCopy));
        Block b(bytes);
        b.info.ifdOffset = kNow;
        b.info.byteOrder = (order == Order::MM) != row.otherOrder;
        char text[16] = {};
        IfdQuery list[] = {ReadInto(0x0020, kTAscii, text, sizeof text), Op(IFDQ_END)};
        const uint32_t size = row.withSize ? static_cast<uint32_t>(moved.size()) : 0;
        ASSERT_EQ(qd::tiff::QueryMakerNote(&b.info, list, kNow, size, mode), qd::ST_OK);
        const char* got =
            mode == qd::tiff::ReadMode::kCopy ? text : reinterpret_cast<const char*>(list[0].data);
        EXPECT_STREQ(got, row.relocated ? "moved here" : "first home");
        EXPECT_EQ(b.info.byteOrder, row.relocated ? order == Order::MM : b.info.byteOrder);
      }
    }
  }
}

// The stream locate walk over a TIFF block at offset 100 of the stream:
// positions are from the base (an inline value: its field); values are copied
// raw, in the file's order, into the caller's buffer or a new block.
TEST(ExifQueries, StreamLocateReportsPositionsFromTheBaseAndCopiesRawBytes) {
  for (Order order : {Order::II, Order::MM}) {
    const bool big = order == Order::MM;
    TiffBuilder tb(order);
    TiffIfd& ifd0 = tb.NewIfd();
    TiffIfd& ifd1 = tb.NewIfd();
    ifd0.Short(0x0101, {0x0102, 0x0304, 0x0506}).Next(ifd1);
    ifd1.Short(0x0201, {0x0A0B});
    tb.Pad(2);
    const TiffImage img = tb.Build();
    TestStream stream(Concat({Bytes(100, 0xEE), img.bytes}));
    qd::StreamPort port;
    qd::MakeStreamPort(stream.stream(), &port);
    qd::BufferedReader reader;
    ASSERT_EQ(qd::ReaderOpen(port, qd::kProbeReaderCapacity, &reader), qd::ST_OK);
    TiffBlockInfo info{};
    info.segmentOffset = reinterpret_cast<uintptr_t>(&reader);
    info.tiffSize = 100;
    info.byteOrder = big;
    info.ifdOffset = img.ifdOffsets[0];
    uint16_t thumb = 0;
    IfdQuery list[] = {ReadInto(0x0101, kTShort, nullptr, 0), Op(IFDQ_LOCATE, 0x0101),
                       Op(IFDQ_NEXT_IFD), ReadInto(0x0201, kTShort, &thumb, 2), Op(IFDQ_END)};
    ASSERT_EQ(qd::tiff::QueryStreamLocate(&info, list), qd::ST_OK);
    EXPECT_EQ(qd::ReaderClose(&reader), qd::ST_OK);
    auto* shorts = reinterpret_cast<uint8_t*>(list[0].data);
    EXPECT_EQ(Bytes(shorts, shorts + qd::BlockLength(shorts)),
              (big ? Bytes{1, 2, 3, 4, 5, 6} : Bytes{2, 1, 4, 3, 6, 5}));
    EXPECT_EQ(qd::BlockFree(shorts), qd::ST_OK);
    EXPECT_EQ(thumb, big ? 0x0B0A : 0x0A0B) << "not swapped";
    const uint32_t at = img.ValueOffset(ifd0, 0x0101);
    EXPECT_EQ((std::vector<uintptr_t>{list[0].size, list[0].position, list[1].size,
                                      list[1].position, list[1].data, list[3].position}),
              (std::vector<uintptr_t>{6, at, 3, at - 100, at, img.ifdOffsets[1] + 2 + 8}));
  }
}

}  // namespace
}  // namespace qdtest
