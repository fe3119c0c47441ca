// The metadata tags of a TIFF: ICC profile, resolution, orientation, XMP, IPTC, the descriptive
// text tags, and Photoshop's image resources (kept only for a TIFF written from a TIFF).
#include "imagefile/tiff_metadata.h"

#include <string>
#include <utility>

namespace imagefile {
namespace {

struct TextTag {
  uint32_t tag;
  const char* name;     // the metadata's keyword for it, the TIFF tag's name
  const char* keyword;  // the PNG keyword that means the same, or null
};
constexpr TextTag kTextTags[] = {{TIFFTAG_IMAGEDESCRIPTION, "ImageDescription", "Description"},
                                 {TIFFTAG_ARTIST, "Artist", "Author"},
                                 {TIFFTAG_DOCUMENTNAME, "DocumentName", "Title"},
                                 {TIFFTAG_DATETIME, "DateTime", "Creation Time"},
                                 {TIFFTAG_COPYRIGHT, "Copyright", "Copyright"},
                                 {TIFFTAG_SOFTWARE, "Software", "Software"},
                                 {TIFFTAG_MAKE, "Make", nullptr},
                                 {TIFFTAG_MODEL, "Model", nullptr},
                                 {TIFFTAG_HOSTCOMPUTER, "HostComputer", nullptr},
                                 {TIFFTAG_PAGENAME, "PageName", nullptr}};

// The colour tags a TIFF written from a TIFF keeps, and their counts of floats.
constexpr std::pair<uint32_t, size_t> kColourTags[] = {{TIFFTAG_WHITEPOINT, 2},
                                                       {TIFFTAG_PRIMARYCHROMATICITIES, 6}};

// A tag of bytes (counted in bytes): the profile, XMP, IPTC, Photoshop's resources.
std::string _Bytes(TIFF* tiff, uint32_t tag) {
  uint32_t count = 0;
  void* data = nullptr;
  if (!TIFFGetField(tiff, tag, &count, &data) || !data) return "";
  return std::string(static_cast<const char*>(data), count);
}

bool _PutBytes(TIFF* tiff, uint32_t tag, const std::string& bytes) {
  return bytes.empty() || TIFFSetField(tiff, tag, uint32_t(bytes.size()), bytes.data());
}

}  // namespace

bool TiffHoldsText(const std::string& name) {
  for (const TextTag& text : kTextTags)
    if (name == text.name || (text.keyword && name == text.keyword)) return true;
  return false;
}

void TakeTiffMetadata(TIFF* tiff, FileImage* image) {
  ImageMetadata& metadata = image->metadata;
  uint16_t orientation = ORIENTATION_TOPLEFT;
  if (TIFFGetField(tiff, TIFFTAG_ORIENTATION, &orientation) && orientation >= 1 && orientation <= 8)
    metadata.orientation = Orientation(orientation);
  metadata.icc = _Bytes(tiff, TIFFTAG_ICCPROFILE);
  metadata.xmp = _Bytes(tiff, TIFFTAG_XMLPACKET);
  metadata.iptc = _Bytes(tiff, TIFFTAG_RICHTIFFIPTC);
  const std::string resources = _Bytes(tiff, TIFFTAG_PHOTOSHOP);
  if (!resources.empty())
    metadata.formatChunks.push_back({"tag:" + std::to_string(TIFFTAG_PHOTOSHOP), resources});
  // The colour tags, kept as their floats' bytes.
  for (const auto& [tag, count] : kColourTags) {
    float* values = nullptr;
    if (TIFFGetField(tiff, tag, &values) && values)
      metadata.formatChunks.push_back(
          {"tag:" + std::to_string(tag),
           std::string(reinterpret_cast<const char*>(values), count * sizeof(float))});
  }

  uint64_t gps = 0;
  if (TIFFGetField(tiff, TIFFTAG_GPSIFD, &gps) && gps)
    image->notices.push_back("its GPS directory is not carried into the output");
  float x = 0, y = 0;
  uint16_t unit = RESUNIT_INCH;
  if (TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &x) && TIFFGetField(tiff, TIFFTAG_YRESOLUTION, &y) &&
      x > 0 && y > 0) {
    TIFFGetFieldDefaulted(tiff, TIFFTAG_RESOLUTIONUNIT, &unit);
    metadata.resolution = {x, y,
                           unit == RESUNIT_INCH         ? Resolution::Unit::kInch
                           : unit == RESUNIT_CENTIMETER ? Resolution::Unit::kCentimetre
                                                        : Resolution::Unit::kNone};
  }
  for (const TextTag& text : kTextTags) {
    char* value = nullptr;
    if (TIFFGetField(tiff, text.tag, &value) && value) metadata.text.emplace_back(text.name, value);
  }
}

