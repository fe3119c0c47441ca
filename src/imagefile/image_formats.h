// Internal to the image files: the PNG and TIFF readers and writers
// behind image_io.h, and the size checks they share. Messages they return lack the file name;
// image_io.cpp puts "<path>: " in front.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "imagefile/image_io.h"

namespace imagefile {

// How many times its own size compressed data can decode to, at most: deflate stays below
// 1,032:1, LZW with 12-bit codes below 2,731:1, PackBits below 64:1; other schemes (JPEG,
// CCITT) are given 4,096:1. Counted on the image data alone (the PNG's IDAT chunks, the TIFF's
// strips or tiles), never on the file, which padding would inflate: a header that declares more
// pixels than its data can hold is refused before anything is allocated.
inline constexpr uint64_t kDeflateRatio = 1032;
uint64_t MaxExpansion(uint16_t tiffCompression);

// "" when width × height is a size the hosts read and write, else what is wrong.
using hostkit::CheckImageSize;

// "" when `declaredBytes` of decoded samples can come from `dataBytes` bytes of image data that
// decode to at most `ratio` times their size, else a message saying the header declares more
// than the file holds.
std::string CheckDeclaredSize(int64_t width, int64_t height, uint64_t declaredBytes,
                              uint64_t dataBytes, uint64_t ratio);

// Reserves room for the samples up front as far as the file's size makes them plausible
// (16 bytes of samples per file byte; all of them for most files), so that growing row by row
// rarely has to move the data.
void ReserveSamples(FileImage* image, uint64_t fileBytes);

// Makes room in `image->data` for rows [0, rows): the data grows as rows are really decoded,
// so a header's claims cost memory only once the file delivers the pixels.
void GrowRows(FileImage* image, int32_t rows);

// Reads a PNG from the start of `file` (`fileBytes` long). Returns "" or what is wrong.
std::string ReadPngFile(std::FILE* file, uint64_t fileBytes, FileImage* image);

// Writes `image` (grey or RGB, 8 or 16 bits, at most one extra channel) as PNG to `file`.
std::string WritePngFile(std::FILE* file, const FileImage& image);

// Reads image `page` (0: the first) of the TIFF at `path` (`fileBytes` long). Returns "" or
// what is wrong.
std::string ReadTiffFile(const std::string& path, uint64_t fileBytes, int page, FileImage* image);

// Writes `image` as TIFF to the open descriptor `fd` (closed on return either way);
// `name` is only for libtiff's bookkeeping. An image read from a TIFF keeps the layout of its
// page, and the file's other pages are copied in unchanged. Returns "" or what is wrong.
std::string WriteTiffFile(int fd, const std::string& name, const FileImage& image);

}  // namespace imagefile
