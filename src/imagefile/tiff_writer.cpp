// TIFF writing for the image files, through libtiff: the filled page in the layout of the page
// it was read from (compression, predictor, strips or tiles, planes, byte order, BigTIFF), the
// file's other pages copied in unchanged, and the metadata.
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "imagefile/image_formats.h"
#include "imagefile/tiff_common.h"
#include "imagefile/tiff_metadata.h"
#include "imagefile/tiff_pages.h"

namespace imagefile {
namespace {

// The compression a filled image is written with: the input's when libtiff encodes it here
// (none, LZW, deflate, PackBits); otherwise, and for an image from another format, deflate.
uint16_t _OutputCompression(const FileImage& image) {
  const uint16_t compression = image.tiffCompression;
  if (compression == COMPRESSION_NONE || compression == COMPRESSION_LZW ||
      compression == COMPRESSION_ADOBE_DEFLATE || compression == COMPRESSION_DEFLATE ||
      compression == COMPRESSION_PACKBITS)
    return compression;
  return COMPRESSION_ADOBE_DEFLATE;
}

bool _SetImageTags(TIFF* tiff, const FileImage& image, uint16_t compression,
                   const TiffStorage& storage) {
  uint16_t photometric = PHOTOMETRIC_MINISBLACK;
  if (image.model == ColourModel::kRGB) photometric = PHOTOMETRIC_RGB;
  if (image.model == ColourModel::kCMYK) photometric = PHOTOMETRIC_SEPARATED;
  if (image.model == ColourModel::kLab) photometric = PHOTOMETRIC_CIELAB;
  const bool separate = storage.separatePlanes && image.SamplesPerPixel() > 1;
  bool ok = TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, uint32_t(image.width)) &&
            TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, uint32_t(image.height)) &&
            TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, uint16_t(image.SamplesPerPixel())) &&
            TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, uint16_t(image.bitsPerSample)) &&
            TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT,
                         image.bitsPerSample == 32 ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT) &&
            TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, photometric) &&
            TIFFSetField(tiff, TIFFTAG_PLANARCONFIG,
                         separate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG) &&
            TIFFSetField(tiff, TIFFTAG_COMPRESSION, compression);
  // The predictor tag exists only once a compression that uses it is set; floating-point
  // prediction only for floats, horizontal only for integers.
  const bool predicts = compression == COMPRESSION_LZW ||
                        compression == COMPRESSION_ADOBE_DEFLATE ||
                        compression == COMPRESSION_DEFLATE;
  uint16_t predictor = PREDICTOR_NONE;
  if (predicts && storage.predictor == PREDICTOR_HORIZONTAL && image.bitsPerSample != 32)
    predictor = PREDICTOR_HORIZONTAL;
  if (predicts && storage.predictor == PREDICTOR_FLOATINGPOINT && image.bitsPerSample == 32)
    predictor = PREDICTOR_FLOATINGPOINT;
  if (ok && predicts) ok = TIFFSetField(tiff, TIFFTAG_PREDICTOR, predictor);
  if (ok && image.model == ColourModel::kCMYK) ok = TIFFSetField(tiff, TIFFTAG_INKSET, INKSET_CMYK);
  if (ok) ok = PutTiffMetadata(tiff, image);
  if (ok && storage.subfileType) ok = TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, storage.subfileType);
  if (ok && storage.hasPageNumber)
    ok = TIFFSetField(tiff, TIFFTAG_PAGENUMBER, storage.pageNumber[0], storage.pageNumber[1]);
  if (ok && image.extraChannels > 0) {
    ok = TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, uint16_t(image.extraChannels),
                      image.extraSampleKinds.data());
  }
  if (ok && storage.tileWidth) {
    ok = TIFFSetField(tiff, TIFFTAG_TILEWIDTH, storage.tileWidth) &&
         TIFFSetField(tiff, TIFFTAG_TILELENGTH, storage.tileHeight);
  } else if (ok) {
    const uint32_t rows =
        storage.rowsPerStrip && storage.rowsPerStrip < uint32_t(image.height)
            ? storage.rowsPerStrip
            : (storage.rowsPerStrip ? uint32_t(image.height) : TIFFDefaultStripSize(tiff, 0));
    ok = TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, rows);
  }
  return ok;
}

