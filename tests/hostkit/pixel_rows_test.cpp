// An image's rows on disk behave as rows in memory: unwritten rows read as zeros, what a window
// held survives the next window and copies, and a folder where no file can be made is a failure
// that names it. (Whole runs with every copy of the image on disk are the golden runs'.)
#include "hostkit/pixel_rows.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

namespace {

TEST(PixelRows, RowsOnDiskKeepWhatWasWrittenAndReadZerosElsewhere) {
  const std::filesystem::path folder = testing::TempDir();
  hostkit::SetPixelRowsSpill(folder.string(), 0);
  hostkit::PixelRows rows(5, 8);
  ASSERT_TRUE(rows.OnDisk());
  std::memset(rows.Rows(2, 3), 7, 15);  // rows 2..4
  std::memset(rows.Rows(6), 9, 5);      // another window: 2..4 go to the file
  EXPECT_EQ(rows.Rows(4, 3)[0], 7);     // a window over written rows and
  EXPECT_EQ(rows.Rows(4, 3)[5], 0);     // one (5) that never was
  EXPECT_EQ(rows.Rows(7)[0], 0);        // and one past the file's end
  std::vector<uint8_t> want(40, 0);
  std::fill(want.begin() + 10, want.begin() + 25, 7);
  std::fill(want.begin() + 30, want.begin() + 35, 9);
  const hostkit::PixelRows copy = rows;
  EXPECT_EQ(copy, want);
  EXPECT_EQ(rows, want);

  hostkit::SetPixelRowsSpill((folder / "no-such-folder").string(), 0);
  EXPECT_THROW(hostkit::PixelRows(5, 8), hostkit::PixelRowsError);
  hostkit::SetPixelRowsSpill("", -1);
}

}  // namespace
