// The host kit against a small stand-in plug-in that inverts the filter area row by row, so the
// host side of the protocol (requests, deliveries, taking output, masking) is tested alone.
#include "hostkit/filter_host.h"

#include <gtest/gtest.h>

namespace {

struct InvertState {
  int16_t row = 0;
  bool writing = false;
};
InvertState gInvert;

void RequestRow(FilterRecord* rec, int16_t k) {
  Rect r = rec->filterRect;
  r.top = int16_t(rec->filterRect.top + k);
  r.bottom = int16_t(r.top + 1);
  rec->inRect = rec->outRect = r;
  if (rec->haveMask) rec->maskRect = r;
}

// Inverts 8-bit samples of planes 0..planes-1 wherever the mask byte (if any) is non-zero.
int16_t InvertStep(FilterRecord* rec) {
  int width = rec->filterRect.right - rec->filterRect.left;
  int height = rec->filterRect.bottom - rec->filterRect.top;
  auto* in = static_cast<uint8_t*>(rec->inData);
  auto* out = static_cast<uint8_t*>(rec->outData);
  for (int i = 0; i < width * rec->planes; ++i) out[i] = uint8_t(255 - in[i]);
  if (++gInvert.row < height) {
    RequestRow(rec, gInvert.row);
  } else {
    rec->inRect = rec->outRect = rec->maskRect = Rect{0, 0, 0, 0};
  }
  return 0;
}

extern "C" void InvertPlugin(int16_t selector, FilterRecord* rec, intptr_t*, int16_t* result) {
  *result = 0;
  if (selector == filterSelectorStart) {
    gInvert = InvertState{};
    RequestRow(rec, 0);
    rec->inLoPlane = rec->outLoPlane = 0;
    rec->inHiPlane = rec->outHiPlane = int16_t(rec->planes - 1);
    if (!rec->advanceState) return;
    for (;;) {
      if (!rec->advanceState) {
        *result = userCanceledErr;
        return;
      }
      if ((*result = rec->advanceState()) != 0) return;
      InvertStep(rec);
      if (rec->inRect.bottom == 0) return;
    }
  }
  if (selector == filterSelectorContinue) *result = InvertStep(rec);
}

hostkit::HostImage Ramp(int w, int h, int planes) {
  auto image = hostkit::HostImage::Make(w, h, int16_t(planes), 8, planes == 1 ? 1 : 3);
  for (size_t i = 0; i < image.pixels.size(); ++i) image.pixels[i] = uint8_t(i * 7);
  return image;
}

class FilterHostTest : public ::testing::TestWithParam<bool> {};

TEST_P(FilterHostTest, FilterAreaIsChangedAndNothingElse) {
  hostkit::HostImage image = Ramp(7, 5, 3), before = image;
  hostkit::RunOptions options;
  options.advanceState = GetParam();
  options.filterRect = Rect{1, 2, 4, 6};
  intptr_t data = 0;
  hostkit::RunReport report;
  ASSERT_EQ(hostkit::RunFilter(InvertPlugin, image, options, &data, &report), 0);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x)
      for (int p = 0; p < 3; ++p) {
        bool inside = y >= 1 && y < 4 && x >= 2 && x < 6;
        EXPECT_EQ(image.Get(x, y, p), inside ? 255 - before.Get(x, y, p) : before.Get(x, y, p))
            << x << "," << y;
      }
  EXPECT_EQ(GetParam() ? report.advanceStateCalls : report.continueCalls, 3);
}

INSTANTIATE_TEST_SUITE_P(AdvanceState, FilterHostTest, ::testing::Bool());

TEST(FilterHostMaskingTest, OutputIsBlendedByTheMaskWithRounding) {
  hostkit::HostImage image = hostkit::HostImage::Make(3, 1, 1, 8, 1);
  image.pixels = {200, 200, 200};
  hostkit::RunOptions options;
  options.mask = {0, 128, 255};
  options.applyMask = true;
  intptr_t data = 0;
  ASSERT_EQ(hostkit::RunFilter(InvertPlugin, image, options, &data), 0);
  // (55 × m + 200 × (255 − m) + 127) ÷ 255
  EXPECT_EQ(image.pixels, (std::vector<uint8_t>{200, (55 * 128 + 200 * 127 + 127) / 255, 55}));
}

TEST(FilterHostFailureTest, WithdrawnAdvanceStateLeavesTheImageAsItWas) {
  hostkit::HostImage image = Ramp(4, 4, 1), before = image;
  hostkit::RunOptions options;
  options.withdrawAdvanceStateAfter = 2;
  intptr_t data = 0;
  hostkit::RunReport report;
  EXPECT_EQ(hostkit::RunFilter(InvertPlugin, image, options, &data, &report), userCanceledErr);
  EXPECT_EQ(report.failedSelector, filterSelectorStart);
  EXPECT_EQ(image.pixels, before.pixels);
}

}  // namespace
