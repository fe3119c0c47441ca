// Reading an EXIF block as APP1 and eXIf carry it, a TIFF header and its directories, in the
// block's own byte order: the one walk of its first directory that the readers and writers of
// every format share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace imagefile {

struct ExifBytes {
  const std::string& bytes;
  bool little = false;
  bool Has(size_t at, size_t count) const {
    return at <= bytes.size() && count <= bytes.size() - at;
  }
  uint32_t U16(size_t at) const {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data()) + at;
    return little ? uint32_t(p[0] | p[1] << 8) : uint32_t(p[0] << 8 | p[1]);
  }
  uint32_t U32(size_t at) const {
    return little ? U16(at) | U16(at + 2) << 16 : U16(at) << 16 | U16(at + 2);
  }
};

// Where the 12 bytes of the first entry `tag` of the first directory of `exif` lie (tag, type,
// count, then the value or the offset of the values), or 0 when there is none or `exif` does
// not start with a TIFF header; `*little` is the block's byte order.
inline size_t ExifEntry(const std::string& exif, uint32_t tag, bool* little) {
  if (exif.size() < 8 || (exif.compare(0, 2, "II") != 0 && exif.compare(0, 2, "MM") != 0)) return 0;
  const ExifBytes reader{exif, exif[0] == 'I'};
  *little = reader.little;
  const size_t directory = reader.U32(4);
  if (!reader.Has(directory, 2)) return 0;
  const uint32_t entries = reader.U16(directory);
  for (uint32_t i = 0; i < entries; ++i) {
    const size_t entry = directory + 2 + 12 * size_t(i);
    if (!reader.Has(entry, 12)) break;
    if (reader.U16(entry) == tag) return entry;
  }
  return 0;
}

}  // namespace imagefile
