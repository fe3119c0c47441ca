// CMYK rows to RGB and back, in place: a fixed ink model with a grey-component step. The 8-bit
// pair adds a colour correction (cyan and yellow weights, a pull toward the grey mean) that the
// 16-bit pair lacks.
//
// Precision: each quantity is a float. A step whose formula has a double constant is worked in
// double from its float inputs and rounded to float once, when the quantity is kept; every
// other step is float throughout. The casts below mark exactly where that rounding happens.
#include <algorithm>
#include <cstddef>

#include "filter/color/color_convert.h"
#include "filter/color/sample_store.h"

namespace {

constexpr double kInv255 = 0.00392156862745098;   // 1/255, double
constexpr float kInv255Single = 0.003921569f;     // 1/255, float
constexpr float kInv32768Single = 3.0517578e-5f;  // 1/32768, float
constexpr double kInv32768 = 3.0517578125e-5;     // 1/32768, double
constexpr double kBlackFloor8 = 0.0001;           // keeps 1 − k away from 0
constexpr double kBlackFloor16 = 0.001;
constexpr double kBlackShare8 = 0.9302325581395349;  // 40/43 of the grey component goes to K
constexpr double kCyanShare8 = 0.9090909090909091;   // 10/11: cyan ink is weaker

struct RGBf {
  float r, g, b;
};

struct CMYKf {
  float c, m, y, k;
};

// How much of the paper one ink covers together with black (v and k are 0..1 ink amounts),
// scaled to `full`.
float _Coverage(float v, float k, float full) {
  float covered = v * (1.0f - k) + k;
  return covered >= 1.0f ? full : covered * full;
}

// 8-bit samples are 255 − ink.
RGBf _CMYK8PixelToRGB(uint8_t C, uint8_t M, uint8_t Y, uint8_t K) {
  float c = static_cast<float>((255 - C) * kInv255);
  float m = static_cast<float>((255 - M) * kInv255);
  float y = static_cast<float>((255 - Y) * kInv255);
  float k = static_cast<float>((255 - K) * kInv255 + kBlackFloor8);

  float cc = _Coverage(c, k, 255.0f);
  float mc = _Coverage(m, k, 255.0f);
  float yc = _Coverage(y, k, 255.0f);

  // Raw channels: red boosted, blue damped, to match the look of the inks.
  float r0 = static_cast<float>((255.0 - cc) * 1.15);
  float g0 = 255.0f - mc;
  float b0 = static_cast<float>((255.0 - yc) * 0.85);

  // Pull each channel part of the way toward the grey mean.
  float mean = (g0 + r0 + b0) * 0.33333334f;
  return RGBf{static_cast<float>(0.8 * r0 + 0.2 * mean), static_cast<float>(0.6 * g0 + 0.4 * mean),
              static_cast<float>(0.8 * b0 + 0.2 * mean)};
}

CMYKf _RGB24PixelToCMYK(uint8_t R, uint8_t G, uint8_t B) {
  float c0 = static_cast<float>(255 - R) * kInv255Single;
  float m0 = static_cast<float>(255 - G) * kInv255Single;
  float y0 = static_cast<float>(255 - B) * kInv255Single;
  float k = static_cast<float>(std::min({c0, m0, y0}) * kBlackShare8 + kBlackFloor8);

  float q = 1.0f / (1.0f - k);
  return CMYKf{static_cast<float>((1.0 - (static_cast<double>(c0) - k) * q) * 255.0 * kCyanShare8),
               (1.0f - (m0 - k) * q) * 255.0f, (1.0f - (y0 - k) * q) * 255.0f, (1.0f - k) * 255.0f};
}

// 16-bit samples are the ink itself, 0..32768.
RGBf _CMYK16PixelToRGB(uint16_t C, uint16_t M, uint16_t Y, uint16_t K) {
  float c = static_cast<float>(C) * kInv32768Single;
  float m = static_cast<float>(M) * kInv32768Single;
  float y = static_cast<float>(Y) * kInv32768Single;
  float k = static_cast<float>(K * kInv32768 + kBlackFloor16);
  return RGBf{32768.0f - _Coverage(c, k, 32768.0f), 32768.0f - _Coverage(m, k, 32768.0f),
              32768.0f - _Coverage(y, k, 32768.0f)};
}

CMYKf _RGB48PixelToCMYK(uint16_t R, uint16_t G, uint16_t B) {
  float c0 = (32768.0f - static_cast<float>(R)) / 32768.0f;
  float m0 = (32768.0f - static_cast<float>(G)) / 32768.0f;
  float y0 = (32768.0f - static_cast<float>(B)) / 32768.0f;
  float k = static_cast<float>(std::min({c0, m0, y0}) + kBlackFloor16);

  float q = 1.0f / (1.0f - k);
  return CMYKf{(c0 - k) * q * 32768.0f, (m0 - k) * q * 32768.0f, (y0 - k) * q * 32768.0f,
               k * 32768.0f};
}

}  // namespace

