// A host image's samples read and written one at a time, in the image's own scale.
#include "hostkit/host_image.h"

namespace hostkit {

HostImage HostImage::Make(int32_t width, int32_t height, int16_t planes, int16_t depth,
                          int16_t imageMode) {
  HostImage image;
  image.width = width;
  image.height = height;
  image.planes = planes;
  image.depth = depth;
  image.imageMode = imageMode;
  image.pixels = PixelRows(image.RowBytes(), height);
  return image;
}

double HostImage::Get(int32_t x, int32_t y, int plane) const {
  const uint8_t* p = Row(y) + size_t(x) * PixelBytes() + size_t(plane) * BytesPerSample();
  if (depth == 8) return *p;
  if (depth == 16) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
  }
  float f;
  std::memcpy(&f, p, 4);
  return f;
}

void HostImage::Set(int32_t x, int32_t y, int plane, double value) {
  uint8_t* p = Row(y) + size_t(x) * PixelBytes() + size_t(plane) * BytesPerSample();
  if (depth == 8) {
    *p = uint8_t(value);
  } else if (depth == 16) {
    uint16_t v = uint16_t(value);
    std::memcpy(p, &v, 2);
  } else {
    float f = float(value);
    std::memcpy(p, &f, 4);
  }
}

}  // namespace hostkit
