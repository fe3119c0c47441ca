// Whole filter runs through the host kit, in every image mode the driver handles: rows read into
// scratch images, the fill step with scripting and preferences, rows written back.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "filter/color/color_convert.h"
#include "filter/entry/entry.h"
#include "filter/fill/membrane_fill.h"
#include "filter/fill/process_image.h"
#include "hostkit/descriptor.h"
#include "hostkit/filter_host.h"
#include "hostkit/scripting_host.h"
#include "platform/dialog_backend.h"
#include "platform/memory.h"
#include "support/platform_fixture.h"

namespace {

using hostkit::HostImage;

class RunDriverTest : public PlatformFixture {
 protected:
  void SetUp() override {
    PlatformFixture::SetUp();
    PlatformScriptReset();
    PlatformSetDialogBackend(PlatformScriptedDialogBackend());
  }
  void TearDown() override {
    hostkit::ReleasePluginData(&data_);
    PlatformScriptReset();
    PlatformSetDialogBackend(nullptr);
    PlatformFixture::TearDown();
  }

  // Runs the filter on `image` with fill choice `method` replayed without the dialog
  // (method 0: no scripting at all, so the dialog shows with the remembered choice).
  int16_t Run(HostImage& image, hostkit::RunOptions options, int method,
              hostkit::RunReport* report = nullptr) {
    hostkit::ScriptingHost scripting;
    if (method != 0) {
      hostkit::Descriptor play;
      play.Put(hostkit::DescriptorItem::Enumerated(FourCC("FilM"), FourCC("rB22"),
                                                   DescriptorEnumID(method)));
      scripting.SetPlay(play, plugInDialogDontDisplay);
      options.descriptorParameters = scripting.descriptorParameters();
      options.handleProcs = scripting.handleProcs();
    }
    hostkit::ScriptingHost::Activation active(scripting);
    return hostkit::RunFilter(AreaFillMain, image, options, &data_, report);
  }

  intptr_t data_ = 0;
};

HostImage MakeImage(int w, int h, int planes, int depth, int16_t mode) {
  HostImage image = HostImage::Make(w, h, int16_t(planes), int16_t(depth), mode);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int p = 0; p < planes; ++p) {
        int v = (x * 37 + y * 53 + p * 71) % 200 + 20;
        image.Set(x, y, p, depth == 8 ? v : depth == 16 ? v * 128 : v / 255.0);
      }
  return image;
}

