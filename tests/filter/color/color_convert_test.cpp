// Tests of the CMYK and Lab row conversions: known pixels, in-place order on rows of
// several pixels, pixel counts, and clipping.
#include "filter/color/color_convert.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace {

using Convert = void (*)(void*, int32_t);

struct Conversion {
  const char* name;
  Convert convert;
  int inSamples;   // samples a pixel before
  int outSamples;  // samples a pixel after
  bool wide;       // 16-bit samples
};

void PrintTo(const Conversion& conversion, std::ostream* os) { *os << conversion.name; }

const Conversion kConversions[] = {
    {"CMYK8toRGB24", _ConvertCMYK8toRGB24, 4, 3, false},
    {"RGB24toCMYK8", _ConvertRGB24toCMYK8, 3, 4, false},
    {"CMYK16toRGB48", _ConvertCMYK16toRGB48, 4, 3, true},
    {"RGB48toCMYK16", _ConvertRGB48toCMYK16, 3, 4, true},
    {"LAB8toRGB24", _ConvertLAB8toRGB24, 3, 3, false},
    {"RGB24toLAB8", _ConvertRGB24toLAB8, 3, 3, false},
    {"LAB16toRGB48", _ConvertLAB16toRGB48, 3, 3, true},
    {"RGB48toLAB16", _ConvertRGB48toLAB16, 3, 3, true},
};

// Converts one pixel in a buffer of 4 samples and returns the converted samples.
template <typename Sample>
std::vector<int> ConvertPixel(Convert convert, std::vector<int> in, int outSamples) {
  Sample buffer[4] = {};
  for (size_t i = 0; i < in.size(); ++i) buffer[i] = static_cast<Sample>(in[i]);
  convert(buffer, 1);
  return std::vector<int>(buffer, buffer + outSamples);
}

struct PixelCase {
  const char* name;
  Convert convert;
  bool wide;
  std::vector<int> in;
  std::vector<int> out;
};

void PrintTo(const PixelCase& pixel, std::ostream* os) { *os << pixel.name; }

class PixelTest : public ::testing::TestWithParam<PixelCase> {};

TEST_P(PixelTest, ConvertsToKnownValue) {
  const PixelCase& c = GetParam();
  int outSamples = static_cast<int>(c.out.size());
  std::vector<int> got = c.wide ? ConvertPixel<uint16_t>(c.convert, c.in, outSamples)
                                : ConvertPixel<uint8_t>(c.convert, c.in, outSamples);
  EXPECT_EQ(got, c.out);
}

