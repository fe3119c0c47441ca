// gallery_crop: cuts a window out of an 8-bit RGB image for the README's gallery, and can trace
// the edge of a selection mask over it in yellow, so the gallery shows what was selected.
//   gallery_crop INPUT OUTPUT LEFT TOP WIDTH HEIGHT [MASK]
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "imagefile/image_io.h"

namespace {

using imagefile::FileImage;

int Fail(const std::string& message) {
  std::fprintf(stderr, "gallery_crop: %s\n", message.c_str());
  return 1;
}

// True for a selected pixel (mask byte 128 or more) with an unselected 4-neighbour or none.
bool OnEdge(const std::vector<uint8_t>& mask, int width, int height, int x, int y) {
  auto selected = [&](int u, int v) {
    return u >= 0 && v >= 0 && u < width && v < height && mask[size_t(v * width + u)] >= 128;
  };
  return selected(x, y) &&
         !(selected(x - 1, y) && selected(x + 1, y) && selected(x, y - 1) && selected(x, y + 1));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7 && argc != 8)
    return Fail("usage: gallery_crop INPUT OUTPUT LEFT TOP WIDTH HEIGHT [MASK]");
  std::string error;
  FileImage in;
  if (!imagefile::ReadImage(argv[1], &in, &error)) return Fail(error);
  if (in.model != ColourModel::kRGB || in.bitsPerSample != 8 || in.extraChannels != 0)
    return Fail(std::string(argv[1]) + ": an 8-bit RGB image is needed");
  const int left = std::atoi(argv[3]), top = std::atoi(argv[4]);
  const int width = std::atoi(argv[5]), height = std::atoi(argv[6]);
  if (left < 0 || top < 0 || width <= 0 || height <= 0 || left + width > in.width ||
      top + height > in.height)
    return Fail("the window does not lie inside the image");
  std::vector<uint8_t> mask;
  if (argc == 8 && !imagefile::ReadMask(argv[7], in.width, in.height, &mask, &error))
    return Fail(error);

  FileImage out = in;
  out.width = width;
  out.height = height;
  out.data = hostkit::PixelRows(out.RowBytes(), height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const uint8_t* from = &in.data[(size_t(top + y) * size_t(in.width) + size_t(left + x)) * 3];
      uint8_t* to = &out.data[(size_t(y) * size_t(width) + size_t(x)) * 3];
      const bool edge = !mask.empty() && OnEdge(mask, in.width, in.height, left + x, top + y);
      const uint8_t yellow[3] = {255, 221, 0};
      for (int c = 0; c < 3; ++c) to[c] = edge ? yellow[c] : from[c];
    }
  if (!imagefile::WriteImage(argv[2], out, &error)) return Fail(error);
  return 0;
}
