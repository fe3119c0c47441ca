// How the run driver sees each image mode of the host, read from the interface's one table of
// modes (filter/host/image_modes.h): its colour planes and whether rows are converted (CMYK,
// Lab) or carried without a fill (multichannel).
#pragma once

#include "filter/host/image_modes.h"

struct _RunMode {
  int32_t colourPlanes;  // 0: a mode the filter does not handle
  bool cmyk;
  bool lab;
  bool multichannel;
};

// The run's view of `imageMode` for an image of `planes` planes in all. Modes outside the table
// (bitmap, indexed colour, HSL, HSB, duotone) have no colour planes; multichannel takes every
// plane.
inline _RunMode _ImageModeInfo(int16_t imageMode, int32_t planes) {
  const ImageModeInfo* info = FindImageMode(imageMode);
  if (!info) return {0, false, false, false};
  const bool multichannel = info->model == ColourModel::kMultichannel;
  return {multichannel ? planes : int32_t(info->colourPlanes), info->model == ColourModel::kCMYK,
          info->model == ColourModel::kLab, multichannel};
}

// True when the host's image can be run: a handled mode with at least its colour planes.
inline bool _ImageModeIsHandled(const FilterRecord* host) {
  _RunMode mode = _ImageModeInfo(host->imageMode, host->planes);
  return mode.colourPlanes > 0 && host->planes >= mode.colourPlanes;
}