// A disc-shaped mask centred in a w × h image.
std::vector<uint8_t> DiscMask(int w, int h, double radius, uint8_t inside = 255) {
  std::vector<uint8_t> mask(size_t(w * h), 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (std::hypot(x - w / 2.0, y - h / 2.0) <= radius) mask[size_t(y * w + x)] = inside;
  return mask;
}

// The membrane fill run directly on scratch images: the oracle for a run's plumbing.
HostImage DirectMembrane(const HostImage& in, const std::vector<uint8_t>* mask) {
  const int b = in.depth / 8;
  NamedImage* image = nullptr;
  NamedImage* selection = nullptr;
  EXPECT_EQ(MakeImage(int16_t(in.width), int16_t(in.height), int16_t(in.planes * b), &image), 0);
  for (int y = 0; y < in.height; ++y) PutLine(image, 0, y, int32_t(in.RowBytes()), in.Row(y));
  if (mask) {
    EXPECT_EQ(MakeSelectionImage(int16_t(in.width), int16_t(in.height), 1, &selection), 0);
    for (int y = 0; y < in.height; ++y)
      PutLine(selection, 0, y, in.width, mask->data() + y * in.width);
  }
  FilterRecord host{};
  RunRecord record{};
  record.width = int16_t(in.width);
  record.height = int16_t(in.height);
  record.planes = in.planes;
  record.host = &host;
  record.selection = selection;
  EXPECT_EQ(b == 1 ? MembraneFill(image, &record) : MembraneFill16(image, &record), 0);
  HostImage out = in;
  for (int y = 0; y < in.height; ++y) GetLine(image, 0, y, int32_t(in.RowBytes()), out.Row(y));
  TossImage(image);
  if (selection) TossSelectionImage(selection);
  return out;
}

struct ModeCase {
  const char* name;
  int planes;
  int depth;
  int16_t mode;
};

class GreyAndRgbRuns : public RunDriverTest, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(GreyAndRgbRuns, MembraneThroughTheDriverMatchesTheFillEngine) {
  const ModeCase& c = GetParam();
  HostImage image = MakeImage(23, 17, c.planes, c.depth, c.mode);
  std::vector<uint8_t> mask = DiscMask(23, 17, 5);
  HostImage expected = DirectMembrane(image, &mask);
  hostkit::RunOptions options;
  options.mask = mask;
  ASSERT_EQ(Run(image, options, kChoiceMembrane), 0);
  EXPECT_EQ(image.pixels, expected.pixels);
}

TEST_P(GreyAndRgbRuns, WithoutAMaskTheWholeAreaIsFilledFromItsRing) {
  const ModeCase& c = GetParam();
  HostImage image = MakeImage(19, 11, c.planes, c.depth, c.mode);
  HostImage expected = DirectMembrane(image, nullptr);
  ASSERT_EQ(Run(image, {}, kChoiceMembrane), 0);
  EXPECT_EQ(image.pixels, expected.pixels);
}

TEST_P(GreyAndRgbRuns, AMaskSelectingEverythingIsDropped) {
  const ModeCase& c = GetParam();
  HostImage withMask = MakeImage(19, 11, c.planes, c.depth, c.mode), without = withMask;
  hostkit::RunOptions options;
  options.mask.assign(19 * 11, 128);
  ASSERT_EQ(Run(withMask, options, kChoiceMembrane), 0);
  ASSERT_EQ(Run(without, {}, kChoiceMembrane), 0);
  EXPECT_EQ(withMask.pixels, without.pixels);
}

TEST_P(GreyAndRgbRuns, MaskByteOf127IsNotSelected) {
  const ModeCase& c = GetParam();
  HostImage image = MakeImage(6, 4, c.planes, c.depth, c.mode), before = image;
  hostkit::RunOptions options;
  options.mask.assign(6 * 4, 255);
  options.mask[7] = 127;  // pixel (1, 1)
  ASSERT_EQ(Run(image, options, kChoiceBlack), 0);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x)
      for (int p = 0; p < c.planes; ++p)
        EXPECT_EQ(image.Get(x, y, p), (x == 1 && y == 1) ? before.Get(x, y, p) : 0.0)
            << x << "," << y;
}

INSTANTIATE_TEST_SUITE_P(Modes, GreyAndRgbRuns,
                         ::testing::Values(ModeCase{"Grey8", 1, 8, plugInModeGrayScale},
                                           ModeCase{"Rgb8", 3, 8, plugInModeRGBColor},
                                           ModeCase{"Grey16", 1, 16, plugInModeGray16},
                                           ModeCase{"Rgb16", 3, 16, plugInModeRGB48}),
                         [](const ::testing::TestParamInfo<ModeCase>& param) {
                           return std::string(param.param.name);
                         });

TEST_F(RunDriverTest, TransparencyBecomesTheSelectionAndComesBackUnchanged) {
  HostImage image = MakeImage(4, 3, 4, 8, plugInModeRGBColor);
  const uint8_t alpha[4] = {0, 100, 200, 255};  // per column
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) image.Set(x, y, 3, alpha[x]);
  HostImage before = image;
  ASSERT_EQ(Run(image, {}, kChoiceBlack), 0);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) {
      EXPECT_EQ(image.Get(x, y, 3), alpha[x]);
      for (int p = 0; p < 3; ++p) {
        double want = x == 0 ? 255 : x == 1 ? before.Get(x, y, p) : 0;  // transparent: white
        EXPECT_EQ(image.Get(x, y, p), want) << x << "," << y << "," << p;
      }
    }
}

