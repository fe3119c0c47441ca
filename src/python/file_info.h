// What an image file carries besides its pixels, as the Python module hands it out and takes
// it back: a dict of plain values (bytes, text, numbers), so that read_image(..., info=True)
// and write_image(..., info=...) carry the profile, resolution, orientation, EXIF, XMP, IPTC,
// text, the format's own chunks, the layout and the other pages of a TIFF through Python code.
#pragma once

#include <pybind11/pybind11.h>

#include "imagefile/image_io.h"

namespace areafill_py {

// The dict of `file`: format, source, page (from 1), pages, compression, interlaced,
// orientation (1 to 8), icc, exif, xmp, iptc (bytes, empty when absent), resolution ((x, y,
// unit) with unit "inch", "cm" or None, or None), text (a list of (keyword, text)) and
// chunks (a list of (name, bytes)).
pybind11::dict InfoOfFile(const imagefile::FileImage& file);

// Sets on `*file` what the dict `info` (as InfoOfFile makes it; None: nothing) holds. Raises
// ValueError for a value of the wrong kind.
void ApplyInfo(pybind11::handle info, imagefile::FileImage* file);

}  // namespace areafill_py
