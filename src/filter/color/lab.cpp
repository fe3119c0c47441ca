// Lab rows to RGB and back, in place. This Lab is the filter's own opponent-colour space, not
// the CIE one: L is the mean of R, G and B through a power curve, a the red–green difference and
// b the difference between the red–green mean and blue, with a and b centred on mid-scale.
//
// Precision: each quantity is a float. Every step here has a double constant, so each is worked
// in double (powers as exp(exponent × ln(base)) in double) from its float inputs and rounded to
// float once, when the quantity is kept.
#include <cmath>
#include <cstddef>

#include "filter/color/color_convert.h"
#include "filter/color/sample_store.h"

namespace {

constexpr double kThird = 0.3333333333333333;
constexpr double kMinusTwoThirds = -0.6666666666666666;

// What differs between the 8-bit and the 16-bit scale.
struct LabScale {
  double neutral;     // a and b of a grey
  double lightToRGB;  // scales the lightness curve to the sample range
  double rgbToLight;  // scales the inverse curve to the sample range
  float max;
};

constexpr LabScale kLab8 = {128.0, 0.21190331370015586, 3.032, 255.0f};
constexpr LabScale kLab16 = {16384.0, 0.054410153680922994, 8.0002901, 32768.0f};

struct Triple {
  float x, y, z;
};

double _Power(double base, double exponent) { return std::exp(exponent * std::log(base)); }

Triple _LabPixelToRGB(int32_t L, int32_t a, int32_t b, const LabScale& scale) {
  float v = static_cast<float>((_Power(L + 0.05, 1.28) - 0.216113355) * scale.lightToRGB);
  float alpha = static_cast<float>((a - scale.neutral) * 3.0);
  float beta = static_cast<float>((b - scale.neutral) * 1.2);
  // The + 0.5 makes the truncation on storing round to nearest.
  return Triple{static_cast<float>(v + 0.5 * alpha + beta * kThird + 0.5),
                static_cast<float>(v - 0.5 * alpha + beta * kThird + 0.5),
                static_cast<float>(v + beta * kMinusTwoThirds + 0.5)};
}

// Returns L, a, b.
Triple _RGBPixelToLab(int32_t R, int32_t G, int32_t B, const LabScale& scale) {
  float a = static_cast<float>((R - G) * 0.33333 + scale.neutral);
  float b = static_cast<float>(((R + G) * 0.5 - B) * 0.83333 + scale.neutral);
  float s = static_cast<float>((R + G + B + 1) * kThird);
  float L = static_cast<float>((_Power(s + 0.05, 0.8) - 0.09102821) * scale.rgbToLight);
  return Triple{L, a, b};
}

template <typename Sample>
void _LabRowToRGB(Sample* samples, int32_t count, const LabScale& scale) {
  for (ptrdiff_t i = 0; i < count; ++i) {
    Sample* pixel = samples + 3 * i;
    Triple rgb = _LabPixelToRGB(pixel[0], pixel[1], pixel[2], scale);
    pixel[0] = static_cast<Sample>(_ClipAndTruncate(rgb.x, scale.max));
    pixel[1] = static_cast<Sample>(_ClipAndTruncate(rgb.y, scale.max));
    pixel[2] = static_cast<Sample>(_ClipAndTruncate(rgb.z, scale.max));
  }
}

template <typename Sample>
void _RGBRowToLab(Sample* samples, int32_t count, const LabScale& scale) {
  for (ptrdiff_t i = 0; i < count; ++i) {
    Sample* pixel = samples + 3 * i;
    Triple lab = _RGBPixelToLab(pixel[0], pixel[1], pixel[2], scale);
    // L is truncated without clipping: it is at least 1 (8-bit) or 2 (16-bit) for any input and
    // at most the maximum for in-range input; even 16-bit samples up to 65535 keep it below
    // 65536, so the conversion is always defined.
    pixel[0] = static_cast<Sample>(static_cast<int32_t>(lab.x));
    pixel[1] = static_cast<Sample>(_ClipAndTruncate(lab.y, scale.max));
    pixel[2] = static_cast<Sample>(_ClipAndTruncate(lab.z, scale.max));
  }
}

}  // namespace

void _ConvertLAB8toRGB24(void* row, int32_t count) {
  _LabRowToRGB(static_cast<uint8_t*>(row), count, kLab8);
}

void _ConvertLAB16toRGB48(void* row, int32_t count) {
  _LabRowToRGB(static_cast<uint16_t*>(row), count, kLab16);
}

void _ConvertRGB24toLAB8(void* row, int32_t count) {
  _RGBRowToLab(static_cast<uint8_t*>(row), count, kLab8);
}

void _ConvertRGB48toLAB16(void* row, int32_t count) {
  _RGBRowToLab(static_cast<uint16_t*>(row), count, kLab16);
}
