// IFD query lists through both walkers in both byte orders: the list as a
// program over IFD chains and nested scopes, input cut anywhere; then the
// queries over Exif blocks and maker notes. What a read delivers (types,
// element cuts, byte order, located fields) is the parse and replacement
// exports' (tests/extract, tests/replace); the locate walk over a stream is the
// Exif TIFF replacement's.
#include "tiffjpeg/ifd_walk.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "frame/fault.h"
#include "frame/memory_block.h"
#include "support/container_builder.h"
#include "support/fault_sweep.h"
#include "support/jpeg_builder.h"
#include "support/test_stream.h"
#include "support/tiff_builder.h"
#include "tiffjpeg/exif_query.h"

namespace qdtest {
namespace {

IfdQuery Op(uint16_t op, uint16_t tag = 0) { return IfdQuery{op, tag, 0, 0, 0, 0, 0}; }
// Size 0: the walker stores a new block in `*into`.
IfdQuery ReadInto(uint16_t tag, uint16_t type, void* into, uint32_t size) {
  return IfdQuery{IFDQ_READ, tag, type, 0, reinterpret_cast<uintptr_t>(into), size, 0};
}

struct Walker {
  bool memory;
  Order order;
};

class Walkers : public testing::TestWithParam<Walker> {
 protected:
  bool memory() const { return GetParam().memory; }
  // The memory walker over an exactly sized copy (ASan sees a read past it),
  // or the stream walker over a test stream, from IFD0 at 8. Given a scratch
  // with a room, the walkers view values (ReadMode::kView), and the copy
  // stays until the next walk.
  uint32_t Walk(const Bytes& bytes, IfdQuery* list, qd::tiff::CopyScratch* scratch = nullptr) const {
    const auto order = GetParam().order == Order::II ? qd::kLittleEndian : qd::kBigEndian;
    const auto mode = scratch != nullptr ? qd::tiff::ReadMode::kView : qd::tiff::ReadMode::kCopy;
    IfdQuery* cursor = list;
    if (!memory()) {
      TestStream host(bytes);
      qd::StreamPort port;
      qd::MakeStreamPort(host.stream(), &port);
      qd::ScopedReader reader;
      if (reader.Open(port, qd::kProbeReaderCapacity) != qd::ST_OK) return QD_E_FAILED;
      return qd::ToResultCode(qd::tiff::WalkStream(&reader, 8, order, &cursor, 0, mode, scratch));
    }
    exact_ = Bytes(bytes);
    const qd::ByteView view(exact_.data(), static_cast<uint32_t>(exact_.size()));
    return qd::ToResultCode(qd::tiff::WalkMemory(view, 8, order, &cursor, 0, mode, scratch));
  }