TEST_F(RunDriverTest, SixteenBitTransparencyIsScaledToMaskBytes) {
  HostImage image = MakeImage(4, 1, 2, 16, plugInModeGray16);
  // 16448 × (1 ÷ 128.5) = 128.0 is selected; 16447 gives 127.99 and is not; 0 is transparent.
  const uint16_t alpha[4] = {0, 16447, 16448, 32768};
  for (int x = 0; x < 4; ++x) image.Set(x, 0, 1, alpha[x]);
  HostImage before = image;
  ASSERT_EQ(Run(image, {}, kChoiceWhite), 0);
  EXPECT_EQ(image.Get(0, 0, 0), 32768);
  EXPECT_EQ(image.Get(1, 0, 0), before.Get(1, 0, 0));
  EXPECT_EQ(image.Get(2, 0, 0), 32768);
  EXPECT_EQ(image.Get(3, 0, 0), 32768);
  for (int x = 0; x < 4; ++x) EXPECT_EQ(image.Get(x, 0, 1), alpha[x]);
}

TEST_F(RunDriverTest, Cmyk16WithTwoExtraPlanesKeepsTheHostsSampleOrder) {
  HostImage image = MakeImage(5, 3, 6, 16, plugInModeCMYK64), before = image;
  hostkit::RunOptions options;
  options.mask.assign(15, 0);
  options.mask[7] = 255;  // pixel (2, 1) is filled white
  ASSERT_EQ(Run(image, options, kChoiceWhite), 0);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) {
      uint16_t px[4];
      if (x == 2 && y == 1) {
        uint16_t white[4] = {32768, 32768, 32768, 0};
        _ConvertRGB48toCMYK16(white, 1);
        std::memcpy(px, white, sizeof px);
      } else {
        // Unselected pixels make the round trip through RGB.
        for (int p = 0; p < 4; ++p) px[p] = uint16_t(before.Get(x, y, p));
        _ConvertCMYK16toRGB48(px, 1);
        _ConvertRGB48toCMYK16(px, 1);
      }
      for (int p = 0; p < 4; ++p) EXPECT_EQ(image.Get(x, y, p), px[p]) << x << "," << y << "," << p;
      EXPECT_EQ(image.Get(x, y, 4), before.Get(x, y, 4));
      EXPECT_EQ(image.Get(x, y, 5), before.Get(x, y, 5));
    }
}

TEST_F(RunDriverTest, Lab8IsFilledInRgbAndWrittenBackAsLab) {
  HostImage image = MakeImage(3, 3, 3, 8, plugInModeLabColor);
  hostkit::RunOptions options;
  options.mask.assign(9, 255);
  options.mask[0] = 0;
  ASSERT_EQ(Run(image, options, kChoiceBlack), 0);
  EXPECT_EQ(image.Get(1, 1, 0), 1);  // RGB black is Lab (1, 128, 128)
  EXPECT_EQ(image.Get(1, 1, 1), 128);
  EXPECT_EQ(image.Get(1, 1, 2), 128);
}

class DeepRuns : public RunDriverTest, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(DeepRuns, ThirtyTwoBitAndMultichannelImagesComeBackWithoutAFill) {
  const ModeCase& c = GetParam();
  HostImage image = MakeImage(7, 5, c.planes, c.depth, c.mode), before = image;
  hostkit::RunOptions options;
  options.mask = DiscMask(7, 5, 2);
  ASSERT_EQ(Run(image, options, kChoiceBlack), 0);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x)
      for (int p = 0; p < c.planes; ++p) {
        double v = before.Get(x, y, p);
        if (c.depth == 32 && p < (c.mode == plugInModeGray32 ? 1 : 3))
          v = float(double(float(float(v) * 255.0f)) * (1.0 / 255.0));
        EXPECT_EQ(image.Get(x, y, p), v) << x << "," << y << "," << p;
      }
}

INSTANTIATE_TEST_SUITE_P(
    Modes, DeepRuns,
    ::testing::Values(ModeCase{"Grey32", 1, 32, plugInModeGray32},
                      ModeCase{"Rgb32Alpha", 4, 32, plugInModeRGB96},
                      ModeCase{"Multichannel8", 2, 8, plugInModeMultichannel},
                      ModeCase{"Multichannel16", 3, 16, plugInModeDeepMultichannel}),
    [](const ::testing::TestParamInfo<ModeCase>& param) { return std::string(param.param.name); });

