// The conversion between file samples and the host's scale: 16-bit rescaling and its exact
// write-back, CMYK ink, CIELab's signed a and b, extra channels, modes and planes.
#include "imagefile/host_conversion.h"

#include <cstring>

#include "filter/host/filter_record.h"
#include "image_files.h"

namespace imagefile {
namespace {

FileImage MakeFile(ColourModel model, int colour, int extra, int bits,
                   const std::vector<uint16_t>& values) {
  FileImage f;
  f.model = model;
  f.colorChannels = colour;
  f.extraChannels = extra;
  f.extraSampleKinds.assign(size_t(extra), kExtraUnassociatedAlpha);
  f.bitsPerSample = bits;
  f.width = int32_t(values.size()) / (colour + extra);
  f.height = 1;
  f.data.resize(values.size() * size_t(bits / 8));
  for (size_t i = 0; i < values.size(); ++i) {
    if (bits == 8)
      f.data[i] = uint8_t(values[i]);
    else
      std::memcpy(&f.data[2 * i], &values[i], 2);
  }
  return f;
}

std::vector<uint16_t> Samples(const std::vector<uint8_t>& bytes, int bits) {
  std::vector<uint16_t> out(bytes.size() / size_t(bits / 8));
  for (size_t i = 0; i < out.size(); ++i) {
    if (bits == 8)
      out[i] = bytes[i];
    else
      std::memcpy(&out[i], &bytes[2 * i], 2);
  }
  return out;
}

void SetSamples(hostkit::HostImage* host, const std::vector<uint16_t>& values) {
  for (size_t i = 0; i < values.size(); ++i) {
    if (host->depth == 8)
      host->pixels[i] = uint8_t(values[i]);
    else
      std::memcpy(&host->pixels[2 * i], &values[i], 2);
  }
}

TEST(SixteenBitScale, MapsFileValuesToHostValuesAndBack) {
  const std::pair<uint32_t, uint16_t> toHost[] = {
      {0, 0}, {1, 1}, {2, 1}, {32768, 16384}, {32769, 16385}, {65534, 32767}, {65535, 32768}};
  for (auto [v, h] : toHost) EXPECT_EQ(hostkit::FileToHost16(v), h) << v;
  const std::pair<uint32_t, uint16_t> toFile[] = {{0, 0},         {1, 2},         {16384, 32768},
                                                  {32767, 65533}, {32768, 65535}, {32769, 65535},
                                                  {65535, 65535}};
  for (auto [h, v] : toFile) EXPECT_EQ(hostkit::HostToFile16(h), v) << h;
}

struct Conversion {
  const char* name;
  ColourModel model;
  int colour, extra, bits;
  std::vector<uint16_t> file;      // one pixel or more, as stored
  std::vector<uint16_t> host;      // as handed to the filter
  std::vector<uint16_t> filtered;  // what the filter returns
  std::vector<uint16_t> written;   // what goes back to the file
};

void PrintTo(const Conversion& c, std::ostream* os) { *os << c.name; }

class HostConversion : public ::testing::TestWithParam<Conversion> {};

TEST_P(HostConversion, HandsOverAndTakesBack) {
  const Conversion& c = GetParam();
  const FileImage file = MakeFile(c.model, c.colour, c.extra, c.bits, c.file);
  hostkit::HostImage host;
  std::string error;
  ASSERT_TRUE(ToHostImage(file, &host, &error)) << error;
  EXPECT_EQ(Samples(host.pixels, c.bits), c.host);

  SetSamples(&host, c.filtered);
  FileImage back;
  ASSERT_TRUE(FromHostImage(host, file, &back, &error)) << error;
  EXPECT_EQ(Samples(back.data, c.bits), c.written);
  EXPECT_EQ(back.extraSampleKinds, file.extraSampleKinds);
}

// 16-bit Lab a and b are signed: -32768 is stored as 0x8000, 32767 as 0x7FFF.
INSTANTIATE_TEST_SUITE_P(
    Rules, HostConversion,
    ::testing::Values(Conversion{"Grey8AsStored",
                                 ColourModel::kGrey,
                                 1,
                                 0,
                                 8,
                                 {0, 77, 255},
                                 {0, 77, 255},
                                 {1, 77, 200},
                                 {1, 77, 200}},
                      // Unchanged 16-bit samples keep their file value even where the scale would
                      // round (32767 and 3 do not survive a plain round trip); changed ones follow
                      // the rule, and wrapped results above 32768 become 65535.
                      Conversion{"Grey16",
                                 ColourModel::kGrey,
                                 1,
                                 0,
                                 16,
                                 {0, 65535, 32767, 3, 100, 100},
                                 {0, 32768, 16384, 2, 50, 50},
                                 {0, 32768, 16384, 2, 32768, 40000},
                                 {0, 65535, 32767, 3, 65535, 65535}},
                      Conversion{"RGBAlpha8",
                                 ColourModel::kRGB,
                                 3,
                                 1,
                                 8,
                                 {10, 20, 30, 40},
                                 {10, 20, 30, 40},
                                 {11, 20, 30, 41},
                                 {11, 20, 30, 41}},
                      // 8-bit ink is inverted; the alpha after it is not.
                      Conversion{"CMYK8InkInverted",
                                 ColourModel::kCMYK,
                                 4,
                                 1,
                                 8,
                                 {0, 55, 200, 255, 200},
                                 {255, 200, 55, 0, 200},
                                 {255, 0, 55, 10, 7},
                                 {0, 255, 200, 245, 7}},
                      // 16-bit ink keeps its sense and is rescaled.
                      Conversion{"CMYK16NotInverted",
                                 ColourModel::kCMYK,
                                 4,
                                 0,
                                 16,
                                 {0, 65535, 32768, 1},
                                 {0, 32768, 16384, 1},
                                 {32768, 32768, 16384, 0},
                                 {65535, 65535, 32768, 0}},
                      Conversion{"Lab8SignedOffset",
                                 ColourModel::kLab,
                                 3,
                                 0,
                                 8,
                                 {200, 0x80, 0x7F, 100, 0, 0xFF},
                                 {200, 0, 255, 100, 128, 127},
                                 {201, 0, 255, 100, 130, 0},
                                 {201, 0x80, 0x7F, 100, 2, 0x80}},
                      Conversion{"Lab16SignedOffset",
                                 ColourModel::kLab,
                                 3,
                                 1,
                                 16,
                                 {65535, 0x8000, 0x7FFF, 0, 40000, 0, 0xFFFF, 65535},
                                 {32768, 0, 32768, 0, 20000, 16384, 16384, 32768},
                                 {32768, 0, 32768, 0, 20000, 16385, 40000, 32768},
                                 {65535, 0x8000, 0x7FFF, 0, 40000, 0x0001, 0x7FFF, 65535}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(HostConversion, UntouchedSixteenBitImageComesBackBitExactly) {
  std::vector<uint16_t> every(65536);
  for (size_t v = 0; v < every.size(); ++v) every[v] = uint16_t(v);
  FileImage file = MakeFile(ColourModel::kGrey, 1, 0, 16, every);
  file.width = 256;
  file.height = 256;
  hostkit::HostImage host;
  FileImage back;
  std::string error;
  ASSERT_TRUE(ToHostImage(file, &host, &error)) << error;
  ASSERT_TRUE(FromHostImage(host, file, &back, &error)) << error;
  EXPECT_EQ(back.data, file.data);
}

TEST(HostConversion, FloatsPassAsStored) {
  FileImage file;
  file.model = ColourModel::kRGB;
  file.colorChannels = 3;
  file.bitsPerSample = 32;
  file.width = 2;
  file.height = 1;
  const float values[6] = {0.0f, 1.0f, 0.25f, 0.5f, 1e-7f, 0.999f};
  file.data.resize(sizeof values);
  std::memcpy(file.data.data(), values, sizeof values);
  hostkit::HostImage host;
  std::string error;
  ASSERT_TRUE(ToHostImage(file, &host, &error)) << error;
  EXPECT_EQ(host.pixels, file.data);
  host.Set(1, 0, 2, 0.125);
  FileImage back;
  ASSERT_TRUE(FromHostImage(host, file, &back, &error)) << error;
  float last;
  std::memcpy(&last, back.data.data() + 20, 4);
  EXPECT_EQ(last, 0.125f);
}

TEST(HostConversion, ModesAndPlanes) {
  struct Expect {
    ColourModel model;
    int colour, extra, bits;
    int16_t mode;
  };
  const Expect cases[] = {
      {ColourModel::kGrey, 1, 0, 8, plugInModeGrayScale},
      {ColourModel::kGrey, 1, 1, 16, plugInModeGray16},
      {ColourModel::kGrey, 1, 0, 32, plugInModeGray32},
      {ColourModel::kRGB, 3, 1, 8, plugInModeRGBColor},
      {ColourModel::kRGB, 3, 0, 16, plugInModeRGB48},
      {ColourModel::kRGB, 3, 2, 32, plugInModeRGB96},
      {ColourModel::kCMYK, 4, 0, 8, plugInModeCMYKColor},
      {ColourModel::kCMYK, 4, 1, 16, plugInModeCMYK64},
      {ColourModel::kLab, 3, 0, 8, plugInModeLabColor},
      {ColourModel::kLab, 3, 1, 16, plugInModeLab48},
  };
  for (const Expect& e : cases) {
    FileImage file = MakeFile(e.model, e.colour, e.extra, e.bits == 32 ? 8 : e.bits,
                              std::vector<uint16_t>(size_t(e.colour + e.extra), 0));
    file.bitsPerSample = e.bits;
    file.data.resize(file.RowBytes());
    hostkit::HostImage host;
    std::string error;
    ASSERT_TRUE(ToHostImage(file, &host, &error)) << error;
    EXPECT_EQ(host.imageMode, e.mode);
    EXPECT_EQ(host.planes, e.colour + e.extra);
    EXPECT_EQ(host.depth, e.bits);
  }
}

TEST(HostConversion, RefusesAFilteredImageOfAnotherShape) {
  const FileImage file = MakeFile(ColourModel::kRGB, 3, 0, 8, {1, 2, 3, 4, 5, 6});
  hostkit::HostImage host;
  std::string error;
  ASSERT_TRUE(ToHostImage(file, &host, &error));
  host.imageMode = plugInModeGrayScale;
  FileImage back;
  EXPECT_FALSE(FromHostImage(host, file, &back, &error));
  EXPECT_EQ(error, "the filtered image does not match the image it was made from");
}

}  // namespace
}  // namespace imagefile