// Pixel i is read from samples 4i..4i+3 and written to 3i..3i+2, first pixel first: a write
// never reaches a pixel that is still to be read.
void _ConvertCMYK8toRGB24(void* row, int32_t count) {
  uint8_t* samples = static_cast<uint8_t*>(row);
  for (ptrdiff_t i = 0; i < count; ++i) {
    const uint8_t* in = samples + 4 * i;
    RGBf rgb = _CMYK8PixelToRGB(in[0], in[1], in[2], in[3]);
    uint8_t* out = samples + 3 * i;
    out[0] = _StoreSample8(rgb.r);
    out[1] = _StoreSample8(rgb.g);
    out[2] = _StoreSample8(rgb.b);
  }
}

void _ConvertCMYK16toRGB48(void* row, int32_t count) {
  uint16_t* samples = static_cast<uint16_t*>(row);
  for (ptrdiff_t i = 0; i < count; ++i) {
    const uint16_t* in = samples + 4 * i;
    RGBf rgb = _CMYK16PixelToRGB(in[0], in[1], in[2], in[3]);
    uint16_t* out = samples + 3 * i;
    out[0] = _StoreSample16(rgb.r);
    out[1] = _StoreSample16(rgb.g);
    out[2] = _StoreSample16(rgb.b);
  }
}

// Pixel i is read from samples 3i..3i+2 and written to 4i..4i+3, last pixel first, for the
// same reason the other way.
void _ConvertRGB24toCMYK8(void* row, int32_t count) {
  uint8_t* samples = static_cast<uint8_t*>(row);
  for (ptrdiff_t i = ptrdiff_t{count} - 1; i >= 0; --i) {
    const uint8_t* in = samples + 3 * i;
    CMYKf cmyk = _RGB24PixelToCMYK(in[0], in[1], in[2]);
    uint8_t* out = samples + 4 * i;
    out[0] = _StoreSample8(cmyk.c);
    out[1] = _StoreSample8(cmyk.m);
    out[2] = _StoreSample8(cmyk.y);
    out[3] = _StoreSample8(cmyk.k);
  }
}

void _ConvertRGB48toCMYK16(void* row, int32_t count) {
  uint16_t* samples = static_cast<uint16_t*>(row);
  for (ptrdiff_t i = ptrdiff_t{count} - 1; i >= 0; --i) {
    const uint16_t* in = samples + 3 * i;
    CMYKf cmyk = _RGB48PixelToCMYK(in[0], in[1], in[2]);
    uint16_t* out = samples + 4 * i;
    out[0] = _StoreSample16(cmyk.c);
    out[1] = _StoreSample16(cmyk.m);
    out[2] = _StoreSample16(cmyk.y);
    out[3] = _StoreSample16(cmyk.k);
  }
}
