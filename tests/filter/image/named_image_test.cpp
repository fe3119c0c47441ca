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

std::vector<uint8_t> ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Writes a recognisable pattern into every row of `image`.
void FillPattern(NamedImage* image) {
  int32_t rowBytes = image->width * image->bytesPerPixel;
  std::vector<uint8_t> row(static_cast<size_t>(rowBytes));
  for (int y = 0; y < image->height; ++y) {
    for (int32_t c = 0; c < rowBytes; ++c) row[size_t(c)] = uint8_t(y * 31 + c * 7 + 1);
    PutLine(image, 0, y, rowBytes, row.data());
  }
}

std::vector<uint8_t> ReadAll(NamedImage* image) {
  int32_t rowBytes = image->width * image->bytesPerPixel;
  std::vector<uint8_t> all(size_t(rowBytes) * size_t(image->height));
  for (int y = 0; y < image->height; ++y)
    GetLine(image, 0, y, rowBytes, all.data() + size_t(y) * size_t(rowBytes));
  return all;
}

class MemoryOrDisk : public NamedImageTest, public ::testing::WithParamInterface<bool> {};

TEST_P(MemoryOrDisk, RowsRoundTripAndStartZeroed) {
  bool onDisk = GetParam();
  if (onDisk) PlatformSetTempMemoryLimit(0);
  NamedImage* image = nullptr;
  ASSERT_EQ(MakeImage(13, 7, 3, &image), noErr);
  EXPECT_EQ(image->onDisk, onDisk ? 1 : 0);
  EXPECT_EQ(image->refNum > 0, onDisk);
  if (!onDisk) {
    EXPECT_EQ(image->refNum, -1);
  }
  EXPECT_EQ(PrefsFiles(),
            onDisk ? std::vector<std::string>{"BackingStore"} : std::vector<std::string>{});

  for (uint8_t b : ReadAll(image)) ASSERT_EQ(b, 0);
  FillPattern(image);
  std::vector<uint8_t> rows = ReadAll(image);
  EXPECT_EQ(rows[0], 1);
  EXPECT_EQ(rows[39 * 2 + 5], uint8_t(2 * 31 + 5 * 7 + 1));

  if (onDisk) {
    // The file is a 6-byte header (bytes per pixel, width, height) followed by the rows.
    std::vector<uint8_t> file = ReadFile(PrefsPath("BackingStore"));
    ASSERT_EQ(file.size(), 6 + rows.size());
    NamedImageHeader header;
    std::memcpy(&header, file.data(), 6);
    EXPECT_EQ(header.bytesPerPixel, 3);
    EXPECT_EQ(header.width, 13);
    EXPECT_EQ(header.height, 7);
    EXPECT_TRUE(std::equal(rows.begin(), rows.end(), file.begin() + 6));
  }
  TossImage(image);
  EXPECT_TRUE(PrefsFiles().empty());
}

INSTANTIATE_TEST_SUITE_P(Storage, MemoryOrDisk, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& param) {
                           return param.param ? "Disk" : "Memory";
                         });

TEST_P(MemoryOrDisk, RowAccessNeverLeavesItsRow) {
  if (GetParam()) PlatformSetTempMemoryLimit(0);
  NamedImage* image = nullptr;
  ASSERT_EQ(MakeSelectionImage(4, 3, 2, &image), noErr);  // 8 bytes a row
  FillPattern(image);
  uint8_t buf[16];

  std::memset(buf, 0xEE, sizeof buf);
  GetLine(image, 5, 1, 10, buf);  // cut to the 3 bytes left in row 1
  EXPECT_EQ(buf[0], uint8_t(31 + 5 * 7 + 1));
  EXPECT_EQ(buf[2], uint8_t(31 + 7 * 7 + 1));
  EXPECT_EQ(buf[3], 0xEE);

  struct {
    int32_t column, row, count;
  } outside[] = {{0, 3, 8}, {0, -1, 8}, {-1, 0, 8}, {8, 0, 1}, {0, 0, -5}};
  for (auto o : outside) {
    std::memset(buf, 0xEE, sizeof buf);
    GetLine(image, o.column, o.row, o.count, buf);
    EXPECT_EQ(buf[0], 0xEE) << o.column << "," << o.row << "," << o.count;
    PutLine(image, o.column, o.row, o.count, buf);
  }
  std::vector<uint8_t> before = ReadAll(image);
  uint8_t ones[16];
  std::memset(ones, 1, sizeof ones);
  PutLine(image, 6, 0, 16, ones);  // only bytes 6 and 7 of row 0 change
  std::vector<uint8_t> after = ReadAll(image);
  for (size_t i = 0; i < after.size(); ++i)
    EXPECT_EQ(after[i], (i == 6 || i == 7) ? 1 : before[i]) << i;
  TossSelectionImage(image);
}

TEST_F(NamedImageTest, StaleFileOfTheSameNameIsDeletedFirst) {
  std::ofstream(PrefsPath("TempImage")) << "stale";
  NamedImage* image = nullptr;
  ASSERT_EQ(MakeTempImage(2, 2, 1, &image), noErr);
  EXPECT_TRUE(PrefsFiles().empty());  // the new image lives in memory
  TossTempImage(image);

  std::ofstream(PrefsPath("AlphaImage")) << "stale";
  TossAlphaImage(nullptr);  // even without an image the file goes
  EXPECT_TRUE(PrefsFiles().empty());
}

