// Turning planes between the stored and the displayed layout of an oriented image.
#include "imagefile/orientation.h"

#include <cstddef>

namespace imagefile {
namespace {

// The stored pixel shown at (x, y) of the display, for a stored image of width × height.
size_t _StoredIndex(Orientation orientation, int32_t width, int32_t height, int32_t x, int32_t y) {
  int32_t sx = x, sy = y;
  switch (orientation) {
    case Orientation::kTopLeft:
      break;
    case Orientation::kTopRight:  // mirrored left to right
      sx = width - 1 - x;
      break;
    case Orientation::kBottomRight:  // turned half round
      sx = width - 1 - x;
      sy = height - 1 - y;
      break;
    case Orientation::kBottomLeft:  // mirrored top to bottom
      sy = height - 1 - y;
      break;
    case Orientation::kLeftTop:  // stored rows are the displayed columns, left to right
      sx = y;
      sy = x;
      break;
    case Orientation::kRightTop:  // stored rows are the columns from the right: turned clockwise
      sx = y;
      sy = height - 1 - x;
      break;
    case Orientation::kRightBottom:
      sx = width - 1 - y;
      sy = height - 1 - x;
      break;
    case Orientation::kLeftBottom:  // turned anticlockwise
      sx = width - 1 - y;
      sy = x;
      break;
  }
  return size_t(sy) * size_t(width) + size_t(sx);
}

}  // namespace

void StoredToDisplayed(const std::vector<uint8_t>& stored, int32_t width, int32_t height,
                       Orientation orientation, std::vector<uint8_t>* displayed) {
  const int32_t shownWidth = SwapsSides(orientation) ? height : width;
  const int32_t shownHeight = SwapsSides(orientation) ? width : height;
  displayed->resize(stored.size());
  for (int32_t y = 0; y < shownHeight; ++y)
    for (int32_t x = 0; x < shownWidth; ++x)
      (*displayed)[size_t(y) * size_t(shownWidth) + size_t(x)] =
          stored[_StoredIndex(orientation, width, height, x, y)];
}

void DisplayedToStored(const std::vector<uint8_t>& displayed, int32_t width, int32_t height,
                       Orientation orientation, std::vector<uint8_t>* stored) {
  const int32_t shownWidth = SwapsSides(orientation) ? height : width;
  const int32_t shownHeight = SwapsSides(orientation) ? width : height;
  stored->resize(displayed.size());
  for (int32_t y = 0; y < shownHeight; ++y)
    for (int32_t x = 0; x < shownWidth; ++x)
      (*stored)[_StoredIndex(orientation, width, height, x, y)] =
          displayed[size_t(y) * size_t(shownWidth) + size_t(x)];
}

}  // namespace imagefile
