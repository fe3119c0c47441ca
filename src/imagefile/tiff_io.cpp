// TIFF reading for the image files, through libtiff: the page asked for, in every layout, with
// palette, low-bit and min-is-white images expanded to 8 bits, and its metadata.
#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "imagefile/image_formats.h"
#include "imagefile/tiff_common.h"
#include "imagefile/tiff_metadata.h"
#include "imagefile/tiff_pages.h"

namespace imagefile {
namespace {

// More samples per pixel than this is taken for a damaged header, not an image.
constexpr int kMaxSamplesPerPixel = 64;

// Finds ImageWidth and ImageLength in the first directory without libtiff. Used only when
// libtiff refuses a file, to say "no pixels" or "too large" in the image files' words when that is
// the cause. Returns false when the directory cannot be walked.
bool _PeekTiffSize(const std::string& path, int64_t* width, int64_t* height) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  unsigned char bytes[20];
  auto readAt = [file, &bytes](uint64_t offset, size_t count) {
    return std::fseek(file, long(offset), SEEK_SET) == 0 &&
           std::fread(bytes, 1, count, file) == count;
  };
  bool little = true;
  auto number = [&bytes, &little](size_t at, size_t size) {
    uint64_t value = 0;
    for (size_t i = 0; i < size; ++i) {
      value |= uint64_t(bytes[at + i]) << (8 * (little ? i : size - 1 - i));
    }
    return value;
  };
  bool found = false;
  if (readAt(0, 16)) {
    little = bytes[0] == 'I';
    const bool big = number(2, 2) == 43;
    const size_t countSize = big ? 8 : 2, entrySize = big ? 20 : 12, valueAt = big ? 12 : 8;
    const uint64_t directory = big ? number(8, 8) : number(4, 4);
    const uint64_t entries = readAt(directory, countSize) ? number(0, countSize) : 0;
    int seen = 0;
    for (uint64_t i = 0; i < entries && i < 4096 && seen < 2; ++i) {
      if (!readAt(directory + countSize + i * entrySize, entrySize)) break;
      const uint64_t tag = number(0, 2), type = number(2, 2);
      if (tag != TIFFTAG_IMAGEWIDTH && tag != TIFFTAG_IMAGELENGTH) continue;
      const size_t size = type == TIFF_SHORT ? 2 : type == TIFF_LONG ? 4 : 8;
      *(tag == TIFFTAG_IMAGEWIDTH ? width : height) = int64_t(number(valueAt, size));
      ++seen;
    }
    found = seen == 2;
  }
  std::fclose(file);
  return found;
}

// The layout of the first directory, as far as the image files care.
struct TiffLayout {
  uint32_t width = 0, height = 0;
  uint16_t samplesPerPixel = 1, bitsPerSample = 1, sampleFormat = SAMPLEFORMAT_UINT;
  uint16_t photometric = 0, planar = PLANARCONFIG_CONTIG, compression = COMPRESSION_NONE;
  uint16_t inkSet = INKSET_CMYK;
  uint16_t extraCount = 0;
  uint16_t* extraValues = nullptr;  // owned by libtiff
  // How stored rows become the image's: expanded from palette indexes or 1-, 2- or 4-bit grey
  // to 8 bits, and min-is-white grey turned into min-is-black.
  enum class Expand { kNone, kGrey, kPalette } expand = Expand::kNone;
  bool minIsWhite = false;
  uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;  // the palette, owned by libtiff
  bool wideColours = false;                                    // a palette of 16-bit values
  uint16_t storedBits = 0;  // bits per stored sample of an expanded image
};

std::string _ReadLayout(TIFF* tiff, TiffLayout* layout) {
  if (!TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &layout->width) ||
      !TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &layout->height)) {
    return "corrupt TIFF: the image size is missing";
  }
  if (!TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &layout->photometric)) {
    return "corrupt TIFF: the photometric interpretation is missing";
  }
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &layout->samplesPerPixel);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &layout->bitsPerSample);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &layout->sampleFormat);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &layout->planar);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &layout->compression);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_INKSET, &layout->inkSet);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_EXTRASAMPLES, &layout->extraCount, &layout->extraValues);
  return "";
}

