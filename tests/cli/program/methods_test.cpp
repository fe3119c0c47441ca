// Runs of the real filter module through the program: each method on a small RGB image, a
// white and a black fill in every image mode and depth, the host's masking of a membrane fill
// with partial mask bytes (against the --raw output), and transparency as the selection.
#include <gtest/gtest.h>

#include <algorithm>

#include "program_runner.h"
#include "sample_images.h"

namespace {

// A 12×9 image of one colour with a selected block, rows 2..6 and columns 3..9. The block's
// inside is patterned; its rim, where the membrane takes its edge samples (each from the pixel
// right of an edge point), keeps the surrounding colour.
constexpr int kW = 12, kH = 9;
constexpr int kTop = 2, kLeft = 3, kBottom = 7, kRight = 10;
const uint8_t kAround[3] = {40, 120, 200};

bool Selected(int x, int y) { return y >= kTop && y < kBottom && x >= kLeft && x < kRight; }
bool Patterned(int x, int y) {
  return y > kTop && y < kBottom - 1 && x > kLeft + 1 && x < kRight - 1;
}

std::vector<uint8_t> BlockMask() {
  std::vector<uint8_t> mask(kW * kH, 0);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) mask[size_t(y * kW + x)] = Selected(x, y) ? 255 : 0;
  return mask;
}

std::vector<uint8_t> BlockImage() {
  std::vector<uint8_t> rgb(kW * kH * 3);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      for (int c = 0; c < 3; ++c)
        rgb[size_t((y * kW + x) * 3 + c)] =
            Patterned(x, y) ? uint8_t((x * 37 + y * 91 + c * 53) % 256) : kAround[c];
  return rgb;
}

struct MethodCase {
  const char* method;
  std::vector<std::string> args;
  // Checks the filled block (x, y within the image) of `out`; `in` is the input.
  void (*check)(const std::vector<uint8_t>& out, const std::vector<uint8_t>& in);
};

void PrintTo(const MethodCase& c, std::ostream* os) { *os << c.method; }

uint8_t At(const std::vector<uint8_t>& rgb, int x, int y, int c) {
  return rgb[size_t((y * kW + x) * 3 + c)];
}

void ExpectBlockIs(const std::vector<uint8_t>& out, const uint8_t colour[3], int tolerance) {
  for (int y = kTop; y < kBottom; ++y)
    for (int x = kLeft; x < kRight; ++x)
      for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(At(out, x, y, c), colour[c], tolerance) << x << "," << y;
}

// Along `step` (1, 0) or (0, 1) the block runs from the foreground colour, exactly, towards the
// background without reaching it, never going back; across it, it does not change.
void ExpectBlend(const std::vector<uint8_t>& out, int dx, int dy) {
  for (int y = kTop; y < kBottom; ++y)
    for (int x = kLeft; x < kRight; ++x)
      for (int c = 0; c < 3; ++c) {
        const int along = dx ? x - kLeft : y - kTop;
        if (along == 0) {
          EXPECT_EQ(At(out, x, y, c), 0) << x << "," << y;
        } else {
          EXPECT_GE(At(out, x, y, c), At(out, x - dx, y - dy, c)) << x << "," << y;
        }
        EXPECT_LT(At(out, x, y, c), 255);
        EXPECT_EQ(At(out, x, y, c), dx ? At(out, x, kTop, c) : At(out, kLeft, y, c));
      }
  EXPECT_GT(At(out, kRight - 1, kBottom - 1, 0), 100);
}

const MethodCase kMethods[] = {
    {"membrane", {}, [](const auto& out, const auto&) { ExpectBlockIs(out, kAround, 1); }},
    {"mean",
     {},
     [](const auto& out, const auto& in) {
       double sums[3] = {0, 0, 0};
       for (int y = kTop; y < kBottom; ++y)
         for (int x = kLeft; x < kRight; ++x)
           for (int c = 0; c < 3; ++c) sums[c] += At(in, x, y, c);
       const int n = (kBottom - kTop) * (kRight - kLeft);
       const uint8_t mean[3] = {uint8_t(sums[0] / n), uint8_t(sums[1] / n), uint8_t(sums[2] / n)};
       ExpectBlockIs(out, mean, 1);
     }},
    {"foreground",
     {"--fg", "#123456"},
     [](const auto& out, const auto&) {
       const uint8_t fg[3] = {0x12, 0x34, 0x56};
       ExpectBlockIs(out, fg, 0);
     }},
    {"black",
     {},
     [](const auto& out, const auto&) {
       const uint8_t black[3] = {0, 0, 0};
       ExpectBlockIs(out, black, 0);
     }},
    {"white",
     {},
     [](const auto& out, const auto&) {
       const uint8_t white[3] = {255, 255, 255};
       ExpectBlockIs(out, white, 0);
     }},
    {"hblend", {}, [](const auto& out, const auto&) { ExpectBlend(out, 1, 0); }},
    {"vblend", {}, [](const auto& out, const auto&) { ExpectBlend(out, 0, 1); }},
};

