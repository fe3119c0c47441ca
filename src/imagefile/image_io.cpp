// The public face of the image files: recognising a file's format, the checks shared by both
// formats, choosing the output format from the name, writing through a staged file, and reading
// selection masks.
#include "imagefile/image_io.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <stdexcept>

#include "imagefile/host_conversion.h"
#include "imagefile/image_formats.h"
#include "imagefile/jpeg_io.h"
#include "imagefile/orientation.h"
#include "imagefile/staged_file.h"
#include "imagefile/tiff_metadata.h"

namespace imagefile {
namespace {

enum class Sniffed { PNG, TIFF, JPEG, Unknown };

struct FileCloser {
  std::FILE* file = nullptr;
  ~FileCloser() {
    if (file) std::fclose(file);
  }
};

bool _Fail(std::string* error, const std::string& path, const std::string& what) {
  if (error) *error = path + ": " + what;
  return false;
}

Sniffed _Sniff(const unsigned char* bytes, size_t count) {
  static const unsigned char kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (count >= 8 && std::memcmp(bytes, kPngSignature, 8) == 0) return Sniffed::PNG;
  if (count >= 4) {
    // Classic TIFF (42) and BigTIFF (43), either byte order.
    if (bytes[0] == 'I' && bytes[1] == 'I' && (bytes[2] == 42 || bytes[2] == 43) && bytes[3] == 0)
      return Sniffed::TIFF;
    if (bytes[0] == 'M' && bytes[1] == 'M' && bytes[2] == 0 && (bytes[3] == 42 || bytes[3] == 43))
      return Sniffed::TIFF;
  }
  if (IsJpegSignature(bytes, count)) return Sniffed::JPEG;
  return Sniffed::Unknown;
}

std::string _LowerExtension(const std::string& path) {
  std::string extension = std::filesystem::path(path).extension().string();
  for (char& c : extension) c = char(std::tolower(static_cast<unsigned char>(c)));
  return extension;
}

const char* _ModelName(ColourModel model) {
  switch (model) {
    case ColourModel::kGrey:
      return "grey";
    case ColourModel::kRGB:
      return "RGB";
    case ColourModel::kCMYK:
      return "CMYK";
    case ColourModel::kLab:
      return "Lab";
    case ColourModel::kMultichannel:
      return "multichannel";
  }
  return "unknown";
}

// "" when the image's fields agree with each other and with its data, else what is wrong.
std::string _CheckConsistent(const FileImage& image) {
  std::string problem = CheckImageSize(image.width, image.height);
  if (!problem.empty()) return problem;
  if (image.colorChannels != ColourChannelsOf(image.model) || image.extraChannels < 0 ||
      size_t(image.extraChannels) != image.extraSampleKinds.size() || HostModeOf(image) < 0 ||
      image.data.size() != image.RowBytes() * size_t(image.height)) {
    return "the image's description does not match its samples";
  }
  return "";
}

// Writes `image` into the staged file through a copy of its descriptor, which the writer
// closes either way.
std::string _WriteTo(const StagedFile& staged, const FileImage& image, bool png) {
  const int fd = dup(staged.descriptor());
  if (fd < 0) return std::string("cannot write: ") + std::strerror(errno);
  if (IsJpegName(staged.path())) return WriteJpegFile(fd, image);
  if (!png) return WriteTiffFile(fd, staged.path(), image);
  std::FILE* file = fdopen(fd, "wb");
  if (!file) {
    const int fdopenErrno = errno;
    close(fd);
    return std::string("cannot write: ") + std::strerror(fdopenErrno);
  }
  std::string problem = WritePngFile(file, image);
  const bool flushed = std::fflush(file) == 0 && !std::ferror(file);
  const int flushErrno = errno;
  if (std::fclose(file) != 0 && problem.empty()) {
    problem = std::string("cannot write: ") + std::strerror(errno);
  }
  if (problem.empty() && !flushed)
    problem = std::string("cannot write: ") + std::strerror(flushErrno);
  return problem;
}

}  // namespace

uint64_t MaxExpansion(uint16_t tiffCompression) {
  switch (tiffCompression) {
    case 1:  // none
      return 1;
    case 5:  // LZW
      return 2731;
    case 8:      // Adobe deflate
    case 32946:  // deflate
      return kDeflateRatio;
    case 32773:  // PackBits
      return 64;
    default:
      return 4096;
  }
}

std::string CheckDeclaredSize(int64_t width, int64_t height, uint64_t declaredBytes,
                              uint64_t dataBytes, uint64_t ratio) {
  // A few bytes of slack: a stream's own header and checksum.
  if (declaredBytes <= (dataBytes + 64) * ratio) return "";
  return "the header declares " + std::to_string(width) + "x" + std::to_string(height) +
         " pixels (" + std::to_string(declaredBytes) + " bytes of samples), more than its " +
         std::to_string(dataBytes) +
         " bytes of image data can hold: the file is truncated or "
         "corrupt";
}

void ReserveSamples(FileImage* image, uint64_t fileBytes) {
  const uint64_t total = uint64_t(image->RowBytes()) * uint64_t(image->height);
  image->data.Reset(image->RowBytes(), image->height, size_t(std::min(total, fileBytes * 16)));
}

void GrowRows(FileImage* image, int32_t rows) { image->data.Grow(rows); }

namespace {

// The refusal of a page other than the first of a file that holds one image.
std::string _NoSuchPage(int page) {
  return "has 1 page; there is no page " + std::to_string(page + 1);
}

}  // namespace

bool ReadImage(const std::string& path, FileImage* image, std::string* error, int page) {
  try {
    FileCloser closer;
    closer.file = std::fopen(path.c_str(), "rb");
    if (!closer.file)
      return _Fail(error, path, std::string("cannot open: ") + std::strerror(errno));
    struct stat info = {};
    if (fstat(fileno(closer.file), &info) != 0) {
      return _Fail(error, path, std::string("cannot open: ") + std::strerror(errno));
    }
    if (S_ISDIR(info.st_mode)) return _Fail(error, path, "is a folder, not an image file");
    if (!S_ISREG(info.st_mode)) return _Fail(error, path, "is not a regular file");
    if (info.st_size == 0) return _Fail(error, path, "file is empty");
    const uint64_t fileBytes = uint64_t(info.st_size);

    unsigned char magic[8] = {};
    const size_t got = std::fread(magic, 1, sizeof magic, closer.file);
    std::string problem;
    switch (_Sniff(magic, got)) {
      case Sniffed::PNG:
        std::rewind(closer.file);
        problem = page == 0 ? ReadPngFile(closer.file, fileBytes, image) : _NoSuchPage(page);
        break;
      case Sniffed::TIFF:
        std::fclose(closer.file);
        closer.file = nullptr;
        problem = ReadTiffFile(path, fileBytes, page, image);
        break;
      case Sniffed::JPEG:
        std::rewind(closer.file);
        problem = page == 0 ? ReadJpegFile(closer.file, fileBytes, path, image) : _NoSuchPage(page);
        break;
      case Sniffed::Unknown:
        problem = "not a PNG, TIFF or JPEG image";
        break;
    }
    if (!problem.empty()) return _Fail(error, path, problem);
    image->sourcePath = path;
    return true;
  } catch (const std::length_error&) {
    return _Fail(error, path, "out of memory");
  }
}

bool CanWrite(const FileImage& image, const std::string& path, std::string* error) {
  const std::string extension = _LowerExtension(path);
  const bool png = extension == ".png";
  if (!png && extension != ".tif" && extension != ".tiff" && !IsJpegName(path)) {
    return _Fail(error, path,
                 "cannot tell the output format from the name; use .png, .tif, .tiff or .jpg");
  }
  std::string problem = _CheckConsistent(image);
  if (problem.empty() && IsJpegName(path)) problem = JpegCannotHold(image);
  if (!problem.empty()) return _Fail(error, path, problem);
  if (png) {
    const std::string instead = "; write a .tif instead";
    if (image.model == ColourModel::kCMYK || image.model == ColourModel::kLab) {
      return _Fail(error, path,
                   std::string("PNG cannot hold ") + _ModelName(image.model) + " images" + instead);
    }
    if (image.bitsPerSample == 32) {
      return _Fail(error, path, "PNG cannot hold 32-bit float samples" + instead);
    }
    if (image.extraChannels > 1) {
      return _Fail(error, path,
                   "PNG cannot hold " + std::to_string(image.extraChannels) +
                       " extra channels (only one, as alpha)" + instead);
    }
    // Writing premultiplied values as PNG's straight alpha would change every colour.
    if (image.extraChannels == 1 && image.extraSampleKinds[0] == kExtraAssociatedAlpha) {
      return _Fail(error, path, "PNG cannot hold premultiplied (associated) alpha" + instead);
    }
  }
  std::error_code ignored;
  const std::filesystem::path target(path);
  if (std::filesystem::is_directory(target, ignored)) {
    return _Fail(error, path, "is a folder, not a file name");
  }
  const std::filesystem::path folder =
      target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
  if (!std::filesystem::is_directory(folder, ignored)) {
    return _Fail(error, path, "the folder " + folder.string() + " does not exist");
  }
  return true;
}

bool StageImage(const std::string& path, const FileImage& image, StagedFile* staged,
                std::string* error) {
  if (!CanWrite(image, path, error)) return false;
  const bool png = _LowerExtension(path) == ".png";
  if (const int failure = staged->descriptor() < 0 ? staged->Open(path) : 0) {
    return _Fail(error, path, std::string("cannot create the file: ") + std::strerror(failure));
  }
  std::string problem = _WriteTo(*staged, image, png);
  if (problem.empty()) {
    if (const int failure = staged->Finish())
      problem = std::string("cannot write: ") + std::strerror(failure);
  }
  if (!problem.empty()) return _Fail(error, path, problem);
  return true;
}

std::vector<std::string> LeftOutOf(const FileImage& image, const std::string& path) {
  const std::string extension = _LowerExtension(path);
  const bool png = extension == ".png";
  if (!png && extension != ".tif" && extension != ".tiff") return {};
  const ImageMetadata& metadata = image.metadata;
  std::vector<std::string> left;
  if (png && image.pages > 1)
    left.push_back("the input's other " + std::to_string(image.pages - 1) +
                   " page(s) cannot be carried into a PNG; write a .tif to keep them");
  if (!png && image.format == FileFormat::TIFF && image.tiffCompression == 7)
    left.push_back("the JPEG-compressed image is written with deflate (lossless)");
  std::string texts;
  for (const auto& [name, value] : metadata.text)
    if (!png && !TiffHoldsText(name)) texts += (texts.empty() ? "" : ", ") + name;
  if (!texts.empty()) left.push_back("the text " + texts + " cannot be carried into a TIFF");
  if (!png && image.format != FileFormat::TIFF && !metadata.exif.empty())
    left.push_back("of the EXIF block only its EXIF directory and the orientation go into a TIFF");
  const FileFormat format = png ? FileFormat::PNG : FileFormat::TIFF;
  std::string own;
  for (const FormatChunk& chunk : metadata.formatChunks) {
    // The white point and primaries go across, as cHRM or the TIFF's colour tags.
    const bool colours = chunk.name == "cHRM" || chunk.name == "tag:318" || chunk.name == "tag:319";
    if (image.format == format || colours) continue;
    own += (own.empty() ? "" : ", ") +
           (chunk.name == "tag:34377" ? "Photoshop resources" : chunk.name);
  }
  if (!own.empty())
    left.push_back("the input's own " + own + " cannot be carried into a " +
                   (png ? "PNG" : "TIFF"));
  return left;
}

bool WriteImage(const std::string& path, const FileImage& image, std::string* error) {
  // The file replaces `path` only once it is whole; on a failure the staged file is removed.
  StagedFile staged;
  if (!StageImage(path, image, &staged, error)) return false;
  if (const int failure = staged.Commit())
    return _Fail(error, path, std::string("cannot replace the file: ") + std::strerror(failure));
  return true;
}

namespace {

// The mask's selection as one byte per pixel, by the rules of ReadMask; "" or what is wrong.
std::string _MaskBytes(const FileImage& image, std::vector<uint8_t>* mask) {
  const size_t step = size_t(image.SamplesPerPixel());
  // Channel `c` of pixel `x` of a row; the high byte of 16-bit samples.
  auto sample = [&image, step](const uint8_t* row, int32_t x, size_t c) {
    const size_t at = size_t(x) * step + c;
    if (image.bitsPerSample == 8) return row[at];
    uint16_t v;
    std::memcpy(&v, row + 2 * at, 2);
    return uint8_t(v >> 8);
  };
  // With transparency the selection is where the paint is: the alpha, whatever the colour. A
  // wholly opaque alpha says nothing, and the colour decides.
  bool painted = false;
  for (int32_t y = 0; image.extraChannels == 1 && y < image.height && !painted; ++y) {
    const uint8_t* row = image.data.Rows(y);
    for (int32_t x = 0; x < image.width && !painted; ++x) painted = sample(row, x, step - 1) != 255;
  }
  mask->resize(size_t(image.width) * size_t(image.height));
  for (int32_t y = 0; y < image.height; ++y) {
    const uint8_t* row = image.data.Rows(y);
    uint8_t* to = mask->data() + size_t(y) * size_t(image.width);
    for (int32_t x = 0; x < image.width; ++x) {
      if (painted) {
        to[x] = sample(row, x, step - 1);
        continue;
      }
      const uint8_t grey = sample(row, x, 0);
      if (image.model == ColourModel::kRGB &&
          (sample(row, x, 1) != grey || sample(row, x, 2) != grey))
        return "an RGB mask must be grey (R = G = B) or show the selection by its transparency; "
               "make it grey with: convert MASK -colorspace Gray grey-mask.png";
      to[x] = grey;
    }
  }
  return "";
}

}  // namespace

bool ReadMask(const std::string& path, int32_t expectWidth, int32_t expectHeight,
              std::vector<uint8_t>* mask, std::string* error, std::vector<std::string>* notices,
              Orientation imageOrientation, bool maskAsStored) {
  FileImage image;
  if (!ReadImage(path, &image, error)) return false;
  if (image.model != ColourModel::kGrey && image.model != ColourModel::kRGB) {
    return _Fail(error, path,
                 std::string("a mask must be grey, but this image is ") + _ModelName(image.model) +
                     "; make it grey with: convert MASK -colorspace Gray grey-mask.png");
  }
  if (image.extraChannels > 1) {
    return _Fail(error, path,
                 "a mask may have one alpha channel but this one has " +
                     std::to_string(image.extraChannels) + " extra channels");
  }
  if (image.bitsPerSample == 32) {
    return _Fail(error, path, "a mask must have 1- to 16-bit samples, not 32-bit float");
  }
  // Both as displayed, unless the mask is to be taken as stored.
  const Orientation maskOrientation =
      maskAsStored ? Orientation::kTopLeft : image.metadata.orientation;
  if (maskAsStored) imageOrientation = Orientation::kTopLeft;
  const bool maskSwaps = SwapsSides(maskOrientation), imageSwaps = SwapsSides(imageOrientation);
  const int32_t maskWidth = maskSwaps ? image.height : image.width;
  const int32_t maskHeight = maskSwaps ? image.width : image.height;
  const int32_t shownWidth = imageSwaps ? expectHeight : expectWidth;
  const int32_t shownHeight = imageSwaps ? expectWidth : expectHeight;
  if (maskWidth != shownWidth || maskHeight != shownHeight) {
    const std::string shown =
        imageOrientation == Orientation::kTopLeft
            ? ""
            : " as displayed (orientation " + std::to_string(int(imageOrientation)) + ")";
    return _Fail(error, path,
                 "mask is " + std::to_string(maskWidth) + "x" + std::to_string(maskHeight) +
                     " but the image" + shown + " is " + std::to_string(shownWidth) + "x" +
                     std::to_string(shownHeight));
  }
  const std::string problem = _MaskBytes(image, mask);
  if (!problem.empty()) return _Fail(error, path, problem);
  // The mask as displayed, then in the image's stored layout (nothing to turn when both are
  // stored as displayed, the common case, which then holds one copy of a large mask, not three).
  if (maskOrientation != Orientation::kTopLeft || imageOrientation != Orientation::kTopLeft) {
    std::vector<uint8_t> shown;
    StoredToDisplayed(*mask, image.width, image.height, maskOrientation, &shown);
    DisplayedToStored(shown, expectWidth, expectHeight, imageOrientation, mask);
  }
  // A mask of 0s and 1s (an array of truth values saved as bytes) means 0 and 255.
  if (std::all_of(mask->begin(), mask->end(), [](uint8_t v) { return v <= 1; }) &&
      std::find(mask->begin(), mask->end(), 1) != mask->end()) {
    for (uint8_t& v : *mask) v = uint8_t(v * 255);
    if (notices) notices->push_back(path + ": the mask holds only 0 and 1; taken as 0 and 255");
  }
  return true;
}

}  // namespace imagefile