 private:
  mutable Bytes exact_;
};

// Of equal tags the first in file order answers (one of the wrong type leaves
// the request unfound, the first of two sub-IFDs is entered), whether the
// IFD's tags ascend (IFD0) or not (IFD1), in IFDs small enough to be indexed
// and in ones too large for that (filler tags after the ones asked for);
// copying values, or viewing them with the list's run index (in host order in
// memory the runs go entry by entry, else values land in the room); requests
// for one tag each get their answer; a tag located after a run and absent
// stays unfound.
TEST_P(Walkers, TheFirstOfEqualTagsAnswers) {
  for (const bool byEntry : {false, true}) {
    for (const uint16_t fillers : {0, 130}) {
      SCOPED_TRACE(testing::Message() << "by entry " << byEntry << ", fillers " << fillers);
      TiffBuilder tb(GetParam().order);
      TiffIfd& ifd0 = tb.NewIfd();
      TiffIfd& ifd1 = tb.NewIfd();
      TiffIfd& first = tb.NewIfd();
      TiffIfd& second = tb.NewIfd();
      ifd0.Short(0x0100, {1}).Short(0x0101, {2}).Short(0x0101, {3}).Short(0x0102, {4}).Next(ifd1);
      ifd0.Long(0x0103, {5}).Short(0x0103, {6});
      ifd1.Short(0x0102, {5}).Short(0x0101, {6}).Short(0x0101, {7}).Short(0x0100, {8});
      for (uint16_t i = 0; i < fillers; ++i) ifd0.Short(0x1000 + i, {9}), ifd1.Short(0x1000 + i, {9});
      ifd0.Sub(kTagExifIfd, first).Sub(kTagExifIfd, second);
      first.Short(0x0001, {7});
      second.Short(0x0001, {9});
      uint16_t v[10] = {};
      IfdQuery list[] = {ReadInto(0x0101, kTShort, &v[0], 2), ReadInto(0x0100, kTShort, &v[1], 2),
                         ReadInto(0x0102, kTShort, &v[2], 2), ReadInto(0x0103, kTShort, &v[3], 2),
                         Op(IFDQ_ENTER, kTagExifIfd), ReadInto(0x0001, kTShort, &v[4], 2), Op(IFDQ_LEAVE),
                         Op(IFDQ_LOCATE, 0x9999), Op(IFDQ_NEXT_IFD),
                         ReadInto(0x0101, kTLong, &v[5], 4), ReadInto(0x0101, kTShort, &v[6], 2),
                         ReadInto(0x0100, kTShort, &v[7], 2), ReadInto(0x0102, kTShort, &v[8], 2),
                         ReadInto(0x0101, kTShort, &v[9], 2), Op(IFDQ_END)};
      const qd::tiff::RunIndex runs(list);
      uint8_t roomBytes[64];
      qd::ValueRoom room(roomBytes, sizeof roomBytes);
      qd::tiff::CopyScratch scratch{&room, false, &runs};
      ASSERT_EQ(Walk(tb.Build().bytes, list, byEntry ? &scratch : nullptr), QD_OK);
      size_t n = 0;
      for (const IfdQuery& q : list) {
        if (q.op == IFDQ_READ && byEntry && q.found != 0) std::memcpy(&v[n], reinterpret_cast<void*>(q.data), 2);
        n += q.op == IFDQ_READ ? 1 : 0;
      }
      EXPECT_EQ(std::vector<uint16_t>(v, v + 10), (std::vector<uint16_t>{2, 1, 4, 0, 7, 0, 6, 8, 5, 6}));
      EXPECT_EQ(list[3].found + list[7].found + list[9].found, 0);
    }
  }
}

// Lists as programs over IFD0 -> IFD1 and IFD0 -> Exif IFD -> interop IFD,
// one token per request: rA reads tag A; eX enters the Exif IFD, eI the
// interop IFD, eM a missing scope, eZ one at offset 0; L leaves, N steps to
// the next IFD, P is a placeholder, ? an unknown op. A scope that cannot be
// entered is skipped with all nested in it, its requests keep their 7; a zero
// link ends the whole walk.
TEST_P(Walkers, ListsWalkChainsAndNestedScopes) {
  const std::map<char, uint16_t> ops = {{'r', IFDQ_READ}, {'e', IFDQ_ENTER},
                                        {'L', IFDQ_LEAVE}, {'N', IFDQ_NEXT_IFD},
                                        {'P', IFDQ_PLACEHOLDER}, {'?', 6}};
  const std::map<char, uint16_t> tags = {{'A', 0x0100}, {'B', 0x9000}, {'C', 0x0002},
                                         {'X', kTagExifIfd}, {'I', kTagInteropIfd},
                                         {'M', 0x1234}, {'Z', 0x0200}};
  TiffBuilder tb(GetParam().order);
  TiffIfd& ifd0 = tb.NewIfd();
  TiffIfd& ifd1 = tb.NewIfd();
  TiffIfd& exif = tb.NewIfd();
  TiffIfd& interop = tb.NewIfd();
  ifd0.Short(tags.at('A'), {1}).Sub(kTagExifIfd, exif).Raw(tags.at('Z'), kTLong, 1, 0).Next(ifd1);
  ifd1.Short(tags.at('A'), {2});
  exif.Short(tags.at('B'), {3}).Sub(kTagInteropIfd, interop);
  interop.Short(tags.at('C'), {4});
  const Bytes bytes = tb.Build().bytes;
  const struct {
    const char* name;
    const char* list;  // END is added
    uint32_t result;
    const char* found;   // of every request
    const char* values;  // what the reads stored, in list order
  } rows[] = {
      {"nested", "rA eX rB rA eI rC L rB L rA N rA", QD_OK, "111011111111", "1374312"},
      {"missing scope", "eM rB eI rC L rB L rA", QD_OK, "07777771", "7771"},
      {"scope at offset 0", "eZ rB eI rC L L rA", QD_OK, "0777771", "771"},
      {"end of chain", "rA N rA N rA", QD_OK, "11107", "127"},
      {"end of chain in a scope", "eX rB N rB L rA", QD_OK, "110777", "377"},
      {"scope left open", "rA eX rB", QD_OK, "111", "13"},
      {"unclosed skipped scope", "rA eM rB", QD_E_INVALID_ARG, "107", "17"},
      {"chain step in a skipped scope", "rA eM N L", QD_E_INVALID_ARG, "1077", "1"},
      {"unknown op", "rA ? rA", QD_E_INVALID_ARG, "107", "17"},
      {"placeholder in a scope", "rA eX P L", QD_E_INVALID_ARG, "1107", "1"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    uint16_t values[16];
    size_t reads = 0;
    std::vector<IfdQuery> list;
    std::istringstream tokens(row.list);
    for (std::string t; tokens >> t;) {
      const uint16_t op = ops.at(t[0]), tag = t.size() > 1 ? tags.at(t[1]) : 0;
      if (op == IFDQ_READ) values[reads] = 7;
      list.push_back(op == IFDQ_READ ? ReadInto(tag, kTShort, &values[reads++], 2) : Op(op, tag));
      list.back().found = 7;
    }
    list.push_back(Op(IFDQ_END));
    EXPECT_EQ(Walk(bytes, list.data()), row.result);
    std::string found, stored;
    for (size_t i = 0; i + 1 < list.size(); ++i) found += std::to_string(list[i].found);
    for (size_t i = 0; i < reads; ++i) stored += std::to_string(values[i]);
    EXPECT_EQ(found, row.found);
    EXPECT_EQ(stored, row.values);
  }
}

// Wherever the block is cut, the walk ends cleanly and allocates nothing.
// IFD0 opens once its entries are whole, its link not yet. A DOUBLE, a type
// the walkers do not read, is never read (no file the exports meet holds one).
TEST_P(Walkers, EveryPrefixIsHandled) {
  TiffBuilder tb(GetParam().order);
  TiffIfd& ifd0 = tb.NewIfd();
  TiffIfd& ifd1 = tb.NewIfd();
  TiffIfd& exif = tb.NewIfd();
  ifd0.Short(0x0100, {640}).Undefined(0x02BC, Bytes(40, 0x5A)).Sub(kTagExifIfd, exif).Next(ifd1);
  ifd0.Values(0x0102, kTDouble, 8, {~0ull});
  ifd1.Long(0x0201, {1000, 2000});
  exif.Ascii(0x0001, "R98");
  const Bytes bytes = tb.Build().bytes;
  const int64_t live = LiveBlocks();
  for (size_t n = 0; n < bytes.size(); ++n) {
    uint16_t width = 0;
    uint8_t *block = nullptr, *unread = nullptr;
    char text[8];
    IfdQuery list[] = {ReadInto(0x0100, kTShort, &width, 2),
                       ReadInto(0x0102, kTDouble, &unread, 0),
                       ReadInto(0x02BC, kTUndefined, &block, 0),
                       Op(IFDQ_ENTER, kTagExifIfd),
                       ReadInto(0x0001, kTAscii, text, 8),
                       Op(IFDQ_LEAVE),
                       Op(IFDQ_NEXT_IFD),
                       ReadInto(0x0201, kTLong, text, 8),
                       Op(IFDQ_END)};
    const bool opens = n >= 8 + 2 + 12 * 4;
    EXPECT_EQ(Walk(Bytes(bytes.begin(), bytes.begin() + n), list),
              opens || !memory() ? QD_OK : QD_E_UNSUPPORTED)
        << n;
    ASSERT_EQ(width, opens ? 640 : 0) << n;
    ASSERT_EQ(unread, nullptr) << n;
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

// A value block the memory walk cannot get leaves its request unfound and is
// reported to the caller, who turns it into a failed call. No export shows the
// report apart from a missing value, so this test sweeps the walk itself.
TEST(WalkMemory, ReportsABlockItCouldNotGet) {
  TiffBuilder tb(Order::II);
  tb.NewIfd().Long(0x0101, {1, 2});
  tb.Pad(2);
  const Bytes bytes = tb.Build().bytes;
  const qd::ByteView view(bytes.data(), static_cast<uint32_t>(bytes.size()));
  int fired = 0;
  for (uint64_t n = 1; n < 100; ++n) {
    uint8_t* slot = nullptr;
    IfdQuery list[] = {ReadInto(0x0101, kTLong, &slot, 0), Op(IFDQ_END)};
    IfdQuery* cursor = list;
    qd::tiff::CopyScratch scratch;
    qd::fault::FailAllocation(n);
    (void)qd::tiff::WalkMemory(view, 8, qd::kLittleEndian, &cursor, 0, qd::tiff::ReadMode::kCopy, &scratch);
    const bool reached = qd::fault::Fired();
    qd::fault::FailAllocation(0);
    EXPECT_EQ(scratch.outOfMemory, list[0].found == 0) << n;
    (void)qd::BlockFree(slot);
    if (!reached) break;
    ++fired;
  }
  EXPECT_GT(fired, 0);
}

// A TIFF block in a heap copy of exactly its length.
struct Block {
  explicit Block(const Bytes& b) : bytes(b) {
    info.tiff = bytes.data();
    info.tiffSize = static_cast<uint32_t>(bytes.size());
  }
  Bytes bytes;
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
    Bytes header(f.bytes.begin(), f.bytes.begin() + 7);  // shorter than a header
    mark[0] = 'X';
    PutU32(beyond, 4, static_cast<uint32_t>(beyond.size()), big);  // IFD0 at the very end
    PutU16(entries, f.ifd0, 0x7FFF, big);                          // entries past the end
    for (const Bytes* bytes : {&mark, &beyond, &entries, &header}) {
      Block bad(*bytes);
      list[0].found = 0x55;
      EXPECT_EQ(qdParseExifProperty(&bad.info, list), QD_E_UNSUPPORTED);
      EXPECT_EQ(qd::tiff::QueryExif(&bad.info, list, qd::tiff::ReadMode::kLocate),
                qd::ST_UNSUPPORTED);
      EXPECT_EQ(list[0].found, 0x55);
    }
    EXPECT_EQ(qdParseExifProperty(&b.info, nullptr), QD_E_INVALID_ARG);
    b.info.tiff = nullptr;
    EXPECT_EQ(qdParseExifProperty(&b.info, list), QD_E_UNSUPPORTED);
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

}  // namespace
}  // namespace qdtest
