// Whole filter runs through the host kit, for what the run driver adds: the selection from the
// mask or from transparency, CMYK, Lab, 32-bit and multichannel images and extra planes written
// back in the host's mode and order, progress, cancel, and hosts without advance-state.
#include <gtest/gtest.h>

#include <functional>

#include "filter/color/color_convert.h"
#include "filter/fill/process_image.h"
#include "platform/dialog_backend.h"
#include "platform/memory.h"
#include "support/platform_fixture.h"
#include "support/whole_filter_run.h"

namespace {

using hostkit::HostImage;
using whole_run::DiscMask;
using whole_run::PatternImage;
using whole_run::RunOnce;

class RunDriverTest : public PlatformFixture {
 protected:
  void SetUp() override {
    PlatformFixture::SetUp();
    PlatformScriptReset();
    PlatformSetDialogBackend(PlatformScriptedDialogBackend());
  }
  void TearDown() override {
    PlatformScriptReset();
    PlatformSetDialogBackend(nullptr);
    PlatformFixture::TearDown();
  }
};

// Expects every sample of `image` to be want(x, y, plane).
void ExpectSamples(const HostImage& image, const std::function<double(int, int, int)>& want) {
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x)
      for (int p = 0; p < image.planes; ++p)
        EXPECT_EQ(image.Get(x, y, p), want(x, y, p)) << x << "," << y << "," << p;
}

// A mask selecting everything is dropped (the outer ring is the edge then, as without a mask);
// a mask byte of 127 is not selected. Without a mask a transparency plane is the selection:
// transparent pixels become white, the others are selected by the alpha scaled to a mask byte
// (16 bits: × 1/128.5, so 16448 gives 128.0 and 16447 127.99), but only when a pixel is
// transparent; the plane comes back unchanged.
TEST_F(RunDriverTest, SelectionComesFromTheMaskOrTheTransparency) {
  const HostImage original = PatternImage(23, 17, 3, 16, plugInModeRGB48);
  HostImage all = original, none = original, one = original;
  hostkit::RunOptions options;
  options.mask.assign(23 * 17, 128);
  ASSERT_EQ(RunOnce(all, options, kChoiceMembrane), 0);
  ASSERT_EQ(RunOnce(none, {}, kChoiceMembrane), 0);
  EXPECT_EQ(all.pixels, none.pixels);
  options.mask.assign(23 * 17, 255);
  options.mask[23 + 22] = 127;  // pixel (22, 1): the last byte of its row, past whole words
  ASSERT_EQ(RunOnce(one, options, kChoiceBlack), 0);
  ExpectSamples(
      one, [&](int x, int y, int p) { return x == 22 && y == 1 ? original.Get(22, 1, p) : 0; });
  const struct {
    int depth;
    int16_t mode;
    int32_t alpha[4], filled[4];  // per column; filled -1: not selected
  } cases[] = {{8, plugInModeRGBColor, {0, 100, 200, 255}, {255, -1, 0, 0}},
               {8, plugInModeRGBColor, {255, 100, 200, 255}, {0, 0, 0, 0}},  // none transparent
               {16, plugInModeRGB48, {0, 16447, 16448, 32768}, {32768, -1, 0, 0}}};
  for (const auto& c : cases) {
    HostImage image = PatternImage(4, 3, 4, c.depth, c.mode);
    for (int i = 0; i < 12; ++i) image.Set(i % 4, i / 4, 3, c.alpha[i % 4]);
    const HostImage before = image;
    ASSERT_EQ(RunOnce(image, {}, kChoiceBlack), 0);
    ExpectSamples(image, [&](int x, int y, int p) {
      return p == 3 || c.filled[x] < 0 ? before.Get(x, y, p) : c.filled[x];
    });
  }
}

// CMYK and Lab are filled in RGB and written back in their own mode, extra planes in their place
// among the host's samples; 32-bit samples make the trip × 255 in single precision and back
// × (1 ÷ 255) in double; multichannel images come back as they were.
TEST_F(RunDriverTest, EveryModeIsWrittenBackInItsOwnForm) {
  HostImage cmyk = PatternImage(5, 3, 6, 16, plugInModeCMYK64);
  const HostImage before = cmyk;
  hostkit::RunOptions options;
  options.mask.assign(15, 0);
  options.mask[7] = 255;  // pixel (2, 1) is filled white
  ASSERT_EQ(RunOnce(cmyk, options, kChoiceWhite), 0);
  ExpectSamples(cmyk, [&](int x, int y, int p) -> double {
    uint16_t px[4] = {32768, 32768, 32768, 0};
    for (int q = 0; q < 4 && (x != 2 || y != 1); ++q) px[q] = uint16_t(before.Get(x, y, q));
    if (x != 2 || y != 1) _ConvertCMYK16toRGB48(px, 1);  // unselected: the round trip
    _ConvertRGB48toCMYK16(px, 1);
    return p < 4 ? px[p] : before.Get(x, y, p);
  });
  HostImage lab = PatternImage(3, 3, 3, 8, plugInModeLabColor);
  ASSERT_EQ(RunOnce(lab, {}, kChoiceBlack), 0);
  ExpectSamples(lab, [](int, int, int p) { return p == 0 ? 1 : 128; });  // RGB black
  const struct {
    int planes, depth;
    int16_t mode;
    int colour;  // colour planes of a 32-bit image
  } cases[] = {{1, 32, plugInModeGray32, 1},
               {4, 32, plugInModeRGB96, 3},
               {2, 8, plugInModeMultichannel, 0},
               {3, 16, plugInModeDeepMultichannel, 0}};
  for (const auto& c : cases) {
    HostImage image = PatternImage(7, 5, c.planes, c.depth, c.mode);
    const HostImage original = image;
    options.mask = DiscMask(7, 5, 2);
    ASSERT_EQ(RunOnce(image, options, kChoiceBlack), 0);
    ExpectSamples(image, [&](int x, int y, int p) {
      const double v = original.Get(x, y, p);
      return p < c.colour ? float(double(float(float(v) * 255.0f)) * (1.0 / 255.0)) : v;
    });
  }
}

