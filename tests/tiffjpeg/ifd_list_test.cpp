// The query list as a program: IFD chains, nested scopes, skipped scopes and
// malformed lists, the same through both walkers and both byte orders.
#include <gtest/gtest.h>

#include <vector>

#include "walk_harness.h"

namespace qdtest {
namespace {

constexpr uint16_t kTagA = 0x0100;  // in IFD0 (value 1) and IFD1 (value 2)
constexpr uint16_t kTagB = 0x9000;  // in the Exif IFD (3)
constexpr uint16_t kTagC = 0x0002;  // in the interoperability IFD (4)
constexpr uint16_t kMissing = 0x1234;

using Flags = std::vector<uint16_t>;

class WalkLists : public testing::TestWithParam<WalkParam> {
 protected:
  WalkLists() { values_.reserve(64); }  // Read() hands out addresses into it
  WalkOutcome Run(const TiffImage& img, IfdQuery* list) {
    return RunWalk(GetParam().form, GetParam().order, img.bytes, img.ifdOffsets.at(0), list);
  }

  // IFD0 -> IFD1; IFD0 -> Exif IFD -> interoperability IFD.
  TiffImage Tree() {
    TiffBuilder tb(GetParam().order);
    TiffIfd& ifd0 = tb.NewIfd();
    TiffIfd& ifd1 = tb.NewIfd();
    TiffIfd& exif = tb.NewIfd();
    TiffIfd& interop = tb.NewIfd();
    ifd0.Short(kTagA, {1}).Sub(kTagExifIfd, exif).Raw(0x0200, kTLong, 1, 0).Next(ifd1);
    ifd1.Short(kTagA, {2});
    exif.Short(kTagB, {3}).Sub(kTagInteropIfd, interop);
    interop.Short(kTagC, {4});
    return tb.Build();
  }

