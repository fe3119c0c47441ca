// The image modes of the plug-in interface as the filter and its hosts both see them: for each
// mode number, its sample depth, its colour model and its colour planes. The one table of modes;
// the filter's run driver, the host kit and the image files all read it.
#pragma once

#include <cstdint>

#include "filter/host/filter_record.h"

enum class ColourModel : uint8_t { kGrey, kRGB, kCMYK, kLab, kMultichannel };

struct ImageModeInfo {
  int16_t mode;   // plugInMode…
  int16_t depth;  // bits per sample: 8, 16 or 32
  ColourModel model;
  int16_t colourPlanes;  // 1 grey, 3 RGB and Lab, 4 CMYK; 0 multichannel (every plane)
};

// Bitmap, indexed colour, HSL, HSB and duotone images are not in the table: no host hands them
// over and the filter does not run on them.
inline constexpr ImageModeInfo kImageModes[] = {
    {plugInModeGrayScale, 8, ColourModel::kGrey, 1},
    {plugInModeGray16, 16, ColourModel::kGrey, 1},
    {plugInModeGray32, 32, ColourModel::kGrey, 1},
    {plugInModeRGBColor, 8, ColourModel::kRGB, 3},
    {plugInModeRGB48, 16, ColourModel::kRGB, 3},
    {plugInModeRGB96, 32, ColourModel::kRGB, 3},
    {plugInModeCMYKColor, 8, ColourModel::kCMYK, 4},
    {plugInModeCMYK64, 16, ColourModel::kCMYK, 4},
    {plugInModeLabColor, 8, ColourModel::kLab, 3},
    {plugInModeLab48, 16, ColourModel::kLab, 3},
    {plugInModeMultichannel, 8, ColourModel::kMultichannel, 0},
    {plugInModeDeepMultichannel, 16, ColourModel::kMultichannel, 0},
};

// The table's entry for `mode`, or null for a mode outside it.
constexpr const ImageModeInfo* FindImageMode(int16_t mode) {
  for (const ImageModeInfo& info : kImageModes)
    if (info.mode == mode) return &info;
  return nullptr;
}

// The mode of `model` at `depth` bits, or -1 when the interface has none.
constexpr int16_t ImageModeOf(ColourModel model, int depth) {
  for (const ImageModeInfo& info : kImageModes)
    if (info.model == model && info.depth == depth) return info.mode;
  return -1;
}

// Colour planes of an image of `mode` with `planes` planes in all: the table's count, every
// plane for multichannel, 0 for a mode outside the table.
constexpr int16_t ColourPlanesOf(int16_t mode, int16_t planes) {
  const ImageModeInfo* info = FindImageMode(mode);
  if (!info) return 0;
  return info->model == ColourModel::kMultichannel ? planes : info->colourPlanes;
}