INSTANTIATE_TEST_SUITE_P(
    Pixels, PixelTest,
    ::testing::Values(
        PixelCase{"Cmyk8White", _ConvertCMYK8toRGB24, false, {255, 255, 255, 255}, {255, 254, 224}},
        PixelCase{"Cmyk8FullInk", _ConvertCMYK8toRGB24, false, {0, 0, 0, 0}, {0, 0, 0}},
        PixelCase{"Cmyk8BlackOnly", _ConvertCMYK8toRGB24, false, {255, 255, 255, 0}, {0, 0, 0}},
        PixelCase{
            "Cmyk8HalfColour", _ConvertCMYK8toRGB24, false, {128, 128, 128, 255}, {143, 127, 112}},
        PixelCase{"Rgb24White", _ConvertRGB24toCMYK8, false, {255, 255, 255}, {231, 255, 255, 254}},
        PixelCase{"Rgb24Black", _ConvertRGB24toCMYK8, false, {0, 0, 0}, {0, 0, 0, 17}},
        PixelCase{"Rgb24Red", _ConvertRGB24toCMYK8, false, {255, 0, 0}, {231, 0, 0, 254}},
        PixelCase{"Cmyk16NoInk", _ConvertCMYK16toRGB48, true, {0, 0, 0, 0}, {32735, 32735, 32735}},
        PixelCase{
            "Cmyk16FullInk", _ConvertCMYK16toRGB48, true, {32768, 32768, 32768, 32768}, {0, 0, 0}},
        PixelCase{"Rgb48White", _ConvertRGB48toCMYK16, true, {32768, 32768, 32768}, {0, 0, 0, 32}},
        PixelCase{
            "Rgb48Black", _ConvertRGB48toCMYK16, true, {0, 0, 0}, {32768, 32768, 32768, 32768}},
        PixelCase{"Lab8White", _ConvertLAB8toRGB24, false, {255, 128, 128}, {255, 255, 255}},
        PixelCase{"Lab8Black", _ConvertLAB8toRGB24, false, {0, 128, 128}, {0, 0, 0}},
        PixelCase{"Lab8MidGrey", _ConvertLAB8toRGB24, false, {128, 128, 128}, {106, 106, 106}},
        // Clipping is per channel: one channel low, the others in range or high.
        PixelCase{"Lab8ClipsGreenLow", _ConvertLAB8toRGB24, false, {50, 200, 100}, {128, 0, 54}},
        PixelCase{
            "Lab8ClipsRedHighGreenLow", _ConvertLAB8toRGB24, false, {128, 255, 128}, {255, 0, 106}},
        PixelCase{
            "Lab16White", _ConvertLAB16toRGB48, true, {32768, 16384, 16384}, {32768, 32768, 32768}},
        PixelCase{"Lab16Black", _ConvertLAB16toRGB48, true, {0, 16384, 16384}, {0, 0, 0}},
        // Samples past 32768 clip to 32768 rather than running on to 65535.
        PixelCase{"Lab16OverRangeClips",
                  _ConvertLAB16toRGB48,
                  true,
                  {65535, 16384, 16384},
                  {32768, 32768, 32768}},
        PixelCase{"Rgb24WhiteToLab", _ConvertRGB24toLAB8, false, {255, 255, 255}, {255, 128, 128}},
        PixelCase{"Rgb24BlackToLab", _ConvertRGB24toLAB8, false, {0, 0, 0}, {1, 128, 128}},
        PixelCase{"Rgb48BlackToLab", _ConvertRGB48toLAB16, true, {0, 0, 0}, {2, 16384, 16384}},
        // Pixels whose result lies next to a rounding boundary: rounding every operation to
        // float, working whole steps in float, or keeping double across steps each moves one
        // of these channels by one. Values checked against a separate model of the arithmetic.
        PixelCase{
            "Cmyk8AtRoundingEdge", _ConvertCMYK8toRGB24, false, {76, 205, 134, 71}, {27, 49, 32}},
        PixelCase{
            "Lab8AtRoundingEdge", _ConvertLAB8toRGB24, false, {255, 133, 18}, {219, 204, 255}},
        PixelCase{"Lab16AtRoundingEdgeA",
                  _ConvertLAB16toRGB48,
                  true,
                  {26693, 8665, 5029},
                  {9083, 32240, 32768}},
        PixelCase{"Lab16AtRoundingEdgeB",
                  _ConvertLAB16toRGB48,
                  true,
                  {15543, 20975, 27897},
                  {24106, 10333, 3403}},
        PixelCase{"Rgb48ToLabAtRoundingEdgeA",
                  _ConvertRGB48toLAB16,
                  true,
                  {16970, 21077, 30713},
                  {24619, 15015, 6642}},
        PixelCase{"Rgb48ToLabAtRoundingEdgeB",
                  _ConvertRGB48toLAB16,
                  true,
                  {9040, 23050, 22978},
                  {20611, 11714, 10606}}),
    [](const ::testing::TestParamInfo<PixelCase>& param) { return std::string(param.param.name); });

TEST(CmykRoundTrip, WhiteComesBackShifted) {
  uint8_t pixel[4] = {255, 255, 255, 255};
  _ConvertCMYK8toRGB24(pixel, 1);
  _ConvertRGB24toCMYK8(pixel, 1);
  EXPECT_EQ(std::vector<int>(pixel, pixel + 4), (std::vector<int>{231, 254, 224, 254}));
}

