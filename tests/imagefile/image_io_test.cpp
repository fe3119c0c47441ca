// Reading files written independently by libpng and libtiff, and writing them back: every
// model, depth and layout the image files accept.
#include "imagefile/image_io.h"

#include <png.h>
#include <tiffio.h>

#include "image_files.h"

namespace imagefile {
namespace {

constexpr int kWidth = 37;  // odd sizes: partial strips and tiles at the right and bottom
constexpr int kHeight = 23;

struct PngCase {
  const char* name;
  int colorType;
  int bits;
  ColourModel model;
  int colour, extra;
  bool interlaced;
};

void PrintTo(const PngCase& c, std::ostream* os) { *os << c.name; }

class PngRoundTrip : public TempFolderTest, public ::testing::WithParamInterface<PngCase> {};

TEST_P(PngRoundTrip, ReadsSamplesAndWritesThemBack) {
  const PngCase& c = GetParam();
  const auto samples = PatternSamples(kWidth, kHeight, c.colour + c.extra, c.bits);
  WriteTestPng(PathOf("in.png"), kWidth, kHeight, c.colorType, c.bits, samples, c.interlaced);

  FileImage image;
  std::string error;
  ASSERT_TRUE(ReadImage(PathOf("in.png"), &image, &error)) << error;
  EXPECT_EQ(image.width, kWidth);
  EXPECT_EQ(image.height, kHeight);
  EXPECT_EQ(image.model, c.model);
  EXPECT_EQ(image.colorChannels, c.colour);
  EXPECT_EQ(image.extraChannels, c.extra);
  EXPECT_EQ(image.bitsPerSample, c.bits);
  EXPECT_EQ(image.format, FileFormat::PNG);
  EXPECT_EQ(image.extraSampleKinds,
            std::vector<uint16_t>(size_t(c.extra), kExtraUnassociatedAlpha));
  EXPECT_EQ(image.data, samples);

  // Back to PNG, and across to TIFF (which a PNG's pixels become deflate-compressed).
  for (const char* name : {"out.PNG", "out.tif"}) {
    ASSERT_TRUE(WriteImage(PathOf(name), image, &error)) << error;
    FileImage again;
    ASSERT_TRUE(ReadImage(PathOf(name), &again, &error)) << error;
    EXPECT_EQ(again.data, samples) << name;
    EXPECT_EQ(again.extraSampleKinds, image.extraSampleKinds) << name;
  }
  EXPECT_EQ(ReadTiffTags(PathOf("out.tif")).compression, COMPRESSION_ADOBE_DEFLATE);
  // Nothing is left beside the written files.
  EXPECT_EQ(FolderEntries(), (std::vector<std::string>{"in.png", "out.PNG", "out.tif"}));
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, PngRoundTrip,
    ::testing::Values(
        PngCase{"Grey8", PNG_COLOR_TYPE_GRAY, 8, ColourModel::kGrey, 1, 0, false},
        PngCase{"Grey16", PNG_COLOR_TYPE_GRAY, 16, ColourModel::kGrey, 1, 0, false},
        PngCase{"GreyAlpha8", PNG_COLOR_TYPE_GRAY_ALPHA, 8, ColourModel::kGrey, 1, 1, false},
        PngCase{"GreyAlpha16", PNG_COLOR_TYPE_GRAY_ALPHA, 16, ColourModel::kGrey, 1, 1, false},
        PngCase{"RGB8", PNG_COLOR_TYPE_RGB, 8, ColourModel::kRGB, 3, 0, false},
        PngCase{"RGB16", PNG_COLOR_TYPE_RGB, 16, ColourModel::kRGB, 3, 0, false},
        PngCase{"RGBA8", PNG_COLOR_TYPE_RGBA, 8, ColourModel::kRGB, 3, 1, false},
        PngCase{"RGBA16Interlaced", PNG_COLOR_TYPE_RGBA, 16, ColourModel::kRGB, 3, 1, true}),
    [](const auto& p) { return std::string(p.param.name); });

struct TiffCase {
  const char* name;
  TestTiff layout;  // width and height are filled in by the test
  ColourModel model;
  int colour;
  uint16_t writtenCompression;
};

TestTiff Layout(uint16_t photometric, uint16_t samples, uint16_t bits, uint16_t compression,
                bool separate = false, int tileSide = 0, std::vector<uint16_t> extra = {},
                uint16_t predictor = PREDICTOR_NONE) {
  TestTiff t;
  t.photometric = photometric;
  t.samples = samples;
  t.bits = bits;
  t.sampleFormat = bits == 32 ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT;
  t.compression = compression;
  t.separate = separate;
  t.tileSide = tileSide;
  t.extraSamples = std::move(extra);
  t.predictor = predictor;
  return t;
}

void PrintTo(const TiffCase& c, std::ostream* os) { *os << c.name; }

TestTiff BigEndian(TestTiff t) {
  t.bigEndian = true;
  return t;
}

class TiffRoundTrip : public TempFolderTest, public ::testing::WithParamInterface<TiffCase> {};

TEST_P(TiffRoundTrip, ReadsSamplesAndWritesThemBack) {
  const TiffCase& c = GetParam();
  TestTiff layout = c.layout;
  layout.width = kWidth;
  layout.height = kHeight;
  const auto samples = PatternSamples(kWidth, kHeight, layout.samples, layout.bits);
  WriteTestTiff(PathOf("in.tif"), layout, samples);

  FileImage image;
  std::string error;
  ASSERT_TRUE(ReadImage(PathOf("in.tif"), &image, &error)) << error;
  EXPECT_EQ(image.model, c.model);
  EXPECT_EQ(image.colorChannels, c.colour);
  EXPECT_EQ(image.extraChannels, layout.samples - c.colour);
  EXPECT_EQ(image.bitsPerSample, layout.bits);
  EXPECT_EQ(image.format, FileFormat::TIFF);
  EXPECT_EQ(image.tiffCompression, layout.compression);
  EXPECT_EQ(image.extraSampleKinds, layout.extraSamples);
  EXPECT_EQ(image.data, samples);

  ASSERT_TRUE(WriteImage(PathOf("out.tiff"), image, &error)) << error;
  FileImage again;
  ASSERT_TRUE(ReadImage(PathOf("out.tiff"), &again, &error)) << error;
  EXPECT_EQ(again.data, samples);
  EXPECT_EQ(again.model, c.model);
  EXPECT_EQ(again.bitsPerSample, layout.bits);

  const TiffTags tags = ReadTiffTags(PathOf("out.tiff"));
  EXPECT_EQ(tags.compression, c.writtenCompression);
  EXPECT_LE(tags.predictor, PREDICTOR_NONE);  // 0: no predictor tag at all
  EXPECT_EQ(tags.photometric, layout.photometric);
  EXPECT_EQ(tags.planar, PLANARCONFIG_CONTIG);
  EXPECT_EQ(tags.extraSamples, layout.extraSamples);
  if (c.model == ColourModel::kCMYK) {
    EXPECT_EQ(tags.inkSet, INKSET_CMYK);
  }
}

constexpr uint16_t kNone = COMPRESSION_NONE, kLzw = COMPRESSION_LZW;
constexpr uint16_t kDeflate = COMPRESSION_ADOBE_DEFLATE;
constexpr uint16_t kGrey = PHOTOMETRIC_MINISBLACK, kRgb = PHOTOMETRIC_RGB;
constexpr uint16_t kCmyk = PHOTOMETRIC_SEPARATED, kLab = PHOTOMETRIC_CIELAB;
constexpr uint16_t kAlpha = EXTRASAMPLE_UNASSALPHA, kPremultiplied = EXTRASAMPLE_ASSOCALPHA;

INSTANTIATE_TEST_SUITE_P(
    Layouts, TiffRoundTrip,
    ::testing::Values(
        TiffCase{"Grey8", Layout(kGrey, 1, 8, kNone), ColourModel::kGrey, 1, kNone},
        TiffCase{"Grey16Lzw", Layout(kGrey, 1, 16, kLzw), ColourModel::kGrey, 1, kLzw},
        TiffCase{"Grey16PredictedTiles", Layout(kGrey, 1, 16, kDeflate, false, 16, {}, 2),
                 ColourModel::kGrey, 1, kDeflate},
        TiffCase{"RGB8SeparateDeflate", Layout(kRgb, 3, 8, kDeflate, true), ColourModel::kRGB, 3,
                 kDeflate},
        TiffCase{"RGB16Tiles", Layout(kRgb, 3, 16, kNone, false, 16), ColourModel::kRGB, 3, kNone},
        TiffCase{"RGB16BigEndian", BigEndian(Layout(kRgb, 3, 16, kLzw)), ColourModel::kRGB, 3,
                 kLzw},
        TiffCase{"RGBFloatBigEndian", BigEndian(Layout(kRgb, 3, 32, kNone)), ColourModel::kRGB, 3,
                 kNone},
        TiffCase{"RGBA8SeparateTilesLzw", Layout(kRgb, 4, 8, kLzw, true, 16, {kAlpha}),
                 ColourModel::kRGB, 3, kLzw},
        TiffCase{"RGB8TwoExtras", Layout(kRgb, 5, 8, kNone, false, 0, {kPremultiplied, 0}),
                 ColourModel::kRGB, 3, kNone},
        TiffCase{"CMYK8", Layout(kCmyk, 4, 8, kDeflate), ColourModel::kCMYK, 4, kDeflate},
        TiffCase{"CMYK16SeparateAlpha", Layout(kCmyk, 5, 16, kLzw, true, 0, {kAlpha}),
                 ColourModel::kCMYK, 4, kLzw},
        TiffCase{"Lab8", Layout(kLab, 3, 8, kNone), ColourModel::kLab, 3, kNone},
        TiffCase{"Lab16Tiles", Layout(kLab, 3, 16, kDeflate, false, 16), ColourModel::kLab, 3,
                 kDeflate},
        TiffCase{"GreyFloat", Layout(kGrey, 1, 32, kNone), ColourModel::kGrey, 1, kNone},
        TiffCase{"RGBAFloatPredicted", Layout(kRgb, 4, 32, kLzw, false, 0, {kAlpha}, 3),
                 ColourModel::kRGB, 3, kLzw},
        // Compressions other than none, LZW and deflate are read and written as deflate.
        TiffCase{"PackBitsBecomesDeflate", Layout(kGrey, 1, 8, COMPRESSION_PACKBITS),
                 ColourModel::kGrey, 1, kDeflate}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace imagefile
