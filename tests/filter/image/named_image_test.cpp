// Scratch images in memory and on disk: rows that round-trip and start zeroed, the file's
// layout, row access cut to its row, and every way making one can fail.
#include "filter/image/named_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/files.h"
#include "platform/memory.h"
#include "support/platform_fixture.h"

namespace {

using NamedImageTest = PlatformFixture;

std::vector<uint8_t> ReadAll(NamedImage* image) {
  const int32_t rowBytes = image->width * image->bytesPerPixel;
  std::vector<uint8_t> all(size_t(rowBytes) * size_t(image->height));
  for (int y = 0; y < image->height; ++y)
    GetLine(image, 0, y, rowBytes, all.data() + size_t(y) * size_t(rowBytes));
  return all;
}

// On disk the file is a 6-byte header (bytes per pixel, width, height) and then the rows. A row
// access is cut to the row it starts in; one outside every row does nothing.
TEST_F(NamedImageTest, RowsRoundTripStartZeroedAndNeverLeaveTheirRow) {
  for (bool onDisk : {false, true}) {
    PlatformSetTempMemoryLimit(onDisk ? 0 : -1);
    NamedImage* image = nullptr;
    ASSERT_EQ(MakeImage(4, 3, 2, &image), noErr);  // 8 bytes a row
    EXPECT_EQ(image->onDisk, onDisk ? 1 : 0);
    EXPECT_EQ(PrefsFiles(), std::vector<std::string>(onDisk ? 1 : 0, "BackingStore"));
    EXPECT_EQ(ReadAll(image), std::vector<uint8_t>(24, 0));
    std::vector<uint8_t> pattern(24);
    for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = uint8_t(i * 7 + 1);
    for (int y = 0; y < 3; ++y) PutLine(image, 0, y, 8, &pattern[size_t(y) * 8]);
    EXPECT_EQ(ReadAll(image), pattern);
    if (onDisk) {
      std::ifstream in(PrefsPath("BackingStore"), std::ios::binary);
      const std::vector<uint8_t> file{std::istreambuf_iterator<char>(in), {}};
      const int16_t header[3] = {2, 4, 3};
      ASSERT_EQ(file.size(), 6 + pattern.size());
      EXPECT_EQ(std::memcmp(file.data(), header, 6), 0);
      EXPECT_TRUE(std::equal(pattern.begin(), pattern.end(), file.begin() + 6));
    }
    uint8_t buf[16];
    std::memset(buf, 0xEE, sizeof buf);
    GetLine(image, 5, 1, 10, buf);  // cut to the 3 bytes left in row 1
    EXPECT_EQ(std::vector<uint8_t>(buf, buf + 4),
              std::vector<uint8_t>({pattern[13], pattern[14], pattern[15], 0xEE}));
    const int32_t outside[][3] = {{0, 3, 8}, {0, -1, 8}, {-1, 0, 8}, {8, 0, 1}, {0, 0, -5}};
    for (auto [column, row, count] : outside) {
      GetLine(image, column, row, count, buf);
      EXPECT_EQ(buf[3], 0xEE) << column << "," << row << "," << count;
      PutLine(image, column, row, count, buf);
    }
    PutLine(image, 6, 0, 16, buf);  // only bytes 6 and 7 of row 0 change
    pattern[6] = buf[0];
    pattern[7] = buf[1];
    EXPECT_EQ(ReadAll(image), pattern);
    TossImage(image);
    EXPECT_TRUE(PrefsFiles().empty());
  }
}

// Memory refused for the record: no image. Too large for 32 bits: -108. A disk that fills while
// the file is cleared: -34 and no file (a file that cannot be made at all: the whole-run
// faults, tests/reliability). The clear falls back from its 512 KiB buffer to one row, and on disk
// to nothing at all: -34.
TEST_F(NamedImageTest, FailuresLeaveNoFileBehind) {
  NamedImage* image = reinterpret_cast<NamedImage*>(1);
  PlatformRefuseAllocations(0, 1);
  EXPECT_EQ(MakeImage(3, 3, 1, &image), memFullErr);
  EXPECT_EQ(image, nullptr);
  EXPECT_EQ(MakeImage(32767, 32767, 4, &image), memFullErr);
  TossImage(image);                 // the record is the caller's to toss
  PlatformRefuseAllocations(2, 1);  // record, temporary block, the clear's buffer
  ASSERT_EQ(MakeImage(10, 4, 1, &image), noErr);
  EXPECT_EQ(ReadAll(image), std::vector<uint8_t>(40, 0));
  TossImage(image);
  PlatformSetTempMemoryLimit(0);
  PlatformRefuseAllocations(2, 2);
  EXPECT_EQ(MakeImage(10, 4, 1, &image), dskFulErr);
  TossImage(image);
  for (long long budget : {0LL, 6LL, 100LL, 6LL + 40 * 40 - 1}) {
    PlatformSetDiskFullAfter(budget);
    EXPECT_EQ(MakeAlphaImage(40, 40, 1, &image), dskFulErr) << budget;
    EXPECT_TRUE(PrefsFiles().empty()) << budget;
    TossAlphaImage(image);
  }
  PlatformSetDiskFullAfter(6 + 40 * 40 + 6);  // header written twice, then every row
  EXPECT_EQ(MakeAlphaImage(40, 40, 1, &image), noErr);
  TossAlphaImage(image);
  PlatformSetDiskFullAfter(-1);
  EXPECT_TRUE(PrefsFiles().empty());
}

// Memory is tried up to 512 MiB (a full disk then fails the disk path fast, so only the
// decision shows: record, temporary block and clear buffer asked for, or the record alone and
// then straight to disk); a stale file of the same name is deleted first.
TEST_F(NamedImageTest, LargestMemoryImageIsTriedInMemoryAndStaleFilesGo) {
  PlatformSetTempMemoryLimit(0);
  PlatformSetDiskFullAfter(0);
  for (auto [width, height, bytes, allocations] :
       {std::tuple{16384, 16384, 2, 3L}, {8069, 1901, 35, 2L}}) {
    const long before = PlatformAllocationCount();
    NamedImage* image = nullptr;
    EXPECT_EQ(MakeImage(int16_t(width), int16_t(height), int16_t(bytes), &image), dskFulErr);
    EXPECT_EQ(PlatformAllocationCount() - before, allocations) << width;
    TossImage(image);
  }
  PlatformSetTempMemoryLimit(-1);
  PlatformSetDiskFullAfter(-1);
  std::ofstream(PrefsPath("TempImage")) << "stale";
  NamedImage* image = nullptr;
  ASSERT_EQ(MakeTempImage(2, 0, 1, &image), noErr);  // no rows: nothing moves
  uint8_t b = 0x5A;
  GetLine(image, 0, 0, 1, &b);
  EXPECT_EQ(b, 0x5A);
  TossTempImage(image);
  std::ofstream(PrefsPath("AlphaImage")) << "stale";
  TossAlphaImage(nullptr);  // even without an image the file goes
  EXPECT_TRUE(PrefsFiles().empty());
}

}  // namespace
