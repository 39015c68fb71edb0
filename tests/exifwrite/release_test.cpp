// The release functions of the records the library fills with its own blocks.
#include <gtest/gtest.h>

#include <cstring>

#include "exifwrite/exif_support.h"
#include "frame/memory_block.h"
#include "support/fault_sweep.h"

namespace qdtest {
namespace {

TEST(ReleaseFunctions, FreeTheirBlocksAndZeroTheWholeRecordOnceOrTwice) {
  const int64_t live = LiveBlocks();
  TiffBlockInfo exif;
  OutPutInfo output;
  MakerNoteBuffer note;
  std::memset(&exif, 0xCD, sizeof exif);
  std::memset(&output, 0xCD, sizeof output);
  std::memset(&note, 0xCD, sizeof note);
  exif.segment = qd::BlockAlloc(40);
  exif.tiff = exif.segment + 6;  // inside the segment: released with it
  output.iccProfile = qd::BlockAlloc(10);
  output.iim = qd::BlockAlloc(20);
  ExtensionInfo app1{qd::BlockAlloc(8), 8};
  note.data = qd::BlockAlloc(12);
  ASSERT_EQ(LiveBlocks(), live + 5);
  for (int round = 0; round < 2; ++round) {  // the second round releases zeroed records
    SCOPED_TRACE(round);
    EXPECT_EQ(qdParseFreeExifBuffer(&exif), QD_OK);
    EXPECT_EQ(qdParseFreeOutPutInfo(&output), QD_OK);
    EXPECT_EQ(qdParseFreeApp1Info(&app1), QD_OK);
    EXPECT_EQ(qdParseFreeMakerNoteBuffer(&note), QD_OK);
    EXPECT_TRUE(AllZero(exif) && AllZero(output) && AllZero(app1) && AllZero(note));
    EXPECT_EQ(LiveBlocks(), live);
  }
}

}  // namespace
}  // namespace qdtest
