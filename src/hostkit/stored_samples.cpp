// Stored samples to the host image and back: the one place where a host's 16-bit samples are
// rescaled both ways.
#include "hostkit/stored_samples.h"

#include <algorithm>
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

// 16-bit samples are rescaled this many at a time in buffers of their own, apart from the
// caller's (which may be one and the same), and always a whole buffer (the last one's tail is
// zeros, never copied out): a loop of known length over buffers that do not overlap is one the
// compiler turns into vector code.
constexpr size_t kChunk = 1024;

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
  for (size_t done = 0; done < count; done += kChunk) {
    const size_t n = std::min(kChunk, count - done);
    uint16_t chunk[kChunk];
    std::memcpy(chunk, from + 2 * done, 2 * n);
    std::fill(chunk + n, chunk + kChunk, uint16_t(0));
    for (size_t i = 0; i < kChunk; ++i) chunk[i] = FileToHost16(chunk[i]);
    std::memcpy(to + 2 * done, chunk, 2 * n);
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
  const size_t count = bytes / 2;
  for (size_t done = 0; done < count; done += kChunk) {
    const size_t n = std::min(kChunk, count - done);
    uint16_t filteredChunk[kChunk], originalChunk[kChunk];
    std::memcpy(filteredChunk, h + 2 * done, 2 * n);
    std::memcpy(originalChunk, before + 2 * done, 2 * n);
    std::fill(filteredChunk + n, filteredChunk + kChunk, uint16_t(0));
    std::fill(originalChunk + n, originalChunk + kChunk, uint16_t(0));
    for (size_t i = 0; i < kChunk; ++i)
      originalChunk[i] = RestoreFile16(filteredChunk[i], originalChunk[i]);
    std::memcpy(after + 2 * done, originalChunk, 2 * n);
  }
}

}  // namespace hostkit
