// The rules every host applies the same way when it hands an image to the filter: the largest
// image side, the 16-bit sample scale and its exact write-back, and the filter area and masking
// that follow from a selection mask. The command-line host and the Python module both use them,
// so the same file and the same array give the same pixels.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "filter/host/filter_record.h"
#include "hostkit/filter_host.h"

namespace hostkit {

// The largest width or height a host hands over: the interface's rectangles are 16-bit.
inline constexpr int32_t kMaxImageSide = 32767;

// "" when width × height is a size a host can hand over, else what is wrong, for example
// "image is 40000 pixels wide; the largest supported is 32767".
std::string CheckImageSize(int64_t width, int64_t height);

// Reads a colour written "#rrggbb" (hexadecimal digits, either case) into *rgb. Returns false,
// leaving *rgb as it was, for anything else.
bool ParseHexColour(const std::string& text, std::array<uint8_t, 3>* rgb);

// The 16-bit scale rules: a stored value 0..65535 to the host's 0..32768 and back (host values
// above 32768 give 65535). FileToHost16(v) is (v × 32768 + 32767) ÷ 65535: for v = 2k that is
// k + (k + 32767) ÷ 65535 = k, for v = 2k + 1 it is k + 1 + k ÷ 65535 = k + 1, so it is
// (v + 1) ÷ 2, which a loop over whole rows turns into vector code.
inline uint16_t FileToHost16(uint32_t v) { return uint16_t((v + 1u) >> 1); }
inline uint16_t HostToFile16(uint32_t h) {
  return h >= 32768u ? uint16_t(65535) : uint16_t((h * 65535u + 16384u) >> 15);
}

// The write-back of one 16-bit sample: when the filter returned `h` exactly as it was handed
// (FileToHost16(original)), the stored value stays `original` bit for bit; otherwise it is
// HostToFile16(h). Without this, every untouched sample would drift by the scale's rounding.
inline uint16_t RestoreFile16(uint16_t h, uint16_t original) {
  return h == FileToHost16(original) ? original : HostToFile16(h);
}

// The bounding box of the mask bytes above 0 in a width × height mask (rows top to bottom),
// or nothing when no byte is.
std::optional<Rect> SelectionBounds(const std::vector<uint8_t>& mask, int32_t width,
                                    int32_t height);

// A mask whose only values are 0 and 1 (a boolean array saved as bytes) would select nothing
// that the filter fills; it means 0 and 255. Widens such a mask (with at least one 1) and
// returns true, so that the host can say so; any other mask keeps its meaning.
bool WidenZeroOneMask(std::vector<uint8_t>* mask);

// Makes `mask` (one byte per pixel of a width × height image) the run's selection: the filter
// area becomes the mask's bounding box, and the host confines the output to the mask unless
// `raw`. Returns false, leaving `run` unchanged, when no mask byte is above 0.
bool SelectArea(RunOptions* run, std::vector<uint8_t> mask, int32_t width, int32_t height,
                bool raw);

}  // namespace hostkit
