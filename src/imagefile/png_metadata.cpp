// What a PNG carries besides its pixels: the ICC profile (iCCP), the resolution (pHYs), text
// chunks (tEXt, zTXt, iTXt, XMP among them), EXIF (eXIf, with the orientation), and the colour
// chunks kept as they are stored for a PNG written from the image.
#include "imagefile/png_metadata.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "imagefile/orientation.h"

namespace imagefile {
namespace {

constexpr char kXmpKeyword[] = "XML:com.adobe.xmp";
// Chunks kept as stored: the colour chunks, and the EXIF block.
constexpr png_byte kRawChunks[] = "gAMA\0cHRM\0sRGB\0sBIT\0bKGD\0eXIf";
constexpr int kRawChunkCount = 6;

// A TIFF's descriptive tags and the PNG keywords that mean the same.
constexpr const char* kKeywordOfTag[][2] = {{"ImageDescription", "Description"},
                                            {"Artist", "Author"},
                                            {"DocumentName", "Title"},
                                            {"DateTime", "Creation Time"}};

std::string _KeywordOf(const std::string& name) {
  for (const auto& pair : kKeywordOfTag)
    if (name == pair[0]) return pair[1];
  return name;
}

// ImageMagick's and exiftool's text form of a profile: "\n<name>\n<length>\n<hex digits>".
std::string _DecodeRawProfile(const std::string& text) {
  size_t at = text.find('\n', text.find_first_not_of('\n'));
  if (at == std::string::npos) return "";
  const size_t length = std::strtoul(text.c_str() + at, nullptr, 10);
  at = text.find('\n', text.find_first_not_of(" \n", at));
  std::string bytes;
  int high = -1;
  for (size_t i = at; i < text.size() && bytes.size() < length; ++i) {
    const char c = text[i];
    const int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (v < 0) continue;
    if (high < 0) {
      high = v;
    } else {
      bytes += char(high << 4 | v);
      high = -1;
    }
  }
  return bytes.size() == length ? bytes : "";
}

std::string _EncodeRawProfile(const std::string& name, const std::string& bytes) {
  static const char kHex[] = "0123456789abcdef";
  std::string text = "\n" + name + "\n" + std::to_string(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i % 36 == 0) text += '\n';
    text += kHex[uint8_t(bytes[i]) >> 4];
    text += kHex[uint8_t(bytes[i]) & 15];
  }
  return text + "\n";
}

// The IPTC records of Photoshop's resources ("8BIM" blocks; the IPTC one is 0x0404), or
// `bytes` themselves when they are the records already.
std::string _IptcRecords(const std::string& bytes) {
  size_t at = 0;
  while (bytes.compare(at, 4, "8BIM") == 0 && at + 8 <= bytes.size()) {
    const auto* b = reinterpret_cast<const uint8_t*>(bytes.data());
    const unsigned id = unsigned(b[at + 4]) << 8 | b[at + 5];
    const size_t nameBytes = (size_t(b[at + 6]) + 2) & ~size_t(1);  // a padded Pascal string
    const size_t sizeAt = at + 6 + nameBytes;
    if (sizeAt + 4 > bytes.size()) break;
    const size_t size = size_t(b[sizeAt]) << 24 | size_t(b[sizeAt + 1]) << 16 |
                        size_t(b[sizeAt + 2]) << 8 | b[sizeAt + 3];
    if (sizeAt + 4 + size > bytes.size()) break;
    if (id == 0x0404) return bytes.substr(sizeAt + 4, size);
    at = sizeAt + 4 + ((size + 1) & ~size_t(1));
  }
  return bytes;
}

}  // namespace

void KeepPngChunksRaw(png_structp png) {
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_ALWAYS, kRawChunks, kRawChunkCount);
}