// Reading moves the bar through the first sixth, row by row; the fill reports within the middle
// four sixths; writing moves it through the last sixth. A one-row area ends at 5 of 6.
TEST_F(RunDriverTest, ProgressReportsEveryRowReadAndWrittenInOrder) {
  HostImage image = PatternImage(12, 10, 1, 16, plugInModeGray16);
  hostkit::RunOptions options;
  options.mask = DiscMask(12, 10, 3);
  std::vector<std::pair<int32_t, int32_t>> reports;
  options.progress = [&](int32_t done, int32_t total) { reports.push_back({done, total}); };
  ASSERT_EQ(RunOnce(image, options, kChoiceMembrane), 0);
  ASSERT_GT(reports.size(), 20u);
  for (int r = 0; r < 10; ++r) {
    EXPECT_EQ(reports[size_t(r)], std::pair(r, 60));
    EXPECT_EQ(reports[reports.size() - 10 + size_t(r)], std::pair(50 + r, 60));
  }
  for (size_t i = 10; i < reports.size() - 10; ++i)
    EXPECT_TRUE(reports[i].first * 6 >= reports[i].second &&
                reports[i].first * 6 <= 5 * reports[i].second);
  reports.clear();
  options.mask.clear();
  options.filterRect = Rect{2, 0, 3, 9};
  ASSERT_EQ(RunOnce(image, options, kChoiceVerticalBlend), 0);
  EXPECT_EQ(reports.front(), std::pair(0, 6));
  EXPECT_EQ(reports.back(), std::pair(5, 6));
}

// Cancel in the dialog, in the fill, or advance-state withdrawn: nothing is written and no
// scratch file is left; after the dialog's Cancel the remembered choice is still the default.
TEST_F(RunDriverTest, CancelWritesNothing) {
  const HostImage before = PatternImage(20, 20, 3, 8, plugInModeRGBColor);
  HostImage image = before;
  ASSERT_EQ(RunOnce(image, {}, kChoiceBlack), 0);  // remembers "black"
  image = before;
  PlatformScriptClickItem(kChoiceWhite);
  PlatformScriptClickItem(2);  // Cancel
  EXPECT_EQ(RunOnce(image, {}, 0), userCanceledErr);
  EXPECT_EQ(image.pixels, before.pixels);
  ASSERT_EQ(RunOnce(image, {}, 0), 0);  // the dialog's OK at once fills black
  EXPECT_EQ(image.pixels, std::vector<uint8_t>(image.pixels.size(), 0));
  image = before;
  hostkit::RunOptions options;
  int polls = 0;
  options.abort = [&] { return ++polls > 30; };
  EXPECT_EQ(RunOnce(image, options, kChoiceMembrane), userCanceledErr);
  options = {};
  options.withdrawAdvanceStateAfter = 3;
  EXPECT_EQ(RunOnce(image, options, kChoiceWhite), userCanceledErr);
  EXPECT_EQ(image.pixels, before.pixels);
  EXPECT_EQ(PrefsFiles(), std::vector<std::string>{"ZELKpref"});
}

// The same result from a host without advance-state (which calls continue for each row: read
// rows, the fill step, write rows); modes the filter does not take are turned away at start.
TEST_F(RunDriverTest, HostWithoutAdvanceStateGivesTheSameResult) {
  const HostImage original = PatternImage(15, 12, 4, 16, plugInModeRGB48);
  HostImage a = original, b = original;
  hostkit::RunOptions options;
  options.mask = DiscMask(15, 12, 4);
  ASSERT_EQ(RunOnce(a, options, kChoiceMembrane), 0);
  hostkit::RunReport report;
  options.advanceState = false;
  ASSERT_EQ(RunOnce(b, options, kChoiceMembrane, nullptr, &report), 0);
  EXPECT_EQ(report.continueCalls, 12 + 1 + 12);
  EXPECT_EQ(b.pixels, a.pixels);
  for (int16_t mode : {plugInModeBitmap, plugInModeIndexedColor, plugInModeHSLColor,
                       plugInModeHSBColor, plugInModeDuotone}) {
    HostImage image = PatternImage(4, 4, 1, 8, mode);
    EXPECT_EQ(RunOnce(image, {}, kChoiceBlack, nullptr, &report), filterBadParameters);
    EXPECT_EQ(report.failedSelector, filterSelectorStart);
  }
}

}  // namespace