TEST(LabGreys, NeutralStaysNeutralAndLightnessIsMonotonic) {
  int previous = -1;
  for (int L = 0; L <= 255; ++L) {
    uint8_t pixel[3] = {uint8_t(L), 128, 128};
    _ConvertLAB8toRGB24(pixel, 1);
    ASSERT_EQ(pixel[0], pixel[1]) << "L=" << L;
    ASSERT_EQ(pixel[1], pixel[2]) << "L=" << L;
    ASSERT_GE(int(pixel[0]), previous) << "L=" << L;
    previous = pixel[0];
    _ConvertRGB24toLAB8(pixel, 1);
    ASSERT_EQ(pixel[1], 128) << "L=" << L;
    ASSERT_EQ(pixel[2], 128) << "L=" << L;
  }
}

class RowTest : public ::testing::TestWithParam<Conversion> {
 protected:
  // A buffer of `pixels` distinct input pixels, room for the larger layout, and one guard
  // sample after it; every sample differs from its neighbours.
  std::vector<uint16_t> MakeRow(int pixels) const {
    const Conversion& c = GetParam();
    int maxSample = c.wide ? 32768 : 255;
    std::vector<uint16_t> row(4 * pixels + 1);
    for (size_t i = 0; i < row.size(); ++i) row[i] = uint16_t((i * 37 + 11) % (maxSample + 1));
    return row;
  }

  // The conversion of a row of `pixels`, on 8-bit or 16-bit samples as the conversion takes.
  std::vector<uint16_t> Run(std::vector<uint16_t> row, int32_t pixels) const {
    const Conversion& c = GetParam();
    if (!c.wide) {
      std::vector<uint8_t> narrow(row.begin(), row.end());
      c.convert(narrow.data(), pixels);
      return std::vector<uint16_t>(narrow.begin(), narrow.end());
    }
    c.convert(row.data(), pixels);
    return row;
  }
};

TEST_P(RowTest, RowMatchesPixelsConvertedOneByOne) {
  const Conversion& c = GetParam();
  const int pixels = 7;
  std::vector<uint16_t> input = MakeRow(pixels);
  std::vector<uint16_t> row = Run(input, pixels);
  for (int p = 0; p < pixels; ++p) {
    std::vector<uint16_t> alone(input.begin() + p * c.inSamples,
                                input.begin() + (p + 1) * c.inSamples);
    alone.resize(4);
    alone = Run(alone, 1);
    for (int s = 0; s < c.outSamples; ++s)
      EXPECT_EQ(row[p * c.outSamples + s], alone[s]) << "pixel " << p << " sample " << s;
  }
  // Nothing is written past the converted row.
  EXPECT_EQ(row.back(), input.back());
}

TEST_P(RowTest, CountBelowOneChangesNothing) {
  std::vector<uint16_t> input = MakeRow(3);
  EXPECT_EQ(Run(input, 0), input);
  EXPECT_EQ(Run(input, -1), input);
  EXPECT_EQ(Run(input, INT32_MIN), input);
}

TEST_P(RowTest, CountOfOneConvertsOnlyTheFirstPixel) {
  const Conversion& c = GetParam();
  std::vector<uint16_t> input = MakeRow(3);
  std::vector<uint16_t> row = Run(input, 1);
  int written = std::max(c.inSamples, c.outSamples);
  EXPECT_NE(std::vector<uint16_t>(row.begin(), row.begin() + written),
            std::vector<uint16_t>(input.begin(), input.begin() + written));
  EXPECT_EQ(std::vector<uint16_t>(row.begin() + written, row.end()),
            std::vector<uint16_t>(input.begin() + written, input.end()));
}

INSTANTIATE_TEST_SUITE_P(AllConversions, RowTest, ::testing::ValuesIn(kConversions),
                         [](const ::testing::TestParamInfo<Conversion>& param) {
                           return std::string(param.param.name);
                         });

}  // namespace
