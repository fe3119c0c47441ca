// An image as a host holds it: interleaved samples (colour planes, then extra planes) at 8 or
// 16 bits (host scale 0..32768) or 32-bit float (0..1), in one of the interface's image modes.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "hostkit/pixel_rows.h"

namespace hostkit {

struct HostImage {
  int32_t width = 0;
  int32_t height = 0;
  int16_t planes = 0;     // samples per pixel: colour planes plus extra planes
  int16_t depth = 8;      // bits per sample: 8, 16 or 32
  int16_t imageMode = 3;  // plugInMode… of the interface
  PixelRows pixels;       // rows of RowBytes(); on disk when the host's memory budget is spent

  static HostImage Make(int32_t width, int32_t height, int16_t planes, int16_t depth,
                        int16_t imageMode);

  size_t BytesPerSample() const { return size_t(depth / 8); }
  size_t PixelBytes() const { return size_t(planes) * BytesPerSample(); }
  size_t RowBytes() const { return size_t(width) * PixelBytes(); }
  // Row y; on disk, good until another row of this image is asked for.
  uint8_t* Row(int32_t y) { return pixels.Rows(y); }
  const uint8_t* Row(int32_t y) const { return pixels.Rows(y); }

  // Sample `plane` of pixel (x, y) as a double in the image's own scale.
  double Get(int32_t x, int32_t y, int plane) const;
  void Set(int32_t x, int32_t y, int plane, double value);
};

}  // namespace hostkit
