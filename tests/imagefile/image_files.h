// Test helpers for the image files, also used by the program's tests: a temporary folder per
// test, PNG and TIFF files written straight through libpng and libtiff (independently of the
// code under test), hand-made headers for damaged files, and deterministic sample patterns.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// Each test gets a fresh folder under the system's temporary folder, removed afterwards.
class TempFolderTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::string PathOf(const std::string& name) const { return (folder_ / name).string(); }
  std::vector<std::string> FolderEntries() const;

  std::filesystem::path folder_;
};

// Interleaved native-order samples: `samples` per pixel of `bits` (8, 16 or 32 = float), made
// from a fixed formula that reaches both ends of the range.
std::vector<uint8_t> PatternSamples(int width, int height, int samples, int bits);

// A PNG written by libpng: colorType PNG_COLOR_TYPE_…, 8 or 16 bits, native-order samples.
// For palette images `data` holds indices and a 4-entry palette is added.
void WriteTestPng(const std::string& path, int width, int height, int colorType, int bits,
                  const std::vector<uint8_t>& data, bool interlaced = false);

// A TIFF written by libtiff from interleaved native-order samples.
struct TestTiff {
  int width = 0, height = 0;
  uint16_t photometric = 1;                          // PHOTOMETRIC_MINISBLACK
  uint16_t samples = 1, bits = 8, sampleFormat = 1;  // SAMPLEFORMAT_UINT
  uint16_t compression = 1;                          // COMPRESSION_NONE
  uint16_t predictor = 1;                            // PREDICTOR_NONE
  bool separate = false;                             // PLANARCONFIG_SEPARATE
  int tileSide = 0;                                  // 0: strips of 4 rows; else square tiles
  std::vector<uint16_t> extraSamples;
  bool bigEndian = false;  // Motorola byte order instead of the machine's
};
void WriteTestTiff(const std::string& path, const TestTiff& layout,
                   const std::vector<uint8_t>& data);

// Tags of a written TIFF, read back with libtiff.
struct TiffTags {
  uint16_t compression = 0, predictor = 0, photometric = 0, inkSet = 0, planar = 0;
  std::vector<uint16_t> extraSamples;
};
TiffTags ReadTiffTags(const std::string& path);

// A hand-made PNG: signature, IHDR with the given size (8-bit grey), and, when `withData`, a
// small IDAT and IEND.
std::vector<uint8_t> CraftPng(uint32_t width, uint32_t height, bool withData);

// A hand-made little-endian TIFF of one strip: 8-bit-per-sample grey of the given size whose
// strip holds `stripBytes` bytes placed right after the directory (or declared at
// `stripOffset` when that is non-zero).
std::vector<uint8_t> CraftTiff(uint32_t width, uint32_t height, uint16_t bits, uint16_t compression,
                               uint32_t stripBytes, uint32_t stripOffset = 0);

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadBytes(const std::string& path);
