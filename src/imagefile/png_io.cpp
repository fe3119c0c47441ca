// PNG reading and writing for the image files, through libpng. libpng reports errors by
// longjmp: every function that holds a setjmp holds no object with a destructor, and the
// structures are released by the caller's guard, so a jump skips no C++ cleanup.
#include <png.h>

#include <bit>
#include <cstdio>
#include <cstring>
#include <vector>

#include "imagefile/image_formats.h"
#include "imagefile/png_metadata.h"

namespace imagefile {
namespace {

constexpr bool kLittleEndian = std::endian::native == std::endian::little;

// Where libpng's error message lands; plain data, so the jump can leave it behind.
struct PngContext {
  char message[200];
};

[[noreturn]] void _PngError(png_structp png, png_const_charp text) {
  auto* context = static_cast<PngContext*>(png_get_error_ptr(png));
  std::snprintf(context->message, sizeof context->message, "%s", text ? text : "");
  png_longjmp(png, 1);
}

// Warnings (ancillary chunk trouble, extra data after the image) are not worth a message.
void _PngWarning(png_structp, png_const_charp) {}

struct PngReadGuard {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~PngReadGuard() {
    if (png) png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
  }
};

struct PngWriteGuard {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~PngWriteGuard() {
    if (png) png_destroy_write_struct(&png, info ? &info : nullptr);
  }
};

// The most one ancillary chunk (a text, an ICC profile) may make libpng allocate.
constexpr uint64_t kMaxChunkBytes = 64ull << 20;

struct PngHeader {
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int bitDepth = 0;
  int colorType = 0;
  int interlace = 0;
};

// Reads the signature and IHDR without libpng, so that a zero or oversized side gets this
// image files' own message instead of libpng's. Returns "" when the sizes are acceptable.
std::string _PrecheckHeader(std::FILE* file) {
  unsigned char bytes[24];
  if (std::fread(bytes, 1, sizeof bytes, file) != sizeof bytes) {
    return "file is truncated: the PNG header ends early";
  }
  std::rewind(file);
  if (std::memcmp(bytes + 12, "IHDR", 4) != 0) return "corrupt PNG: the first chunk is not IHDR";
  auto be32 = [](const unsigned char* p) {
    return int64_t(uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]);
  };
  return CheckImageSize(be32(bytes + 16), be32(bytes + 20));
}

// The bytes of image data the file holds: the lengths of its IDAT chunks, found by walking the
// chunks without reading them. The file is rewound.
uint64_t _ImageDataBytes(std::FILE* file) {
  uint64_t total = 0;
  if (std::fseek(file, 8, SEEK_SET) == 0) {
    unsigned char head[8];
    while (std::fread(head, 1, sizeof head, file) == sizeof head) {
      const uint32_t length =
          uint32_t(head[0]) << 24 | uint32_t(head[1]) << 16 | uint32_t(head[2]) << 8 | head[3];
      if (std::memcmp(head + 4, "IDAT", 4) == 0) total += length;
      if (std::memcmp(head + 4, "IEND", 4) == 0 ||
          std::fseek(file, long(length) + 4, SEEK_CUR) != 0)
        break;
    }
  }
  std::rewind(file);
  return total;
}

// Whether every colour of the image's palette is a grey (R = G = B).
bool _PaletteIsGrey(png_structp png, png_infop info) {
  png_colorp colours = nullptr;
  int count = 0;
  if (!png_get_PLTE(png, info, &colours, &count)) return false;
  for (int i = 0; i < count; ++i)
    if (colours[i].red != colours[i].green || colours[i].green != colours[i].blue) return false;
  return true;
}

int _ReadHeaderJumping(png_structp png, png_infop info, PngHeader* header) {
  if (setjmp(png_jmpbuf(png))) return 0;
  KeepPngChunksRaw(png);
  png_read_info(png, info);
  png_get_IHDR(png, info, &header->width, &header->height, &header->bitDepth, &header->colorType,
               &header->interlace, nullptr, nullptr);
  return 1;
}

// Folds an 8-bit RGB row (with `extra` channels after the colour) whose pixels are grey into
// grey samples.
void _FoldGreyRow(const uint8_t* from, uint8_t* to, int32_t width, int extra) {
  for (int32_t x = 0; x < width; ++x, from += 3 + extra) {
    *to++ = from[0];
    for (int e = 0; e < extra; ++e) *to++ = from[3 + e];
  }
}

// Reads every row (every pass of an interlaced image) and the chunks after the image. Palette
// and 1-, 2- and 4-bit grey images are expanded to 8 bits by libpng (`expand`); a palette of
// greys then arrives as RGB rows that `toGrey` folds to grey, row by row.
int _ReadRowsJumping(png_structp png, png_infop info, FileImage* image, int interlaced, bool expand,
                     std::vector<uint8_t>* wide) {
  if (setjmp(png_jmpbuf(png))) return 0;
  if (expand) png_set_expand(png);
  if (image->bitsPerSample == 16 && kLittleEndian) png_set_swap(png);
  const int passes = interlaced ? png_set_interlace_handling(png) : 1;
  png_read_update_info(png, info);
  const size_t rowBytes = image->RowBytes();
  const bool toGrey = wide != nullptr;
  const size_t readBytes =
      toGrey ? size_t(image->width) * size_t(image->SamplesPerPixel() + 2) : rowBytes;
  if (png_get_rowbytes(png, info) != readBytes) png_error(png, "unexpected row size");
  // Passes after the first add to rows already read, so an interlaced image needs them all;
  // folded rows are read into `wide` first (an interlaced image's rows all, as RGB).
  if (passes > 1) GrowRows(image, image->height);
  if (toGrey) wide->resize(readBytes * size_t(passes > 1 ? image->height : 1));
  for (int pass = 0; pass < passes; ++pass) {
    for (int32_t y = 0; y < image->height; ++y) {
      if (pass == 0) GrowRows(image, y + 1);
      uint8_t* row = image->data.Rows(y);
      if (!toGrey) {
        png_read_row(png, row, nullptr);
        continue;
      }
      uint8_t* from = wide->data() + (passes > 1 ? size_t(y) * readBytes : 0);
      png_read_row(png, from, nullptr);
      if (pass == passes - 1) _FoldGreyRow(from, row, image->width, image->extraChannels);
    }
  }
  png_read_end(png, info);  // the text and chunks after the image join those before it
  return 1;
}

int _WriteJumping(png_structp png, png_infop info, const FileImage* image, int colorType,
                  PngMetadataOut* metadata) {
  if (setjmp(png_jmpbuf(png))) return 0;
  png_set_IHDR(png, info, png_uint_32(image->width), png_uint_32(image->height),
               image->bitsPerSample, colorType,
               image->interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  PutPngMetadata(png, info, metadata);
  png_write_info(png, info);
  if (image->bitsPerSample == 16 && kLittleEndian) png_set_swap(png);
  // libpng picks each pass's pixels from whole rows, handed over once per pass.
  const int passes = image->interlaced ? png_set_interlace_handling(png) : 1;
  for (int pass = 0; pass < passes; ++pass)
    for (int32_t y = 0; y < image->height; ++y) png_write_row(png, image->data.Rows(y));
  png_write_end(png, info);
  return 1;
}

// The message for a libpng failure: running out of file is truncation, the rest corruption.
std::string _ReadFailure(std::FILE* file, const PngContext& context) {
  if (std::feof(file)) return "file is truncated: the PNG data ends early";
  return std::string("corrupt PNG data (") + context.message + ")";
}

}  // namespace

std::string ReadPngFile(std::FILE* file, uint64_t fileBytes, FileImage* image) {
  std::string problem = _PrecheckHeader(file);
  if (!problem.empty()) return problem;
  const uint64_t dataBytes = _ImageDataBytes(file);  // before libpng reads: it rewinds

  PngContext context = {};
  PngReadGuard guard;
  guard.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &context, _PngError, _PngWarning);
  if (guard.png) guard.info = png_create_info_struct(guard.png);
  if (!guard.png || !guard.info) return "out of memory";
  png_init_io(guard.png, file);
  // libpng's own fences: the sides the hosts take, and what one ancillary chunk may allocate.
  png_set_user_limits(guard.png, png_uint_32(kMaxImageSide), png_uint_32(kMaxImageSide));
  png_set_chunk_malloc_max(guard.png, png_alloc_size_t(kMaxChunkBytes));