// Gathers channel `plane` of rows [y, y + rows) into `to`, `stride` bytes per row, from column
// `x` for `columns` pixels (all of them, contiguous, when `plane` is negative).
void _Gather(const FileImage& image, int plane, int32_t x, int32_t y, int32_t columns, int32_t rows,
             size_t stride, uint8_t* to) {
  const size_t sampleBytes = image.BytesPerSample();
  const size_t pixelBytes = size_t(image.SamplesPerPixel()) * sampleBytes;
  const uint8_t* band = image.data.Rows(y, rows);  // one window for every tile of the band
  for (int32_t r = 0; r < rows; ++r) {
    const uint8_t* from = band + size_t(r) * image.RowBytes() + size_t(x) * pixelBytes;
    uint8_t* row = to + size_t(r) * stride;
    if (plane < 0) {
      std::memcpy(row, from, size_t(columns) * pixelBytes);
      continue;
    }
    for (int32_t c = 0; c < columns; ++c)
      std::memcpy(row + size_t(c) * sampleBytes,
                  from + size_t(c) * pixelBytes + size_t(plane) * sampleBytes, sampleBytes);
  }
}

// Writes the samples of `image` into the directory being written, row by row in strips or
// band by band in tiles, plane by plane when planes are separate.
std::string _WriteSamples(TIFF* tiff, const FileImage& image, const TiffContext& context) {
  uint16_t planar = PLANARCONFIG_CONTIG;
  TIFFGetField(tiff, TIFFTAG_PLANARCONFIG, &planar);
  const bool separate = planar == PLANARCONFIG_SEPARATE;
  const int planes = separate ? image.SamplesPerPixel() : 1;
  const size_t pixelBytes =
      (separate ? 1 : size_t(image.SamplesPerPixel())) * image.BytesPerSample();
  if (!TIFFIsTiled(tiff)) {
    // libtiff may work on the buffer it is given, so each row goes through a copy.
    std::vector<uint8_t> line(size_t(image.width) * pixelBytes);
    for (int plane = 0; plane < planes; ++plane)
      for (int32_t y = 0; y < image.height; ++y) {
        _Gather(image, separate ? plane : -1, 0, y, image.width, 1, line.size(), line.data());
        if (TIFFWriteScanline(tiff, line.data(), uint32_t(y), uint16_t(plane)) < 0)
          return WithCause("cannot write row " + std::to_string(y), context);
      }
    return "";
  }
  uint32_t tileWidth = 0, tileHeight = 0;
  TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &tileWidth);
  TIFFGetField(tiff, TIFFTAG_TILELENGTH, &tileHeight);
  std::vector<uint8_t> tile(size_t(tileWidth) * tileHeight * pixelBytes);
  for (int plane = 0; plane < planes; ++plane)
    for (uint32_t ty = 0; ty < uint32_t(image.height); ty += tileHeight)
      for (uint32_t tx = 0; tx < uint32_t(image.width); tx += tileWidth) {
        std::fill(tile.begin(), tile.end(), 0);  // the part past the image's edge
        _Gather(image, separate ? plane : -1, int32_t(tx), int32_t(ty),
                int32_t(std::min(tileWidth, uint32_t(image.width) - tx)),
                int32_t(std::min(tileHeight, uint32_t(image.height) - ty)),
                size_t(tileWidth) * pixelBytes, tile.data());
        if (TIFFWriteTile(tiff, tile.data(), tx, ty, 0, uint16_t(plane)) < 0)
          return WithCause(
              "cannot write the tile at " + std::to_string(tx) + "," + std::to_string(ty), context);
      }
  return "";
}

}  // namespace

