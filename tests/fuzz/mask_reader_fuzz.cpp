// Fuzz target: selection masks. The first four bytes are the image's width and height (16
// bits each, little-endian), the rest the mask file.
#include <cstdlib>
#include <vector>

#include "fuzz_support.h"
#include "imagefile/image_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const int32_t width = data[0] | data[1] << 8, height = data[2] | data[3] << 8;
  std::string path = fuzz::WriteInput("mask", data + 4, size - 4);
  std::vector<uint8_t> mask;
  std::string error;
  if (imagefile::ReadMask(path, width, height, &mask, &error)) {
    if (mask.size() != size_t(width) * size_t(height)) std::abort();
  } else if (error.rfind(path + ": ", 0) != 0 || !fuzz::IsOneLine(error)) {
    std::abort();
  }
  return 0;
}
