// The host's masking of a filter's output. (The rest of the host side of the protocol runs the
// real filter in the run driver's tests and through every host.)
#include "hostkit/filter_host.h"

#include <gtest/gtest.h>

namespace {

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