  PngHeader header;
  if (!_ReadHeaderJumping(guard.png, guard.info, &header)) return _ReadFailure(file, context);

  *image = FileImage();
  image->width = int32_t(header.width);
  image->height = int32_t(header.height);
  image->bitsPerSample = header.bitDepth;
  image->format = FileFormat::PNG;
  image->tiffCompression = 0;
  bool colour = (header.colorType & PNG_COLOR_MASK_COLOR) != 0;
  image->extraChannels = (header.colorType & PNG_COLOR_MASK_ALPHA) ? 1 : 0;
  // Palette and 1-, 2- and 4-bit grey images are expanded to 8 bits (a transparent colour
  // becoming alpha), since a fill makes values the palette or the few levels cannot hold.
  const bool palette = header.colorType == PNG_COLOR_TYPE_PALETTE;
  const bool expand = palette || header.bitDepth < 8;
  bool greyPalette = false;
  if (expand) {
    if (png_get_valid(guard.png, guard.info, PNG_INFO_tRNS)) image->extraChannels = 1;
    image->bitsPerSample = 8;
    greyPalette = palette && _PaletteIsGrey(guard.png, guard.info);
    colour = palette && !greyPalette;
    image->notices.push_back(
        std::string(palette ? "palette" : std::to_string(header.bitDepth) + "-bit grey") +
        " image read as 8-bit " + (colour ? "RGB" : "grey") +
        (image->extraChannels ? " with alpha" : "") + "; the output is written so");
  }
  image->model = colour ? ColourModel::kRGB : ColourModel::kGrey;
  image->colorChannels = ColourChannelsOf(image->model);
  if (image->extraChannels) image->extraSampleKinds = {kExtraUnassociatedAlpha};