// Whether the palette's colours are all greys, and whether they use 16 bits (some writers
// store 8-bit values in the 16-bit table).
void _ExaminePalette(TiffLayout* layout, bool* grey) {
  const size_t count = size_t(1) << layout->bitsPerSample;
  *grey = true;
  for (size_t i = 0; i < count; ++i) {
    if (layout->red[i] != layout->green[i] || layout->green[i] != layout->blue[i]) *grey = false;
    if (std::max({layout->red[i], layout->green[i], layout->blue[i]}) > 255)
      layout->wideColours = true;
  }
}

// Sets up the reading of palette, low-bit grey, min-is-white and JPEG-compressed YCbCr images as
// 8-bit grey or RGB, with a notice; says what is unsupported of them.
std::string _DescribeConverted(TIFF* tiff, TiffLayout* layout, FileImage* image) {
  const uint16_t bits = layout->bitsPerSample;
  const std::string name = std::to_string(bits) + "-bit ";
  if (layout->photometric == PHOTOMETRIC_YCBCR) {
    if (layout->compression != COMPRESSION_JPEG)
      return "YCbCr images are supported only JPEG-compressed; convert it with: convert FILE "
             "-colorspace sRGB -compress lzw rgb.tif";
    // libjpeg turns YCbCr into RGB as it decodes, whatever the subsampling.
    if (!TIFFSetField(tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB))
      return "cannot decode the YCbCr image as RGB";
    layout->photometric = PHOTOMETRIC_RGB;
    image->notices.push_back("YCbCr JPEG-compressed image read as RGB; the output is RGB");
    return "";
  }
  layout->minIsWhite = layout->photometric == PHOTOMETRIC_MINISWHITE;
  if (layout->minIsWhite) layout->photometric = PHOTOMETRIC_MINISBLACK;
  const std::string white = layout->minIsWhite ? "min-is-white " : "";
  // Samples packed so that a byte holds whole ones (1, 2, 4 or 8 bits) are expanded; other
  // depths are refused below.
  const bool packed =
      layout->samplesPerPixel == 1 && (bits == 1 || bits == 2 || bits == 4 || bits == 8);
  if (packed && layout->photometric == PHOTOMETRIC_PALETTE) {
    if (!TIFFGetField(tiff, TIFFTAG_COLORMAP, &layout->red, &layout->green, &layout->blue))
      return "corrupt TIFF: a palette image without its palette";
    bool grey = false;
    _ExaminePalette(layout, &grey);
    layout->expand = TiffLayout::Expand::kPalette;
    layout->photometric = grey ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB;
    image->notices.push_back("palette image read as 8-bit " + std::string(grey ? "grey" : "RGB") +
                             "; the output is written so");
  } else if (packed && bits < 8 && layout->photometric == PHOTOMETRIC_MINISBLACK) {
    layout->expand = TiffLayout::Expand::kGrey;
    image->notices.push_back(name + white + "grey image read as 8-bit grey" +
                             (white.empty() ? "" : " (min-is-black)") +
                             "; the output is written so");
  } else if (layout->minIsWhite) {
    image->notices.push_back(white + "grey image read as min-is-black; the output is written so");
  }
  if (layout->expand != TiffLayout::Expand::kNone) {
    if (TIFFIsTiled(tiff))
      return "tiled " + name + "images are not supported; convert it with: tiffcp -s FILE out.tif";
    layout->storedBits = bits;
    layout->bitsPerSample = 8;
    if (layout->photometric == PHOTOMETRIC_RGB) layout->samplesPerPixel = 3;
  }
  return "";
}

