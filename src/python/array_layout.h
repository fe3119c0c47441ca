// The Python module's image arrays in the host kit's terms: an H×W×C array of uint8, uint16
// (0..65535) or float32 (0..1) samples is grey (C = 1, 2) or RGB (C = 3, 4) with the last
// channel of 2 and 4 its alpha plane, as a stored layout for StoredToHost and HostToStored, and
// as a file image for the image files' reader and writer. Nothing here knows Python.
#pragma once

#include <cstdint>
#include <string>

#include "hostkit/stored_samples.h"
#include "imagefile/image_io.h"

namespace areafill_py {

// Sets *layout for an array of height × width × channels samples of `depth` bits and returns "",
// or returns what keeps it from being handed to the filter, for example "expected 1, 2, 3 or 4
// channels (grey, grey+alpha, RGB, RGBA), got 5" or "image is 40000 pixels wide; …".
std::string ArrayLayout(int64_t height, int64_t width, int64_t channels, int depth,
                        hostkit::StoredLayout* layout);

// The samples per pixel of an array of `layout`: its channel count C.
inline int Channels(const hostkit::StoredLayout& layout) { return layout.Planes(); }

// Sets *layout for a file image read by the image files' reader (grey or RGB with at
// most one extra channel) and returns "", or returns what keeps it from being an array, for
// example "CMYK images cannot be read into an array".
std::string ArrayLayoutOfFile(const imagefile::FileImage& file, hostkit::StoredLayout* layout);

// A file image holding `samples` of `layout`, its extra channel (if any) unassociated alpha,
// for the image files' writer. Throws std::bad_alloc when memory is short.
imagefile::FileImage FileImageOfArray(const hostkit::StoredLayout& layout, const void* samples);

}  // namespace areafill_py
