// Samples as a program stores them (interleaved rows of 8-bit, 16-bit 0..65535 or 32-bit float
// 0..1 samples, grey or RGB with extra planes after the colour) handed to the filter as a host
// image, and the filter's result taken back under the 16-bit write-back rule.
#pragma once

#include <cstdint>
#include <string>

#include "hostkit/host_image.h"

namespace hostkit {

struct StoredLayout {
  int32_t width = 0;
  int32_t height = 0;
  int colorPlanes = 3;  // 1 grey, 3 RGB
  int extraPlanes = 0;  // alpha and any further planes, after the colour
  int depth = 8;        // bits per sample: 8, 16 or 32

  int Planes() const { return colorPlanes + extraPlanes; }
  size_t ByteCount() const {
    return size_t(width) * size_t(height) * size_t(Planes()) * size_t(depth / 8);
  }
};

// "" when `layout` can be handed to the filter, else what is wrong, for example
// "16-bit samples with 2 colour planes cannot be handed to the filter".
std::string CheckStoredLayout(const StoredLayout& layout);

// The host image of `samples` (layout.ByteCount() bytes, which CheckStoredLayout accepted):
// 16-bit samples v become (v × 32768 + 32767) ÷ 65535 on every plane, 8-bit and float ones go
// as they are. Throws std::bad_alloc when memory is short.
HostImage StoredToHost(const StoredLayout& layout, const void* samples);

// Writes the filter's result `filtered` (made by StoredToHost from `original`) into `out`, of
// layout.ByteCount() bytes (it may be `original` itself): a 16-bit sample that the filter left
// as it was handed keeps its stored value exactly, a changed one is rescaled to 0..65535;
// 8-bit and float samples are copied.
void HostToStored(const HostImage& filtered, const StoredLayout& layout, const void* original,
                  void* out);

}  // namespace hostkit