// Fills the model, channels and depth of `image` from `layout`, or says what is unsupported.
std::string _DescribeImage(const TiffLayout& layout, FileImage* image) {
  switch (layout.photometric) {
    case PHOTOMETRIC_MINISBLACK:
      image->model = ColourModel::kGrey;
      break;
    case PHOTOMETRIC_RGB:
      image->model = ColourModel::kRGB;
      break;
    case PHOTOMETRIC_CIELAB:
      image->model = ColourModel::kLab;
      break;
    case PHOTOMETRIC_SEPARATED:
      if (layout.inkSet != INKSET_CMYK)
        return "separated images with an ink set other than CMYK are not supported";
      image->model = ColourModel::kCMYK;
      break;
    case PHOTOMETRIC_PALETTE:
      return std::to_string(layout.bitsPerSample) +
             "-bit palette images are not supported; convert it with: convert FILE -type "
             "TrueColor rgb.tif";
    case PHOTOMETRIC_ICCLAB:
    case PHOTOMETRIC_ITULAB:
      return "ICC and ITU Lab encodings are not supported (only CIELab)";
    default:
      return "photometric interpretation " + std::to_string(layout.photometric) +
             " is not supported";
  }
  image->colorChannels = ColourChannelsOf(image->model);
  const uint16_t bits = layout.bitsPerSample;
  const uint16_t format = layout.sampleFormat;
  // CIELab a and b are signed whatever SampleFormat says; other integer data must be unsigned.
  const bool integer = format == SAMPLEFORMAT_UINT ||
                       (format == SAMPLEFORMAT_INT && image->model == ColourModel::kLab);
  if ((bits == 8 || bits == 16) && integer) {
    image->bitsPerSample = bits;
  } else if (bits == 32 && format == SAMPLEFORMAT_IEEEFP) {
    // Only grey and RGB have a 32-bit image mode.
    if (ImageModeOf(image->model, 32) < 0) {
      return "32-bit float samples are supported for grey and RGB only";
    }
    image->bitsPerSample = 32;
  } else {
    const char* kind = format == SAMPLEFORMAT_IEEEFP ? " float"
                       : format == SAMPLEFORMAT_INT  ? " signed integer"
                       : format == SAMPLEFORMAT_UINT ? " unsigned integer"
                                                     : "";
    return std::to_string(bits) + "-bit" + (bits < 8 ? "" : kind) +
           " samples are not supported (only 8- and 16-bit unsigned integers, or 32-bit "
           "float); convert it with: convert FILE -depth 16 out.tif";
  }
  const int samples = layout.samplesPerPixel;
  if (samples < image->colorChannels) {
    return "has " + std::to_string(samples) + " samples per pixel, too few for its colour model";
  }
  if (samples > kMaxSamplesPerPixel) {
    return "has " + std::to_string(samples) + " samples per pixel; the most supported is " +
           std::to_string(kMaxSamplesPerPixel);
  }
  image->extraChannels = samples - image->colorChannels;
  if (layout.extraCount > image->extraChannels) {
    return "corrupt TIFF: it lists " + std::to_string(layout.extraCount) +
           " extra samples but has room for " + std::to_string(image->extraChannels);
  }
  // Extra channels the ExtraSamples tag does not describe are of unspecified kind.
  image->extraSampleKinds.assign(size_t(image->extraChannels), kExtraUnspecified);
  for (uint16_t i = 0; i < layout.extraCount; ++i)
    image->extraSampleKinds[i] = layout.extraValues[i];
  if (!TIFFIsCODECConfigured(layout.compression)) {
    return "compression " + std::to_string(layout.compression) + " is not supported";
  }
  return "";
}

// Copies one decoded channel row (`count` samples of `sampleBytes`) into channel `channel`.
void _ScatterChannel(const uint8_t* from, uint8_t* to, size_t count, size_t sampleBytes,
                     size_t pixelBytes, int channel) {
  to += size_t(channel) * sampleBytes;
  for (size_t x = 0; x < count; ++x)
    std::memcpy(to + x * pixelBytes, from + x * sampleBytes, sampleBytes);
}

