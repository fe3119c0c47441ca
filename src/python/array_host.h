// The Python module's arrays as a host hands them to the filter: an H×W×C array of uint8,
// uint16 (0..65535) or float32 (0..1) samples becomes a grey or RGB host image (alpha as its
// extra plane) under the same rules as the command-line host's PNG and TIFF files, and back.
// Nothing here knows Python; the bindings check dtypes and shapes and hand over raw samples.
#pragma once

#include <cstdint>
#include <string>

#include "cli/image_io.h"
#include "hostkit/host_image.h"

namespace areafill_py {

// The shape of an image array: C-contiguous rows of width × channels samples.
struct ArrayLayout {
  int32_t height = 0;
  int32_t width = 0;
  int channels = 1;  // 1 grey, 2 grey + alpha, 3 RGB, 4 RGBA
  int depth = 8;     // bits per sample: 8 and 16 (unsigned), 32 (float)

  size_t SampleCount() const { return size_t(height) * size_t(width) * size_t(channels); }
  size_t ByteCount() const { return SampleCount() * size_t(depth / 8); }
};

// "" when `layout` is an image a host can hand over, else what is wrong, for example
// "expected 1, 2, 3 or 4 channels (grey, grey+alpha, RGB, RGBA), got 5".
std::string CheckLayout(const ArrayLayout& layout);

// The host image for `samples` laid out as `layout` (which CheckLayout accepted): grey modes
// for 1 and 2 channels, RGB modes for 3 and 4, the last channel of 2 and 4 an extra plane.
// 16-bit samples v become (v × 32768 + 32767) ÷ 65535 on every plane, the others go as they
// are. Throws std::bad_alloc when memory is short.
hostkit::HostImage ArrayToHost(const ArrayLayout& layout, const void* samples);

// Writes the filter's result `filtered` (made by ArrayToHost from `original`) into `out`, an
// array of `layout`'s shape: 16-bit samples that the filter left as handed keep their
// original values exactly, changed ones are rescaled to 0..65535; 8-bit and float samples
// are copied.
void HostToArray(const hostkit::HostImage& filtered, const ArrayLayout& layout,
                 const void* original, void* out);

// The array layout of a file image read by the command-line host's reader: grey or RGB with
// at most one extra channel. Returns "" or what keeps it from being an array, for example
// "CMYK images cannot be read into an array".
std::string ArrayLayoutOfFile(const areafill_cli::FileImage& file, ArrayLayout* layout);

// A file image holding `samples` of `layout`, its extra channel (if any) unassociated alpha,
// for the command-line host's writer. Throws std::bad_alloc when memory is short.
areafill_cli::FileImage FileImageOfArray(const ArrayLayout& layout, const void* samples);

}  // namespace areafill_py
