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

class WalkLists : public testing::TestWithParam<WalkParam> {
 protected:
  Form form() const { return GetParam().form; }
  Order order() const { return GetParam().order; }
  WalkOutcome Run(const TiffImage& img, IfdQuery* list) {
    return RunWalk(form(), order(), img.bytes, img.ifdOffsets.at(0), list);
  }

  // IFD0 -> IFD1; IFD0 -> Exif IFD -> interoperability IFD.
  TiffImage Tree() {
    TiffBuilder tb(order());
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

  // A SHORT read into the next slot of values().
  IfdQuery Read(uint16_t tag) {
    values_.push_back(0);
    return ReadInto(tag, kTShort, &values_.back(), 2);
  }
  // Values of the reads, in the order the reads were made (0 for unfound ones).
  const std::vector<uint16_t>& values() const { return values_; }

 private:
  std::vector<uint16_t> values_ = Reserved();  // Read() hands out addresses into it
  static std::vector<uint16_t> Reserved() {
    std::vector<uint16_t> v;
    v.reserve(64);
    return v;
  }
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
  EXPECT_EQ(FoundFlags(list, 13), (std::vector<uint16_t>{1, 1, 1, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0}));
  EXPECT_EQ(values(), (std::vector<uint16_t>{1, 3, 0, 4, 3, 1, 2}));
  EXPECT_EQ(list[1].type, kTLong);
}

TEST_P(WalkLists, AScopeThatCannotBeEnteredIsSkippedWithEverythingNestedInIt) {
  const TiffImage img = Tree();
  // A missing tag, and a tag whose value names no IFD (offset 0).
  for (uint16_t tag : {kMissing, uint16_t{0x0200}}) {
    SCOPED_TRACE(tag);
    IfdQuery list[] = {Op(IFDQ_ENTER, tag),
                       Read(kTagB),
                       Op(IFDQ_ENTER, kTagInteropIfd),
                       Read(kTagC),
                       Op(IFDQ_LEAVE),
                       Read(kTagB),
                       Op(IFDQ_LEAVE),
                       Read(kTagA),
                       Op(IFDQ_END)};
    for (int i = 1; i <= 6; ++i) list[i].found = 7;  // skipped requests keep what they held
    const WalkOutcome out = Run(img, list);
    EXPECT_EQ(out.result, QD_OK);
    EXPECT_EQ(out.stoppedAt, 8);
    EXPECT_EQ(FoundFlags(list, 9), (std::vector<uint16_t>{0, 7, 7, 7, 7, 7, 7, 1, 0}));
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
  for (size_t i = 0; i < lists.size(); ++i) {
    SCOPED_TRACE(i);
    std::vector<IfdQuery> list = lists[i];
    EXPECT_EQ(Run(img, list.data()).result, QD_E_INVALID_ARG);
    EXPECT_EQ(list[0].found, 1);
  }
}

TEST_P(WalkLists, TheChainEndsTheWholeWalkWhereItsLinkIsZero) {
  const TiffImage img = Tree();
  IfdQuery list[] = {Read(kTagA), Op(IFDQ_NEXT_IFD), Read(kTagA), Op(IFDQ_NEXT_IFD), Read(kTagA), Op(IFDQ_END)};
  EXPECT_EQ(Run(img, list).result, QD_OK);
  EXPECT_EQ(FoundFlags(list, 6), (std::vector<uint16_t>{1, 1, 1, 0, 0, 0}));
  EXPECT_EQ(values(), (std::vector<uint16_t>{1, 2, 0}));

  // Inside a scope too: the end of the Exif IFD's chain ends everything.
  IfdQuery nested[] = {Op(IFDQ_ENTER, kTagExifIfd), Read(kTagB), Op(IFDQ_NEXT_IFD), Read(kTagB),
                       Op(IFDQ_LEAVE),               Read(kTagA), Op(IFDQ_END)};
  EXPECT_EQ(Run(img, nested).result, QD_OK);
  EXPECT_EQ(FoundFlags(nested, 7), (std::vector<uint16_t>{1, 1, 0, 0, 0, 0, 0}));
}

TEST_P(WalkLists, ALinkOutsideTheBlockEndsTheChain) {
  // At the end; near 2^32; where a count would run past the end; cut after two bytes.
  for (int kind = 0; kind < 4; ++kind) {
    SCOPED_TRACE(kind);
    TiffBuilder tb(order());
    TiffIfd& ifd0 = tb.NewIfd();
    ifd0.Short(kTagA, {1});
    const uint32_t size = tb.Build().size();
    // Whole, the cut link would lead back to IFD0 ("II") or far away ("MM").
    const uint32_t cut = order() == Order::II ? 8 : 0x00080000;
    ifd0.NextRaw(kind == 0 ? size : kind == 1 ? 0xFFFFFFF0u : kind == 2 ? size - 1 : cut);
    TiffImage img = tb.Build();
    if (kind == 3) img.bytes.resize(img.bytes.size() - 2);

    IfdQuery list[] = {Op(IFDQ_NEXT_IFD), Read(kTagA), Op(IFDQ_END)};
    EXPECT_EQ(Run(img, list).result, QD_OK);
    // The stream form moves on to an IFD it cannot load, which holds nothing.
    if (form() == Form::Memory || kind == 3) EXPECT_EQ(list[0].found, 0);
    EXPECT_EQ(list[1].found, 0);
  }
}

TEST_P(WalkLists, AChainThatLinksBackIsWalkedOnlyAsFarAsTheListAsks) {
  TiffBuilder tb(order());
  TiffIfd& ifd0 = tb.NewIfd();
  ifd0.Short(kTagA, {1}).Next(ifd0);
  const TiffImage img = tb.Build();
  std::vector<IfdQuery> list;
  for (int i = 0; i < 20; ++i) {
    list.push_back(Op(IFDQ_NEXT_IFD));
    list.push_back(Read(kTagA));
  }
  list.push_back(Op(IFDQ_END));
  EXPECT_EQ(Run(img, list.data()).result, QD_OK);
  for (size_t i = 0; i + 1 < list.size(); ++i) EXPECT_EQ(list[i].found, 1) << i;
  EXPECT_EQ(values(), std::vector<uint16_t>(20, 1));
}

TEST_P(WalkLists, AnIfdWithoutEntriesStillLinksOn) {
  TiffBuilder tb(order());
  TiffIfd& ifd0 = tb.NewIfd();
  TiffIfd& ifd1 = tb.NewIfd();
  ifd0.Next(ifd1);
  ifd1.Short(kTagA, {2});
  const TiffImage img = tb.Build();
  IfdQuery list[] = {Read(kTagA), Op(IFDQ_NEXT_IFD), Read(kTagA), Op(IFDQ_END)};
  EXPECT_EQ(Run(img, list).result, QD_OK);
  EXPECT_EQ(FoundFlags(list, 4), (std::vector<uint16_t>{0, 1, 1, 0}));
  EXPECT_EQ(values()[1], 2);
}

INSTANTIATE_TEST_SUITE_P(Walkers, WalkLists, testing::ValuesIn(kAllWalks), WalkParamName);

}  // namespace
}  // namespace qdtest
