// An image as a host holds it: interleaved samples (colour planes, then extra planes) at 8 or
// 16 bits (host scale 0..32768) or 32-bit float (0..1), in one of the interface's image modes.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace hostkit {

struct HostImage {
  int32_t width = 0;
  int32_t height = 0;
  int16_t planes = 0;     // samples per pixel: colour planes plus extra planes
  int16_t depth = 8;      // bits per sample: 8, 16 or 32
  int16_t imageMode = 3;  // plugInMode… of the interface
  std::vector<uint8_t> pixels;

  static HostImage Make(int32_t width, int32_t height, int16_t planes, int16_t depth,
                        int16_t imageMode);

  size_t BytesPerSample() const { return size_t(depth / 8); }
  size_t PixelBytes() const { return size_t(planes) * BytesPerSample(); }
  size_t RowBytes() const { return size_t(width) * PixelBytes(); }
  uint8_t* Row(int32_t y) { return pixels.data() + size_t(y) * RowBytes(); }
  const uint8_t* Row(int32_t y) const { return pixels.data() + size_t(y) * RowBytes(); }

  // Sample `plane` of pixel (x, y) as a double in the image's own scale.
  double Get(int32_t x, int32_t y, int plane) const;
  void Set(int32_t x, int32_t y, int plane, double value);
};

}  // namespace hostkit