std::string WriteTiffFile(int fd, const std::string& name, const FileImage& image) {
  // The other pages and the stored layout come from the file the image was read from.
  TiffContext sourceContext;
  sourceContext.name = image.sourcePath;
  TiffOptions sourceOptions(&sourceContext);
  TiffCloser source;
  if (image.format == FileFormat::TIFF && !image.sourcePath.empty() && sourceOptions.options)
    source.tiff = TIFFOpenExt(image.sourcePath.c_str(), "rm", sourceOptions.options);
  const int pages = source.tiff ? TIFFNumberOfDirectories(source.tiff) : 1;
  const uint16_t compression = _OutputCompression(image);
  // Classic TIFF addresses 4 GiB; LZW can grow incompressible data by half.
  const uint64_t raw = uint64_t(image.RowBytes()) * uint64_t(image.height);
  const uint64_t worst =
      (compression == COMPRESSION_LZW ? raw + raw / 2 : raw) + raw / 64 + (1u << 20);
  std::string mode = "w";
  if (source.tiff && TIFFIsBigEndian(source.tiff)) mode += "b";
  if ((source.tiff && TIFFIsBigTIFF(source.tiff)) || worst >= (uint64_t(1) << 32)) mode += "8";

  TiffContext context;
  context.name = name;
  TiffOptions options(&context);
  TIFF* tiff =
      options.options ? TIFFFdOpenExt(fd, name.c_str(), mode.c_str(), options.options) : nullptr;
  if (!tiff) {
    close(fd);
    return WithCause("cannot write the TIFF", context);
  }
  TiffCloser closer;
  closer.tiff = tiff;
  for (int page = 0; page < pages; ++page) {
    if (source.tiff && !TIFFSetDirectory(source.tiff, tdir_t(page)))
      return WithCause("cannot read page " + std::to_string(page + 1) + " again", sourceContext);
    // A page's EXIF directory goes first, so that the page can point to it.
    uint64_t exif = 0;
    if (source.tiff) {
      const std::string problem = CopyExifDirectory(source.tiff, page, tiff, &exif);
      if (!problem.empty()) return WithCause(problem, context);
    }
    if (page == image.page && exif == 0 && !image.metadata.exif.empty()) {
      const std::string problem = WriteExifBlock(image.metadata.exif, tiff, &exif);
      if (!problem.empty()) return WithCause(problem, context);
    }
    // Sub-images (thumbnails, previews) follow their page, copied as they were.
    const std::vector<uint64_t> subImages =
        source.tiff ? SubImagesOf(source.tiff) : std::vector<uint64_t>();
    if (page != image.page) {
      std::string problem = CopyTiffDirectory(source.tiff, tiff, exif, subImages.size());
      if (problem.empty()) problem = CopySubImages(source.tiff, subImages, page, tiff);
      if (!problem.empty()) return WithCause(problem, context);
      continue;
    }
    const TiffStorage storage = source.tiff ? StorageOf(source.tiff) : TiffStorage();
    const std::vector<uint64_t> unknown(subImages.size(), 0);  // filled in by libtiff
    if (!_SetImageTags(tiff, image, compression, storage) ||
        (exif && !TIFFSetField(tiff, TIFFTAG_EXIFIFD, exif)) ||
        (!unknown.empty() &&
         !TIFFSetField(tiff, TIFFTAG_SUBIFD, uint16_t(unknown.size()), unknown.data())))
      return WithCause("cannot write the TIFF's tags", context);
    if (source.tiff) CopyOtherTags(source.tiff, tiff);
    std::string problem = _WriteSamples(tiff, image, context);
    if (!problem.empty()) return problem;
    if (!TIFFWriteDirectory(tiff)) return WithCause("cannot write the TIFF", context);
    problem = source.tiff ? CopySubImages(source.tiff, subImages, page, tiff) : "";
    if (!problem.empty()) return WithCause(problem, context);
  }
  return "";
}

}  // namespace imagefile