  // Each row carries one filter byte in the compressed stream.
  const uint64_t storedRow =
      expand ? (uint64_t(image->width) * uint64_t(header.bitDepth) + 7) / 8 : image->RowBytes();
  problem = CheckDeclaredSize(image->width, image->height,
                              (storedRow + 1) * uint64_t(image->height), dataBytes, kDeflateRatio);
  if (!problem.empty()) return problem;
  ReserveSamples(image, dataBytes);

  std::vector<uint8_t> wide;
  if (!_ReadRowsJumping(guard.png, guard.info, image, header.interlace != PNG_INTERLACE_NONE,
                        expand, greyPalette ? &wide : nullptr)) {
    return _ReadFailure(file, context);
  }
  TakePngMetadata(guard.png, guard.info, expand, image);
  image->interlaced = header.interlace != PNG_INTERLACE_NONE;
  return "";
}

std::string WritePngFile(std::FILE* file, const FileImage& image) {
  int colorType = image.model == ColourModel::kRGB ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY;
  if (image.extraChannels == 1) colorType |= PNG_COLOR_MASK_ALPHA;

  PngContext context = {};
  PngWriteGuard guard;
  guard.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &context, _PngError, _PngWarning);
  if (guard.png) guard.info = png_create_info_struct(guard.png);
  if (!guard.png || !guard.info) return "out of memory";
  png_init_io(guard.png, file);
  PngMetadataOut metadata;
  PreparePngMetadata(image, &metadata);
  if (!_WriteJumping(guard.png, guard.info, &image, colorType, &metadata)) {
    return std::string("cannot write the PNG (") + context.message + ")";
  }
  return "";
}

}  // namespace imagefile
