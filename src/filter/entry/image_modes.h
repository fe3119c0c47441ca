// How the run driver sees each image mode of the host: its colour planes and whether rows are
// converted (CMYK, Lab) or carried without a fill (multichannel).
#pragma once

#include "filter/host/filter_record.h"

struct ImageModeInfo {
  int32_t colourPlanes;  // 0: a mode the filter does not handle
  bool cmyk;
  bool lab;
  bool multichannel;
};

inline ImageModeInfo _ImageModeInfo(int16_t imageMode, int32_t planes) {
  switch (imageMode) {
    case plugInModeGrayScale:
    case plugInModeGray16:
    case plugInModeGray32:
      return {1, false, false, false};
    case plugInModeRGBColor:
    case plugInModeRGB48:
    case plugInModeRGB96:
      return {3, false, false, false};
    case plugInModeCMYKColor:
    case plugInModeCMYK64:
      return {4, true, false, false};
    case plugInModeLabColor:
    case plugInModeLab48:
      return {3, false, true, false};
    case plugInModeMultichannel:
    case plugInModeDeepMultichannel:
      return {planes, false, false, true};
    // Bitmap, indexed colour, HSL, HSB and duotone images are not filtered.
    default:
      return {0, false, false, false};
  }
}

// True when the host's image can be run: a handled mode with at least its colour planes.
inline bool _ImageModeIsHandled(const FilterRecord* host) {
  ImageModeInfo info = _ImageModeInfo(host->imageMode, host->planes);
  return info.colourPlanes > 0 && host->planes >= info.colourPlanes;
}
