// JPEG files for the image files and the hosts: reading 8-bit grey, YCbCr/RGB and CMYK/YCCK
// JPEGs, and writing them — over a JPEG source only the 8×8 blocks holding a changed pixel are
// encoded again, and from any other source the whole image at a chosen quality.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "imagefile/image_io.h"

namespace imagefile {

// The quality of a JPEG written from a non-JPEG image when none is asked for.
inline constexpr int kDefaultJpegQuality = 95;

// Says whether `path` names a JPEG by its extension (.jpg, .jpeg, .jpe, any case).
bool IsJpegName(const std::string& path);

// Says whether the bytes starting a file are a JPEG's (its start-of-image marker).
bool IsJpegSignature(const unsigned char* bytes, size_t count);

// Reads the JPEG at `path`, open as `file` and `fileBytes` long, into `image`: 8-bit grey, RGB
// (from YCbCr or RGB) or CMYK ink (from CMYK or YCCK, inverted CMYK with an APP14 marker turned to
// ink), with its metadata, and `image->sourcePath` set to `path`. Returns "" or what is wrong.
std::string ReadJpegFile(std::FILE* file, uint64_t fileBytes, const std::string& path,
                         FileImage* image);

// "" when `image` can be written as JPEG, else what a JPEG cannot hold and what to write instead.
std::string JpegCannotHold(const FileImage& image);

// Writes `image` as JPEG to the open descriptor `fd` (closed on return either way). An image read
// from a JPEG is spliced over it (SpliceJpegFile); any other is encoded whole at
// `image.jpegQuality`, with its metadata. Returns "" or what is wrong.
std::string WriteJpegFile(int fd, const FileImage& image);

// The warnings for writing `image` to the JPEG `path`: that it is encoded whole, with loss, and
// which metadata a JPEG marker cannot hold; or, over a JPEG source, that a quality the user
// asked for (`qualityAsked`) does not apply. None when `path` is not a JPEG name.
std::vector<std::string> JpegWriteWarnings(const FileImage& image, const std::string& path,
                                           bool qualityAsked = false);

}  // namespace imagefile
