// Image and mask files for the command-line host: PNG and TIFF reading and writing, and the
// conversion between the samples a file stores and the host's sample scale handed to the filter.
// Every function reports failure as one line of text naming the file; none throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "hostkit/host_image.h"
#include "hostkit/host_rules.h"

namespace areafill_cli {

enum class ColorModel { Gray, RGB, CMYK, Lab };
enum class FileFormat { PNG, TIFF };

// TIFF ExtraSamples values (the same numbers as the TIFF tag).
inline constexpr uint16_t kExtraUnspecified = 0;
inline constexpr uint16_t kExtraAssociatedAlpha = 1;
inline constexpr uint16_t kExtraUnassociatedAlpha = 2;

// The largest width or height read or written: the limit every host shares.
using hostkit::kMaxImageSide;

// An image as its file stores it: samples interleaved (colour channels, then extra channels),
// rows packed without padding, 16-bit and float samples in the machine's byte order.
// 8-bit CMYK holds ink amounts (0 = no ink); CIELab a and b are signed (int8 or int16).
struct FileImage {
  int32_t width = 0;
  int32_t height = 0;
  ColorModel model = ColorModel::Gray;
  int colorChannels = 1;  // 1 grey, 3 RGB and Lab, 4 CMYK
  int extraChannels = 0;  // alpha and other extra channels, after the colour channels
  int bitsPerSample = 8;  // 8 or 16 (unsigned integers), or 32 (IEEE float, grey and RGB only)
  // One ExtraSamples value per extra channel; PNG alpha reads as kExtraUnassociatedAlpha.
  std::vector<uint16_t> extraSampleKinds;
  FileFormat format = FileFormat::PNG;  // the format it was read from
  // The TIFF Compression tag it was read with; 0 when it came from a PNG.
  uint16_t tiffCompression = 0;
  std::vector<uint8_t> data;

  int SamplesPerPixel() const { return colorChannels + extraChannels; }
  size_t BytesPerSample() const { return size_t(bitsPerSample / 8); }
  size_t RowBytes() const { return size_t(width) * size_t(SamplesPerPixel()) * BytesPerSample(); }
};

// Reads the PNG or TIFF at `path` (recognised by its contents, not its name) into `image`.
// PNG: 8/16-bit grey, grey+alpha, RGB, RGBA (interlaced too; a tRNS colour key is ignored).
// TIFF, first image only: 8/16-bit grey (min-is-black), RGB, CMYK (separated, CMYK ink set)
// and CIELab, and 32-bit float grey and RGB, each with any extra channels; contiguous or
// separate planes; strips or tiles; any compression libtiff decodes.
// Returns true, or false with `*error` set to one line, for example "a.png: palette images
// are not supported"; `*image` is then unspecified.
bool ReadImage(const std::string& path, FileImage* image, std::string* error);

// Says whether `image` can be written to `path`, whose extension (.png, .tif, .tiff, any
// case) picks the format. PNG cannot hold CMYK, Lab, 32-bit float, more than one extra
// channel or premultiplied alpha. Writes nothing. Returns true, or false with `*error` set.
bool CanWrite(const FileImage& image, const std::string& path, std::string* error);

// Writes `image` to exactly `path` in the format its extension names, after the CanWrite
// checks. TIFF keeps the image's compression when it is none, LZW or deflate (otherwise, and
// for images from a PNG, deflate), with no predictor, contiguous planes, in strips, and the
// extra channels' ExtraSamples values. The file is written beside `path` and renamed onto it,
// so a failed write leaves an existing file as it was. Returns true, or false with `*error`.
bool WriteImage(const std::string& path, const FileImage& image, std::string* error);

// Reads a selection mask: an 8-bit or 16-bit grey PNG or TIFF without extra channels, of
// exactly `expectWidth` × `expectHeight` pixels. `*mask` receives one byte per pixel, rows
// top to bottom (16-bit values v become v >> 8). Returns true, or false with `*error` set, for
// example "m.png: mask is 10x5 but the image is 12x5".
bool ReadMask(const std::string& path, int32_t expectWidth, int32_t expectHeight,
              std::vector<uint8_t>* mask, std::string* error);

// The host image mode (plugInMode…) for a file image's model and depth, or -1 for none.
int16_t HostModeOf(const FileImage& image);

// Converts a file image into the host's scale in `*host`: planes = colour + extra channels,
// the depth of the file, the mode of HostModeOf. 8-bit CMYK ink k is handed as 255 − k;
// 16-bit values v as (v × 32768 + 32767) ÷ 65535, CMYK ink not inverted; 8-bit Lab a and b
// as a + 128 and b + 128; 16-bit Lab a and b (signed s) as the 16-bit rule of s + 32768; extra
// channels as stored (16-bit by the 16-bit rule); floats as stored.
// Returns true, or false with `*error` set when memory is short or the image is malformed.
bool ToHostImage(const FileImage& file, hostkit::HostImage* host, std::string* error);

// Converts the filter's result back into the file's samples: `*result` becomes `original`
// with each sample replaced by the inverse rule of ToHostImage applied to `filtered`. A 16-bit
// sample whose host value equals the one ToHostImage made from `original` keeps its original
// file value exactly; host values above 32768 become the largest file value (65535, or 32767
// for Lab a and b); otherwise v = (h × 65535 + 16384) ÷ 32768. `filtered` must have the
// width, height, planes, depth and mode that ToHostImage gives `original`.
// Returns true, or false with `*error` set when the shapes differ or memory is short.
bool FromHostImage(const hostkit::HostImage& filtered, const FileImage& original, FileImage* result,
                   std::string* error);

// The 16-bit scale rules, file value to host value and back (host values above 32768 give
// 65535), shared with the other hosts.
using hostkit::FileToHost16;
using hostkit::HostToFile16;

}  // namespace areafill_cli
