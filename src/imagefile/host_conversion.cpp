// The conversion between the samples a file stores and the host's sample scale: the mode from
// the table of image modes, 16-bit rescaling between 0..65535 and 0..32768 by the host kit's
// rules, CMYK ink inversion at 8 bits, and the offset that makes CIELab's signed a and b
// unsigned. Write-back restores untouched 16-bit samples exactly.
#include "imagefile/host_conversion.h"

#include <cstring>
#include <new>
#include <vector>

#include "filter/host/image_modes.h"
#include "hostkit/host_rules.h"

namespace imagefile {
namespace {

// How one channel's samples map to the host: as stored, as ink (8-bit CMYK colour channels),
// or as signed values offset to unsigned (CIELab a and b).
enum class ChannelRule { Plain, Ink, Signed };

ChannelRule _RuleOf(const FileImage& file, int channel) {
  if (channel >= file.colorChannels) return ChannelRule::Plain;  // extra channels: as stored
  if (file.model == ColourModel::kCMYK) return ChannelRule::Ink;
  if (file.model == ColourModel::kLab && channel > 0) return ChannelRule::Signed;
  return ChannelRule::Plain;
}

std::vector<ChannelRule> _RulesOf(const FileImage& file) {
  std::vector<ChannelRule> rules;
  for (int c = 0; c < file.SamplesPerPixel(); ++c) rules.push_back(_RuleOf(file, c));
  return rules;
}

// 8-bit: ink k ↔ 255 − k, signed s ↔ s + 128 (the sign bit flipped); both are their own inverse.
uint8_t _Flip8(uint8_t v, ChannelRule rule) {
  if (rule == ChannelRule::Ink) return uint8_t(255 - v);
  if (rule == ChannelRule::Signed) return uint8_t(v ^ 0x80);
  return v;
}

// 16-bit: the host kit's one scale for every channel. Ink is not inverted. A signed sample s
// takes the scale as the unsigned s + 32768 (its sign bit flipped), on the way in and on the
// way back, so its largest host value gives back 32767 and an untouched one its own value.
constexpr uint16_t kSignBit16 = 0x8000;

uint16_t _ToHost16(uint16_t v, ChannelRule rule) {
  const uint16_t flip = rule == ChannelRule::Signed ? kSignBit16 : 0;
  return hostkit::FileToHost16(uint16_t(v ^ flip));
}

uint16_t _ToFile16(uint16_t h, uint16_t original, ChannelRule rule) {
  const uint16_t flip = rule == ChannelRule::Signed ? kSignBit16 : 0;
  return uint16_t(hostkit::RestoreFile16(h, uint16_t(original ^ flip)) ^ flip);
}

bool _Fail(std::string* error, const std::string& what) {
  if (error) *error = what;
  return false;
}

bool _Wellformed(const FileImage& file) {
  return HostModeOf(file) >= 0 && file.width > 0 && file.height > 0 &&
         file.data.size() == file.RowBytes() * size_t(file.height);
}

// Copies one row of `pixels` pixels between the file's and the host's samples at 8 or 32 bits,
// where the two scales differ only by the inversions of `rules` (8-bit CMYK ink, Lab a and b).
void _Row8Or32(const uint8_t* from, uint8_t* to, const FileImage& image,
               const std::vector<ChannelRule>& rules) {
  if (image.bitsPerSample == 32) {
    std::memcpy(to, from, image.RowBytes());
    return;
  }
  const int spp = image.SamplesPerPixel();
  for (int32_t x = 0; x < image.width; ++x)
    for (int c = 0; c < spp; ++c) *to++ = _Flip8(*from++, rules[size_t(c)]);
}

// Applies the 16-bit write-back to `count` pixels of `spp` samples.
void _Back16(const uint8_t* filtered, const uint8_t* original, uint8_t* out, size_t count,
             const ChannelRule* rules, int spp) {
  for (size_t i = 0; i < count; ++i) {
    for (int c = 0; c < spp; ++c, filtered += 2, original += 2, out += 2) {
      uint16_t h, v;
      std::memcpy(&h, filtered, 2);
      std::memcpy(&v, original, 2);
      v = _ToFile16(h, v, rules[c]);
      std::memcpy(out, &v, 2);
    }
  }
}

}  // namespace

int16_t HostModeOf(const FileImage& image) {
  if (image.model == ColourModel::kMultichannel) return -1;  // no file image is multichannel
  return ImageModeOf(image.model, image.bitsPerSample);
}

bool ToHostImage(const FileImage& file, hostkit::HostImage* host, std::string* error) {
  if (!_Wellformed(file)) return _Fail(error, "the image's description does not match its samples");
  try {
    const int spp = file.SamplesPerPixel();
    *host = hostkit::HostImage::Make(file.width, file.height, int16_t(spp),
                                     int16_t(file.bitsPerSample), HostModeOf(file));
    const std::vector<ChannelRule> rules = _RulesOf(file);
    for (int32_t y = 0; y < file.height; ++y) {
      const uint8_t* from = file.data.Rows(y);
      uint8_t* to = host->Row(y);
      if (file.bitsPerSample != 16) {
        _Row8Or32(from, to, file, rules);
      } else {
        for (int32_t x = 0; x < file.width; ++x) {
          for (int c = 0; c < spp; ++c, from += 2, to += 2) {
            uint16_t v;
            std::memcpy(&v, from, 2);
            v = _ToHost16(v, rules[size_t(c)]);
            std::memcpy(to, &v, 2);
          }
        }
      }
    }
    return true;
  } catch (const std::bad_alloc&) {
    return _Fail(error, "out of memory");
  }
}

bool FromHostImage(const hostkit::HostImage& filtered, const FileImage& original, FileImage* result,
                   std::string* error) {
  if (!_Wellformed(original)) {
    return _Fail(error, "the image's description does not match its samples");
  }
  if (filtered.width != original.width || filtered.height != original.height ||
      filtered.planes != original.SamplesPerPixel() || filtered.depth != original.bitsPerSample ||
      filtered.imageMode != HostModeOf(original) ||
      filtered.pixels.size() != original.data.size()) {
    return _Fail(error, "the filtered image does not match the image it was made from");
  }
  try {
    const int spp = original.SamplesPerPixel();
    const std::vector<ChannelRule> rules = _RulesOf(original);
    FileImage out;
    out.width = original.width;
    out.height = original.height;
    out.model = original.model;
    out.colorChannels = original.colorChannels;
    out.extraChannels = original.extraChannels;
    out.bitsPerSample = original.bitsPerSample;
    out.extraSampleKinds = original.extraSampleKinds;
    out.format = original.format;
    out.tiffCompression = original.tiffCompression;
    out.interlaced = original.interlaced;
    out.pages = original.pages;
    out.metadata = original.metadata;  // what the file carries besides its pixels goes along
    out.sourcePath = original.sourcePath;
    out.page = original.page;
    out.jpegQuality = original.jpegQuality;
    out.data.Reset(original.RowBytes(), original.height);
    out.data.Grow(original.height);
    for (int32_t y = 0; y < original.height; ++y) {
      const uint8_t* from = filtered.Row(y);
      uint8_t* to = out.data.Rows(y);
      if (original.bitsPerSample != 16) {
        _Row8Or32(from, to, original, rules);
      } else {
        _Back16(from, original.data.Rows(y), to, size_t(original.width), rules.data(), spp);
      }
    }
    *result = std::move(out);
    return true;
  } catch (const std::bad_alloc&) {
    return _Fail(error, "out of memory");
  }
}

}  // namespace imagefile
