// What the program hands the filter and takes back, seen through the stand-in module: the image
// mode, planes and depth of every file layout, the samples on the host's scale, the selection
// and its filter area, the colours, and the host's masking of the filter's output.
#include <gtest/gtest.h>
#include <png.h>

#include <cstring>
#include <functional>

#include "program_runner.h"
#include "sample_images.h"

namespace {

constexpr int kWidth = 5, kHeight = 4;
// The selection: bytes above 0 in rows 1..2, columns 1..3, partial ones among them.
const std::vector<uint8_t> kMask = {
    0, 0,   0,   0,   0,  //
    0, 255, 1,   127, 0,  //
    0, 128, 254, 64,  0,  //
    0, 0,   0,   0,   0,  //
};
constexpr int kTop = 1, kLeft = 1, kBottom = 3, kRight = 4;

bool InArea(int x, int y) { return y >= kTop && y < kBottom && x >= kLeft && x < kRight; }

class HandOver : public ProgramTest, public ::testing::WithParamInterface<FileLayout> {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    const FileLayout& l = GetParam();
    input = PatternSamples(kWidth, kHeight, l.Samples(), l.bits);
    WriteImageFile(PathOf("in" + l.Extension()), l, kWidth, kHeight, input);
    WriteMask(PathOf("mask.png"), kWidth, kHeight, kMask);
  }
  // Runs the stand-in module on the input with the mask; returns the output file's samples.
  std::vector<uint8_t> RunWithMask(const std::string& answer, bool raw) {
    const std::string out = PathOf("out" + GetParam().Extension());
    std::vector<std::string> args = {
        PathOf("in" + GetParam().Extension()), "-o", out, "--mask", PathOf("mask.png"), "--quiet"};
    if (raw) args.push_back("--raw");
    ProgramResult r = RunProbe(args, answer);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    imagefile::FileImage image = ReadImageFile(out);
    EXPECT_EQ(image.bitsPerSample, GetParam().bits);
    EXPECT_EQ(image.SamplesPerPixel(), GetParam().Samples());
    return image.data;
  }
  // Checks every sample of the output: outside the area as it was, inside as `expect` says.
  void CheckSamples(const std::vector<uint8_t>& output,
                    const std::function<double(int c, double original, int m)>& expect) {
    const FileLayout& l = GetParam();
    ASSERT_EQ(output.size(), input.size());
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x)
        for (int c = 0; c < l.Samples(); ++c) {
          const size_t i = (size_t(y) * kWidth + size_t(x)) * size_t(l.Samples()) + size_t(c);
          const int m = kMask[size_t(y) * kWidth + size_t(x)];
          if (l.bits == 32) {
            const double want = InArea(x, y) ? expect(c, FloatAt(input, i), m) : FloatAt(input, i);
            EXPECT_NEAR(FloatAt(output, i), want, 1e-6) << x << "," << y << " channel " << c;
          } else {
            const uint32_t was = SampleAt(input, l.bits, i);
            const uint32_t want = InArea(x, y) ? uint32_t(expect(c, was, m)) : was;
            EXPECT_EQ(SampleAt(output, l.bits, i), want) << x << "," << y << " channel " << c;
          }
        }
  }

  std::vector<uint8_t> input;
};

TEST_P(HandOver, GivesTheModeAndHostScaleSamplesAndTakesThemBackExactly) {
  const FileLayout& l = GetParam();
  const std::vector<uint8_t> output = RunWithMask("", false);
  // Unchanged integer samples come back bit for bit; floats through the masking's weights.
  if (l.bits == 32)
    CheckSamples(output, [](int, double original, int) { return original; });
  else
    EXPECT_EQ(output, input);

  ProbeLog log = ReadProbeLog(PathOf("probe.log"));
  EXPECT_EQ(log.Get("mode"), std::to_string(l.HostMode()));
  EXPECT_EQ(log.Get("planes"), std::to_string(l.Samples()));
  EXPECT_EQ(log.Get("depth"), std::to_string(l.bits));
  EXPECT_EQ(log.Get("imageSize"), "4 5");
  EXPECT_EQ(log.Get("filterRect"), "1 1 3 4");
  EXPECT_EQ(log.Get("haveMask"), "1");
  EXPECT_EQ(log.Bytes("mask"), std::vector<uint8_t>({255, 1, 127, 128, 254, 64}));

  std::vector<uint8_t> expected;
  const size_t bytes = size_t(l.bits / 8);
  for (int y = kTop; y < kBottom; ++y)
    for (int x = kLeft; x < kRight; ++x)
      for (int c = 0; c < l.Samples(); ++c) {
        const size_t i = (size_t(y) * kWidth + size_t(x)) * size_t(l.Samples()) + size_t(c);
        const size_t at = expected.size();
        expected.resize(at + bytes);
        if (l.bits == 32)
          std::memcpy(&expected[at], &input[4 * i], 4);
        else
          PutSample(&expected, l.bits, at / bytes,
                    ExpectedHostValue(l, c, SampleAt(input, l.bits, i)));
      }
  EXPECT_EQ(log.Bytes("in"), expected);
}

