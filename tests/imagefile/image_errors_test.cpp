// What the image files refuse, and how they say so: damaged and unsupported files,
// oversized and implausible headers, masks that do not fit, and outputs a format cannot hold.
#include <gmock/gmock.h>
#include <png.h>
#include <tiffio.h>

#include <chrono>

#include "image_files.h"
#include "imagefile/image_io.h"

namespace imagefile {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

class ImageErrors : public TempFolderTest {
 protected:
  // Reads `name` expecting failure; returns the message without the "<path>: " prefix.
  std::string ReadError(const std::string& name) {
    FileImage image;
    std::string error;
    EXPECT_FALSE(ReadImage(PathOf(name), &image, &error));
    EXPECT_THAT(error, StartsWith(PathOf(name) + ": "));
    EXPECT_EQ(error.find('\n'), std::string::npos);
    return error.substr(std::min(error.size(), PathOf(name).size() + 2));
  }
  void WriteHalf(const std::string& from, const std::string& to) {
    auto bytes = ReadBytes(PathOf(from));
    bytes.resize(bytes.size() / 2);
    WriteBytes(PathOf(to), bytes);
  }
};

TEST_F(ImageErrors, MissingEmptyAndForeignFiles) {
  EXPECT_THAT(ReadError("missing.png"), HasSubstr("cannot open: No such file or directory"));
  WriteBytes(PathOf("empty.tif"), {});
  EXPECT_EQ(ReadError("empty.tif"), "file is empty");
  WriteBytes(PathOf("text.png"), {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'});
  EXPECT_EQ(ReadError("text.png"), "not a PNG or TIFF image");
  std::filesystem::create_directory(PathOf("folder.png"));
  EXPECT_EQ(ReadError("folder.png"), "is a folder, not an image file");
}

TEST_F(ImageErrors, TruncatedAndCorruptFiles) {
  const auto samples = PatternSamples(64, 64, 3, 8);
  WriteTestPng(PathOf("whole.png"), 64, 64, PNG_COLOR_TYPE_RGB, 8, samples);
  WriteHalf("whole.png", "half.png");
  EXPECT_EQ(ReadError("half.png"), "file is truncated: the PNG data ends early");

  // A flipped byte inside the image data breaks the chunk's checksum.
  auto bytes = ReadBytes(PathOf("whole.png"));
  bytes[bytes.size() / 2] ^= 0x01;
  WriteBytes(PathOf("flipped.png"), bytes);
  EXPECT_THAT(ReadError("flipped.png"), StartsWith("corrupt PNG data ("));

  // A plausible header whose image data runs out after a few rows: refused before decoding,
  // since 12 bytes of data cannot hold 500 × 500 samples.
  WriteBytes(PathOf("short.png"), CraftPng(500, 500, true));
  EXPECT_THAT(ReadError("short.png"), StartsWith("the header declares 500x500 pixels"));

  TestTiff layout;
  layout.width = layout.height = 64;
  layout.compression = COMPRESSION_LZW;
  WriteTestTiff(PathOf("whole.tif"), layout, PatternSamples(64, 64, 1, 8));
  WriteHalf("whole.tif", "half.tif");
  const std::string half = ReadError("half.tif");
  EXPECT_THAT(half, HasSubstr("truncated or corrupt TIFF"));
  EXPECT_THAT(half, Not(HasSubstr("half.tif"))) << "the file is named once, in front";

  // A directory intact but its strip beyond the end of the file.
  WriteBytes(PathOf("nostrip.tif"), CraftTiff(16, 16, 8, COMPRESSION_ADOBE_DEFLATE, 256, 4000));
  EXPECT_THAT(ReadError("nostrip.tif"), StartsWith("cannot read row 0: truncated or corrupt TIFF"));
}

TEST_F(ImageErrors, UnsupportedLayouts) {
  WriteTestPng(PathOf("palette.png"), 4, 4, PNG_COLOR_TYPE_PALETTE, 8, std::vector<uint8_t>(16, 1));
  EXPECT_EQ(ReadError("palette.png"), "palette images are not supported");
  WriteTestPng(PathOf("grey2.png"), 8, 2, PNG_COLOR_TYPE_GRAY, 2, std::vector<uint8_t>(4, 0x1B));
  EXPECT_EQ(ReadError("grey2.png"), "2-bit samples are not supported (only 8- and 16-bit)");

  TestTiff bilevel;
  bilevel.width = 16;
  bilevel.height = 2;
  bilevel.bits = 1;
  WriteTestTiff(PathOf("bilevel.tif"), bilevel, std::vector<uint8_t>(4, 0xF0));
  EXPECT_THAT(ReadError("bilevel.tif"), StartsWith("1-bit samples are not supported"));

  TestTiff whiteIsZero;
  whiteIsZero.width = whiteIsZero.height = 2;
  whiteIsZero.photometric = PHOTOMETRIC_MINISWHITE;
  WriteTestTiff(PathOf("miniswhite.tif"), whiteIsZero, std::vector<uint8_t>(4, 0));
  EXPECT_EQ(ReadError("miniswhite.tif"), "min-is-white grey images are not supported");

  TestTiff floatCmyk;
  floatCmyk.width = floatCmyk.height = 2;
  floatCmyk.photometric = PHOTOMETRIC_SEPARATED;
  floatCmyk.samples = 4;
  floatCmyk.bits = 32;
  floatCmyk.sampleFormat = SAMPLEFORMAT_IEEEFP;
  WriteTestTiff(PathOf("floatcmyk.tif"), floatCmyk, std::vector<uint8_t>(64, 0));
  EXPECT_EQ(ReadError("floatcmyk.tif"), "32-bit float samples are supported for grey and RGB only");
}

TEST_F(ImageErrors, SizesOutsideTheSupportedRange) {
  WriteBytes(PathOf("wide.png"), CraftPng(40000, 1, false));
  EXPECT_EQ(ReadError("wide.png"), "image is 40000 pixels wide; the largest supported is 32767");
  WriteBytes(PathOf("empty.png"), CraftPng(0, 5, true));
  EXPECT_EQ(ReadError("empty.png"), "image has no pixels (it is 0x5)");
  WriteBytes(PathOf("empty.tif"), CraftTiff(0, 5, 8, COMPRESSION_NONE, 0));
  EXPECT_EQ(ReadError("empty.tif"), "image has no pixels (it is 0x5)");
  WriteBytes(PathOf("tall.tif"), CraftTiff(1, 40000, 8, COMPRESSION_NONE, 40000));
  EXPECT_EQ(ReadError("tall.tif"), "image is 40000 pixels tall; the largest supported is 32767");
}

TEST_F(ImageErrors, HugeDeclaredSizesFailQuicklyWithoutAllocating) {
  // 30000 × 30000 pixels claimed by files of a few hundred bytes: refused from the header,
  // before any sample memory is allocated.
  WriteBytes(PathOf("huge.png"), CraftPng(30000, 30000, true));
  WriteBytes(PathOf("huge.tif"), CraftTiff(30000, 30000, 8, COMPRESSION_NONE, 300));
  WriteBytes(PathOf("huge-deflate.tif"),
             CraftTiff(30000, 30000, 8, COMPRESSION_ADOBE_DEFLATE, 300));
  const auto start = std::chrono::steady_clock::now();
  for (const char* name : {"huge.png", "huge.tif", "huge-deflate.tif"}) {
    EXPECT_THAT(ReadError(name), HasSubstr("the file is truncated or corrupt")) << name;
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_THAT(ReadError("huge.png"),
              StartsWith("the header declares 30000x30000 pixels (900030000 bytes of samples)"));
}

class Masks : public TempFolderTest {};

TEST_F(Masks, ReadsGreyMasksOfTheImageSize) {
  const std::vector<uint8_t> bytes = {0, 127, 128, 255, 1, 2};
  WriteTestPng(PathOf("mask.png"), 3, 2, PNG_COLOR_TYPE_GRAY, 8, bytes);
  std::vector<uint8_t> mask;
  std::string error;
  ASSERT_TRUE(ReadMask(PathOf("mask.png"), 3, 2, &mask, &error)) << error;
  EXPECT_EQ(mask, bytes);

  // 16-bit masks keep their high byte.
  const uint16_t wide[4] = {0xFFFF, 0x80FF, 0x7FFF, 0x00FF};
  std::vector<uint8_t> data(8);
  std::memcpy(data.data(), wide, 8);
  TestTiff layout;
  layout.width = 2;
  layout.height = 2;
  layout.bits = 16;
  WriteTestTiff(PathOf("mask16.tif"), layout, data);
  ASSERT_TRUE(ReadMask(PathOf("mask16.tif"), 2, 2, &mask, &error)) << error;
  EXPECT_EQ(mask, (std::vector<uint8_t>{0xFF, 0x80, 0x7F, 0x00}));
}

TEST_F(Masks, RefusesWrongSizesColourAndAlpha) {
  std::vector<uint8_t> mask;
  std::string error;
  WriteTestPng(PathOf("small.png"), 3, 2, PNG_COLOR_TYPE_GRAY, 8, std::vector<uint8_t>(6, 0));
  EXPECT_FALSE(ReadMask(PathOf("small.png"), 4, 2, &mask, &error));
  EXPECT_EQ(error, PathOf("small.png") + ": mask is 3x2 but the image is 4x2");

  WriteTestPng(PathOf("rgb.png"), 1, 1, PNG_COLOR_TYPE_RGB, 8, {1, 2, 3});
  EXPECT_FALSE(ReadMask(PathOf("rgb.png"), 1, 1, &mask, &error));
  EXPECT_EQ(error, PathOf("rgb.png") + ": a mask must be grey, but this image is RGB");

  WriteTestPng(PathOf("alpha.png"), 1, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 8, {1, 2});
  EXPECT_FALSE(ReadMask(PathOf("alpha.png"), 1, 1, &mask, &error));
  EXPECT_EQ(error,
            PathOf("alpha.png") + ": a mask must be grey without alpha or other extra channels");

  EXPECT_FALSE(ReadMask(PathOf("none.png"), 1, 1, &mask, &error));
  EXPECT_THAT(error, HasSubstr("No such file"));
}

struct Refusal {
  const char* name;
  ColourModel model;
  int colour, extra, bits;
  uint16_t extraKind;
  const char* output;
  const char* message;  // "" when the output is accepted
};

void PrintTo(const Refusal& r, std::ostream* os) { *os << r.name; }

class OutputChecks : public TempFolderTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(OutputChecks, RefuseFormatsThatCannotHoldTheImage) {
  const Refusal& r = GetParam();
  FileImage image;
  image.width = 2;
  image.height = 1;
  image.model = r.model;
  image.colorChannels = r.colour;
  image.extraChannels = r.extra;
  image.extraSampleKinds.assign(size_t(r.extra), r.extraKind);
  image.bitsPerSample = r.bits;
  image.data.assign(image.RowBytes(), 0);
  const std::string path = PathOf(r.output);
  std::string error;
  if (r.message[0] == 0) {
    EXPECT_TRUE(CanWrite(image, path, &error)) << error;
    EXPECT_TRUE(WriteImage(path, image, &error)) << error;
    return;
  }
  EXPECT_FALSE(CanWrite(image, path, &error));
  EXPECT_EQ(error, path + ": " + r.message);
  EXPECT_FALSE(WriteImage(path, image, &error));
  EXPECT_EQ(error, path + ": " + r.message);
  EXPECT_FALSE(std::filesystem::exists(path));
}

constexpr uint16_t kAlpha = kExtraUnassociatedAlpha;

INSTANTIATE_TEST_SUITE_P(
    Formats, OutputChecks,
    ::testing::Values(
        Refusal{"CmykToPng", ColourModel::kCMYK, 4, 0, 8, kAlpha, "out.png",
                "PNG cannot hold CMYK images; write a .tif instead"},
        Refusal{"LabToPng", ColourModel::kLab, 3, 0, 16, kAlpha, "out.png",
                "PNG cannot hold Lab images; write a .tif instead"},
        Refusal{"FloatToPng", ColourModel::kGrey, 1, 0, 32, kAlpha, "out.Png",
                "PNG cannot hold 32-bit float samples; write a .tif instead"},
        Refusal{"TwoExtrasToPng", ColourModel::kRGB, 3, 2, 8, kAlpha, "out.png",
                "PNG cannot hold 2 extra channels (only one, as alpha); write a .tif instead"},
        Refusal{"PremultipliedToPng", ColourModel::kRGB, 3, 1, 8, kExtraAssociatedAlpha, "out.png",
                "PNG cannot hold premultiplied (associated) alpha; write a .tif instead"},
        Refusal{"UnknownExtension", ColourModel::kGrey, 1, 0, 8, kAlpha, "out.jpg",
                "cannot tell the output format from the name; use .png, .tif or .tiff"},
        Refusal{"CmykToTiff", ColourModel::kCMYK, 4, 1, 16, kAlpha, "out.TIFF", ""},
        Refusal{"FloatToTif", ColourModel::kRGB, 3, 0, 32, kAlpha, "out.tif", ""},
        Refusal{"GreyAlphaToPng", ColourModel::kGrey, 1, 1, 16, kAlpha, "out.PNG", ""}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(OutputChecks, RefusesAMissingFolderAndKeepsAnExistingFileOnRefusal) {
  FileImage image;
  image.width = image.height = 1;
  image.data = {9};
  std::string error;
  EXPECT_FALSE(CanWrite(image, PathOf("no/out.png"), &error));
  EXPECT_EQ(error, PathOf("no/out.png") + ": the folder " + PathOf("no") + " does not exist");

  WriteBytes(PathOf("keep.png"), {1, 2, 3});
  image.model = ColourModel::kCMYK;
  image.colorChannels = 4;
  image.data.assign(4, 0);
  EXPECT_FALSE(WriteImage(PathOf("keep.png"), image, &error));
  EXPECT_EQ(ReadBytes(PathOf("keep.png")), (std::vector<uint8_t>{1, 2, 3}));
}

}  // namespace
}  // namespace imagefile
