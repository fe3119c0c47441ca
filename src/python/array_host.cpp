// Conversion between the Python module's image arrays and host images, and between arrays and
// the command-line host's file images.
#include "python/array_host.h"

#include <cstring>

#include "filter/host/filter_record.h"
#include "hostkit/host_rules.h"

namespace areafill_py {
namespace {

int16_t _HostModeOf(const ArrayLayout& layout) {
  const bool grey = layout.channels <= 2;
  switch (layout.depth) {
    case 8:
      return grey ? plugInModeGrayScale : plugInModeRGBColor;
    case 16:
      return grey ? plugInModeGray16 : plugInModeRGB48;
    default:
      return grey ? plugInModeGray32 : plugInModeRGB96;
  }
}

}  // namespace

std::string CheckLayout(const ArrayLayout& layout) {
  if (layout.channels < 1 || layout.channels > 4) {
    return "expected 1, 2, 3 or 4 channels (grey, grey+alpha, RGB, RGBA), got " +
           std::to_string(layout.channels);
  }
  if (layout.depth != 8 && layout.depth != 16 && layout.depth != 32)
    return "expected 8-, 16- or 32-bit samples";
  return hostkit::CheckImageSize(layout.width, layout.height);
}

hostkit::HostImage ArrayToHost(const ArrayLayout& layout, const void* samples) {
  hostkit::HostImage host =
      hostkit::HostImage::Make(layout.width, layout.height, int16_t(layout.channels),
                               int16_t(layout.depth), _HostModeOf(layout));
  if (layout.depth != 16) {
    std::memcpy(host.pixels.data(), samples, layout.ByteCount());
    return host;
  }
  const auto* from = static_cast<const uint16_t*>(samples);
  uint8_t* to = host.pixels.data();
  for (size_t i = 0; i < layout.SampleCount(); ++i, to += 2) {
    const uint16_t h = hostkit::FileToHost16(from[i]);
    std::memcpy(to, &h, 2);
  }
  return host;
}

void HostToArray(const hostkit::HostImage& filtered, const ArrayLayout& layout,
                 const void* original, void* out) {
  if (layout.depth != 16) {
    std::memcpy(out, filtered.pixels.data(), layout.ByteCount());
    return;
  }
  const auto* before = static_cast<const uint16_t*>(original);
  auto* after = static_cast<uint16_t*>(out);
  const uint8_t* from = filtered.pixels.data();
  for (size_t i = 0; i < layout.SampleCount(); ++i, from += 2) {
    uint16_t h;
    std::memcpy(&h, from, 2);
    after[i] = hostkit::RestoreFile16(h, before[i]);
  }
}

std::string ArrayLayoutOfFile(const areafill_cli::FileImage& file, ArrayLayout* layout) {
  using areafill_cli::ColorModel;
  if (file.model == ColorModel::CMYK) return "CMYK images cannot be read into an array";
  if (file.model == ColorModel::Lab) return "Lab images cannot be read into an array";
  if (file.extraChannels > 1) {
    return "images with " + std::to_string(file.extraChannels) +
           " extra channels cannot be read into an array (one alpha channel at most)";
  }
  layout->height = file.height;
  layout->width = file.width;
  layout->channels = file.colorChannels + file.extraChannels;
  layout->depth = file.bitsPerSample;
  return "";
}

areafill_cli::FileImage FileImageOfArray(const ArrayLayout& layout, const void* samples) {
  areafill_cli::FileImage file;
  file.width = layout.width;
  file.height = layout.height;
  file.model =
      layout.channels <= 2 ? areafill_cli::ColorModel::Gray : areafill_cli::ColorModel::RGB;
  file.colorChannels = layout.channels <= 2 ? 1 : 3;
  file.extraChannels = layout.channels % 2 == 0 ? 1 : 0;
  file.bitsPerSample = layout.depth;
  if (file.extraChannels) file.extraSampleKinds = {areafill_cli::kExtraUnassociatedAlpha};
  const auto* bytes = static_cast<const uint8_t*>(samples);
  file.data.assign(bytes, bytes + layout.ByteCount());
  return file;
}

}  // namespace areafill_py
