// Turning planes between the stored and the displayed layout of an oriented image.
#include "imagefile/orientation.h"

#include <cstddef>
#include <cstring>

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

namespace {

// Copies every pixel between the stored layout and the displayed one, either way.
void _Turn(const std::vector<uint8_t>& from, int32_t width, int32_t height, Orientation orientation,
           bool toDisplayed, std::vector<uint8_t>* to) {
  const int32_t shownWidth = SwapsSides(orientation) ? height : width;
  const int32_t shownHeight = SwapsSides(orientation) ? width : height;
  to->resize(from.size());
  for (int32_t y = 0; y < shownHeight; ++y)
    for (int32_t x = 0; x < shownWidth; ++x) {
      const size_t shown = size_t(y) * size_t(shownWidth) + size_t(x);
      const size_t stored = _StoredIndex(orientation, width, height, x, y);
      (*to)[toDisplayed ? shown : stored] = from[toDisplayed ? stored : shown];
    }
}

}  // namespace

void StoredToDisplayed(const std::vector<uint8_t>& stored, int32_t width, int32_t height,
                       Orientation orientation, std::vector<uint8_t>* displayed) {
  _Turn(stored, width, height, orientation, true, displayed);
}

void DisplayedToStored(const std::vector<uint8_t>& displayed, int32_t width, int32_t height,
                       Orientation orientation, std::vector<uint8_t>* stored) {
  _Turn(displayed, width, height, orientation, false, stored);
}

Orientation ExifOrientation(const std::string& exif) {
  // Some writers keep the "Exif\0\0" that precedes the block in a JPEG.
  const size_t start = exif.compare(0, 6, std::string("Exif\0\0", 6)) == 0 ? 6 : 0;
  if (exif.size() < start + 8) return Orientation::kTopLeft;
  const auto* bytes = reinterpret_cast<const uint8_t*>(exif.data()) + start;
  const size_t size = exif.size() - start;
  const bool little = bytes[0] == 'I';
  auto number = [bytes, little](size_t at, int count) {
    uint32_t value = 0;
    for (int i = 0; i < count; ++i)
      value |= uint32_t(bytes[at + size_t(i)]) << (8 * (little ? i : count - 1 - i));
    return value;
  };
  if (!(little || bytes[0] == 'M') || number(2, 2) != 42) return Orientation::kTopLeft;
  const size_t directory = number(4, 4);
  if (directory + 2 > size) return Orientation::kTopLeft;
  const size_t entries = number(directory, 2);
  for (size_t i = 0; i < entries && directory + 2 + (i + 1) * 12 <= size; ++i) {
    const size_t entry = directory + 2 + i * 12;
    if (number(entry, 2) != 0x0112 || number(entry + 2, 2) != 3) continue;
    const uint32_t value = number(entry + 8, 2);
    if (value >= 1 && value <= 8) return Orientation(value);
  }
  return Orientation::kTopLeft;
}

std::string ExifOfOrientation(Orientation orientation) {
  const char block[] = {'M',  'M',
                        0,    42,
                        0,    0,
                        0,    8,  // header, first directory at 8
                        0,    1,  // one entry:
                        0x01, 0x12,
                        0,    3,
                        0,    0,
                        0,    1,  // Orientation, SHORT, 1 value
                        0,    char(orientation),
                        0,    0,  // the value
                        0,    0,
                        0,    0};  // no next directory
  return std::string(block, sizeof block);
}

}  // namespace imagefile
