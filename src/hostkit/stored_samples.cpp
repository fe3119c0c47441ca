// Stored samples to the host image and back: the one place where a host's 16-bit samples are
// rescaled both ways.
#include "hostkit/stored_samples.h"

#include <cstring>

#include "filter/host/image_modes.h"
#include "hostkit/host_rules.h"

namespace hostkit {

namespace {

// The interface's mode for grey (1 colour plane) or RGB (3) samples of `depth` bits, or -1.
int16_t _GreyOrRgbMode(int colorPlanes, int depth) {
  if (colorPlanes != 1 && colorPlanes != 3) return -1;
  return ImageModeOf(colorPlanes == 1 ? ColourModel::kGrey : ColourModel::kRGB, depth);
}

}  // namespace

std::string CheckStoredLayout(const StoredLayout& layout) {
  if (_GreyOrRgbMode(layout.colorPlanes, layout.depth) < 0) {
    return std::to_string(layout.depth) + "-bit samples with " +
           std::to_string(layout.colorPlanes) + " colour planes cannot be handed to the filter";
  }
  if (layout.extraPlanes < 0 || layout.Planes() > 32)
    return "an image has 0 to 31 extra planes, not " + std::to_string(layout.extraPlanes);
  return CheckImageSize(layout.width, layout.height);
}

HostImage StoredToHost(const StoredLayout& layout, const void* samples) {
  HostImage image =
      HostImage::Make(layout.width, layout.height, int16_t(layout.Planes()), int16_t(layout.depth),
                      _GreyOrRgbMode(layout.colorPlanes, layout.depth));
  if (layout.depth != 16) {
    std::memcpy(image.pixels.data(), samples, image.pixels.size());
    return image;
  }
  const size_t count = image.pixels.size() / 2;
  const auto* from = static_cast<const uint8_t*>(samples);
  uint8_t* to = image.pixels.data();
  for (size_t i = 0; i < count; ++i, from += 2, to += 2) {
    uint16_t v;
    std::memcpy(&v, from, 2);
    v = FileToHost16(v);
    std::memcpy(to, &v, 2);
  }
  return image;
}

void HostToStored(const HostImage& filtered, const StoredLayout& layout, const void* original,
                  void* out) {
  const size_t bytes = layout.ByteCount();
  if (layout.depth != 16) {
    std::memmove(out, filtered.pixels.data(), bytes);
    return;
  }
  const uint8_t* h = filtered.pixels.data();
  const auto* before = static_cast<const uint8_t*>(original);
  auto* after = static_cast<uint8_t*>(out);
  for (size_t i = 0; i < bytes; i += 2) {
    uint16_t filteredSample, originalSample;
    std::memcpy(&filteredSample, h + i, 2);
    std::memcpy(&originalSample, before + i, 2);
    const uint16_t v = RestoreFile16(filteredSample, originalSample);
    std::memcpy(after + i, &v, 2);
  }
}

}  // namespace hostkit
