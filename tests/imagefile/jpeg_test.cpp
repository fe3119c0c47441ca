// JPEG files made by ImageMagick from the photograph in examples/ and judged by ImageMagick and
// exiftool: grey, YCbCr and inverted (APP14) CMYK read and spliced, keeping the coefficients of
// every block the fill left alone; a JPEG written whole from a PNG with its quality and metadata.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "imagefile/jpeg_codec.h"
#include "imagefile/jpeg_io.h"

namespace imagefile {
namespace {

namespace fs = std::filesystem;

// The standard output of a shell command.
std::string Output(const std::string& command) {
  std::string out;
  std::FILE* pipe = popen(command.c_str(), "r");
  for (int c; pipe && (c = std::fgetc(pipe)) != EOF;) out.push_back(char(c));
  EXPECT_TRUE(pipe && pclose(pipe) == 0) << command;
  return out;
}

// A JPEG's quantised coefficients, per component: how many pixels one block covers across and
// down, its blocks across, and 64 values per block, rows of blocks in order.
struct Blocks {
  std::vector<int> pixelsAcross, pixelsDown, across;
  std::vector<std::vector<JCOEF>> values;
};

// libjpeg's own error handling ends the test program on a broken file, failing the test.
Blocks ReadBlocks(const std::string& path) {
  Blocks blocks;
  jpeg_decompress_struct info = {};
  jpeg_error_mgr manager;
  info.err = jpeg_std_error(&manager);
  jpeg_create_decompress(&info);
  std::FILE* file = std::fopen(path.c_str(), "rb");
  jpeg_stdio_src(&info, file);
  jpeg_read_header(&info, TRUE);
  jvirt_barray_ptr* arrays = jpeg_read_coefficients(&info);
  for (int c = 0; c < info.num_components; ++c) {
    const jpeg_component_info& component = info.comp_info[c];
    blocks.pixelsAcross.push_back(8 * info.max_h_samp_factor / component.h_samp_factor);
    blocks.pixelsDown.push_back(8 * info.max_v_samp_factor / component.v_samp_factor);
    blocks.across.push_back(int(component.width_in_blocks));
    blocks.values.emplace_back();
    for (JDIMENSION y = 0; y < component.height_in_blocks; ++y) {
      JBLOCKARRAY row = (*info.mem->access_virt_barray)(reinterpret_cast<j_common_ptr>(&info),
                                                        arrays[c], y, 1, FALSE);
      const JCOEF* values = reinterpret_cast<const JCOEF*>(row[0]);  // the row's blocks in turn
      blocks.values.back().insert(blocks.values.back().end(), values,
                                  values + 64 * component.width_in_blocks);
    }
  }
  jpeg_destroy_decompress(&info);
  std::fclose(file);
  return blocks;
}

class JpegFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = fs::temp_directory_path() / ("jpeg_test_" + std::to_string(getpid()));
    fs::create_directories(folder);
  }
  void TearDown() override { fs::remove_all(folder); }
  // The photograph as `name`, converted by ImageMagick with `options`.
  std::string Photo(const std::string& name, const std::string& options) {
    const std::string path = (folder / name).string();
    Output("convert " AREAFILL_TEST_PHOTO " " + options + " " + path);
    return path;
  }
  fs::path folder;
};

struct Kind {
  const char* options;  // ImageMagick's, for the JPEG it writes
  const char* raw;      // ImageMagick's name for its decoded samples: ink for CMYK
};
const Kind kKinds[] = {{"-colorspace gray", "gray"},
                       {"-sampling-factor 2x2 -quality 85", "rgb"},
                       {"-colorspace cmyk -sampling-factor 2x2", "cmyk"}};

