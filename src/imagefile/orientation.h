// Orientation: how an image's stored rows are shown (the EXIF and TIFF Orientation tag), and the
// turning of a one-byte-per-pixel plane (a mask) between the stored and the displayed layout.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "imagefile/image_metadata.h"

namespace imagefile {

// Whether `orientation` shows the stored rows as columns (5 to 8), so that the displayed image
// is as wide as the stored one is tall.
constexpr bool SwapsSides(Orientation orientation) { return uint8_t(orientation) >= 5; }

// The plane of `width` × `height` stored pixels (one byte each, rows top to bottom) as it is
// displayed under `orientation`: `*displayed` receives it, of the displayed size.
void StoredToDisplayed(const std::vector<uint8_t>& stored, int32_t width, int32_t height,
                       Orientation orientation, std::vector<uint8_t>* displayed);

// The inverse: a displayed plane turned into the stored layout of a `width` × `height` image
// (the stored size) shown under `orientation`.
void DisplayedToStored(const std::vector<uint8_t>& displayed, int32_t width, int32_t height,
                       Orientation orientation, std::vector<uint8_t>* stored);

// The orientation an EXIF block (a TIFF header and directories, as ImageMetadata.exif holds it)
// states in its first directory; kTopLeft when it states none or cannot be read.
Orientation ExifOrientation(const std::string& exif);

// The smallest EXIF block that states `orientation`: a big-endian TIFF header and a first
// directory holding the Orientation tag alone.
std::string ExifOfOrientation(Orientation orientation);

}  // namespace imagefile