bool PutTiffMetadata(TIFF* tiff, const FileImage& image) {
  const ImageMetadata& metadata = image.metadata;
  bool ok = _PutBytes(tiff, TIFFTAG_ICCPROFILE, metadata.icc) &&
            _PutBytes(tiff, TIFFTAG_XMLPACKET, metadata.xmp) &&
            _PutBytes(tiff, TIFFTAG_RICHTIFFIPTC, metadata.iptc);
  // The stored layout is kept, and with it how it is shown.
  if (ok && metadata.orientation != Orientation::kTopLeft)
    ok = TIFFSetField(tiff, TIFFTAG_ORIENTATION, uint16_t(metadata.orientation));
  const Resolution& r = metadata.resolution;
  if (ok && r.x > 0 && r.y > 0) {
    const uint16_t unit = r.unit == Resolution::Unit::kInch         ? RESUNIT_INCH
                          : r.unit == Resolution::Unit::kCentimetre ? RESUNIT_CENTIMETER
                                                                    : RESUNIT_NONE;
    ok = TIFFSetField(tiff, TIFFTAG_XRESOLUTION, float(r.x)) &&
         TIFFSetField(tiff, TIFFTAG_YRESOLUTION, float(r.y)) &&
         TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, unit);
  }
  // Text by the tag's name, or by the PNG keyword that means the same.
  for (const auto& [name, value] : metadata.text) {
    for (const TextTag& text : kTextTags) {
      if (ok && (name == text.name || (text.keyword && name == text.keyword)))
        ok = TIFFSetField(tiff, text.tag, value.c_str());
    }
  }
  // A PNG's cHRM (white point and primaries in 100000ths) is what the colour tags hold.
  for (const FormatChunk& chunk : metadata.formatChunks) {
    if (!ok || image.format != FileFormat::PNG || chunk.name != "cHRM" || chunk.bytes.size() != 32)
      continue;
    float values[8];
    for (int i = 0; i < 8; ++i) {
      const auto* b = reinterpret_cast<const uint8_t*>(chunk.bytes.data()) + 4 * i;
      values[i] = float((uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3]) /
                        100000.0);
    }
    ok = TIFFSetField(tiff, TIFFTAG_WHITEPOINT, values) &&
         TIFFSetField(tiff, TIFFTAG_PRIMARYCHROMATICITIES, values + 2);
  }
  if (image.format == FileFormat::TIFF) {
    for (const FormatChunk& chunk : metadata.formatChunks) {
      if (ok && chunk.name == "tag:" + std::to_string(TIFFTAG_PHOTOSHOP))
        ok = _PutBytes(tiff, TIFFTAG_PHOTOSHOP, chunk.bytes);
      for (const auto& [tag, count] : kColourTags)
        if (ok && chunk.name == "tag:" + std::to_string(tag) &&
            chunk.bytes.size() == count * sizeof(float))
          ok = TIFFSetField(tiff, tag, reinterpret_cast<const float*>(chunk.bytes.data()));
    }
  }
  return ok;
}

}  // namespace imagefile
