// The float rule: 32-bit samples to the filter's 16-bit scale and back.
#include "hostkit/float_samples.h"

#include <algorithm>
#include <cmath>

#include "filter/host/image_modes.h"

namespace hostkit {

namespace {

double _ToSixteen(double v, double scale) {
  if (!(v > 0)) return 0;  // negative values and NaN
  return std::floor(std::min(v / scale, 1.0) * 32768.0 + 0.5);
}

}  // namespace

double FloatScale(const HostImage& image, const Rect& area) {
  const int colour = ColourPlanesOf(image.imageMode, image.planes);
  double largest = 1;
  for (int y = area.top; y < area.bottom; ++y)
    for (int x = area.left; x < area.right; ++x)
      for (int p = 0; p < colour; ++p) {
        const double v = image.Get(x, y, p);
        if (v > largest && std::isfinite(v)) largest = v;
      }
  return largest;
}

HostImage FloatToSixteen(const HostImage& image, double scale) {
  const ImageModeInfo* info = FindImageMode(image.imageMode);
  HostImage out = HostImage::Make(image.width, image.height, image.planes, 16,
                                  ImageModeOf(info ? info->model : ColourModel::kRGB, 16));
  const int colour = ColourPlanesOf(image.imageMode, image.planes);
  for (int32_t y = 0; y < image.height; ++y)
    for (int32_t x = 0; x < image.width; ++x)
      for (int p = 0; p < image.planes; ++p)
        out.Set(x, y, p, _ToSixteen(image.Get(x, y, p), p < colour ? scale : 1.0));
  return out;
}

HostImage SixteenToFloat(const HostImage& filtered, const HostImage& original, const Rect& area,
                         double scale) {
  HostImage out = original;
  const int colour = ColourPlanesOf(original.imageMode, original.planes);
  for (int y = area.top; y < area.bottom; ++y)
    for (int x = area.left; x < area.right; ++x)
      for (int p = 0; p < colour; ++p) out.Set(x, y, p, filtered.Get(x, y, p) * scale / 32768.0);
  return out;
}

}  // namespace hostkit
