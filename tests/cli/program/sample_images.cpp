// Image files for the program's tests; see sample_images.h.
#include "sample_images.h"

#include <gtest/gtest.h>
#include <png.h>
#include <tiffio.h>

#include <cstring>

#include "image_files.h"

int FileLayout::HostMode() const {
  switch (kind) {
    case Kind::Grey:
      return bits == 8 ? 1 : bits == 16 ? 10 : 17;
    case Kind::RGB:
      return bits == 8 ? 3 : bits == 16 ? 11 : 16;
    case Kind::CMYK:
      return bits == 8 ? 4 : 13;
    case Kind::Lab:
      return bits == 8 ? 9 : 12;
  }
  return -1;
}

std::vector<FileLayout> AllLayouts() {
  constexpr uint16_t kLzw = COMPRESSION_LZW, kDeflate = COMPRESSION_ADOBE_DEFLATE;
  return {
      {"PngGrey8", Kind::Grey, 0, 8, true},
      {"PngGrey16", Kind::Grey, 0, 16, true},
      {"PngGreyAlpha8", Kind::Grey, 1, 8, true},
      {"PngGreyAlpha16", Kind::Grey, 1, 16, true},
      {"PngRGB8", Kind::RGB, 0, 8, true},
      {"PngRGB16", Kind::RGB, 0, 16, true},
      {"PngRGBA8", Kind::RGB, 1, 8, true},
      {"PngRGBA16", Kind::RGB, 1, 16, true},
      {"TiffGrey8", Kind::Grey, 0, 8, false},
      {"TiffGrey16Lzw", Kind::Grey, 0, 16, false, kLzw},
      {"TiffGreyFloat", Kind::Grey, 0, 32, false},
      {"TiffRGB8Deflate", Kind::RGB, 0, 8, false, kDeflate},
      {"TiffRGB16", Kind::RGB, 0, 16, false},
      {"TiffRGB8TwoExtras", Kind::RGB, 2, 8, false},
      {"TiffRGBFloat", Kind::RGB, 0, 32, false},
      {"TiffRGBAFloatLzw", Kind::RGB, 1, 32, false, kLzw},
      {"TiffCMYK8", Kind::CMYK, 0, 8, false},
      {"TiffCMYK8AlphaLzw", Kind::CMYK, 1, 8, false, kLzw},
      {"TiffCMYK16", Kind::CMYK, 0, 16, false},
      {"TiffCMYK16AlphaDeflate", Kind::CMYK, 1, 16, false, kDeflate},
      {"TiffLab8", Kind::Lab, 0, 8, false},
      {"TiffLab16", Kind::Lab, 0, 16, false},
      {"TiffLab16AlphaLzw", Kind::Lab, 1, 16, false, kLzw},
  };
}

void WriteImageFile(const std::string& path, const FileLayout& layout, int width, int height,
                    const std::vector<uint8_t>& data) {
  if (layout.png) {
    const int type = layout.kind == Kind::Grey
                         ? (layout.extra ? PNG_COLOR_TYPE_GRAY_ALPHA : PNG_COLOR_TYPE_GRAY)
                         : (layout.extra ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB);
    WriteTestPng(path, width, height, type, layout.bits, data);
    return;
  }
  TestTiff t;
  t.width = width;
  t.height = height;
  t.photometric = layout.kind == Kind::Grey   ? PHOTOMETRIC_MINISBLACK
                  : layout.kind == Kind::RGB  ? PHOTOMETRIC_RGB
                  : layout.kind == Kind::CMYK ? PHOTOMETRIC_SEPARATED
                                              : PHOTOMETRIC_CIELAB;
  t.samples = uint16_t(layout.Samples());
  t.bits = uint16_t(layout.bits);
  t.sampleFormat = layout.bits == 32 ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT;
  t.compression = layout.compression;
  for (int e = 0; e < layout.extra; ++e)
    t.extraSamples.push_back(e == 0 ? EXTRASAMPLE_UNASSALPHA : EXTRASAMPLE_UNSPECIFIED);
  WriteTestTiff(path, t, data);
}

void WriteMask(const std::string& path, int width, int height, const std::vector<uint8_t>& bytes) {
  WriteTestPng(path, width, height, PNG_COLOR_TYPE_GRAY, 8, bytes);
}

imagefile::FileImage ReadImageFile(const std::string& path) {
  imagefile::FileImage image;
  std::string error;
  if (!imagefile::ReadImage(path, &image, &error)) {
    ADD_FAILURE() << error;
    return {};
  }
  return image;
}

uint32_t SampleAt(const std::vector<uint8_t>& data, int bits, size_t index) {
  if (bits == 8) return data.at(index);
  uint16_t v;
  std::memcpy(&v, &data.at(2 * index), 2);
  return v;
}

float FloatAt(const std::vector<uint8_t>& data, size_t index) {
  float v;
  std::memcpy(&v, &data.at(4 * index), 4);
  return v;
}

void PutSample(std::vector<uint8_t>* data, int bits, size_t index, uint32_t value) {
  if (bits == 8) {
    data->at(index) = uint8_t(value);
  } else {
    const uint16_t v = uint16_t(value);
    std::memcpy(&data->at(2 * index), &v, 2);
  }
}

namespace {

bool IsInk(const FileLayout& l, int channel) { return l.kind == Kind::CMYK && channel < 4; }
bool IsSigned(const FileLayout& l, int channel) {
  return l.kind == Kind::Lab && (channel == 1 || channel == 2);
}

}  // namespace

uint32_t ExpectedHostValue(const FileLayout& l, int channel, uint32_t v) {
  if (l.bits == 8) {
    if (IsInk(l, channel)) return 255 - v;
    if (IsSigned(l, channel)) return uint32_t(int(int8_t(uint8_t(v))) + 128);
    return v;
  }
  uint32_t u = IsSigned(l, channel) ? uint32_t(int(int16_t(uint16_t(v))) + 32768) : v;
  return (u * 32768 + 32767) / 65535;
}

uint32_t ExpectedFileValue(const FileLayout& l, int channel, uint32_t h, uint32_t original) {
  if (l.bits == 8) {
    h &= 0xFF;
    if (IsInk(l, channel)) return 255 - h;
    if (IsSigned(l, channel)) return uint8_t(int8_t(int(h) - 128));
    return h;
  }
  if (h == ExpectedHostValue(l, channel, original)) return original;
  uint32_t u = h > 32768 ? 65535 : (h * 65535 + 16384) / 32768;
  if (IsSigned(l, channel)) return uint16_t(int16_t(int(u) - 32768));
  return u;
}
