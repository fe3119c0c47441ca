// The host rules shared by every host: image size limits and the filter area of a selection.
#include "hostkit/host_rules.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace hostkit {

std::string CheckImageSize(int64_t width, int64_t height) {
  if (width <= 0 || height <= 0) {
    return "image has no pixels (it is " + std::to_string(width) + "x" + std::to_string(height) +
           ")";
  }
  if (width > kMaxImageSide) {
    return "image is " + std::to_string(width) + " pixels wide; the largest supported is " +
           std::to_string(kMaxImageSide);
  }
  if (height > kMaxImageSide) {
    return "image is " + std::to_string(height) + " pixels tall; the largest supported is " +
           std::to_string(kMaxImageSide);
  }
  return "";
}

bool ParseHexColour(const std::string& text, std::array<uint8_t, 3>* rgb) {
  if (text.size() != 7 || text[0] != '#') return false;
  std::array<uint8_t, 3> value{};
  for (size_t i = 1; i < 7; ++i) {
    const char c = text[i];
    const int digit = (c >= '0' && c <= '9')   ? c - '0'
                      : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                      : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                               : -1;
    if (digit < 0) return false;
    value[(i - 1) / 2] = uint8_t(value[(i - 1) / 2] * 16 + digit);
  }
  *rgb = value;
  return true;
}

std::optional<Rect> SelectionBounds(const std::vector<uint8_t>& mask, int32_t width,
                                    int32_t height) {
  int32_t top = height, left = width, bottom = -1, right = -1;
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* row = mask.data() + size_t(y) * size_t(width);
    // The first byte that is not 0, eight at a time over the zeros of a mostly clear mask.
    int32_t first = 0;
    for (uint64_t word = 0; first + 8 <= width; first += 8) {
      std::memcpy(&word, row + first, 8);
      if (word != 0) break;
    }
    while (first < width && row[first] == 0) ++first;
    if (first == width) continue;
    int32_t end = width;  // and the last, before `end`, from the other side
    for (uint64_t word = 0; end - 8 > first; end -= 8) {
      std::memcpy(&word, row + end - 8, 8);
      if (word != 0) break;
    }
    int32_t last = end - 1;
    while (row[last] == 0) --last;
    top = std::min(top, y);
    bottom = y;
    left = std::min(left, first);
    right = std::max(right, last);
  }
  if (bottom < 0) return std::nullopt;
  return Rect{int16_t(top), int16_t(left), int16_t(bottom + 1), int16_t(right + 1)};
}

bool WidenZeroOneMask(std::vector<uint8_t>* mask) {
  bool anyOne = false;
  for (uint8_t b : *mask) {
    if (b > 1) return false;
    anyOne |= b == 1;
  }
  if (anyOne)
    for (uint8_t& b : *mask) b = b ? 255 : 0;
  return anyOne;
}

bool SelectArea(RunOptions* run, std::vector<uint8_t> mask, int32_t width, int32_t height,
                bool raw) {
  std::optional<Rect> bounds = SelectionBounds(mask, width, height);
  if (!bounds) return false;
  run->mask = std::move(mask);
  run->filterRect = *bounds;
  run->applyMask = !raw;
  return true;
}

}  // namespace hostkit
