// What a photograph carries besides its pixels, in a form every format can hold or pass on:
// the colour profile, the resolution, the orientation, EXIF, XMP, IPTC and text. Readers fill
// it; writers write what their format can hold of it. Pieces that only one format knows (a
// PNG's colour chunks, a TIFF's other tags, a JPEG's other markers) are kept as that format's
// own and written back only to a file of the same format.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace imagefile {

enum class FileFormat { PNG, TIFF, JPEG };

// How the stored rows are shown, numbered as EXIF and TIFF number them (1: as stored).
enum class Orientation : uint8_t {
  kTopLeft = 1,
  kTopRight = 2,
  kBottomRight = 3,
  kBottomLeft = 4,
  kLeftTop = 5,
  kRightTop = 6,
  kRightBottom = 7,
  kLeftBottom = 8,
};

struct Resolution {
  enum class Unit : uint8_t { kNone, kInch, kCentimetre };
  double x = 0;  // pixels per unit; 0 when the file says nothing
  double y = 0;
  Unit unit = Unit::kNone;  // kNone with x, y set: only the aspect ratio is known
};

// One piece of metadata only its own format knows, kept as its bytes: a PNG chunk by its type
// ("gAMA", "cHRM", "sRGB", "bKGD", …), a TIFF tag by its number ("tag:305"), a JPEG marker
// ("APP14", …).
struct FormatChunk {
  std::string name;
  std::string bytes;
};

struct ImageMetadata {
  std::string icc;   // the ICC colour profile, or empty
  std::string exif;  // the EXIF block as a JPEG's APP1 holds it after "Exif\0\0" (a TIFF
                     // header and directories), or empty
  std::string xmp;   // the XMP packet, or empty
  std::string iptc;  // the IPTC-IIM records, or empty
  Resolution resolution;
  Orientation orientation = Orientation::kTopLeft;
  // Descriptive text by keyword: a PNG's text chunks ("Title", "Author", "Comment", …) and a
  // TIFF's descriptive tags under their names ("ImageDescription", "Artist", "DateTime",
  // "Software", "Copyright", "DocumentName", …).
  std::vector<std::pair<std::string, std::string>> text;
  // The origin format's own pieces, written back only to a file of that format.
  std::vector<FormatChunk> formatChunks;
};

}  // namespace imagefile
