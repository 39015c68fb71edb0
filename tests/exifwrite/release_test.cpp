// The release functions of the records the library fills with its own blocks.
#include <gtest/gtest.h>

#include <cstring>

#include "frame/memory_block.h"
#include "qdparse.h"
#include "support/fault_sweep.h"

namespace qdtest {
namespace {

template <typename Record>
void Scribble(Record* r) {
  std::memset(r, 0xCD, sizeof *r);
}

template <typename Record>
bool AllZero(const Record& r) {
  const auto* p = reinterpret_cast<const uint8_t*>(&r);
  for (size_t i = 0; i < sizeof r; ++i) {
    if (p[i] != 0) return false;
  }
  return true;
}

TEST(ReleaseFunctions, FreeTheirBlocksAndZeroTheWholeRecordOnceOrTwice) {
  const int64_t live = LiveBlocks();

  TiffBlockInfo exif;
  Scribble(&exif);
  exif.segment = qd::BlockAlloc(40);
  exif.tiff = exif.segment + 6;  // inside the segment: released with it
  OutPutInfo output;
  Scribble(&output);
  output.iccProfile = qd::BlockAlloc(10);
  output.iim = qd::BlockAlloc(20);
  ExtensionInfo app1{qd::BlockAlloc(8), 8};
  MakerNoteBuffer note;
  Scribble(&note);
  note.data = qd::BlockAlloc(12);
  ASSERT_EQ(LiveBlocks(), live + 5);

  for (int round = 0; round < 2; ++round) {  // the second round releases zeroed records
    SCOPED_TRACE(round);
    EXPECT_EQ(qdParseFreeExifBuffer(&exif), QD_OK);
    EXPECT_TRUE(AllZero(exif));
    EXPECT_EQ(qdParseFreeOutPutInfo(&output), QD_OK);
    EXPECT_TRUE(AllZero(output));
    EXPECT_EQ(qdParseFreeApp1Info(&app1), QD_OK);
    EXPECT_TRUE(AllZero(app1));
    EXPECT_EQ(qdParseFreeMakerNoteBuffer(&note), QD_OK);
    EXPECT_TRUE(AllZero(note));
    EXPECT_EQ(LiveBlocks(), live);
  }
}

TEST(ReleaseFunctions, OutPutInfoReleasesEitherBufferAlone) {
  const int64_t live = LiveBlocks();
  for (int which = 0; which < 2; ++which) {
    OutPutInfo output{};
    (which == 0 ? output.iccProfile : output.iim) = qd::BlockAlloc(4);
    (which == 0 ? output.iccProfileSize : output.iimSize) = 4;
    EXPECT_EQ(qdParseFreeOutPutInfo(&output), QD_OK);
    EXPECT_TRUE(AllZero(output));
    EXPECT_EQ(LiveBlocks(), live);
  }
}

TEST(ReleaseFunctions, ExtensionInfoIsASecondNameOfTheApp1Release) {
  EXPECT_EQ(&qdParseFreeExtensionInfo, &qdParseFreeApp1Info);
  const int64_t live = LiveBlocks();
  ExtensionInfo info{qd::BlockAlloc(16), 16};
  EXPECT_EQ(qdParseFreeExtensionInfo(&info), QD_OK);
  EXPECT_TRUE(AllZero(info));
  EXPECT_EQ(LiveBlocks(), live);
}

}  // namespace
}  // namespace qdtest
