// The CMYK and Lab row conversions: known pixels (some next to a rounding boundary, where
// rounding every operation to float, working whole steps in float or keeping double across steps
// would move a channel by one), clipping, greys, and rows converted in place.
#include "filter/color/color_convert.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

using Convert = void (*)(void*, int32_t);

struct Conversion {
  const char* name;
  Convert convert;
  int inSamples, outSamples;  // a pixel's samples before and after
  bool wide;                  // 16-bit samples
};

const Conversion kCmyk8 = {"CMYK8toRGB24", _ConvertCMYK8toRGB24, 4, 3, false},
                 kToCmyk8 = {"RGB24toCMYK8", _ConvertRGB24toCMYK8, 3, 4, false},
                 kCmyk16 = {"CMYK16toRGB48", _ConvertCMYK16toRGB48, 4, 3, true},
                 kToCmyk16 = {"RGB48toCMYK16", _ConvertRGB48toCMYK16, 3, 4, true},
                 kLab8 = {"LAB8toRGB24", _ConvertLAB8toRGB24, 3, 3, false},
                 kToLab8 = {"RGB24toLAB8", _ConvertRGB24toLAB8, 3, 3, false},
                 kLab16 = {"LAB16toRGB48", _ConvertLAB16toRGB48, 3, 3, true},
                 kToLab16 = {"RGB48toLAB16", _ConvertRGB48toLAB16, 3, 3, true};

// Converts `pixels` pixels of `in` (room is left for the larger layout and a guard sample).
std::vector<int> Converted(const Conversion& c, std::vector<int> in, int32_t pixels) {
  if (in.size() < 4 * size_t(pixels < 1 ? 1 : pixels) + 1)
    in.resize(4 * size_t(pixels < 1 ? 1 : pixels) + 1, c.wide ? 0x1234 : 0x34);
  std::vector<uint8_t> narrow(in.begin(), in.end());
  std::vector<uint16_t> wide(in.begin(), in.end());
  c.convert(c.wide ? static_cast<void*>(wide.data()) : narrow.data(), pixels);
  return c.wide ? std::vector<int>(wide.begin(), wide.end())
                : std::vector<int>(narrow.begin(), narrow.end());
}

TEST(ColorConvert, ConvertsKnownPixels) {
  // clang-format off
  const struct {
    const Conversion& c;
    std::vector<int> in, out;
  } cases[] = {
      {kCmyk8, {255, 255, 255, 255}, {255, 254, 224}}, {kCmyk8, {0, 0, 0, 0}, {0, 0, 0}},
      {kCmyk8, {255, 255, 255, 0}, {0, 0, 0}}, {kCmyk8, {128, 128, 128, 255}, {143, 127, 112}},
      {kCmyk8, {76, 205, 134, 71}, {27, 49, 32}}, {kToCmyk8, {255, 255, 255}, {231, 255, 255, 254}},
      {kToCmyk8, {0, 0, 0}, {0, 0, 0, 17}}, {kToCmyk8, {255, 0, 0}, {231, 0, 0, 254}},
      {kCmyk16, {0, 0, 0, 0}, {32735, 32735, 32735}}, {kCmyk16, {32768, 32768, 32768, 32768}, {0, 0, 0}},
      {kToCmyk16, {32768, 32768, 32768}, {0, 0, 0, 32}}, {kToCmyk16, {0, 0, 0}, {32768, 32768, 32768, 32768}},
      {kLab8, {255, 128, 128}, {255, 255, 255}}, {kLab8, {0, 128, 128}, {0, 0, 0}},
      {kLab8, {128, 128, 128}, {106, 106, 106}}, {kLab8, {50, 200, 100}, {128, 0, 54}},
      {kLab8, {128, 255, 128}, {255, 0, 106}}, {kLab8, {255, 133, 18}, {219, 204, 255}},
      {kLab16, {32768, 16384, 16384}, {32768, 32768, 32768}}, {kLab16, {0, 16384, 16384}, {0, 0, 0}},
      {kLab16, {65535, 16384, 16384}, {32768, 32768, 32768}},  // past 32768: clipped
      {kLab16, {26693, 8665, 5029}, {9083, 32240, 32768}}, {kLab16, {15543, 20975, 27897}, {24106, 10333, 3403}},
      {kToLab8, {255, 255, 255}, {255, 128, 128}}, {kToLab8, {0, 0, 0}, {1, 128, 128}},
      {kToLab16, {0, 0, 0}, {2, 16384, 16384}}, {kToLab16, {16970, 21077, 30713}, {24619, 15015, 6642}},
      {kToLab16, {9040, 23050, 22978}, {20611, 11714, 10606}}};
  // clang-format on
  for (const auto& k : cases) {
    const std::vector<int> out = Converted(k.c, k.in, 1);
    EXPECT_EQ(std::vector<int>(out.begin(), out.begin() + k.c.outSamples), k.out) << k.c.name;
  }
  // Greys stay grey in Lab, and their lightness never falls.
  int previous = -1;
  for (int lightness = 0; lightness <= 255; ++lightness) {
    const std::vector<int> rgb = Converted(kLab8, {lightness, 128, 128}, 1);
    EXPECT_TRUE(rgb[0] == rgb[1] && rgb[1] == rgb[2] && rgb[0] >= previous) << lightness;
    previous = rgb[0];
    const std::vector<int> lab = Converted(kToLab8, rgb, 1);
    EXPECT_TRUE(lab[1] == 128 && lab[2] == 128) << lightness;
  }
}

// A row converts in place as its pixels do one by one, first pixel to last or last to first as
// the layouts need, and nothing past it is written; a count below one changes nothing.
TEST(ColorConvert, RowsConvertInPlaceLikeSinglePixels) {
  for (const Conversion* c :
       {&kCmyk8, &kToCmyk8, &kCmyk16, &kToCmyk16, &kLab8, &kToLab8, &kLab16, &kToLab16}) {
    std::vector<int> input(4 * 7 + 1);
    for (size_t i = 0; i < input.size(); ++i)
      input[i] = int((i * 37 + 11) % (c->wide ? 32769 : 256));
    const std::vector<int> row = Converted(*c, input, 7);
    for (int p = 0; p < 7; ++p) {
      const std::vector<int> alone =
          Converted(*c,
                    std::vector<int>(input.begin() + p * c->inSamples,
                                     input.begin() + (p + 1) * c->inSamples),
                    1);
      for (int s = 0; s < c->outSamples; ++s)
        EXPECT_EQ(row[size_t(p * c->outSamples + s)], alone[size_t(s)]) << c->name << " " << p;
    }
    EXPECT_EQ(row.back(), input.back()) << c->name;
    const size_t written = size_t(std::max(c->inSamples, c->outSamples));
    const std::vector<int> one = Converted(*c, input, 1);
    EXPECT_TRUE(std::equal(one.begin() + written, one.end(), input.begin() + written)) << c->name;
    for (int32_t count : {0, -1, INT32_MIN})
      EXPECT_EQ(Converted(*c, input, count), input) << c->name;
  }
}

}  // namespace
