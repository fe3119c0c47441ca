// The float rule: HDR values kept through the 16-bit scale, alpha and the outside exact.
#include "hostkit/float_samples.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(FloatSamples, ScaleByTheLargestSampleAndBackKeepingWhatWasNotFilled) {
  // Grey with alpha; the area is the top row but the last pixel.
  hostkit::HostImage image = hostkit::HostImage::Make(3, 2, 2, 32, plugInModeGray32);
  const float grey[6] = {0.5f, 2.0f, -1.0f, 7.0f, NAN, 0.3f};
  for (int i = 0; i < 6; ++i) {
    image.Set(i % 3, i / 3, 0, grey[i]);
    image.Set(i % 3, i / 3, 1, 0.1 * i);
  }
  const Rect area = {0, 0, 1, 2};
  const double scale = hostkit::FloatScale(image, area);
  EXPECT_EQ(scale, 2.0);  // 7.0 lies outside the area
  hostkit::HostImage sixteen = hostkit::FloatToSixteen(image, scale);
  EXPECT_EQ(sixteen.imageMode, plugInModeGray16);
  EXPECT_EQ(sixteen.Get(0, 0, 0), 8192);                            // 0.5 / 2
  EXPECT_EQ(sixteen.Get(1, 0, 0), 32768);                           // the largest
  EXPECT_EQ(sixteen.Get(2, 0, 0), 0);                               // below 0
  EXPECT_EQ(sixteen.Get(0, 1, 0), 32768);                           // above the scale: clipped
  EXPECT_EQ(sixteen.Get(1, 1, 0), 0);                               // NaN
  EXPECT_EQ(sixteen.Get(2, 1, 1), std::floor(0.5f * 32768 + 0.5));  // alpha, scale 1

  sixteen.Set(0, 0, 0, 12345);
  const hostkit::HostImage back = hostkit::SixteenToFloat(sixteen, image, area, scale);
  EXPECT_EQ(back.Get(0, 0, 0), float(12345 * 2.0 / 32768));
  EXPECT_EQ(back.Get(1, 0, 0), 2.0f);
  for (int i = 2; i < 6; ++i) {  // outside the area, and every alpha sample: exact
    if (!std::isnan(grey[i])) EXPECT_EQ(back.Get(i % 3, i / 3, 0), grey[i]) << i;
  }
  for (int i = 0; i < 6; ++i) EXPECT_EQ(back.Get(i % 3, i / 3, 1), image.Get(i % 3, i / 3, 1));
}

}  // namespace