void TakePngMetadata(png_structp png, png_infop info, bool expanded, FileImage* image) {
  ImageMetadata& metadata = image->metadata;
  png_charp name = nullptr;
  png_bytep profile = nullptr;
  png_uint_32 profileBytes = 0;
  int compression = 0;
  if (png_get_iCCP(png, info, &name, &compression, &profile, &profileBytes))
    metadata.icc.assign(reinterpret_cast<const char*>(profile), profileBytes);
  png_uint_32 x = 0, y = 0;
  int unit = 0;
  if (png_get_pHYs(png, info, &x, &y, &unit)) {
    const bool metres = unit == PNG_RESOLUTION_METER;
    metadata.resolution.x = metres ? x / 100.0 : x;
    metadata.resolution.y = metres ? y / 100.0 : y;
    metadata.resolution.unit = metres ? Resolution::Unit::kCentimetre : Resolution::Unit::kNone;
  }
  png_textp texts = nullptr;
  const int count = png_get_text(png, info, &texts, nullptr);
  for (int i = 0; i < count; ++i) {
    const std::string key = texts[i].key;
    const size_t length = texts[i].compression >= PNG_ITXT_COMPRESSION_NONE ? texts[i].itxt_length
                                                                            : texts[i].text_length;
    std::string value(texts[i].text ? texts[i].text : "", texts[i].text ? length : 0);
    if (key == kXmpKeyword) {
      metadata.xmp = std::move(value);
    } else if (key == "Raw profile type iptc" && !_DecodeRawProfile(value).empty()) {
      metadata.iptc = _IptcRecords(_DecodeRawProfile(value));
    } else {
      metadata.text.emplace_back(key, std::move(value));
    }
  }
  png_unknown_chunkp chunks = nullptr;
  const int chunkCount = png_get_unknown_chunks(png, info, &chunks);
  for (int i = 0; i < chunkCount; ++i) {
    const std::string type(reinterpret_cast<const char*>(chunks[i].name), 4);
    std::string bytes(reinterpret_cast<const char*>(chunks[i].data), chunks[i].size);
    if (type == "eXIf") {
      metadata.exif = std::move(bytes);
      metadata.orientation = ExifOrientation(metadata.exif);
    } else if (!expanded || (type != "bKGD" && type != "sBIT")) {
      metadata.formatChunks.push_back({type, std::move(bytes)});
    }
  }
  // A transparent colour of grey or RGB samples (a palette's went into alpha).
  png_bytep alphas = nullptr;
  int alphaCount = 0;
  png_color_16p colour = nullptr;
  if (!expanded && png_get_tRNS(png, info, &alphas, &alphaCount, &colour) && colour) {
    std::string bytes;  // as the chunk stores them: 16-bit big-endian samples
    auto put = [&bytes](uint16_t v) {
      bytes += char(v >> 8);
      bytes += char(v & 0xFF);
    };
    if (image->model == ColourModel::kRGB) {
      put(colour->red);
      put(colour->green);
      put(colour->blue);
    } else {
      put(colour->gray);
    }
    metadata.formatChunks.push_back({"tRNS", bytes});
  }
}