TEST_F(RunDriverTest, OneRowAreaReportsProgressOncePerRowEndingAtSixSixths) {
  HostImage image = MakeImage(9, 6, 3, 8, plugInModeRGBColor);
  hostkit::RunOptions options;
  options.filterRect = Rect{2, 0, 3, 9};
  std::vector<std::pair<int32_t, int32_t>> progress;
  options.progress = [&](int32_t done, int32_t total) { progress.push_back({done, total}); };
  ASSERT_EQ(Run(image, options, kChoiceVerticalBlend), 0);
  ASSERT_GE(progress.size(), 3u);
  EXPECT_EQ(progress.front(), (std::pair<int32_t, int32_t>{0, 6}));
  EXPECT_EQ(progress.back(), (std::pair<int32_t, int32_t>{5, 6}));
  for (size_t i = 1; i < progress.size(); ++i)
    EXPECT_LE(double(progress[i - 1].first) / progress[i - 1].second,
              double(progress[i].first) / progress[i].second);
}

TEST_F(RunDriverTest, ProgressReportsEveryRowReadAndWrittenInOrder) {
  HostImage image = MakeImage(12, 10, 1, 16, plugInModeGray16);
  hostkit::RunOptions options;
  options.mask = DiscMask(12, 10, 3);
  std::vector<std::pair<int32_t, int32_t>> reports;
  options.progress = [&](int32_t done, int32_t total) { reports.push_back({done, total}); };
  ASSERT_EQ(Run(image, options, kChoiceMembrane), 0);
  // Reading moves the bar through the first sixth, row by row; the fill reports within the
  // middle four sixths; writing moves it through the last sixth.
  ASSERT_GT(reports.size(), 20u);
  for (int r = 0; r < 10; ++r) {
    EXPECT_EQ(reports[size_t(r)], (std::pair<int32_t, int32_t>{r, 60}));
    EXPECT_EQ(reports[reports.size() - 10 + size_t(r)], (std::pair<int32_t, int32_t>{50 + r, 60}));
  }
  for (size_t i = 10; i < reports.size() - 10; ++i) {
    double fraction = double(reports[i].first) / reports[i].second;
    EXPECT_GE(fraction, 1.0 / 6);
    EXPECT_LE(fraction, 5.0 / 6);
  }
}

TEST_F(RunDriverTest, CancelInTheDialogWritesNothingAndKeepsTheDefault) {
  HostImage image = MakeImage(6, 6, 3, 8, plugInModeRGBColor);
  ASSERT_EQ(Run(image, {}, kChoiceBlack), 0);  // remembers "black"
  HostImage before = MakeImage(6, 6, 3, 8, plugInModeRGBColor);
  image = before;
  PlatformScriptClickItem(kChoiceWhite);
  PlatformScriptClickItem(2);  // Cancel
  EXPECT_EQ(Run(image, {}, 0), userCanceledErr);
  EXPECT_EQ(image.pixels, before.pixels);
  // The next run shows the dialog with the same default: OK at once fills black.
  ASSERT_EQ(Run(image, {}, 0), 0);
  for (uint8_t b : image.pixels) ASSERT_EQ(b, 0);
  EXPECT_EQ(PlatformLastDialogSnapshot().controlValues[size_t(kChoiceBlack - 1)], 1);
}

TEST_F(RunDriverTest, CancelDuringTheFillEndsWithNothingWritten) {
  HostImage image = MakeImage(20, 20, 3, 8, plugInModeRGBColor), before = image;
  hostkit::RunOptions options;
  int polls = 0;
  options.abort = [&] { return ++polls > 30; };
  EXPECT_EQ(Run(image, options, kChoiceMembrane), userCanceledErr);
  EXPECT_EQ(image.pixels, before.pixels);
  EXPECT_TRUE(PrefsFiles() == std::vector<std::string>{"ZELKpref"});  // no scratch file left
}