  // A SHORT read into the next slot of values_, which holds the values read
  // in the order the reads were made (0 for unfound ones).
  IfdQuery Read(uint16_t tag) {
    values_.push_back(0);
    return ReadInto(tag, kTShort, &values_.back(), 2);
  }
  std::vector<uint16_t> values_;
};

TEST_P(WalkLists, NestedScopesAreEnteredAndLeftOnTheSharedCursor) {
  const TiffImage img = Tree();
  IfdQuery list[] = {Read(kTagA),
                     Op(IFDQ_ENTER, kTagExifIfd),
                     Read(kTagB),
                     Read(kTagA),  // not in the Exif IFD
                     Op(IFDQ_ENTER, kTagInteropIfd),
                     Read(kTagC),
                     Op(IFDQ_LEAVE),
                     Read(kTagB),  // back in the Exif IFD
                     Op(IFDQ_LEAVE),
                     Read(kTagA),  // back in IFD0
                     Op(IFDQ_NEXT_IFD),
                     Read(kTagA),
                     Op(IFDQ_END)};
  const WalkOutcome out = Run(img, list);
  EXPECT_EQ(out.result, QD_OK);
  EXPECT_EQ(out.stoppedAt, 12);
  EXPECT_EQ(FoundFlags(list, 13), (Flags{1, 1, 1, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0}));
  EXPECT_EQ(values_, (Flags{1, 3, 0, 4, 3, 1, 2}));
  EXPECT_EQ(list[1].type, kTLong);
}

TEST_P(WalkLists, AScopeThatCannotBeEnteredIsSkippedWithEverythingNestedInIt) {
  const TiffImage img = Tree();
  // A missing tag, and a tag whose value names no IFD (offset 0).
  for (uint16_t tag : {kMissing, uint16_t{0x0200}}) {
    SCOPED_TRACE(tag);
    IfdQuery list[] = {Op(IFDQ_ENTER, tag),   Read(kTagB), Op(IFDQ_ENTER, kTagInteropIfd),
                       Read(kTagC),           Op(IFDQ_LEAVE), Read(kTagB),
                       Op(IFDQ_LEAVE),        Read(kTagA), Op(IFDQ_END)};
    for (int i = 1; i <= 6; ++i) list[i].found = 7;  // skipped requests keep what they held
    const WalkOutcome out = Run(img, list);
    EXPECT_EQ(out.result, QD_OK);
    EXPECT_EQ(out.stoppedAt, 8);
    EXPECT_EQ(FoundFlags(list, 9), (Flags{0, 7, 7, 7, 7, 7, 7, 1, 0}));
  }
}

TEST_P(WalkLists, MalformedListsFailButKeepTheAnswersGivenSoFar) {
  const TiffImage img = Tree();
  const std::vector<std::vector<IfdQuery>> lists = {
      // A skipped scope that the list never closes.
      {Read(kTagA), Op(IFDQ_ENTER, kMissing), Read(kTagB), Op(IFDQ_END)},
      // A chain step inside a skipped scope.
      {Read(kTagA), Op(IFDQ_ENTER, kMissing), Op(IFDQ_NEXT_IFD), Op(IFDQ_LEAVE), Op(IFDQ_END)},
      // Operations that do not exist, at the top and inside an entered scope.
      {Read(kTagA), Op(6), Read(kTagA), Op(IFDQ_END)},
      {Read(kTagA), Op(IFDQ_ENTER, kTagExifIfd), Op(IFDQ_PLACEHOLDER), Op(IFDQ_LEAVE), Op(IFDQ_END)},
  };
  for (std::vector<IfdQuery> list : lists) {
    EXPECT_EQ(Run(img, list.data()).result, QD_E_INVALID_ARG);
    EXPECT_EQ(list[0].found, 1);
  }
}

// A zero link ends the whole walk, inside a scope too; an IFD without
// entries still links on; a chain that links back is walked only as far as
// the list asks.
TEST_P(WalkLists, ChainsEndAtAZeroLinkAndNowhereElse) {
  const TiffImage img = Tree();
  IfdQuery list[] = {Read(kTagA), Op(IFDQ_NEXT_IFD), Read(kTagA), Op(IFDQ_NEXT_IFD), Read(kTagA), Op(IFDQ_END)};
  EXPECT_EQ(Run(img, list).result, QD_OK);
  EXPECT_EQ(FoundFlags(list, 6), (Flags{1, 1, 1, 0, 0, 0}));
  IfdQuery nested[] = {Op(IFDQ_ENTER, kTagExifIfd), Read(kTagB), Op(IFDQ_NEXT_IFD), Read(kTagB),
                       Op(IFDQ_LEAVE),               Read(kTagA), Op(IFDQ_END)};
  EXPECT_EQ(Run(img, nested).result, QD_OK);
  EXPECT_EQ(FoundFlags(nested, 7), (Flags{1, 1, 0, 0, 0, 0, 0}));

  TiffBuilder tb(GetParam().order);
  TiffIfd& empty = tb.NewIfd();
  TiffIfd& loop = tb.NewIfd();
  empty.Next(loop);
  loop.Short(kTagA, {2}).Next(loop);
  const TiffImage looped = tb.Build();
  values_.clear();
  std::vector<IfdQuery> walk = {Read(kTagA)};
  for (int i = 0; i < 20; ++i) walk.insert(walk.end(), {Op(IFDQ_NEXT_IFD), Read(kTagA)});
  walk.push_back(Op(IFDQ_END));
  EXPECT_EQ(Run(looped, walk.data()).result, QD_OK);
  for (size_t i = 1; i + 1 < walk.size(); ++i) EXPECT_EQ(walk[i].found, 1) << i;
  values_.erase(values_.begin());
  EXPECT_EQ(values_, Flags(20, 2));
}

INSTANTIATE_TEST_SUITE_P(Walkers, WalkLists, testing::ValuesIn(kAllWalks), WalkParamName);

}  // namespace
}  // namespace qdtest
