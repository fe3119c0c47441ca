// Image and mask files for the hosts: an image as its file stores it, and PNG and TIFF reading
// and writing. Every function reports failure as one line of text naming the file; none throws,
// except that the memory or temporary disk the samples need can fail: std::bad_alloc, or
// hostkit::PixelRowsError (a failure of the machine, not of the file).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "filter/host/image_modes.h"
#include "hostkit/host_rules.h"
#include "hostkit/pixel_rows.h"
#include "imagefile/image_metadata.h"
#include "imagefile/staged_file.h"

// The image files of the hosts; ColourModel is the interface's, from image_modes.h.
namespace imagefile {

// The colour channels of a file image of `model` (grey, RGB, CMYK or Lab), from the table of
// image modes: 1 grey, 3 RGB and Lab, 4 CMYK.
constexpr int ColourChannelsOf(ColourModel model) {
  return ColourPlanesOf(ImageModeOf(model, 8), 0);
}

// TIFF ExtraSamples values (the same numbers as the TIFF tag).
inline constexpr uint16_t kExtraUnspecified = 0;
inline constexpr uint16_t kExtraAssociatedAlpha = 1;
inline constexpr uint16_t kExtraUnassociatedAlpha = 2;

// The largest width or height read or written: the limit every host shares.
using hostkit::kMaxImageSide;

// An image as its file stores it: samples interleaved (colour channels, then extra channels),
// rows packed without padding, 16-bit and float samples in the machine's byte order.
// 8-bit CMYK holds ink amounts (0 = no ink); CIELab a and b are signed (int8 or int16).
struct FileImage {
  int32_t width = 0;
  int32_t height = 0;
  ColourModel model = ColourModel::kGrey;  // grey, RGB, CMYK or Lab; never multichannel
  int colorChannels = 1;                   // ColourChannelsOf(model)
  int extraChannels = 0;  // alpha and other extra channels, after the colour channels
  int bitsPerSample = 8;  // 8 or 16 (unsigned integers), or 32 (IEEE float, grey and RGB only)
  // One ExtraSamples value per extra channel; PNG alpha reads as kExtraUnassociatedAlpha.
  std::vector<uint16_t> extraSampleKinds;
  FileFormat format = FileFormat::PNG;  // the format it was read from
  // The TIFF Compression tag it was read with; 0 when it came from a PNG.
  uint16_t tiffCompression = 0;
  // Stored interlaced (a PNG's Adam7); a PNG written from it is interlaced too.
  bool interlaced = false;
  // What the file carries besides its pixels, kept for the file written from this image.
  ImageMetadata metadata;
  // The file it was read from, and which of its images (0: the first); a writer that keeps
  // what it does not change (a TIFF's other pages, a JPEG's untouched blocks) reads it again.
  std::string sourcePath;
  int page = 0;
  int jpegQuality = 95;  // 1 to 100: a JPEG written whole (not over a JPEG source) has this
  int pages = 1;         // how many images the file holds (a TIFF's directories)
  // What the reader changed on the way in, one line each ("palette image read as 8-bit RGB;
  // …"), for the host to show as warnings.
  std::vector<std::string> notices;
  hostkit::PixelRows data;  // rows of RowBytes(); on disk when the memory budget is spent

  int SamplesPerPixel() const { return colorChannels + extraChannels; }
  size_t BytesPerSample() const { return size_t(bitsPerSample / 8); }
  size_t RowBytes() const { return size_t(width) * size_t(SamplesPerPixel()) * BytesPerSample(); }
};

// Reads the PNG or TIFF at `path` (recognised by its contents, not its name) into `image`.
// PNG: 8/16-bit grey, grey+alpha, RGB, RGBA (interlaced too; a tRNS colour key is ignored).
// TIFF, image `page` (0: the first): 8/16-bit grey (min-is-black), RGB, CMYK (separated, CMYK ink
// set) and CIELab, and 32-bit float grey and RGB, each with any extra channels; contiguous or
// separate planes; strips or tiles; any compression libtiff decodes.
// Returns true, or false with `*error` set to one line, for example "a.png: palette images
// are not supported"; `*image` is then unspecified.
bool ReadImage(const std::string& path, FileImage* image, std::string* error, int page = 0);

// Says whether `image` can be written to `path`, whose extension (.png, .tif, .tiff, any
// case) picks the format. PNG cannot hold CMYK, Lab, 32-bit float, more than one extra
// channel or premultiplied alpha. Writes nothing. Returns true, or false with `*error` set.
bool CanWrite(const FileImage& image, const std::string& path, std::string* error);

// Writes `image` into `*staged` (opened on `path` here unless the caller opened it, for example
// to have a signal handler remove it meanwhile) and finished but not yet committed (the
// caller commits it, with other outputs of the run), in the format the extension of `path`
// names, after the CanWrite checks. TIFF keeps the image's compression when it is none, LZW or
// deflate (otherwise, and for images from a PNG, deflate), with no predictor, contiguous
// planes, in strips, and the extra channels' ExtraSamples values. Returns true, or false with
// `*error` set; the staged file then removes itself.
bool StageImage(const std::string& path, const FileImage& image, StagedFile* staged,
                std::string* error);

// What of `image` a file at `path` does not keep, one line each, for the host to show as
// warnings: a TIFF's other pages in a PNG, JPEG compression in a TIFF (written with deflate),
// of an EXIF block, what is not its EXIF directory in a TIFF, PNG text a TIFF has no tag for,
// and the input
// format's own pieces (a PNG's bKGD or sBIT, Photoshop's resources) in a file of another
// format.
std::vector<std::string> LeftOutOf(const FileImage& image, const std::string& path);

// StageImage and its commit: the file is written beside `path` and renamed onto it, so a failed
// write leaves an existing file as it was. Returns true, or false with `*error`.
bool WriteImage(const std::string& path, const FileImage& image, std::string* error);

// Reads a selection mask of exactly `expectWidth` × `expectHeight` pixels into `*mask`, one
// byte per pixel, rows top to bottom (255 = selected): grey at 1 to 16 bits (scaled to 8 bits,
// 16-bit v becoming v >> 8), palette masks by their grey, and RGB masks whose pixels are all
// grey (R = G = B). A mask with an alpha channel that is not wholly opaque selects by its alpha
// (where the paint is), whatever its colour. A mask of only 0s and 1s is taken as 0 and 255,
// with a line in `*notices` (when given). Returns true, or false with `*error` set, for example
// "m.png: mask is 10x5 but the image is 12x5" or, for an RGB mask with colours, how to make it
// grey. The mask applies to the image as displayed: the mask as its own orientation shows it
// covers the image as `imageOrientation` shows it (`expectWidth` × `expectHeight` being the
// stored size), and `*mask` is turned into the image's stored layout; `maskAsStored` takes the
// mask's stored pixels for the image's stored pixels instead.
bool ReadMask(const std::string& path, int32_t expectWidth, int32_t expectHeight,
              std::vector<uint8_t>* mask, std::string* error,
              std::vector<std::string>* notices = nullptr,
              Orientation imageOrientation = Orientation::kTopLeft, bool maskAsStored = false);

}  // namespace imagefile
