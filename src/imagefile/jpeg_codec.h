// Internal to the JPEG files: what the reader, the whole-image writer and the block splice share
// around libjpeg — its error handling, the decoding every pass must repeat exactly, the colour
// models a JPEG's components map to, and its markers as the image's metadata. libjpeg reports
// errors by longjmp: every function that holds a setjmp holds no object with a destructor, and
// the libjpeg objects are released by the caller's guards.
#pragma once

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>
// clang-format off: jpeglib.h needs <cstdio> first.
#include <jpeglib.h>
// clang-format on

#include "imagefile/image_io.h"

namespace imagefile {

// Where libjpeg's failures land; plain data, so that a jump can leave it behind. One of these
// may serve several libjpeg objects at once.
struct JpegError {
  jpeg_error_mgr manager;  // first: libjpeg's pointer to it is a pointer to the whole
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
  bool truncated;  // the data ended before the image did
};

// Points `*err` of a libjpeg object at `error`: failures jump to `error->jump` with the message
// kept; warnings are ignored except running out of data, which sets `truncated`.
jpeg_error_mgr* UseJpegError(JpegError* error);

// libjpeg objects that release themselves; zeroed, so releasing one never made is harmless.
struct JpegDecoder {
  jpeg_decompress_struct info = {};
  ~JpegDecoder() {
    if (info.mem) jpeg_destroy_decompress(&info);
  }
};
struct JpegEncoder {
  jpeg_compress_struct info = {};
  ~JpegEncoder() {
    if (info.mem) jpeg_destroy_compress(&info);
  }
};

// How a JPEG's components become a file image: grey from one component, RGB from YCbCr or RGB,
// CMYK from CMYK or YCCK. `inverted`: the file stores 255 − ink, as a file with an APP14 marker
// does, and the image holds ink.
struct JpegColour {
  ColourModel model = ColourModel::kGrey;
  J_COLOR_SPACE decoded = JCS_GRAYSCALE;
  bool inverted = false;
};

// The colour of a JPEG whose header `info` has read: "" with `*colour` set, or why it is refused.
std::string JpegColourOf(const jpeg_decompress_struct& info, JpegColour* colour);

// Keeps every APPn and COM marker of the file being read (before jpeg_read_header).
void KeepJpegMarkers(jpeg_decompress_struct* info);

// Sets how the pixels are decoded (after jpeg_read_header): the same for the reader and the
// splice, which compares a second decoding with the filled image pixel for pixel.
void SetJpegDecoding(jpeg_decompress_struct* info, const JpegColour& colour);

// The image's metadata from the kept markers of `info`: ICC profile, EXIF with its orientation,
// XMP, IPTC, the JFIF resolution; other APPn and COM markers as format chunks ("APP12",
// "COM"), apart from the JFIF (APP0) and APP14 markers, which libjpeg writes itself.
void MetadataFromJpegMarkers(const jpeg_decompress_struct& info, ImageMetadata* metadata);

// Sets the JFIF resolution the encoder writes (before jpeg_start_compress).
void SetJpegResolution(jpeg_compress_struct* info, const Resolution& resolution);

// Whether an EXIF block has a second directory: the thumbnail's.
bool HasExifThumbnail(const std::string& exif);

// One marker to write: its type (JPEG_APP0 + n, JPEG_COM) and bytes, or kIccMarkers and a whole
// ICC profile, which libjpeg splits into APP2 markers.
struct JpegMarker {
  int type = 0;
  std::string bytes;
};
inline constexpr int kIccMarkers = -1;

// The markers that carry `image.metadata`, in the order they are written: EXIF (made or corrected
// to carry the orientation), the ICC profile, XMP, IPTC, and the format chunks of an image read
// from a JPEG. Pieces too large for a marker are left out (JpegWriteWarnings names them).
std::vector<JpegMarker> JpegMarkersOf(const FileImage& image);

// Writes `markers` after jpeg_start_compress. Allocates nothing, so it may jump.
void WriteJpegMarkers(jpeg_compress_struct* info, const std::vector<JpegMarker>& markers);

// The most bytes one marker carries after its type and length, and whether a piece of metadata
// fits one with the few bytes that name it ("Exif\0\0", XMP's namespace, the APP13 resource
// wrapper).
inline constexpr size_t kMaxMarkerBytes = 65533;
inline bool FitsJpegMarker(const std::string& piece) {
  return piece.size() + 32 <= kMaxMarkerBytes;
}
// An ICC profile goes in at most 255 APP2 markers of 65,519 bytes each.
inline constexpr size_t kMaxIccBytes = 255 * 65519;

// What SpliceJpegFile says of a source whose blocks cannot be written again as they are: the
// first part, the reason in brackets, then the second.
inline constexpr char kBlocksNotKept[] = "the input JPEG's blocks cannot be kept as they are";
inline constexpr char kWriteInstead[] = "; write a .png or .tif instead";

// Writes `image`, filled from the JPEG at `image.sourcePath`, as a JPEG that keeps the source's
// quantised coefficients in every 8×8 block without a changed pixel and its markers verbatim.
// Returns "" or what is wrong.
std::string SpliceJpegFile(std::FILE* out, const FileImage& image);

}  // namespace imagefile
