// Internal to the image files: what a PNG carries besides its pixels, read into and written from
// ImageMetadata. The profile, resolution, text, XMP and EXIF go through ImageMetadata to any
// format; the colour chunks (gAMA, cHRM, sRGB, sBIT, bKGD, tRNS) are kept as the PNG's own.
#pragma once

#include <png.h>

#include <string>
#include <vector>

#include "imagefile/image_io.h"

namespace imagefile {

// Asks libpng to keep the colour chunks and eXIf as they are stored, before png_read_info.
void KeepPngChunksRaw(png_structp png);

// Fills `image->metadata` from the chunks read (png_read_end having read those after the
// image too). `expanded`: the image was expanded from a palette or low-bit grey, so that
// chunks about its stored samples (bKGD, sBIT, tRNS) no longer fit and are left out.
void TakePngMetadata(png_structp png, png_infop info, bool expanded, FileImage* image);

// The chunks for a PNG written from an image, prepared outside libpng's error jumps.
struct PngMetadataOut {
  std::string icc;
  bool hasResolution = false;
  png_uint_32 xPerMetre = 0, yPerMetre = 0;
  int resolutionUnit = PNG_RESOLUTION_UNKNOWN;
  std::vector<std::string> keys, values;  // text chunks; "XML:com.adobe.xmp" for XMP
  std::vector<png_text> texts;
  std::vector<std::string> chunkNames, chunkBytes;
  std::vector<png_unknown_chunk> chunks;
};
void PreparePngMetadata(const FileImage& image, PngMetadataOut* out);

// Hands the prepared chunks to libpng; called before png_write_info. May jump on error.
void PutPngMetadata(png_structp png, png_infop info, PngMetadataOut* out);

}  // namespace imagefile