TEST_F(RunDriverTest, HostWithoutAdvanceStateDrivesContinueItself) {
  HostImage a = MakeImage(10, 8, 3, 8, plugInModeRGBColor), b = a;
  hostkit::RunOptions options;
  options.mask = DiscMask(10, 8, 3);
  ASSERT_EQ(Run(a, options, kChoiceMembrane), 0);
  options.advanceState = false;
  hostkit::RunReport report;
  ASSERT_EQ(Run(b, options, kChoiceMembrane, &report), 0);
  EXPECT_EQ(a.pixels, b.pixels);
  EXPECT_EQ(report.continueCalls, 8 + 1 + 8);  // read rows, fill step, write rows
}

TEST_F(RunDriverTest, WithdrawnAdvanceStateCancelsTheRun) {
  HostImage image = MakeImage(5, 5, 1, 8, plugInModeGrayScale), before = image;
  hostkit::RunOptions options;
  options.withdrawAdvanceStateAfter = 3;
  EXPECT_EQ(Run(image, options, kChoiceBlack), userCanceledErr);
  EXPECT_EQ(image.pixels, before.pixels);
  EXPECT_TRUE(PrefsFiles().empty());
}

TEST_F(RunDriverTest, ScratchImagesOnDiskGiveTheSameResult) {
  HostImage a = MakeImage(15, 12, 4, 16, plugInModeRGB48), b = a;
  hostkit::RunOptions options;
  options.mask = DiscMask(15, 12, 4);
  ASSERT_EQ(Run(a, options, kChoiceMembrane), 0);
  PlatformSetTempMemoryLimit(0);
  ASSERT_EQ(Run(b, options, kChoiceMembrane), 0);
  EXPECT_EQ(a.pixels, b.pixels);
  EXPECT_TRUE(PrefsFiles() == std::vector<std::string>{"ZELKpref"});
}

TEST_F(RunDriverTest, EveryRefusedAllocationEndsCleanly) {
  HostImage original = MakeImage(9, 7, 4, 8, plugInModeRGBColor);
  hostkit::RunOptions options;
  options.mask = DiscMask(9, 7, 3);
  // The membrane fill is remembered, then every run shows the (headless) dialog with it, so no
  // allocation of the test's own scripting host is among those refused.
  HostImage image = original;
  ASSERT_EQ(Run(image, options, kChoiceMembrane), 0);
  HostImage expected = image;
  long before = PlatformAllocationCount();
  image = original;
  ASSERT_EQ(Run(image, options, 0), 0);
  ASSERT_EQ(image.pixels, expected.pixels);
  long points = PlatformAllocationCount() - before;
  HostImage withoutMask = original;
  ASSERT_EQ(Run(withoutMask, {}, 0), 0);
  for (long k = 0; k < points; ++k) {
    hostkit::ReleasePluginData(&data_);
    long live = PlatformLiveBlocks();
    image = original;
    PlatformRefuseAllocations(k, 1);
    int16_t result = Run(image, options, 0);
    PlatformRefuseAllocations(0, 0);
    EXPECT_TRUE(result == 0 || result == memFullErr || result == userCanceledErr)
        << "allocation " << k << " gave " << result;
    // A selection copy that cannot be made drops the mask: the area is filled as if it had none.
    if (result != 0) {
      EXPECT_EQ(image.pixels, original.pixels) << "allocation " << k;
    } else if (image.pixels != expected.pixels) {
      EXPECT_EQ(image.pixels, withoutMask.pixels) << "allocation " << k;
    }
    hostkit::ReleasePluginData(&data_);
    EXPECT_EQ(PlatformLiveBlocks(), live) << "allocation " << k;
    EXPECT_EQ(PrefsFiles(), std::vector<std::string>{"ZELKpref"}) << "allocation " << k;
  }
}

TEST_F(RunDriverTest, UnhandledModesAreTurnedAwayBeforeAnythingIsAllocated) {
  for (int16_t mode : {plugInModeBitmap, plugInModeIndexedColor, plugInModeHSLColor,
                       plugInModeHSBColor, plugInModeDuotone}) {
    HostImage image = MakeImage(4, 4, 1, 8, mode);
    hostkit::RunReport report;
    EXPECT_EQ(Run(image, {}, kChoiceBlack, &report), filterBadParameters);
    EXPECT_EQ(report.failedSelector, filterSelectorStart);
  }
}

}  // namespace
