// Copying a TIFF directory tag by tag with its raw strips or tiles, and reading how a directory
// stores its image, so that a file written from one page keeps the others and the layout.
#include "imagefile/tiff_pages.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "imagefile/exif_block.h"

namespace imagefile {
namespace {

// Tags by how libtiff passes their values.
constexpr uint32_t kShortTags[] = {
    TIFFTAG_BITSPERSAMPLE,   TIFFTAG_COMPRESSION,     TIFFTAG_PHOTOMETRIC,  TIFFTAG_FILLORDER,
    TIFFTAG_ORIENTATION,     TIFFTAG_SAMPLESPERPIXEL, TIFFTAG_PLANARCONFIG, TIFFTAG_RESOLUTIONUNIT,
    TIFFTAG_PREDICTOR,       TIFFTAG_INKSET,          TIFFTAG_SAMPLEFORMAT, TIFFTAG_THRESHHOLDING,
    TIFFTAG_YCBCRPOSITIONING};
constexpr uint32_t kLongTags[] = {TIFFTAG_SUBFILETYPE,   TIFFTAG_IMAGEWIDTH,   TIFFTAG_IMAGELENGTH,
                                  TIFFTAG_ROWSPERSTRIP,  TIFFTAG_TILEWIDTH,    TIFFTAG_TILELENGTH,
                                  TIFFTAG_GROUP3OPTIONS, TIFFTAG_GROUP4OPTIONS};
constexpr uint32_t kFloatTags[] = {TIFFTAG_XRESOLUTION, TIFFTAG_YRESOLUTION, TIFFTAG_XPOSITION,
                                   TIFFTAG_YPOSITION};
constexpr uint32_t kTextTags[] = {TIFFTAG_DOCUMENTNAME, TIFFTAG_IMAGEDESCRIPTION, TIFFTAG_MAKE,
                                  TIFFTAG_MODEL,        TIFFTAG_SOFTWARE,         TIFFTAG_DATETIME,
                                  TIFFTAG_ARTIST,       TIFFTAG_HOSTCOMPUTER,     TIFFTAG_PAGENAME,
                                  TIFFTAG_COPYRIGHT};
constexpr uint32_t kShortPairTags[] = {TIFFTAG_PAGENUMBER, TIFFTAG_YCBCRSUBSAMPLING};
constexpr uint32_t kByteTags[] = {TIFFTAG_ICCPROFILE, TIFFTAG_XMLPACKET, TIFFTAG_RICHTIFFIPTC,
                                  TIFFTAG_PHOTOSHOP, TIFFTAG_JPEGTABLES};
constexpr uint32_t kFloatArrayTags[] = {TIFFTAG_WHITEPOINT, TIFFTAG_PRIMARYCHROMATICITIES,
                                        TIFFTAG_REFERENCEBLACKWHITE, TIFFTAG_YCBCRCOEFFICIENTS};

bool _CopyTags(TIFF* in, TIFF* out) {
  bool ok = true;
  for (uint32_t tag : kShortTags) {
    uint16_t v = 0;
    if (ok && TIFFGetField(in, tag, &v)) ok = TIFFSetField(out, tag, v);
  }
  for (uint32_t tag : kLongTags) {
    uint32_t v = 0;
    if (ok && TIFFGetField(in, tag, &v)) ok = TIFFSetField(out, tag, v);
  }
  for (uint32_t tag : kFloatTags) {
    float v = 0;
    if (ok && TIFFGetField(in, tag, &v)) ok = TIFFSetField(out, tag, v);
  }
  for (uint32_t tag : kTextTags) {
    char* v = nullptr;
    if (ok && TIFFGetField(in, tag, &v) && v) ok = TIFFSetField(out, tag, v);
  }
  for (uint32_t tag : kShortPairTags) {
    uint16_t a = 0, b = 0;
    if (ok && TIFFGetField(in, tag, &a, &b)) ok = TIFFSetField(out, tag, a, b);
  }
  for (uint32_t tag : kByteTags) {
    uint32_t count = 0;
    void* data = nullptr;
    if (ok && TIFFGetField(in, tag, &count, &data) && data)
      ok = TIFFSetField(out, tag, count, data);
  }
  for (uint32_t tag : kFloatArrayTags) {
    float* v = nullptr;
    if (ok && TIFFGetField(in, tag, &v) && v) ok = TIFFSetField(out, tag, v);
  }
  uint16_t count = 0, *kinds = nullptr;
  if (ok && TIFFGetField(in, TIFFTAG_EXTRASAMPLES, &count, &kinds) && count)
    ok = TIFFSetField(out, TIFFTAG_EXTRASAMPLES, count, kinds);
  uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
  if (ok && TIFFGetField(in, TIFFTAG_COLORMAP, &red, &green, &blue))
    ok = TIFFSetField(out, TIFFTAG_COLORMAP, red, green, blue);
  return ok;
}

// Copies one tag of the current (EXIF) directory of `in` to that of `out`, passing its value
// the way libtiff's field description says.
bool _CopyField(TIFF* in, TIFF* out, uint32_t tag) {
  const TIFFField* field = TIFFFieldWithTag(in, tag);
  if (!field) return true;
  // A tag of no values has nothing to keep, and libtiff would refuse to write the directory.
  if (TIFFFieldPassCount(field)) {
    void* values = nullptr;
    if (TIFFFieldSetGetCountSize(field) == 4) {
      uint32_t count = 0;
      return !TIFFGetField(in, tag, &count, &values) || count == 0 ||
             TIFFSetField(out, tag, count, values);
    }
    uint16_t count = 0;
    return !TIFFGetField(in, tag, &count, &values) || count == 0 ||
           TIFFSetField(out, tag, count, values);
  }
  union {
    uint8_t u8;
    uint16_t u16;
    uint32_t u32;
    uint64_t u64;
    float f;
    double d;
    char* text;
  } value = {};
  if (!TIFFGetField(in, tag, &value)) return true;
  const TIFFDataType type = TIFFFieldDataType(field);
  const int size = TIFFFieldSetGetSize(field);
  if (type == TIFF_ASCII) return TIFFSetField(out, tag, value.text);
  // A fixed number of values (ExifVersion's 4 bytes) comes and goes as a pointer.
  if (TIFFFieldReadCount(field) != 1) return TIFFSetField(out, tag, static_cast<void*>(value.text));
  if (type == TIFF_RATIONAL || type == TIFF_SRATIONAL || type == TIFF_FLOAT || type == TIFF_DOUBLE)
    return TIFFSetField(out, tag, size == 4 ? double(value.f) : value.d);
  switch (size) {
    case 1:
      return TIFFSetField(out, tag, int(value.u8));
    case 2:
      return TIFFSetField(out, tag, int(value.u16));
    case 4:
      return TIFFSetField(out, tag, value.u32);
    default:
      return TIFFSetField(out, tag, value.u64);
  }
}

// Writes the EXIF directory `in` is on as a directory of `out`, which is then on a new, empty
// main directory; `*offset` receives where it went.
std::string _WriteExifFrom(TIFF* in, TIFF* out, uint64_t* offset) {
  if (TIFFCreateEXIFDirectory(out) != 0) return "cannot write an EXIF directory";  // 0: done
  std::string problem;
  const int count = TIFFGetTagListCount(in);
  for (int i = 0; i < count && problem.empty(); ++i)
    if (!_CopyField(in, out, TIFFGetTagListEntry(in, i)))
      problem = "cannot copy the EXIF tag " + std::to_string(TIFFGetTagListEntry(in, i));
  if (problem.empty() && !TIFFWriteCustomDirectory(out, offset))
    problem = "cannot write the EXIF directory";
  TIFFFreeDirectory(out);  // a new directory does not release the EXIF directory's values
  TIFFCreateDirectory(out);
  return problem;
}

// An EXIF block in memory, read or written by libtiff as a file.
struct MemoryFile {
  std::string* bytes;
  uint64_t at = 0;
};
tmsize_t _MemoryRead(thandle_t handle, void* to, tmsize_t size) {
  auto* file = static_cast<MemoryFile*>(handle);
  const uint64_t left = file->at < file->bytes->size() ? file->bytes->size() - file->at : 0;
  const size_t count = size_t(std::min<uint64_t>(uint64_t(size), left));
  std::memcpy(to, file->bytes->data() + file->at, count);
  file->at += count;
  return tmsize_t(count);
}
tmsize_t _MemoryWrite(thandle_t handle, void* from, tmsize_t size) {
  auto* file = static_cast<MemoryFile*>(handle);
  if (file->bytes->size() < file->at + uint64_t(size)) file->bytes->resize(file->at + size);
  std::memcpy(file->bytes->data() + file->at, from, size_t(size));
  file->at += uint64_t(size);
  return size;
}
toff_t _MemorySeek(thandle_t handle, toff_t offset, int whence) {
  auto* file = static_cast<MemoryFile*>(handle);
  file->at = whence == SEEK_SET   ? offset
             : whence == SEEK_CUR ? file->at + offset
                                  : file->bytes->size() + offset;
  return file->at;
}
int _MemoryClose(thandle_t) { return 0; }
toff_t _MemorySize(thandle_t handle) { return static_cast<MemoryFile*>(handle)->bytes->size(); }

// Where the first directory of a TIFF-structured EXIF block points to its EXIF directory, or 0.
uint64_t _ExifPointer(const std::string& block) {
  bool little = false;
  const size_t entry = ExifEntry(block, TIFFTAG_EXIFIFD, &little);
  return entry ? ExifBytes{block, little}.U32(entry + 8) : 0;
}

}  // namespace

void CopyOtherTags(TIFF* in, TIFF* out) {
  // Tags written elsewhere, or pointing to directories of their own.
  constexpr uint32_t kHandled[] = {
      TIFFTAG_EXIFIFD,    TIFFTAG_GPSIFD,     TIFFTAG_SUBIFD,
      TIFFTAG_ICCPROFILE, TIFFTAG_XMLPACKET,  TIFFTAG_RICHTIFFIPTC,
      TIFFTAG_PHOTOSHOP,  TIFFTAG_JPEGTABLES, TIFFTAG_INTEROPERABILITYIFD};
  std::vector<uint32_t> tags;
  for (int i = 0; i < TIFFGetTagListCount(in); ++i) tags.push_back(TIFFGetTagListEntry(in, i));
  for (uint32_t tag : tags) {
    const TIFFField* field = TIFFFieldWithTag(in, tag);
    if (!field || std::find(std::begin(kHandled), std::end(kHandled), tag) != std::end(kHandled))
      continue;
    const TIFFDataType type = TIFFFieldDataType(field);
    if (type == TIFF_IFD || type == TIFF_IFD8) continue;
    // A tag libtiff does not know (a GeoTIFF key, another program's own) is made known to `out`
    // as it was to `in`: any number of values of its type.
    if (!TIFFFindField(out, tag, TIFF_ANY)) {
      static char name[] = "kept tag";
      const TIFFFieldInfo info = {tag, TIFF_VARIABLE2, TIFF_VARIABLE2, type, FIELD_CUSTOM, 1, 1,
                                  name};
      if (TIFFMergeFieldInfo(out, &info, 1) != 0) continue;
    }
    _CopyField(in, out, tag);  // one that cannot be copied is left out; the rest go on
  }
}

std::string CopyExifDirectory(TIFF* in, int page, TIFF* out, uint64_t* offset) {
  *offset = 0;
  uint64_t exif = 0;
  if (!TIFFGetField(in, TIFFTAG_EXIFIFD, &exif) || exif == 0) return "";
  // A directory libtiff cannot read is left out (the reader said so), not the whole file.
  std::string problem = TIFFReadEXIFDirectory(in, exif) ? _WriteExifFrom(in, out, offset) : "";
  if (!TIFFSetDirectory(in, tdir_t(page)))
    problem = "cannot read page " + std::to_string(page + 1) + " again";
  return problem;
}

std::string WriteExifBlock(const std::string& exif, TIFF* out, uint64_t* offset) {
  *offset = 0;
  // Some writers keep the "Exif\0\0" that precedes the block in a JPEG.
  std::string block = exif.compare(0, 6, std::string("Exif\0\0", 6)) == 0 ? exif.substr(6) : exif;
  const uint64_t pointer = _ExifPointer(block);
  if (pointer == 0) return "";
  MemoryFile file{&block};
  // "h": the header alone; the first directory of an EXIF block describes no image.
  TIFF* in = TIFFClientOpen("EXIF", "rh", &file, _MemoryRead, _MemoryWrite, _MemorySeek,
                            _MemoryClose, _MemorySize, nullptr, nullptr);
  if (!in) return "";
  TIFFCreateDirectory(in);  // sets up the tag handling that reading a directory relies on
  const std::string problem =
      TIFFReadEXIFDirectory(in, pointer) ? _WriteExifFrom(in, out, offset) : "";
  TIFFClose(in);
  return problem;
}

std::vector<uint64_t> SubImagesOf(TIFF* in) {
  uint16_t count = 0;
  uint64_t* offsets = nullptr;
  if (!TIFFGetField(in, TIFFTAG_SUBIFD, &count, &offsets) || !offsets) return {};
  return std::vector<uint64_t>(offsets, offsets + count);
}

std::string CopySubImages(TIFF* in, const std::vector<uint64_t>& offsets, int page, TIFF* out) {
  std::string problem;
  for (size_t i = 0; i < offsets.size() && problem.empty(); ++i) {
    problem = TIFFSetSubDirectory(in, offsets[i])
                  ? CopyTiffDirectory(in, out, 0, 0)
                  : "cannot read a sub-image of page " + std::to_string(page + 1);
  }
  if (!TIFFSetDirectory(in, tdir_t(page)) && problem.empty())
    problem = "cannot read page " + std::to_string(page + 1) + " again";
  return problem;
}

std::string CopyTiffDirectory(TIFF* in, TIFF* out, uint64_t exif, size_t subImages) {
  // libtiff fills in where the announced sub-images go as it writes them.
  const std::vector<uint64_t> unknown(subImages, 0);
  const bool copied = _CopyTags(in, out);
  if (copied) CopyOtherTags(in, out);
  if (!copied || (exif && !TIFFSetField(out, TIFFTAG_EXIFIFD, exif)) ||
      (subImages && !TIFFSetField(out, TIFFTAG_SUBIFD, uint16_t(subImages), unknown.data())))
    return "cannot copy the tags of page " + std::to_string(TIFFCurrentDirectory(in) + 1);
  const bool tiled = TIFFIsTiled(in);
  const uint32_t pieces = tiled ? TIFFNumberOfTiles(in) : TIFFNumberOfStrips(in);
  uint64_t* counts = nullptr;
  if (!TIFFGetField(in, tiled ? TIFFTAG_TILEBYTECOUNTS : TIFFTAG_STRIPBYTECOUNTS, &counts))
    return "a page without its data";
  std::vector<uint8_t> buffer;
  for (uint32_t i = 0; i < pieces; ++i) {
    buffer.resize(counts[i]);
    const tmsize_t got = tiled ? TIFFReadRawTile(in, i, buffer.data(), tmsize_t(counts[i]))
                               : TIFFReadRawStrip(in, i, buffer.data(), tmsize_t(counts[i]));
    if (got < 0) return "cannot read page " + std::to_string(TIFFCurrentDirectory(in) + 1);
    const tmsize_t put = tiled ? TIFFWriteRawTile(out, i, buffer.data(), got)
                               : TIFFWriteRawStrip(out, i, buffer.data(), got);
    if (put != got) return "cannot copy page " + std::to_string(TIFFCurrentDirectory(in) + 1);
  }
  if (!TIFFWriteDirectory(out))
    return "cannot write page " + std::to_string(TIFFCurrentDirectory(in) + 1);
  return "";
}

std::string ExifBlockOf(TIFF* in, int page) {
  uint64_t exif = 0;
  if (!TIFFGetField(in, TIFFTAG_EXIFIFD, &exif) || exif == 0) return "";
  uint16_t orientation = ORIENTATION_TOPLEFT;
  TIFFGetField(in, TIFFTAG_ORIENTATION, &orientation);
  std::string block;
  MemoryFile file{&block};
  // A little-endian header, then the EXIF directory wherever libtiff puts it.
  TIFF* out = TIFFClientOpen("EXIF", "wl", &file, _MemoryRead, _MemoryWrite, _MemorySeek,
                             _MemoryClose, _MemorySize, nullptr, nullptr);
  uint64_t offset = 0;
  const bool copied = out && TIFFReadEXIFDirectory(in, exif) &&
                      _WriteExifFrom(in, out, &offset).empty() && offset > 0;
  if (out) TIFFCleanup(out);  // the empty main directory is not written
  TIFFSetDirectory(in, tdir_t(page));
  if (!copied || block.size() < 8) return "";
  // The first directory: the orientation, and the entry pointing to the EXIF directory.
  block.resize((block.size() + 1) & ~size_t(1));
  const uint32_t first = uint32_t(block.size());
  auto put = [&block](uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) block += char(value >> (8 * i));
  };
  const bool turned = orientation != ORIENTATION_TOPLEFT;
  put(turned ? 2 : 1, 2);
  if (turned) {
    put(TIFFTAG_ORIENTATION, 2);
    put(TIFF_SHORT, 2);
    put(1, 4);
    put(orientation, 4);
  }
  put(TIFFTAG_EXIFIFD, 2);
  put(TIFF_LONG, 2);
  put(1, 4);
  put(offset, 4);
  put(0, 4);
  for (int i = 0; i < 4; ++i) block[size_t(4 + i)] = char(first >> (8 * i));
  return block;
}