class Method : public ProgramTest, public ::testing::WithParamInterface<MethodCase> {};

TEST_P(Method, FillsTheSelectionAndNothingElse) {
  const FileLayout rgb = {"rgb", Kind::RGB, 0, 8, true};
  const std::vector<uint8_t> in = BlockImage();
  WriteImageFile(PathOf("in.png"), rgb, kW, kH, in);
  WriteMask(PathOf("mask.png"), kW, kH, BlockMask());
  std::vector<std::string> args = {PathOf("in.png"),   "-o",       PathOf("out.png"), "--mask",
                                   PathOf("mask.png"), "--method", GetParam().method};
  args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
  ProgramResult r = Run(args);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find(std::string("filled with ") + GetParam().method + " ("), std::string::npos)
      << r.err;
  const std::vector<uint8_t> out = ReadImageFile(PathOf("out.png")).data;
  ASSERT_EQ(out.size(), in.size());
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      for (int c = 0; c < 3; ++c)
        if (!Selected(x, y)) {
          EXPECT_EQ(At(out, x, y, c), At(in, x, y, c)) << x << "," << y;
        }
  GetParam().check(out, in);
}

INSTANTIATE_TEST_SUITE_P(Methods, Method, ::testing::ValuesIn(kMethods),
                         [](const auto& p) { return std::string(p.param.method); });

// ---- Every mode and depth ----

class Mode : public ProgramTest, public ::testing::WithParamInterface<FileLayout> {
 protected:
  // Fills the block of a patterned image of this layout with `method`; returns input and output.
  std::pair<std::vector<uint8_t>, std::vector<uint8_t>> Fill(const std::string& method) {
    const FileLayout& l = GetParam();
    std::vector<uint8_t> in = PatternSamples(kW, kH, l.Samples(), l.bits);
    WriteImageFile(PathOf("in" + l.Extension()), l, kW, kH, in);
    WriteMask(PathOf("mask.png"), kW, kH, BlockMask());
    ProgramResult r = Run({PathOf("in" + l.Extension()), "-o", PathOf("out" + l.Extension()),
                           "--mask", PathOf("mask.png"), "--method", method});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::string said = l.bits == 32 ? "no fill (32-bit images are written back as they are)"
                                          : "filled with " + method;
    EXPECT_NE(r.err.find(said), std::string::npos) << r.err;
    imagefile::FileImage out = ReadImageFile(PathOf("out" + l.Extension()));
    EXPECT_EQ(out.bitsPerSample, l.bits);
    EXPECT_EQ(out.colorChannels, l.Colour());
    EXPECT_EQ(out.extraChannels, l.extra);
    return {in, out.data};
  }

  // White (or black) in channel `c` on the host's scale, as the filter makes it: CMYK and Lab
  // come back from its RGB working image through its own conversions, so white is not quite
  // without ink, and black in Lab has a lightness of 1 (8-bit) or 2 (16-bit).
  uint32_t HostExtreme(int c, bool white) const {
    const FileLayout& l = GetParam();
    const bool eight = l.bits == 8;
    const uint32_t full = eight ? 255 : 32768;
    if (l.kind == Kind::CMYK) {
      const uint32_t white8[4] = {231, 255, 255, 254}, black8[4] = {0, 0, 0, 17};
      const uint32_t white16[4] = {0, 0, 0, 32}, black16[4] = {full, full, full, full};
      return (eight ? (white ? white8 : black8) : (white ? white16 : black16))[c];
    }
    if (l.kind == Kind::Lab) return c > 0 ? (eight ? 128u : 16384u) : white ? full : eight ? 1 : 2;
    return white ? full : 0;
  }

  void CheckFill(bool white) {
    const FileLayout& l = GetParam();
    auto [in, out] = Fill(white ? "white" : "black");
    ASSERT_EQ(out.size(), in.size());
    const int spp = l.Samples();
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x)
        for (int c = 0; c < spp; ++c) {
          const size_t i = size_t((y * kW + x) * spp + c);
          if (l.bits == 32) {
            EXPECT_NEAR(FloatAt(out, i), FloatAt(in, i), 1e-6);
          } else if (!Selected(x, y) || c >= l.Colour()) {
            EXPECT_EQ(SampleAt(out, l.bits, i), SampleAt(in, l.bits, i)) << x << "," << y;
          } else {
            const uint32_t was = SampleAt(in, l.bits, i);
            EXPECT_EQ(SampleAt(out, l.bits, i), ExpectedFileValue(l, c, HostExtreme(c, white), was))
                << x << "," << y << " channel " << c;
          }
        }
  }
};

TEST_P(Mode, WhiteFillIsWhiteInTheImagesOwnMode) { CheckFill(true); }
TEST_P(Mode, BlackFillIsBlackInTheImagesOwnMode) { CheckFill(false); }

