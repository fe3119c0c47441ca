// Internal to the image files: what a TIFF carries besides its pixels, read into and written
// from ImageMetadata: the ICC profile, the resolution, the orientation, XMP, IPTC and the
// descriptive text tags; Photoshop's resources are kept as the TIFF's own.
#pragma once

#include <tiffio.h>

#include <string>

#include "imagefile/image_io.h"

namespace imagefile {

// Whether a TIFF has a tag for the text of `name` (a tag's name or a PNG keyword).
bool TiffHoldsText(const std::string& name);

// Fills `image->metadata` from the current directory of `tiff`.
void TakeTiffMetadata(TIFF* tiff, FileImage* image);

// Sets the tags of `image.metadata` on the directory being written. Returns false when
// libtiff refuses one.
bool PutTiffMetadata(TIFF* tiff, const FileImage& image);

}  // namespace imagefile
