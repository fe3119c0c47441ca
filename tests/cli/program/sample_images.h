// Image files for the program's tests: the layouts the program accepts, written with libpng and
// libtiff (through image_files.h), read back with the host's own reader, and the host-scale
// rules of the command line written out independently of the code under test.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "imagefile/image_io.h"

enum class Kind { Grey, RGB, CMYK, Lab };

struct FileLayout {
  const char* name;
  Kind kind;
  int extra;  // extra channels (alpha first)
  int bits;   // 8, 16 or 32 (float)
  bool png;
  uint16_t compression = 1;  // TIFF only

  int Colour() const { return kind == Kind::Grey ? 1 : kind == Kind::CMYK ? 4 : 3; }
  int Samples() const { return Colour() + extra; }
  std::string Extension() const { return png ? ".png" : ".tif"; }
  // The image mode the host must hand the filter.
  int HostMode() const;
};

// All layouts the program reads, one of each kind of file.
std::vector<FileLayout> AllLayouts();

// Writes `data` (interleaved, native byte order) as a file of `layout`.
void WriteImageFile(const std::string& path, const FileLayout& layout, int width, int height,
                    const std::vector<uint8_t>& data);
// A grey 8-bit PNG mask.
void WriteMask(const std::string& path, int width, int height, const std::vector<uint8_t>& bytes);

// Reads a file with the host's reader; an unreadable file fails the test and gives an empty one.
imagefile::FileImage ReadImageFile(const std::string& path);

// Sample `index` of 8- or 16-bit data, and of float data.
uint32_t SampleAt(const std::vector<uint8_t>& data, int bits, size_t index);
float FloatAt(const std::vector<uint8_t>& data, size_t index);
void PutSample(std::vector<uint8_t>* data, int bits, size_t index, uint32_t value);

// The host value handed over for file value `v` of `channel`, and the file value written back
// for host value `h` when the original file value was `original`.
uint32_t ExpectedHostValue(const FileLayout& layout, int channel, uint32_t v);
uint32_t ExpectedFileValue(const FileLayout& layout, int channel, uint32_t h, uint32_t original);

// The host's masking of one sample: (filtered × m + original × (255 − m) + 127) ÷ 255.
inline uint32_t Masked(uint32_t filtered, uint32_t original, uint32_t m) {
  return (filtered * m + original * (255 - m) + 127) / 255;
}
