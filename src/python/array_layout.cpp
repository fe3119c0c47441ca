// Image arrays as stored layouts and as file images.
#include "python/array_layout.h"

#include <cstring>

namespace areafill_py {

std::string ArrayLayout(int64_t height, int64_t width, int64_t channels, int depth,
                        hostkit::StoredLayout* layout) {
  if (channels < 1 || channels > 4) {
    return "expected 1, 2, 3 or 4 channels (grey, grey+alpha, RGB, RGBA), got " +
           std::to_string(channels);
  }
  if (std::string problem = hostkit::CheckImageSize(width, height); !problem.empty())
    return problem;
  layout->width = int32_t(width);
  layout->height = int32_t(height);
  layout->colorPlanes = channels <= 2 ? 1 : 3;
  layout->extraPlanes = channels % 2 == 0 ? 1 : 0;
  layout->depth = depth;
  return hostkit::CheckStoredLayout(*layout);
}

std::string ArrayLayoutOfFile(const imagefile::FileImage& file, hostkit::StoredLayout* layout) {
  if (file.model == ColourModel::kCMYK) return "CMYK images cannot be read into an array";
  if (file.model == ColourModel::kLab) return "Lab images cannot be read into an array";
  if (file.extraChannels > 1) {
    return "images with " + std::to_string(file.extraChannels) +
           " extra channels cannot be read into an array (one alpha channel at most)";
  }
  return ArrayLayout(file.height, file.width, file.colorChannels + file.extraChannels,
                     file.bitsPerSample, layout);
}

imagefile::FileImage FileImageOfArray(const hostkit::StoredLayout& layout, const void* samples) {
  imagefile::FileImage file;
  file.width = layout.width;
  file.height = layout.height;
  file.model = layout.colorPlanes == 1 ? ColourModel::kGrey : ColourModel::kRGB;
  file.colorChannels = layout.colorPlanes;
  file.extraChannels = layout.extraPlanes;
  file.bitsPerSample = layout.depth;
  file.extraSampleKinds.assign(size_t(layout.extraPlanes), imagefile::kExtraUnassociatedAlpha);
  const auto* bytes = static_cast<const uint8_t*>(samples);
  file.data = hostkit::PixelRows(file.RowBytes(), file.height);
  std::memcpy(file.data.data(), bytes, layout.ByteCount());
  return file;
}

}  // namespace areafill_py
