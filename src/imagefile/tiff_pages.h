// Internal to the image files: a TIFF's other images (pages, reduced-resolution copies) copied
// unchanged into the file written from one of them, and the stored layout a written image keeps.
#pragma once

#include <tiffio.h>

#include <cstdint>
#include <string>
#include <vector>

namespace imagefile {

// Copies the current directory of `in` as the next directory of `out`: its tags (the layout,
// descriptive and colour tags, the palette, the profile, XMP, IPTC, Photoshop's resources,
// JPEG tables and CopyOtherTags's) and its strips or tiles as they are stored, without decoding
// them; `exif`, when not 0, is where its EXIF
// directory went (CopyExifDirectory); `subImages` sub-images (SubIFDs) are announced, for
// CopySubImages to write next. Returns "" or what is wrong.
std::string CopyTiffDirectory(TIFF* in, TIFF* out, uint64_t exif, size_t subImages);

// Writes the EXIF directory of `in`'s directory `page` (when it has one) into `out` as a
// directory of its own, and leaves `in` on `page` again and `out` on a new, empty main
// directory. `*offset` receives where it went, or 0 (none, or one libtiff cannot read).
// Returns "" or what is wrong.
std::string CopyExifDirectory(TIFF* in, int page, TIFF* out, uint64_t* offset);

// Writes the EXIF directory of an EXIF block (ImageMetadata.exif: a TIFF header and
// directories, the first pointing to it) into `out`, as CopyExifDirectory does; `*offset`
// receives where it went, or 0 when the block has none or libtiff cannot read it (a damaged
// block is left out rather than failing the file). Returns "" or what is wrong.
std::string WriteExifBlock(const std::string& exif, TIFF* out, uint64_t* offset);

// The EXIF directory of `in`'s directory `page` as an EXIF block (a TIFF header, a first
// directory pointing to it, and it), or "" when there is none or it cannot be read. Leaves
// `in` on `page` again.
std::string ExifBlockOf(TIFF* in, int page);

// Copies the tags of `in`'s current directory that libtiff keeps as custom values and no other
// function here writes (another program's own tags, GeoTIFF keys, …) to the directory being
// written to `out`, best effort.
void CopyOtherTags(TIFF* in, TIFF* out);

// Where the sub-images (SubIFDs: thumbnails, previews) of `in`'s current directory are.
std::vector<uint64_t> SubImagesOf(TIFF* in);

// Copies the sub-images at `offsets` of `in`'s directory `page` into `out`, whose directory
// just written announced them, and leaves `in` on `page` again. Returns "" or what is wrong.
std::string CopySubImages(TIFF* in, const std::vector<uint64_t>& offsets, int page, TIFF* out);

// How a directory stores its image, as far as a writer of the same image keeps it.
struct TiffStorage {
  uint16_t predictor = 1;                  // 1 none, 2 horizontal, 3 floating point
  uint32_t tileWidth = 0, tileHeight = 0;  // 0: strips
  uint32_t rowsPerStrip = 0;               // 0: the writer's choice
  bool separatePlanes = false;
  uint32_t subfileType = 0;
  uint16_t pageNumber[2] = {0, 0};
  bool hasPageNumber = false;
};

// The storage of the current directory of `in`.
TiffStorage StorageOf(TIFF* in);

}  // namespace imagefile