// Each kind is read as ImageMagick decodes it, filled in a rectangle and written back: every
// block outside the rectangle keeps its coefficients, the ones inside decode close to the fill.
TEST_F(JpegFiles, ReadsEachKindAndSplicesOnlyTheBlocksTheFillChanged) {
  const int x0 = 101, y0 = 53, x1 = 141, y1 = 80;  // the changed pixels, not on block edges
  for (const Kind& kind : kKinds) {
    const std::string in = Photo("in.jpg", kind.options), out = (folder / "out.jpg").string();
    const std::string thumbnail = Photo("thumbnail.jpg", "-resize 64x40");
    Output(
        "exiftool -q -n -Orientation=6 -XResolution=200 -YResolution=200 -ResolutionUnit=3 "
        "'-ThumbnailImage<=" +
        thumbnail + "' -overwrite_original " + in);
    FileImage image;
    std::string error;
    ASSERT_TRUE(ReadImage(in, &image, &error)) << error;
    EXPECT_EQ(image.metadata.orientation, Orientation::kRightTop);
    EXPECT_EQ(image.metadata.resolution.x, 200);
    EXPECT_EQ(image.metadata.resolution.unit, Resolution::Unit::kCentimetre);
    const std::string theirs = Output("convert " + in + " -depth 8 " + kind.raw + ":-");
    ASSERT_EQ(theirs.size(), image.data.size()) << kind.raw;
    for (size_t i = 0; i < theirs.size(); ++i)
      ASSERT_LE(std::abs(uint8_t(theirs[i]) - image.data[i]), 1) << kind.raw << " sample " << i;
    for (int y = y0; y < y1; ++y)
      std::fill_n(&image.data[(size_t(y) * size_t(image.width) + x0) * size_t(image.colorChannels)],
                  (x1 - x0) * image.colorChannels, 200);
    ASSERT_TRUE(WriteImage(out, image, &error)) << error;
    const std::vector<std::string> warnings = JpegWriteWarnings(image, out);  // not a lossy one
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("thumbnail"), std::string::npos);

    const Blocks before = ReadBlocks(in), after = ReadBlocks(out);
    ASSERT_EQ(before.values.size(), after.values.size());
    for (size_t c = 0; c < before.values.size(); ++c) {
      const int w = before.pixelsAcross[c], h = before.pixelsDown[c];
      size_t touched = 0, changed = 0;
      for (size_t b = 0; b < before.values[c].size() / 64; ++b) {
        const int bx = int(b % size_t(before.across[c])), by = int(b / size_t(before.across[c]));
        const bool touches = bx * w < x1 && (bx + 1) * w > x0 && by * h < y1 && (by + 1) * h > y0;
        const bool same = std::equal(&before.values[c][64 * b], &before.values[c][64 * b + 64],
                                     &after.values[c][64 * b]);
        touched += touches;
        changed += !same;
        EXPECT_TRUE(touches || same) << kind.raw << " component " << c << " block " << b;
      }
      EXPECT_GT(touched, 0u);
      EXPECT_GE(changed * 2, touched) << kind.raw << " component " << c;
    }
    FileImage filled;
    ASSERT_TRUE(ReadImage(out, &filled, &error)) << error;
    double total = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0 * image.colorChannels; x < x1 * image.colorChannels; ++x)
        total += std::abs(filled.data[size_t(y) * image.RowBytes() + size_t(x)] - 200);
    EXPECT_LT(total / ((y1 - y0) * (x1 - x0) * image.colorChannels), 4.0) << kind.raw;
    EXPECT_EQ(Output("exiftool -s3 -n -Orientation " + out), "6\n");
  }
  fs::resize_file(folder / "in.jpg", fs::file_size(folder / "in.jpg") / 2);
  FileImage image;
  std::string error;
  EXPECT_FALSE(ReadImage((folder / "in.jpg").string(), &image, &error));
  EXPECT_NE(error.find("truncated"), std::string::npos) << error;
}

TEST_F(JpegFiles, WritesAPngWholeAtItsQualityWithItsMetadata) {
  FileImage image;
  std::string error;
  ASSERT_TRUE(ReadImage(AREAFILL_TEST_PHOTO, &image, &error)) << error;
  image.metadata.icc = std::string("\0\1\x11\x70", 4) + std::string(69996, 'p');  // 2 APP2s
  image.metadata.exif =
      std::string("II*\0\x08\0\0\0\x01\0\x31\x01\x02\0\x04\0\0\0abc\0\0\0\0\0", 26);
  image.metadata.orientation = Orientation::kLeftBottom;  // not in the EXIF block: added to it
  image.metadata.resolution = {300, 300, Resolution::Unit::kInch};
  image.metadata.xmp =
      "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
      "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'><rdf:Description "
      "xmlns:dc='http://purl.org/dc/elements/1.1/' dc:format='image/x-test'/></rdf:RDF>"
      "</x:xmpmeta>";
  image.metadata.iptc = std::string("\x1c\x02\x78\x00\x05ladybird", 10);  // caption "ladyb"
  for (int quality : {50, 95}) {
    const std::string out = (folder / ("q" + std::to_string(quality) + ".jpg")).string();
    image.jpegQuality = quality;
    ASSERT_TRUE(WriteImage(out, image, &error)) << error;
    EXPECT_EQ(Output("identify -format %Q " + out), std::to_string(quality));
    const std::vector<std::string> warnings = JpegWriteWarnings(image, out);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("quality " + std::to_string(quality)), std::string::npos);
    EXPECT_EQ(Output("exiftool -q -q -s3 -n -Orientation -Software -XResolution -ResolutionUnit "
                     "-XMP-dc:Format -IPTC:Caption-Abstract " +
                     out),
              "8\nabc\n300\n1\nimage/x-test\nladyb\n");
    EXPECT_EQ(Output("exiftool -q -q -b -ICC_Profile " + out), image.metadata.icc);
    FileImage back;
    ASSERT_TRUE(ReadImage(out, &back, &error)) << error;
    EXPECT_EQ(back.metadata.icc + back.metadata.xmp + back.metadata.iptc,
              image.metadata.icc + image.metadata.xmp + image.metadata.iptc);
    EXPECT_EQ(back.metadata.resolution.y, 300);
  }
}

}  // namespace
}  // namespace imagefile