// The bytes of image data: the byte counts of the strips or tiles, each no more than the file
// holds (a count past the file's end is counted to its end).
uint64_t _ImageDataBytes(TIFF* tiff, uint64_t fileBytes) {
  const bool tiled = TIFFIsTiled(tiff);
  uint64_t* counts = nullptr;
  if (!TIFFGetField(tiff, tiled ? TIFFTAG_TILEBYTECOUNTS : TIFFTAG_STRIPBYTECOUNTS, &counts) ||
      !counts)
    return 0;
  const uint32_t n = tiled ? TIFFNumberOfTiles(tiff) : TIFFNumberOfStrips(tiff);
  uint64_t total = 0;
  for (uint32_t i = 0; i < n && total < fileBytes; ++i) total += std::min(counts[i], fileBytes);
  return std::min(total, fileBytes);
}

// Expands one stored row of palette indexes or low-bit grey (`layout.storedBits` each, packed
// from the high bit) into 8-bit grey or RGB samples.
void _ExpandRow(const TiffLayout& layout, const uint8_t* from, uint8_t* to, int32_t width) {
  const unsigned bits = layout.storedBits, top = (1u << bits) - 1;
  // 16-bit palette values to 8 bits by the scale of 65535 to 255, as common readers do.
  auto colour = [&layout](uint16_t c) {
    return uint8_t(layout.wideColours ? unsigned(c) * 255 / 65535 : c);
  };
  const bool rgb = layout.photometric == PHOTOMETRIC_RGB;
  for (int32_t x = 0; x < width; ++x) {
    const size_t bit = size_t(x) * bits;
    const unsigned v = (from[bit / 8] >> (8 - bits - bit % 8)) & top;
    if (layout.expand == TiffLayout::Expand::kGrey) {
      *to++ = uint8_t(v * 255 / top);
    } else {
      *to++ = colour(layout.red[v]);
      if (rgb) {
        *to++ = colour(layout.green[v]);
        *to++ = colour(layout.blue[v]);
      }
    }
  }
}

// Turns the grey of a min-is-white image (channel 0 of each pixel) into min-is-black.
void _InvertGrey(uint8_t* row, const FileImage& image) {
  const size_t step = size_t(image.SamplesPerPixel());
  for (int32_t x = 0; x < image.width; ++x) {
    if (image.bitsPerSample == 8) {
      row[x * step] = uint8_t(255 - row[x * step]);
    } else {
      uint16_t v;
      std::memcpy(&v, row + 2 * x * step, 2);
      v = uint16_t(65535 - v);
      std::memcpy(row + 2 * x * step, &v, 2);
    }
  }
}

std::string _ReadStrips(TIFF* tiff, const TiffLayout& layout, bool separate, FileImage* image,
                        const TiffContext& context) {
  const size_t rowBytes = image->RowBytes();
  const size_t sampleBytes = image->BytesPerSample();
  const int planes = separate ? image->SamplesPerPixel() : 1;
  const bool expand = layout.expand != TiffLayout::Expand::kNone;
  std::vector<uint8_t> line(separate ? size_t(image->width) * sampleBytes
                            : expand ? (size_t(image->width) * layout.storedBits + 7) / 8
                                     : 0);
  if (uint64_t(TIFFScanlineSize64(tiff)) != (separate || expand ? line.size() : rowBytes)) {
    return WithCause("corrupt TIFF: unexpected row size", context);
  }
  // Separate planes are read one after the other, each top to bottom, as they are stored.
  for (int plane = 0; plane < planes; ++plane) {
    for (int32_t y = 0; y < image->height; ++y) {
      if (plane == 0) GrowRows(image, y + 1);
      uint8_t* row = image->data.Rows(y);
      if (TIFFReadScanline(tiff, separate || expand ? line.data() : row, uint32_t(y),
                           uint16_t(plane)) < 0) {
        return WithCause("cannot read row " + std::to_string(y) + ": truncated or corrupt TIFF",
                         context);
      }
      if (separate)
        _ScatterChannel(line.data(), row, size_t(image->width), sampleBytes,
                        image->SamplesPerPixel() * sampleBytes, plane);
      if (expand) _ExpandRow(layout, line.data(), row, image->width);
      if (layout.minIsWhite && plane == planes - 1) _InvertGrey(row, *image);
    }
  }
  return "";
}

