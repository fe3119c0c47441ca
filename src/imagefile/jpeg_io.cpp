// JPEG reading, and JPEG writing of a whole image, through libjpeg; the block splice for images
// read from a JPEG is in jpeg_splice.cpp, the markers in jpeg_markers.cpp.
#include "imagefile/jpeg_io.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <new>

#include "imagefile/image_formats.h"
#include "imagefile/jpeg_codec.h"
// clang-format off: after jpeglib.h.
#include <jerror.h>
// clang-format on

namespace imagefile {
namespace {

[[noreturn]] void _JpegErrorExit(j_common_ptr info) {
  auto* error = reinterpret_cast<JpegError*>(info->err);
  (*info->err->format_message)(info, error->message);
  std::longjmp(error->jump, 1);
}

// Warnings (level -1) about damaged data: running out of data is the one that matters, since
// libjpeg then makes up the rest of the image. Trace messages (level ≥ 0) are dropped.
void _JpegMessage(j_common_ptr info, int level) {
  auto* error = reinterpret_cast<JpegError*>(info->err);
  if (level < 0 && info->err->msg_code == JWRN_JPEG_EOF) error->truncated = true;
}

bool _Inverted(const FileImage& image) {
  // Whole-image writes store CMYK inverted, with the APP14 marker libjpeg adds that says so.
  return image.model == ColourModel::kCMYK;
}

void _Invert(uint8_t* samples, size_t count) {
  for (size_t i = 0; i < count; ++i) samples[i] = uint8_t(255 - samples[i]);
}

int _ReadHeaderJumping(JpegDecoder* decoder, JpegError* error, std::FILE* file) {
  if (setjmp(error->jump)) return 0;
  decoder->info.err = UseJpegError(error);
  jpeg_create_decompress(&decoder->info);
  jpeg_stdio_src(&decoder->info, file);
  KeepJpegMarkers(&decoder->info);
  jpeg_read_header(&decoder->info, TRUE);
  return 1;
}

// Decodes the rows in order into `image`, growing its data as they come.
int _ReadRowsJumping(JpegDecoder* decoder, JpegError* error, const JpegColour* colour,
                     FileImage* image) {
  if (setjmp(error->jump)) return 0;
  jpeg_decompress_struct& info = decoder->info;
  SetJpegDecoding(&info, *colour);
  jpeg_start_decompress(&info);
  if (int(info.output_components) != image->colorChannels ||
      int32_t(info.output_width) != image->width) {
    std::snprintf(error->message, sizeof error->message, "unexpected row size");
    return 0;
  }
  const size_t rowBytes = image->RowBytes();
  while (info.output_scanline < info.output_height && !error->truncated) {
    const int32_t y = int32_t(info.output_scanline);
    GrowRows(image, y + 1);
    JSAMPROW row = image->data.Rows(y);
    jpeg_read_scanlines(&info, &row, 1);
    if (colour->inverted) _Invert(row, rowBytes);
  }
  if (!error->truncated) jpeg_finish_decompress(&info);
  return error->truncated ? 0 : 1;
}

int _EncodeJumping(JpegEncoder* encoder, JpegError* error, std::FILE* file, const FileImage* image,
                   const std::vector<JpegMarker>* markers, uint8_t* rowBuffer) {
  if (setjmp(error->jump)) return 0;
  jpeg_compress_struct& info = encoder->info;
  info.err = UseJpegError(error);
  jpeg_create_compress(&info);
  jpeg_stdio_dest(&info, file);
  info.image_width = JDIMENSION(image->width);
  info.image_height = JDIMENSION(image->height);
  info.input_components = image->colorChannels;
  info.in_color_space = image->model == ColourModel::kGrey  ? JCS_GRAYSCALE
                        : image->model == ColourModel::kRGB ? JCS_RGB
                                                            : JCS_CMYK;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, std::clamp(image->jpegQuality, 1, 100), TRUE);
  // At high qualities colour is kept at full resolution, as a photograph's fine colour edges
  // are what those qualities are chosen for.
  if (image->model == ColourModel::kRGB && image->jpegQuality >= 90)
    info.comp_info[0].h_samp_factor = info.comp_info[0].v_samp_factor = 1;
  info.optimize_coding = TRUE;
  SetJpegResolution(&info, image->metadata.resolution);
  jpeg_start_compress(&info, TRUE);
  WriteJpegMarkers(&info, *markers);
  const size_t rowBytes = image->RowBytes();
  for (int32_t y = 0; y < image->height; ++y) {
    const uint8_t* samples = image->data.Rows(y);
    JSAMPROW row = const_cast<uint8_t*>(samples);
    if (_Inverted(*image)) {
      std::memcpy(rowBuffer, samples, rowBytes);
      _Invert(rowBuffer, rowBytes);
      row = rowBuffer;
    }
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  return 1;
}

std::string _EncodeWhole(std::FILE* file, const FileImage& image) {
  JpegError error = {};
  JpegEncoder encoder;
  const std::vector<JpegMarker> markers = JpegMarkersOf(image);
  std::vector<uint8_t> rowBuffer(_Inverted(image) ? image.RowBytes() : 0);
  if (!_EncodeJumping(&encoder, &error, file, &image, &markers, rowBuffer.data()))
    return std::string("cannot write the JPEG (") + error.message + ")";
  return "";
}

bool _Spliced(const FileImage& image) {
  return image.format == FileFormat::JPEG && !image.sourcePath.empty();
}

}  // namespace

jpeg_error_mgr* UseJpegError(JpegError* error) {
  jpeg_std_error(&error->manager);
  error->manager.error_exit = _JpegErrorExit;
  error->manager.emit_message = _JpegMessage;
  return &error->manager;
}

std::string JpegColourOf(const jpeg_decompress_struct& info, JpegColour* colour) {
  if (info.data_precision != 8) {
    return std::to_string(info.data_precision) + "-bit JPEG samples are not supported (only 8-bit)";
  }
  *colour = JpegColour();
  const int components = info.num_components;
  if (info.jpeg_color_space == JCS_GRAYSCALE && components == 1) return "";
  if ((info.jpeg_color_space == JCS_YCbCr || info.jpeg_color_space == JCS_RGB) && components == 3) {
    colour->model = ColourModel::kRGB;
    colour->decoded = JCS_RGB;
    return "";
  }
  if ((info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK) && components == 4) {
    colour->model = ColourModel::kCMYK;
    colour->decoded = JCS_CMYK;
    colour->inverted = info.saw_Adobe_marker != 0;
    return "";
  }
  return "JPEG images of " + std::to_string(components) +
         " components in this colour space are not supported (only grey, YCbCr, RGB, CMYK and "
         "YCCK)";
}

void KeepJpegMarkers(jpeg_decompress_struct* info) {
  jpeg_save_markers(info, JPEG_COM, 0xFFFF);
  for (int n = 0; n < 16; ++n) jpeg_save_markers(info, JPEG_APP0 + n, 0xFFFF);
}

void SetJpegDecoding(jpeg_decompress_struct* info, const JpegColour& colour) {
  info->out_color_space = colour.decoded;
  info->dct_method = JDCT_ISLOW;
  info->do_fancy_upsampling = TRUE;
  // A progressive file that stops early decodes as its coefficients say, unsmoothed, as any
  // decoder of a file written from those coefficients shows it.
  info->do_block_smoothing = FALSE;
}

bool IsJpegName(const std::string& path) {
  std::string extension = std::filesystem::path(path).extension().string();
  for (char& c : extension) c = char(std::tolower(static_cast<unsigned char>(c)));
  return extension == ".jpg" || extension == ".jpeg" || extension == ".jpe";
}

bool IsJpegSignature(const unsigned char* bytes, size_t count) {
  return count >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF;
}

std::string ReadJpegFile(std::FILE* file, uint64_t fileBytes, const std::string& path,
                         FileImage* image) {
  JpegError error = {};
  JpegDecoder decoder;
  const auto failure = [&error](const char* what) {
    if (error.truncated) return std::string("file is truncated: the JPEG data ends early");
    const int code = error.manager.msg_code;
    if (code == JERR_BAD_PRECISION || code == JERR_SOF_UNSUPPORTED) {
      return std::string(error.message) +
             ": only 8-bit JPEGs (baseline, extended, progressive or arithmetic-coded) are read; "
             "save it as an 8-bit or 16-bit TIFF with the program that made it";
    }
    return std::string(what) + " (" + error.message + ")";
  };
  if (!_ReadHeaderJumping(&decoder, &error, file)) return failure("cannot read the JPEG header");
  JpegColour colour;
  std::string problem = JpegColourOf(decoder.info, &colour);
  if (!problem.empty()) return problem;
  problem = CheckImageSize(decoder.info.image_width, decoder.info.image_height);
  if (!problem.empty()) return problem;

  *image = FileImage();
  image->width = int32_t(decoder.info.image_width);
  image->height = int32_t(decoder.info.image_height);
  image->model = colour.model;
  image->colorChannels = ColourChannelsOf(colour.model);
  image->format = FileFormat::JPEG;
  image->sourcePath = path;
  problem = CheckDeclaredSize(image->width, image->height,
                              uint64_t(image->RowBytes()) * uint64_t(image->height), fileBytes,
                              MaxExpansion(7));  // 7: a TIFF's number for JPEG data
  if (!problem.empty()) return problem;
  ReserveSamples(image, fileBytes);
  // The markers go with the rest of the image's header when the decoding finishes.
  MetadataFromJpegMarkers(decoder.info, &image->metadata);
  if (!_ReadRowsJumping(&decoder, &error, &colour, image)) return failure("corrupt JPEG data");
  return "";
}

std::string JpegCannotHold(const FileImage& image) {
  const std::string instead = "; write a .png or .tif instead";
  if (image.model == ColourModel::kLab) return "JPEG cannot hold Lab images; write a .tif instead";
  if (image.bitsPerSample != 8) {
    return std::string("JPEG holds 8-bit samples only, not ") +
           (image.bitsPerSample == 32 ? "32-bit float" : "16-bit") +
           (image.model == ColourModel::kCMYK ? "; write a .tif instead" : instead);
  }
  if (image.extraChannels > 0) {
    return "JPEG cannot hold alpha or other extra channels" +
           (image.model == ColourModel::kCMYK ? std::string("; write a .tif instead") : instead);
  }
  return "";
}

std::string WriteJpegFile(int fd, const FileImage& image) {
  std::FILE* file = fdopen(fd, "wb");
  if (!file) {
    const int fdopenErrno = errno;
    close(fd);
    return std::string("cannot write: ") + std::strerror(fdopenErrno);
  }
  std::string problem;
  try {
    problem = _Spliced(image) ? SpliceJpegFile(file, image) : _EncodeWhole(file, image);
  } catch (const std::bad_alloc&) {  // the file is closed below either way
    problem = "out of memory";
  }
  const bool flushed = std::fflush(file) == 0 && !std::ferror(file);
  const int flushErrno = errno;
  if (std::fclose(file) != 0 && problem.empty())
    problem = std::string("cannot write: ") + std::strerror(errno);
  if (problem.empty() && !flushed)
    problem = std::string("cannot write: ") + std::strerror(flushErrno);
  return problem;
}

std::vector<std::string> JpegWriteWarnings(const FileImage& image, const std::string& path,
                                           bool qualityAsked) {
  std::vector<std::string> warnings;
  if (!IsJpegName(path)) return warnings;
  if (HasExifThumbnail(image.metadata.exif))
    warnings.push_back(path + ": the EXIF thumbnail is kept and shows the image before the fill");
  if (_Spliced(image)) {
    if (qualityAsked)
      warnings.push_back(path +
                         ": --quality is not used: over a JPEG only the blocks the fill "
                         "changed are encoded again, with the input's own tables");
    return warnings;
  }
  warnings.push_back(path + ": the whole image is encoded as JPEG at quality " +
                     std::to_string(std::clamp(image.jpegQuality, 1, 100)) +
                     ", with loss (only a JPEG input keeps its unchanged blocks as they were)");
  const ImageMetadata& metadata = image.metadata;
  const std::pair<const std::string*, const char*> pieces[] = {{&metadata.exif, "EXIF"},
                                                               {&metadata.xmp, "XMP"},
                                                               {&metadata.iptc, "IPTC"},
                                                               {&metadata.icc, "ICC profile"}};
  for (const auto& [bytes, name] : pieces) {
    if (bytes == &metadata.icc ? bytes->size() > kMaxIccBytes : !FitsJpegMarker(*bytes)) {
      warnings.push_back(path + ": the " + name + " (" + std::to_string(bytes->size()) +
                         " bytes) is too large for a JPEG and is left out");
    }
  }
  return warnings;
}

}  // namespace imagefile
