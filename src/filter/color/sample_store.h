// Storing a computed colour value as a sample: shared by the CMYK and Lab row conversions.
#pragma once

#include <cstdint>

constexpr float kMaxSample8 = 255.0f;
constexpr float kMaxSample16 = 32768.0f;

// Clips to 0..max, then truncates toward zero. A NaN, which no valid input produces, stores 0
// rather than reaching the undefined float-to-integer conversion.
inline int32_t _ClipAndTruncate(float value, float max) {
  if (!(value > 0.0f)) return 0;
  if (value > max) return static_cast<int32_t>(max);
  return static_cast<int32_t>(value);
}

inline uint8_t _StoreSample8(float value) {
  return static_cast<uint8_t>(_ClipAndTruncate(value, kMaxSample8));
}

inline uint16_t _StoreSample16(float value) {
  return static_cast<uint16_t>(_ClipAndTruncate(value, kMaxSample16));
}