TiffStorage StorageOf(TIFF* in) {
  TiffStorage storage;
  TIFFGetField(in, TIFFTAG_PREDICTOR, &storage.predictor);
  if (TIFFIsTiled(in)) {
    TIFFGetField(in, TIFFTAG_TILEWIDTH, &storage.tileWidth);
    TIFFGetField(in, TIFFTAG_TILELENGTH, &storage.tileHeight);
    // Tiles are written in multiples of 16 pixels: other sizes, which libtiff reads but will
    // not write, become the next multiple up.
    storage.tileWidth = (storage.tileWidth + 15) / 16 * 16;
    storage.tileHeight = (storage.tileHeight + 15) / 16 * 16;
  } else {
    TIFFGetField(in, TIFFTAG_ROWSPERSTRIP, &storage.rowsPerStrip);
  }
  uint16_t planar = PLANARCONFIG_CONTIG;
  TIFFGetField(in, TIFFTAG_PLANARCONFIG, &planar);
  storage.separatePlanes = planar == PLANARCONFIG_SEPARATE;
  TIFFGetField(in, TIFFTAG_SUBFILETYPE, &storage.subfileType);
  storage.hasPageNumber =
      TIFFGetField(in, TIFFTAG_PAGENUMBER, &storage.pageNumber[0], &storage.pageNumber[1]) != 0;
  return storage;
}

}  // namespace imagefile