std::string _ReadTiles(TIFF* tiff, bool separate, FileImage* image, const TiffContext& context) {
  uint32_t tileWidth = 0, tileHeight = 0;
  TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &tileWidth);
  TIFFGetField(tiff, TIFFTAG_TILELENGTH, &tileHeight);
  if (tileWidth == 0 || tileHeight == 0) return "corrupt TIFF: zero tile size";
  // Tiles come in multiples of 16; one larger than the image on that grid holds nothing more.
  auto grid = [](uint64_t side) { return (side + 15) / 16 * 16; };
  if (tileWidth > grid(uint64_t(image->width)) || tileHeight > grid(uint64_t(image->height)))
    return "corrupt TIFF: tiles of " + std::to_string(tileWidth) + "x" +
           std::to_string(tileHeight) + " are larger than the " + std::to_string(image->width) +
           "x" + std::to_string(image->height) + " image";
  const uint64_t tileBytes = uint64_t(TIFFTileSize64(tiff));
  if (tileBytes == 0) return "corrupt TIFF: zero tile size";
  std::vector<uint8_t> tile(tileBytes);
  const size_t sampleBytes = image->BytesPerSample();
  const size_t pixelBytes = size_t(image->SamplesPerPixel()) * sampleBytes;
  const size_t tilePixelBytes = separate ? sampleBytes : pixelBytes;
  const int planes = separate ? image->SamplesPerPixel() : 1;
  for (int plane = 0; plane < planes; ++plane) {
    for (uint32_t ty = 0; ty < uint32_t(image->height); ty += tileHeight) {
      const uint32_t rows = std::min(tileHeight, uint32_t(image->height) - ty);
      if (plane == 0) GrowRows(image, int32_t(ty + rows));
      // The band of rows the tiles cover, one window for all of them.
      uint8_t* band = image->data.Rows(int32_t(ty), int32_t(rows));
      for (uint32_t tx = 0; tx < uint32_t(image->width); tx += tileWidth) {
        if (TIFFReadTile(tiff, tile.data(), tx, ty, 0, uint16_t(plane)) < 0) {
          return WithCause("cannot read the tile at " + std::to_string(tx) + "," +
                               std::to_string(ty) + ": truncated or corrupt TIFF",
                           context);
        }
        const uint32_t columns = std::min(tileWidth, uint32_t(image->width) - tx);
        for (uint32_t r = 0; r < rows; ++r) {
          const uint8_t* from = tile.data() + size_t(r) * tileWidth * tilePixelBytes;
          uint8_t* to = band + size_t(r) * image->RowBytes() + tx * pixelBytes;
          if (separate) {
            _ScatterChannel(from, to, columns, sampleBytes, pixelBytes, plane);
          } else {
            std::memcpy(to, from, columns * pixelBytes);
          }
        }
      }
    }
  }
  return "";
}

}  // namespace