INSTANTIATE_TEST_SUITE_P(Layouts, Mode, ::testing::ValuesIn(AllLayouts()),
                         [](const auto& p) { return std::string(p.param.name); });

// ---- The host's masking of a real fill ----

class PartialMask : public ProgramTest, public ::testing::WithParamInterface<FileLayout> {};

// A soft-edged selection: the masked output is the --raw output blended into the input by the
// mask bytes on the host's scale, outside the bounding box nothing changes.
TEST_P(PartialMask, MaskedOutputIsTheRawFillBlendedByTheMaskBytes) {
  const FileLayout& l = GetParam();
  const int spp = l.Samples();
  const std::vector<uint8_t> in = PatternSamples(kW, kH, spp, l.bits);
  WriteImageFile(PathOf("in" + l.Extension()), l, kW, kH, in);
  std::vector<uint8_t> mask(kW * kH, 0);
  for (int y = 2; y < 7; ++y)
    for (int x = 3; x < 10; ++x) mask[size_t(y * kW + x)] = uint8_t((x * 61 + y * 29) % 256);
  mask[size_t(4 * kW + 6)] = 255;
  WriteMask(PathOf("mask.png"), kW, kH, mask);

  std::vector<std::vector<uint8_t>> outputs;
  for (bool raw : {true, false}) {
    std::vector<std::string> args = {PathOf("in" + l.Extension()),
                                     "-o",
                                     PathOf("out" + l.Extension()),
                                     "--mask",
                                     PathOf("mask.png"),
                                     "--method",
                                     "membrane",
                                     "--quiet"};
    if (raw) args.push_back("--raw");
    ProgramResult r = Run(args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    outputs.push_back(ReadImageFile(PathOf("out" + l.Extension())).data);
  }
  const std::vector<uint8_t>& raw = outputs[0];
  const std::vector<uint8_t>& masked = outputs[1];
  ASSERT_EQ(raw.size(), in.size());
  ASSERT_EQ(masked.size(), in.size());
  EXPECT_NE(raw, in);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      for (int c = 0; c < spp; ++c) {
        const size_t i = size_t((y * kW + x) * spp + c);
        const bool inBox = y >= 2 && y < 7 && x >= 3 && x < 10;
        const uint32_t was = SampleAt(in, l.bits, i), got = SampleAt(raw, l.bits, i);
        if (!inBox) {
          EXPECT_EQ(got, was);
          EXPECT_EQ(SampleAt(masked, l.bits, i), was);
          continue;
        }
        uint32_t want = got;  // extra planes: as the filter returned them
        if (c < l.Colour()) {
          const uint32_t h = Masked(ExpectedHostValue(l, c, got), ExpectedHostValue(l, c, was),
                                    mask[size_t(y * kW + x)]);
          want = ExpectedFileValue(l, c, h, was);
        }
        EXPECT_EQ(SampleAt(masked, l.bits, i), want) << x << "," << y << " channel " << c;
      }
}

INSTANTIATE_TEST_SUITE_P(Layouts, PartialMask,
                         ::testing::Values(FileLayout{"RGB8", Kind::RGB, 0, 8, true},
                                           FileLayout{"GreyAlpha16", Kind::Grey, 1, 16, true},
                                           FileLayout{"CMYK8", Kind::CMYK, 0, 8, false},
                                           FileLayout{"Lab16", Kind::Lab, 0, 16, false}),
                         [](const auto& p) { return std::string(p.param.name); });

// ---- Transparency as the selection ----

// Without a mask, the opaque pixels of an image with transparent ones are the selection: they
// are filled, the transparent ones read as white, and transparency comes back as it was.
TEST_F(ProgramTest, OpaquePixelsAreTheSelectionWhenSomeAreTransparent) {
  const FileLayout rgba = {"rgba", Kind::RGB, 1, 8, true};
  std::vector<uint8_t> in(kW * kH * 4);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      uint8_t* p = &in[size_t((y * kW + x) * 4)];
      p[0] = uint8_t(x * 20);
      p[1] = uint8_t(y * 25);
      p[2] = 99;
      p[3] = Selected(x, y) ? 255 : 0;
    }
  WriteImageFile(PathOf("in.png"), rgba, kW, kH, in);
  ProgramResult r = Run({PathOf("in.png"), "-o", PathOf("out.png"), "--method", "black"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::vector<uint8_t> out = ReadImageFile(PathOf("out.png")).data;
  ASSERT_EQ(out.size(), in.size());
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const uint8_t* p = &out[size_t((y * kW + x) * 4)];
      const uint8_t colour = Selected(x, y) ? 0 : 255;
      EXPECT_EQ(p[0], colour) << x << "," << y;
      EXPECT_EQ(p[1], colour) << x << "," << y;
      EXPECT_EQ(p[2], colour) << x << "," << y;
      EXPECT_EQ(p[3], in[size_t((y * kW + x) * 4 + 3)]) << x << "," << y;
    }
}

}  // namespace
