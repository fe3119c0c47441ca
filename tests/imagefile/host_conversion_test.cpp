// The conversion between file samples and the host's scale and back: 16-bit rescaling with its
// exact write-back, CMYK ink, CIELab's signed a and b, and extra channels.
#include "imagefile/host_conversion.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

namespace imagefile {
namespace {

// The next group of samples of `in` (up to a "|") as the bytes of `bits`-bit samples.
std::vector<uint8_t> Samples(std::istringstream& in, int bits) {
  std::vector<uint8_t> bytes;
  for (std::string word; in >> word && word != "|";) {
    const auto value = uint16_t(std::stoul(word, nullptr, 0));
    bytes.resize(bytes.size() + size_t(bits / 8));
    if (bits == 8) bytes.back() = uint8_t(value);
    if (bits == 16) std::memcpy(&bytes[bytes.size() - 2], &value, 2);
  }
  return bytes;
}

TEST(HostConversion, HandsOverOnTheHostsScaleAndTakesBackByTheInverseRules) {
  struct Conversion {
    ColourModel model;
    int colour, extra, bits;
    const char* samples;  // as stored | as handed to the filter | its answer | as written back
  };
  const Conversion cases[] = {
      {ColourModel::kGrey, 1, 0, 8, "0 77 255 | 0 77 255 | 1 77 200 | 1 77 200"},
      // Unchanged 16-bit samples keep their file value even where the scale would round (32767
      // and 3 do not survive a plain round trip); changed ones follow the rule, and results
      // above 32768 become 65535.
      {ColourModel::kGrey, 1, 0, 16,
       "0 65535 32767 3 100 100 | 0 32768 16384 2 50 50 | 0 32768 16384 2 32768 40000 | "
       "0 65535 32767 3 65535 65535"},
      {ColourModel::kRGB, 3, 1, 8, "10 20 30 40 | 10 20 30 40 | 11 20 30 41 | 11 20 30 41"},
      // 8-bit ink is inverted, the alpha after it is not; 16-bit ink keeps its sense.
      {ColourModel::kCMYK, 4, 1, 8,
       "0 55 200 255 200 | 255 200 55 0 200 | 255 0 55 10 7 | 0 255 200 245 7"},
      {ColourModel::kCMYK, 4, 0, 16,
       "0 65535 32768 1 | 0 32768 16384 1 | 32768 32768 16384 0 | 65535 65535 32768 0"},
      // Lab a and b are signed: 8-bit -128 is stored as 0x80, 16-bit -32768 as 0x8000.
      {ColourModel::kLab, 3, 0, 8,
       "200 0x80 0x7F 100 0 0xFF | 200 0 255 100 128 127 | 201 0 255 100 130 0 | "
       "201 0x80 0x7F 100 2 0x80"},
      {ColourModel::kLab, 3, 1, 16,
       "65535 0x8000 0x7FFF 0 40000 0 0xFFFF 65535 | 32768 0 32768 0 20000 16384 16384 32768 | "
       "32768 0 32768 0 20000 16385 40000 32768 | 65535 0x8000 0x7FFF 0 40000 1 0x7FFF 65535"}};
  for (const Conversion& c : cases) {
    SCOPED_TRACE(c.samples);
    std::istringstream in(c.samples);
    FileImage file;
    file.height = 1;
    file.model = c.model;
    file.colorChannels = c.colour;
    file.extraChannels = c.extra;
    file.bitsPerSample = c.bits;
    file.extraSampleKinds.assign(size_t(c.extra), kExtraUnassociatedAlpha);
    const std::vector<uint8_t> samples = Samples(in, c.bits);
    file.width = int32_t(samples.size() / file.BytesPerSample()) / file.SamplesPerPixel();
    file.data.Assign(samples, samples.size());
    hostkit::HostImage host;
    FileImage back;
    std::string error;
    ASSERT_TRUE(ToHostImage(file, &host, &error)) << error;
    EXPECT_EQ(host.pixels, Samples(in, c.bits));
    EXPECT_EQ(host.planes, c.colour + c.extra);
    host.pixels.Assign(Samples(in, c.bits), host.RowBytes());
    ASSERT_TRUE(FromHostImage(host, file, &back, &error)) << error;
    EXPECT_EQ(back.data, Samples(in, c.bits));
    EXPECT_EQ(back.extraSampleKinds, file.extraSampleKinds);
  }
}

}  // namespace
}  // namespace imagefile