std::string ReadTiffFile(const std::string& path, uint64_t fileBytes, int page, FileImage* image) {
  TiffContext context;
  context.name = path;
  TiffOptions options(&context);
  if (!options.options) return "out of memory";
  TiffCloser closer;
  // "m": read with plain reads, not a memory map, so a file cut short under us cannot fault.
  closer.tiff = TIFFOpenExt(path.c_str(), "rm", options.options);
  if (!closer.tiff) {
    int64_t width = 1, height = 1;
    if (_PeekTiffSize(path, &width, &height) && !CheckImageSize(width, height).empty()) {
      return CheckImageSize(width, height);
    }
    return WithCause("cannot read the TIFF header and directory: truncated or corrupt TIFF",
                     context);
  }
  TIFF* tiff = closer.tiff;

  // The image asked for; the reduced-resolution ones among the others are counted for a notice.
  const int pages = TIFFNumberOfDirectories(tiff);
  if (page >= pages)
    return "has " + std::to_string(pages) + " page" + (pages == 1 ? "" : "s") +
           "; there is no page " + std::to_string(page + 1);
  int reduced = 0;
  for (int other = 0; other < pages; ++other) {
    uint32_t kind = 0;
    if (other != page && TIFFSetDirectory(tiff, tdir_t(other)) &&
        TIFFGetField(tiff, TIFFTAG_SUBFILETYPE, &kind) && (kind & FILETYPE_REDUCEDIMAGE))
      ++reduced;
  }
  if (!TIFFSetDirectory(tiff, tdir_t(page)))
    return WithCause("cannot read page " + std::to_string(page + 1), context);
  TiffLayout layout;
  std::string problem = _ReadLayout(tiff, &layout);
  if (problem.empty()) problem = CheckImageSize(layout.width, layout.height);
  if (!problem.empty()) return problem;
  *image = FileImage();
  image->page = page;
  image->pages = pages;
  uint16_t subImages = 0;
  uint64_t* subOffsets = nullptr;
  if (TIFFGetField(tiff, TIFFTAG_SUBIFD, &subImages, &subOffsets) && subImages)
    image->notices.push_back(std::to_string(subImages) +
                             " sub-image(s) of the page (thumbnails, previews) are kept as they "
                             "were in a TIFF output: they show the unfilled image");
  if (reduced)
    image->notices.push_back(std::to_string(reduced) +
                             " reduced-resolution image(s) (thumbnails) are kept as they were in a "
                             "TIFF output: they show the unfilled image");
  image->width = int32_t(layout.width);
  image->height = int32_t(layout.height);
  image->format = FileFormat::TIFF;
  image->tiffCompression = layout.compression;
  TakeTiffMetadata(tiff, image);
  problem = _DescribeConverted(tiff, &layout, image);
  if (problem.empty()) problem = _DescribeImage(layout, image);
  if (problem.empty()) {
    const uint64_t dataBytes = _ImageDataBytes(tiff, fileBytes);
    // Counted as stored: packed low-bit rows decode to a fraction of the expanded ones.
    const uint64_t storedRow = layout.storedBits
                                   ? (uint64_t(image->width) * layout.storedBits + 7) / 8
                                   : uint64_t(image->RowBytes());
    problem = CheckDeclaredSize(image->width, image->height, storedRow * uint64_t(image->height),
                                dataBytes, MaxExpansion(layout.compression));
    if (problem.empty()) {
      ReserveSamples(image, dataBytes);
      const bool separate = layout.planar == PLANARCONFIG_SEPARATE && image->SamplesPerPixel() > 1;
      if (!TIFFIsTiled(tiff)) {
        problem = _ReadStrips(tiff, layout, separate, image, context);
      } else {
        problem = _ReadTiles(tiff, separate, image, context);
        for (int32_t y = 0; problem.empty() && layout.minIsWhite && y < image->height; ++y)
          _InvertGrey(image->data.Rows(y), *image);
      }
    }
  }
  // The page's EXIF directory as a block, for a file of another format (read last: it moves
  // libtiff off the page).
  uint64_t exif = 0;
  if (problem.empty() && TIFFGetField(tiff, TIFFTAG_EXIFIFD, &exif) && exif) {
    image->metadata.exif = ExifBlockOf(tiff, page);
    if (image->metadata.exif.empty())
      image->notices.push_back("its EXIF directory cannot be read and is left out");
  }
  return problem;
}

}  // namespace imagefile
