// The conversion between the samples a file image stores and the host image handed to the
// filter: its mode from the table of image modes, the 16-bit scale of the host kit, CMYK ink at
// 8 bits and CIELab's signed a and b.
#pragma once

#include <cstdint>
#include <string>

#include "hostkit/host_image.h"
#include "imagefile/image_io.h"

namespace imagefile {

// The host image mode (plugInMode…) of a file image's model and depth, from the table of image
// modes (ImageModeOf), or -1 for none.
int16_t HostModeOf(const FileImage& image);

// Converts a file image into the host's scale in `*host`: planes = colour + extra channels,
// the depth of the file, the mode of HostModeOf. 8-bit CMYK ink k is handed as 255 − k;
// 16-bit values v as (v × 32768 + 32767) ÷ 65535 (hostkit::FileToHost16), CMYK ink not inverted;
// 8-bit Lab a and b as a + 128 and b + 128; 16-bit Lab a and b (signed s) as the 16-bit rule of s +
// 32768; extra channels as stored (16-bit by the 16-bit rule); floats as stored. Returns true, or
// false with `*error` set when memory is short or the image is malformed.
bool ToHostImage(const FileImage& file, hostkit::HostImage* host, std::string* error);

// Converts the filter's result back into the file's samples: `*result` becomes `original`
// with each sample replaced by the inverse rule of ToHostImage applied to `filtered`. A 16-bit
// sample whose host value equals the one ToHostImage made from `original` keeps its original
// file value exactly; host values above 32768 become the largest file value (65535, or 32767
// for Lab a and b); otherwise v = (h × 65535 + 16384) ÷ 32768 (hostkit::RestoreFile16).
// `filtered` must have the
// width, height, planes, depth and mode that ToHostImage gives `original`.
// Returns true, or false with `*error` set when the shapes differ or memory is short.
bool FromHostImage(const hostkit::HostImage& filtered, const FileImage& original, FileImage* result,
                   std::string* error);

}  // namespace imagefile