void PreparePngMetadata(const FileImage& image, PngMetadataOut* out) {
  const ImageMetadata& metadata = image.metadata;
  out->icc = metadata.icc;
  const Resolution& r = metadata.resolution;
  if (r.x > 0 && r.y > 0) {
    const double perMetre = r.unit == Resolution::Unit::kInch         ? 100 / 2.54
                            : r.unit == Resolution::Unit::kCentimetre ? 100
                                                                      : 1;
    out->hasResolution = true;
    out->xPerMetre = png_uint_32(std::lround(r.x * perMetre));
    out->yPerMetre = png_uint_32(std::lround(r.y * perMetre));
    out->resolutionUnit =
        r.unit == Resolution::Unit::kNone ? PNG_RESOLUTION_UNKNOWN : PNG_RESOLUTION_METER;
  }
  for (const auto& [name, value] : metadata.text) {
    out->keys.push_back(image.format == FileFormat::PNG ? name : _KeywordOf(name));
    out->values.push_back(value);
  }
  if (!metadata.xmp.empty()) {
    out->keys.push_back(kXmpKeyword);
    out->values.push_back(metadata.xmp);
  }
  if (!metadata.iptc.empty()) {  // as ImageMagick and exiftool keep it in a PNG
    out->keys.push_back("Raw profile type iptc");
    out->values.push_back(_EncodeRawProfile("IPTC profile", metadata.iptc));
  }
  for (size_t i = 0; i < out->keys.size(); ++i) {
    png_text text = {};
    const bool international = out->keys[i] == kXmpKeyword;
    text.compression = international                  ? PNG_ITXT_COMPRESSION_NONE
                       : out->values[i].size() > 1024 ? PNG_TEXT_COMPRESSION_zTXt
                                                      : PNG_TEXT_COMPRESSION_NONE;
    text.key = out->keys[i].data();
    text.text = out->values[i].data();
    (international ? text.itxt_length : text.text_length) = out->values[i].size();
    out->texts.push_back(text);
  }
  // The PNG's own chunks go back only into a PNG; EXIF carries the orientation.
  if (image.format == FileFormat::PNG) {
    for (const FormatChunk& chunk : metadata.formatChunks) {
      out->chunkNames.push_back(chunk.name);
      out->chunkBytes.push_back(chunk.bytes);
    }
  }
  // A TIFF's white point and primaries are what cHRM holds, in 100000ths.
  std::string white, primaries;
  for (const FormatChunk& chunk : metadata.formatChunks) {
    if (image.format == FileFormat::TIFF && chunk.name == "tag:318") white = chunk.bytes;
    if (image.format == FileFormat::TIFF && chunk.name == "tag:319") primaries = chunk.bytes;
  }
  if (white.size() == 2 * sizeof(float) && primaries.size() == 6 * sizeof(float)) {
    std::string bytes;
    for (const std::string* values : {&white, &primaries}) {
      for (size_t i = 0; i < values->size() / sizeof(float); ++i) {
        float v;
        std::memcpy(&v, values->data() + i * sizeof(float), sizeof v);
        const uint32_t fixed = uint32_t(std::lround(double(v) * 100000));
        for (int shift = 24; shift >= 0; shift -= 8) bytes += char(fixed >> shift);
      }
    }
    out->chunkNames.push_back("cHRM");
    out->chunkBytes.push_back(bytes);
  }
  std::string exif = metadata.exif;
  if (exif.empty() && metadata.orientation != Orientation::kTopLeft)
    exif = ExifOfOrientation(metadata.orientation);
  if (!exif.empty()) {
    out->chunkNames.push_back("eXIf");
    out->chunkBytes.push_back(exif);
  }
  for (size_t i = 0; i < out->chunkNames.size(); ++i) {
    png_unknown_chunk chunk = {};
    std::memcpy(chunk.name, out->chunkNames[i].data(), 4);
    chunk.data = reinterpret_cast<png_bytep>(out->chunkBytes[i].data());
    chunk.size = out->chunkBytes[i].size();
    chunk.location = PNG_HAVE_IHDR;
    out->chunks.push_back(chunk);
  }
}

void PutPngMetadata(png_structp png, png_infop info, PngMetadataOut* out) {
  if (!out->icc.empty())
    png_set_iCCP(png, info, "ICC profile", PNG_COMPRESSION_TYPE_BASE,
                 reinterpret_cast<png_const_bytep>(out->icc.data()), png_uint_32(out->icc.size()));
  if (out->hasResolution)
    png_set_pHYs(png, info, out->xPerMetre, out->yPerMetre, out->resolutionUnit);
  if (!out->texts.empty()) png_set_text(png, info, out->texts.data(), int(out->texts.size()));
  if (!out->chunks.empty()) {
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_ALWAYS, nullptr, 0);
    png_set_unknown_chunks(png, info, out->chunks.data(), int(out->chunks.size()));
  }
}

}  // namespace imagefile