// The filter's answer goes back through the inverse rules, extra planes included; host values
// past 32768 become the largest file value.
TEST_P(HandOver, RawOutputGoesBackThroughTheInverseRules) {
  const FileLayout& l = GetParam();
  CheckSamples(RunWithMask("add 1", true), [&](int c, double original, int) {
    if (l.bits == 32) return original + 1;
    const uint32_t h = ExpectedHostValue(l, c, uint32_t(original));
    return double(ExpectedFileValue(l, c, h + 1, uint32_t(original)));
  });
}

// The host confines the answer to the mask, colour planes only, by the integer rule (float:
// by weights); extra planes are written as the filter returned them.
TEST_P(HandOver, MaskBlendsTheAnswerIntoTheColourPlanes) {
  const FileLayout& l = GetParam();
  const double value = l.bits == 8 ? 200 : l.bits == 16 ? 20000 : 0.75;
  CheckSamples(RunWithMask("set " + std::to_string(value), false),
               [&](int c, double original, int m) {
                 if (l.bits == 32) {
                   if (c >= l.Colour()) return value;
                   return value * (m / 255.0) + original * (1 - m / 255.0);
                 }
                 const uint32_t h = ExpectedHostValue(l, c, uint32_t(original));
                 const uint32_t back =
                     c >= l.Colour() ? uint32_t(value) : Masked(uint32_t(value), h, uint32_t(m));
                 return double(ExpectedFileValue(l, c, back, uint32_t(original)));
               });
  // --raw writes the answer everywhere in the area.
  CheckSamples(RunWithMask("set " + std::to_string(value), true), [&](int c, double original, int) {
    if (l.bits == 32) return value;
    return double(ExpectedFileValue(l, c, uint32_t(value), uint32_t(original)));
  });
}

INSTANTIATE_TEST_SUITE_P(Layouts, HandOver, ::testing::ValuesIn(AllLayouts()),
                         [](const auto& p) { return std::string(p.param.name); });

class Selection : public ProgramTest {};

TEST_F(Selection, WithoutAMaskTheWholeImageIsTheAreaAndTheColoursAreTheDefaults) {
  const FileLayout rgb = {"rgb", Kind::RGB, 0, 8, true};
  WriteImageFile(PathOf("in.png"), rgb, 7, 3, PatternSamples(7, 3, 3, 8));
  ProgramResult r = RunProbe({PathOf("in.png"), "-o", PathOf("out.png")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  ProbeLog log = ReadProbeLog(PathOf("probe.log"));
  EXPECT_EQ(log.Get("filterRect"), "0 0 3 7");
  EXPECT_EQ(log.Get("haveMask"), "0");
  EXPECT_EQ(log.Get("mask"), "");
  EXPECT_EQ(log.Get("foreColor"), "0 0 0");
  EXPECT_EQ(log.Get("backColor"), "255 255 255");
}

TEST_F(Selection, ColoursComeFromFgAndBg) {
  const FileLayout grey = {"grey", Kind::Grey, 0, 16, true};
  WriteImageFile(PathOf("in.png"), grey, 3, 3, PatternSamples(3, 3, 1, 16));
  ProgramResult r =
      RunProbe({PathOf("in.png"), "-o", PathOf("out.png"), "--fg", "#1a2B3c", "--bg", "#FF0080"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  ProbeLog log = ReadProbeLog(PathOf("probe.log"));
  EXPECT_EQ(log.Get("foreColor"), "26 43 60");
  EXPECT_EQ(log.Get("backColor"), "255 0 128");
}

// The area is the bounding box of every byte above 0, however faint; a 16-bit mask gives its
// high bytes.
TEST_F(Selection, AreaIsTheBoundingBoxOfBytesAboveZero) {
  const FileLayout grey = {"grey", Kind::Grey, 0, 8, true};
  WriteImageFile(PathOf("in.png"), grey, 6, 5, PatternSamples(6, 5, 1, 8));
  std::vector<uint8_t> mask(2 * 30, 0);
  auto put = [&](int x, int y, uint16_t v) {
    std::memcpy(&mask[2 * (size_t(y) * 6 + size_t(x))], &v, 2);
  };
  put(4, 1, 0x0100);  // high byte 1
  put(1, 3, 0xFFFF);
  put(2, 2, 0x00FF);  // high byte 0: not selected
  put(5, 4, 0x00FF);
  WriteTestPng(PathOf("mask.png"), 6, 5, PNG_COLOR_TYPE_GRAY, 16, mask);
  ProgramResult r =
      RunProbe({PathOf("in.png"), "-o", PathOf("out.png"), "--mask", PathOf("mask.png")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  ProbeLog log = ReadProbeLog(PathOf("probe.log"));
  EXPECT_EQ(log.Get("filterRect"), "1 1 4 5");
  EXPECT_EQ(log.Bytes("mask"), std::vector<uint8_t>({0, 0, 0, 1,  //
                                                     0, 0, 0, 0,  //
                                                     255, 0, 0, 0}));
}

}  // namespace