TEST_F(NamedImageTest, ImageWithNoRowsIsMadeAndMovesNothing) {
  for (bool onDisk : {false, true}) {
    PlatformSetTempMemoryLimit(onDisk ? 0 : -1);
    NamedImage* image = nullptr;
    ASSERT_EQ(MakeImage(5, 0, 1, &image), noErr);
    uint8_t b = 0x5A;
    GetLine(image, 0, 0, 1, &b);
    EXPECT_EQ(b, 0x5A);
    TossImage(image);
  }
}

TEST_F(NamedImageTest, SizesBeyondThirtyTwoBitsAreRefused) {
  NamedImage* image = nullptr;
  EXPECT_EQ(MakeImage(32767, 32767, 4, &image), memFullErr);
  ASSERT_NE(image, nullptr);  // the record is the caller's to toss
  TossImage(image);
  EXPECT_TRUE(PrefsFiles().empty());
}

TEST_F(NamedImageTest, LargestMemoryImageIsTriedInMemoryAndOneMoreByteIsNot) {
  // A full disk makes the disk path fail fast, so only the decision is observed: how many
  // allocations were asked for (record, temporary block, clear buffer) before -34.
  PlatformSetTempMemoryLimit(0);
  PlatformSetDiskFullAfter(0);
  struct Case {
    int16_t width, height, bpp;
    long allocations;
  } cases[] = {
      {16384, 16384, 2, 3},  // 536,870,912 + 6 bytes: within the limit, memory is asked
      {8069, 1901, 35, 2},   // 536,870,915 + 6 bytes: one byte over, straight to disk
  };
  for (const Case& c : cases) {
    long before = PlatformAllocationCount();
    NamedImage* image = nullptr;
    EXPECT_EQ(MakeImage(c.width, c.height, c.bpp, &image), dskFulErr);
    EXPECT_EQ(PlatformAllocationCount() - before, c.allocations) << c.width;
    EXPECT_TRUE(PrefsFiles().empty()) << "a file that could not be cleared is deleted";
    TossImage(image);
  }
}

TEST_F(NamedImageTest, DiskFullWhileClearingGivesDiskFullAndNoFile) {
  PlatformSetTempMemoryLimit(0);
  for (long long budget : {0LL, 6LL, 100LL, 6LL + 40 * 40 - 1}) {
    PlatformSetDiskFullAfter(budget);
    NamedImage* image = nullptr;
    EXPECT_EQ(MakeAlphaImage(40, 40, 1, &image), dskFulErr) << budget;
    EXPECT_TRUE(PrefsFiles().empty()) << budget;
    TossAlphaImage(image);
  }
  PlatformSetDiskFullAfter(6 + 40 * 40 + 6);  // header written twice, then every row
  NamedImage* image = nullptr;
  EXPECT_EQ(MakeAlphaImage(40, 40, 1, &image), noErr);
  TossAlphaImage(image);
}

TEST_F(NamedImageTest, FileThatCannotBeCreatedReportsThePlatformStatus) {
  PlatformSetTempMemoryLimit(0);
  PlatformRefuseOpens(true);
  NamedImage* image = nullptr;
  EXPECT_EQ(MakeImage(3, 3, 1, &image), permErr);
  TossImage(image);
}

TEST_F(NamedImageTest, ClearFallsBackToOneRowAndThenToNothing) {
  // Allocations: record, temporary block, 512 KiB buffer (refused), one-row buffer.
  PlatformRefuseAllocations(2, 1);
  NamedImage* image = nullptr;
  ASSERT_EQ(MakeImage(10, 4, 1, &image), noErr);
  for (uint8_t b : ReadAll(image)) ASSERT_EQ(b, 0);
  TossImage(image);

  // On disk, a clear that finds no buffer at all fails the make.
  PlatformSetTempMemoryLimit(0);
  PlatformRefuseAllocations(2, 2);
  EXPECT_EQ(MakeImage(10, 4, 1, &image), dskFulErr);
  TossImage(image);
  EXPECT_TRUE(PrefsFiles().empty());
}

TEST_F(NamedImageTest, RecordRefusedGivesNullImage) {
  PlatformRefuseAllocations(0, 1);
  NamedImage* image = reinterpret_cast<NamedImage*>(1);
  EXPECT_EQ(MakeImage(3, 3, 1, &image), memFullErr);
  EXPECT_EQ(image, nullptr);
}

TEST_F(NamedImageTest, DuplicatePStringCopiesLengthAndCharacters) {
  PString source("Selection");
  unsigned char dest[256];
  std::memset(dest, 0xAA, sizeof dest);
  DuplicatePString(source.get(), dest);
  EXPECT_EQ(dest[0], 9);
  EXPECT_EQ(std::memcmp(dest + 1, "Selection", 9), 0);
  EXPECT_EQ(dest[10], 0xAA);
  DuplicatePString(source.get(), nullptr);
}

}  // namespace
