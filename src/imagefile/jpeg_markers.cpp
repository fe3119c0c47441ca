// A JPEG's markers as the image's metadata and back: the ICC profile (APP2, in chunks), EXIF and
// XMP (APP1), IPTC (inside APP13's image resources), the JFIF resolution, and the orientation EXIF
// carries; every other APPn and COM marker as the JPEG's own format chunks.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "imagefile/exif_block.h"
#include "imagefile/jpeg_codec.h"
#include "imagefile/orientation.h"

namespace imagefile {
namespace {

constexpr char kExifName[] = "Exif\0";  // with the terminator: "Exif\0\0"
constexpr size_t kExifNameBytes = 6;
constexpr char kXmpName[] = "http://ns.adobe.com/xap/1.0/";  // and its terminator
constexpr size_t kXmpNameBytes = sizeof kXmpName;
constexpr char kResourcesName[] = "Photoshop 3.0";  // APP13's name for its resources, and "\0"
constexpr size_t kResourcesNameBytes = sizeof kResourcesName;
constexpr uint16_t kIptcResource = 0x0404;
constexpr uint16_t kOrientationTag = 0x0112, kXResolutionTag = 0x011A, kYResolutionTag = 0x011B,
                   kResolutionUnitTag = 0x0128;
constexpr uint32_t kShort = 3, kRational = 5;

bool _Starts(const jpeg_saved_marker_ptr marker, const char* name, size_t bytes) {
  return marker->data_length >= bytes && std::memcmp(marker->data, name, bytes) == 0;
}

// Where the value (or the offset of the values) of the entry `tag` of the first directory of
// `exif` lies when it is of type `type`, or 0; `*little` is the block's byte order.
size_t _EntryAt(const std::string& exif, uint32_t tag, uint32_t type, bool* little) {
  const size_t entry = ExifEntry(exif, tag, little);
  return entry && ExifBytes{exif, *little}.U16(entry + 2) == type ? entry + 8 : 0;
}

// The resolution in the first directory of `exif` (XResolution, YResolution, ResolutionUnit,
// which is inches when absent), or none.
Resolution _ExifResolution(const std::string& exif) {
  bool little = false;
  const size_t x = _EntryAt(exif, kXResolutionTag, kRational, &little);
  const size_t y = _EntryAt(exif, kYResolutionTag, kRational, &little);
  const size_t unit = _EntryAt(exif, kResolutionUnitTag, kShort, &little);
  const ExifBytes reader{exif, little};
  const auto rational = [&reader](size_t at) {
    const size_t values = reader.U32(at);
    if (at == 0 || !reader.Has(values, 8) || reader.U32(values + 4) == 0) return 0.0;
    return double(reader.U32(values)) / double(reader.U32(values + 4));
  };
  Resolution resolution;
  resolution.x = rational(x);
  resolution.y = rational(y);
  if (!(resolution.x > 0 && resolution.y > 0)) return Resolution();
  const uint32_t unitValue = unit ? reader.U16(unit) : 2;
  resolution.unit = unitValue == 2   ? Resolution::Unit::kInch
                    : unitValue == 3 ? Resolution::Unit::kCentimetre
                                     : Resolution::Unit::kNone;
  // Without a unit, 1:1 says nothing.
  if (resolution.unit == Resolution::Unit::kNone && resolution.x == resolution.y)
    return Resolution();
  return resolution;
}

}  // namespace

bool HasExifThumbnail(const std::string& exif) {
  if (exif.size() < 8 || (exif.compare(0, 2, "II") != 0 && exif.compare(0, 2, "MM") != 0))
    return false;
  const ExifBytes reader{exif, exif[0] == 'I'};
  const size_t directory = reader.U32(4);
  if (!reader.Has(directory, 2)) return false;
  const size_t next = directory + 2 + 12 * size_t(reader.U16(directory));
  return reader.Has(next, 4) && reader.U32(next) != 0;
}

namespace {

// Appends `value` as `size` bytes in the block's byte order.
void _Put(std::string* bytes, uint32_t value, int size, bool little) {
  for (int i = 0; i < size; ++i)
    bytes->push_back(char(value >> (8 * (little ? i : size - 1 - i)) & 0xFF));
}

// `exif` carrying `orientation`: its own entry's value changed, or, when it has none and the
// image is not shown as stored, a copy of its first directory with an orientation entry in tag
// order appended (on an even offset) for the header to point at; nothing moves, so every offset
// in the block still holds. An empty block becomes a header and that one entry.
std::string _ExifWithOrientation(std::string exif, Orientation orientation) {
  bool little = false;
  const auto value = uint8_t(orientation);
  if (const size_t at = _EntryAt(exif, kOrientationTag, kShort, &little)) {
    exif[at] = char(little ? value : 0);
    exif[at + 1] = char(little ? 0 : value);
    return exif;
  }
  if (orientation == Orientation::kTopLeft) return exif;
  if (exif.empty()) exif.assign("MM\0\x2a\0\0\0\x08\0\0\0\0\0\0", 14);  // no entries
  if (exif.size() < 8 || (exif.compare(0, 2, "II") != 0 && exif.compare(0, 2, "MM") != 0))
    return exif;
  const ExifBytes reader{exif, exif[0] == 'I'};
  const size_t directory = reader.U32(4);
  const size_t count = reader.Has(directory, 2) ? reader.U16(directory) : 0;
  if (!reader.Has(directory, 6 + 12 * count) || count == 0xFFFF) return exif;
  std::string copy;
  _Put(&copy, uint32_t(count + 1), 2, reader.little);
  for (size_t i = 0, placed = 0; i <= count; ++i) {
    const size_t entry = directory + 2 + 12 * i;
    if (!placed && (i == count || reader.U16(entry) > kOrientationTag)) {
      for (const auto& [number, size] :
           {std::pair<uint32_t, int>{kOrientationTag, 2}, {kShort, 2}, {1, 4}, {value, 2}, {0, 2}})
        _Put(&copy, number, size, reader.little);
      placed = 1;
    }
    if (i < count) copy.append(exif, entry, 12);
  }
  copy.append(exif, directory + 2 + 12 * count, 4);  // the next directory's offset
  if (exif.size() % 2) exif.push_back('\0');
  std::string offset;
  _Put(&offset, uint32_t(exif.size()), 4, reader.little);
  exif.replace(4, 4, offset);
  return exif + copy;
}

// The IPTC records among an APP13 marker's image resources ("8BIM" blocks), or "".
std::string _IptcOf(const unsigned char* data, size_t size) {
  size_t at = kResourcesNameBytes;
  while (at + 12 <= size && std::memcmp(data + at, "8BIM", 4) == 0) {
    const uint32_t id = uint32_t(data[at + 4] << 8 | data[at + 5]);
    size_t nameBytes = 1 + size_t(data[at + 6]);  // a Pascal string padded to an even length
    nameBytes += nameBytes % 2;
    const size_t sizeAt = at + 6 + nameBytes;
    if (sizeAt + 4 > size) break;
    const uint32_t bytes = uint32_t(data[sizeAt]) << 24 | uint32_t(data[sizeAt + 1]) << 16 |
                           uint32_t(data[sizeAt + 2]) << 8 | data[sizeAt + 3];
    const size_t start = sizeAt + 4;
    if (bytes > size - start) break;
    if (id == kIptcResource) return std::string(reinterpret_cast<const char*>(data + start), bytes);
    at = start + bytes + bytes % 2;
  }
  return "";
}

// The ICC profile in the APP2 markers ("ICC_PROFILE\0", its chunk's number from 1, the count of
// chunks, the bytes), joined in their numbers' order; "" when a chunk is missing or repeated.
std::string _IccOf(jpeg_saved_marker_ptr markers) {
  constexpr size_t kHead = 14;
  std::vector<std::string> chunks;
  for (jpeg_saved_marker_ptr marker = markers; marker; marker = marker->next) {
    if (marker->marker != JPEG_APP0 + 2 || !_Starts(marker, "ICC_PROFILE", 12) ||
        marker->data_length < kHead)
      continue;
    const size_t number = marker->data[12], count = marker->data[13];
    if (chunks.empty()) chunks.resize(count);
    if (number == 0 || number > chunks.size() || count != chunks.size() ||
        !chunks[number - 1].empty())
      return "";
    chunks[number - 1].assign(reinterpret_cast<const char*>(marker->data) + kHead,
                              marker->data_length - kHead);
  }
  std::string profile;
  for (const std::string& chunk : chunks) {
    if (chunk.empty()) return "";
    profile += chunk;
  }
  return profile;
}

std::string _IptcMarker(const std::string& iptc) {
  std::string marker(kResourcesName, kResourcesNameBytes);
  const auto size = uint32_t(iptc.size());
  const char head[] = {
      '8',       'B', 'I', 'M', 4, 4, 0, 0, char(size >> 24), char(size >> 16), char(size >> 8),
      char(size)};
  marker.append(head, sizeof head).append(iptc);
  if (iptc.size() % 2) marker.push_back('\0');
  return marker;
}

}  // namespace

void MetadataFromJpegMarkers(const jpeg_decompress_struct& info, ImageMetadata* metadata) {
  for (jpeg_saved_marker_ptr marker = info.marker_list; marker; marker = marker->next) {
    const auto* data = reinterpret_cast<const char*>(marker->data);
    const size_t size = marker->data_length;
    const int type = marker->marker;
    if (type == JPEG_APP0 + 1 && _Starts(marker, kExifName, kExifNameBytes) &&
        metadata->exif.empty()) {
      metadata->exif.assign(data + kExifNameBytes, size - kExifNameBytes);
    } else if (type == JPEG_APP0 + 1 && _Starts(marker, kXmpName, kXmpNameBytes) &&
               metadata->xmp.empty()) {
      metadata->xmp.assign(data + kXmpNameBytes, size - kXmpNameBytes);
    } else if (type == JPEG_APP0 + 13 && _Starts(marker, kResourcesName, kResourcesNameBytes)) {
      metadata->iptc = _IptcOf(marker->data, size);
    } else if (!(type == JPEG_APP0 + 2 && _Starts(marker, "ICC_PROFILE", 12)) &&
               !(type == JPEG_APP0 && _Starts(marker, "JFIF", 5)) &&
               !(type == JPEG_APP0 + 14 && _Starts(marker, "Adobe", 5))) {
      const std::string name = type == JPEG_COM ? "COM" : "APP" + std::to_string(type - JPEG_APP0);
      metadata->formatChunks.push_back({name, std::string(data, size)});
    }
  }
  metadata->icc = _IccOf(info.marker_list);
  metadata->orientation = ExifOrientation(metadata->exif);
  // JFIF's density when it has a unit; else EXIF's resolution; else JFIF's aspect ratio, unless
  // it is the 1:1 that says nothing.
  const bool density = info.saw_JFIF_marker && info.X_density > 0 && info.Y_density > 0;
  const Resolution fromExif = _ExifResolution(metadata->exif);
  if (density && (info.density_unit == 1 || info.density_unit == 2)) {
    metadata->resolution = {
        double(info.X_density), double(info.Y_density),
        info.density_unit == 1 ? Resolution::Unit::kInch : Resolution::Unit::kCentimetre};
  } else if (fromExif.x > 0) {
    metadata->resolution = fromExif;
  } else if (density && info.X_density != info.Y_density) {
    metadata->resolution = {double(info.X_density), double(info.Y_density),
                            Resolution::Unit::kNone};
  }
}

void SetJpegResolution(jpeg_compress_struct* info, const Resolution& resolution) {
  if (!(resolution.x > 0 && resolution.y > 0 && resolution.x < 65535.5 && resolution.y < 65535.5)) {
    return;
  }
  info->density_unit = resolution.unit == Resolution::Unit::kInch         ? 1
                       : resolution.unit == Resolution::Unit::kCentimetre ? 2
                                                                          : 0;
  info->X_density = UINT16(resolution.x + 0.5);
  info->Y_density = UINT16(resolution.y + 0.5);
}

std::vector<JpegMarker> JpegMarkersOf(const FileImage& image) {
  const ImageMetadata& metadata = image.metadata;
  std::vector<JpegMarker> markers;
  const std::string exif = _ExifWithOrientation(metadata.exif, metadata.orientation);
  if (!exif.empty() && FitsJpegMarker(exif))
    markers.push_back({JPEG_APP0 + 1, std::string(kExifName, kExifNameBytes) + exif});
  if (!metadata.icc.empty() && metadata.icc.size() <= kMaxIccBytes)
    markers.push_back({kIccMarkers, metadata.icc});
  if (!metadata.xmp.empty() && FitsJpegMarker(metadata.xmp))
    markers.push_back({JPEG_APP0 + 1, std::string(kXmpName, kXmpNameBytes) + metadata.xmp});
  if (!metadata.iptc.empty() && FitsJpegMarker(metadata.iptc))
    markers.push_back({JPEG_APP0 + 13, _IptcMarker(metadata.iptc)});
  if (image.format != FileFormat::JPEG) return markers;
  for (const FormatChunk& chunk : metadata.formatChunks) {
    const int app = chunk.name.rfind("APP", 0) == 0 ? std::atoi(chunk.name.c_str() + 3) : -1;
    const int type = chunk.name == "COM" ? JPEG_COM : app >= 0 && app <= 15 ? JPEG_APP0 + app : 0;
    if (type != 0 && chunk.bytes.size() <= kMaxMarkerBytes) markers.push_back({type, chunk.bytes});
  }
  return markers;
}

void WriteJpegMarkers(jpeg_compress_struct* info, const std::vector<JpegMarker>& markers) {
  for (const JpegMarker& marker : markers) {
    const auto* bytes = reinterpret_cast<const JOCTET*>(marker.bytes.data());
    if (marker.type == kIccMarkers)
      jpeg_write_icc_profile(info, bytes, unsigned(marker.bytes.size()));
    else
      jpeg_write_marker(info, marker.type, bytes, unsigned(marker.bytes.size()));
  }
}

}  // namespace imagefile
