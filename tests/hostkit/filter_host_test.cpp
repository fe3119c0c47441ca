// The host side of the plug-in protocol against a small stand-in plug-in that inverts the filter
// area row by row, with and without advance-state, and the host's masking of a filter's output.
#include "hostkit/filter_host.h"

#include <gtest/gtest.h>

namespace {

int16_t gRow = 0;

// Requests row `k` of the filter area, or nothing once the area is done.
void RequestRow(FilterRecord* rec, int16_t k) {
  Rect r = rec->filterRect;
  r.top = int16_t(r.top + k);
  r.bottom = int16_t(r.top + 1);
  rec->inRect = rec->outRect = k < rec->filterRect.bottom - rec->filterRect.top ? r : Rect{};
}

void InvertRow(FilterRecord* rec) {
  const int samples = (rec->filterRect.right - rec->filterRect.left) * rec->planes;
  for (int i = 0; i < samples; ++i)
    static_cast<uint8_t*>(rec->outData)[i] = uint8_t(255 - static_cast<uint8_t*>(rec->inData)[i]);
  RequestRow(rec, ++gRow);
}

extern "C" void InvertPlugin(int16_t selector, FilterRecord* rec, intptr_t*, int16_t* result) {
  *result = 0;
  if (selector == filterSelectorContinue) InvertRow(rec);
  if (selector != filterSelectorStart) return;
  RequestRow(rec, gRow = 0);
  rec->inLoPlane = rec->outLoPlane = 0;
  rec->inHiPlane = rec->outHiPlane = int16_t(rec->planes - 1);
  while (rec->advanceState && rec->inRect.bottom != 0) {
    if ((*result = rec->advanceState()) != 0) return;
    InvertRow(rec);
    if (!rec->advanceState) *result = userCanceledErr;  // withdrawn in the middle of the run
  }
}

class FilterHostTest : public ::testing::TestWithParam<bool> {};

TEST_P(FilterHostTest, FilterAreaIsChangedAndNothingElseOrNothingAtAllOnFailure) {
  auto image = hostkit::HostImage::Make(7, 5, 3, 8, plugInModeRGBColor), before = image;
  for (size_t i = 0; i < image.pixels.size(); ++i)
    image.pixels[i] = before.pixels[i] = uint8_t(i * 7);
  hostkit::RunOptions options;
  options.advanceState = GetParam();
  options.filterRect = Rect{1, 2, 4, 6};
  intptr_t data = 0;
  hostkit::RunReport report;
  ASSERT_EQ(hostkit::RunFilter(InvertPlugin, image, options, &data, &report), 0);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x)
      for (int p = 0; p < 3; ++p) {
        const bool inside = y >= 1 && y < 4 && x >= 2 && x < 6;
        EXPECT_EQ(image.Get(x, y, p), inside ? 255 - before.Get(x, y, p) : before.Get(x, y, p));
      }
  EXPECT_EQ(GetParam() ? report.advanceStateCalls : report.continueCalls, 3);

  if (!GetParam()) return;
  options.withdrawAdvanceStateAfter = 2;
  image = before;
  EXPECT_EQ(hostkit::RunFilter(InvertPlugin, image, options, &data, &report), userCanceledErr);
  EXPECT_EQ(report.failedSelector, filterSelectorStart);
  EXPECT_EQ(image.pixels, before.pixels);
}

INSTANTIATE_TEST_SUITE_P(AdvanceState, FilterHostTest, ::testing::Bool());

// (filtered × m + original × (255 − m) + 127) ÷ 255 in the colour planes of the area, rounded;
// the alpha plane as the filter left it; floats by weights, exact where nothing changed.
TEST(HostMask, BlendsTheColourPlanesOfTheAreaByTheMaskBytes) {
  auto original = hostkit::HostImage::Make(4, 1, 2, 8, plugInModeGrayScale);
  original.pixels = {100, 10, 100, 10, 100, 10, 100, 10};
  auto output = original;
  output.pixels = {155, 245, 155, 245, 155, 245, 155, 245};
  hostkit::ApplyHostMask(original, {0, 128, 255, 128}, Rect{0, 0, 1, 3}, &output);
  EXPECT_EQ(output.pixels, (std::vector<uint8_t>{100, 245, 128, 245, 155, 245, 155, 245}));

  auto floats = hostkit::HostImage::Make(2, 1, 1, 32, plugInModeGray32), filtered = floats;
  floats.Set(0, 0, 0, 0.3);
  floats.Set(1, 0, 0, 0.7);
  filtered.Set(0, 0, 0, 1.0);
  filtered.Set(1, 0, 0, 0.7);
  hostkit::ApplyHostMask(floats, {51, 77}, Rect{0, 0, 1, 2}, &filtered);
  EXPECT_FLOAT_EQ(filtered.Get(0, 0, 0), 1.0f * 0.2f + 0.3f * 0.8f);
  EXPECT_EQ(filtered.Get(1, 0, 0), 0.7f);
}

}  // namespace
