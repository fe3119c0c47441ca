// Test file writers for the image files' tests; see image_files.h.
#include "image_files.h"

#include <png.h>
#include <tiffio.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <fstream>

void TempFolderTest::SetUp() {
  auto base = std::filesystem::temp_directory_path() / "areafill-tests";
  std::filesystem::create_directories(base);
  std::string pattern = (base / "imagefile-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  folder_ = pattern;
}

void TempFolderTest::TearDown() {
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

std::vector<std::string> TempFolderTest::FolderEntries() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<uint8_t> PatternSamples(int width, int height, int samples, int bits) {
  const size_t count = size_t(width) * size_t(height) * size_t(samples);
  std::vector<uint8_t> data(count * size_t(bits / 8));
  for (size_t i = 0; i < count; ++i) {
    // The first sample is the minimum and the last the maximum; the rest spread between.
    const uint32_t step = uint32_t(i * 2654435761u);
    if (bits == 8) {
      data[i] = i == 0 ? 0 : i + 1 == count ? 255 : uint8_t(step >> 24);
    } else if (bits == 16) {
      const uint16_t v = i == 0 ? 0 : i + 1 == count ? 65535 : uint16_t(step >> 16);
      std::memcpy(&data[2 * i], &v, 2);
    } else {
      const float v = float(i % 97) / 96.0f;
      std::memcpy(&data[4 * i], &v, 4);
    }
  }
  return data;
}

void WriteTestPng(const std::string& path, int width, int height, int colorType, int bits,
                  const std::vector<uint8_t>& data, bool interlaced) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, file);
  png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), bits, colorType,
               interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_color palette[4] = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
  if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_PLTE(png, info, palette, 4);
  png_write_info(png, info);
  if (bits == 16 && std::endian::native == std::endian::little) png_set_swap(png);
  const int passes = png_set_interlace_handling(png);
  const size_t rowBytes = data.size() / size_t(height);
  for (int pass = 0; pass < passes; ++pass) {
    for (int y = 0; y < height; ++y) png_write_row(png, data.data() + size_t(y) * rowBytes);
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  std::fclose(file);
}

void WriteTestTiff(const std::string& path, const TestTiff& t, const std::vector<uint8_t>& data) {
  TIFF* tiff = TIFFOpen(path.c_str(), t.bigEndian ? "wb" : "w");
  ASSERT_NE(tiff, nullptr);
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, uint32_t(t.width));
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, uint32_t(t.height));
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, t.samples);
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, t.bits);
  TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT, t.sampleFormat);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, t.photometric);
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG,
               t.separate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
  TIFFSetField(tiff, TIFFTAG_COMPRESSION, t.compression);
  if (t.predictor != PREDICTOR_NONE) TIFFSetField(tiff, TIFFTAG_PREDICTOR, t.predictor);
  if (t.photometric == PHOTOMETRIC_SEPARATED) TIFFSetField(tiff, TIFFTAG_INKSET, INKSET_CMYK);
  if (!t.extraSamples.empty()) {
    TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, uint16_t(t.extraSamples.size()),
                 t.extraSamples.data());
  }
  if (t.bits < 8) {  // packed rows, written as given
    const size_t packedRow = (size_t(t.width) * t.samples * t.bits + 7) / 8;
    std::vector<uint8_t> row(packedRow);
    for (int y = 0; y < t.height; ++y) {
      std::memcpy(row.data(), data.data() + size_t(y) * packedRow, packedRow);
      ASSERT_GE(TIFFWriteScanline(tiff, row.data(), uint32_t(y), 0), 0);
    }
    TIFFClose(tiff);
    return;
  }
  const size_t sampleBytes = t.bits / 8u;
  const size_t pixelBytes = sampleBytes * t.samples;
  const int planes = t.separate ? t.samples : 1;
  const size_t unitBytes = t.separate ? sampleBytes : pixelBytes;  // one pixel of one plane
  // Copies pixel (x, y) of plane `plane` to `to`; outside the image it writes zeros.
  auto pixel = [&](int x, int y, int plane, uint8_t* to) {
    if (x >= t.width || y >= t.height) return (void)std::memset(to, 0, unitBytes);
    const uint8_t* from = data.data() + (size_t(y) * size_t(t.width) + size_t(x)) * pixelBytes;
    std::memcpy(to, from + (t.separate ? size_t(plane) * sampleBytes : 0), unitBytes);
  };
  if (t.tileSide > 0) {
    TIFFSetField(tiff, TIFFTAG_TILEWIDTH, uint32_t(t.tileSide));
    TIFFSetField(tiff, TIFFTAG_TILELENGTH, uint32_t(t.tileSide));
    std::vector<uint8_t> tile(size_t(t.tileSide) * size_t(t.tileSide) * unitBytes);
    for (int plane = 0; plane < planes; ++plane)
      for (int ty = 0; ty < t.height; ty += t.tileSide)
        for (int tx = 0; tx < t.width; tx += t.tileSide) {
          for (int r = 0; r < t.tileSide; ++r)
            for (int c = 0; c < t.tileSide; ++c)
              pixel(tx + c, ty + r, plane,
                    &tile[(size_t(r) * size_t(t.tileSide) + size_t(c)) * unitBytes]);
          ASSERT_GE(
              TIFFWriteTile(tiff, tile.data(), uint32_t(tx), uint32_t(ty), 0, uint16_t(plane)), 0);
        }
  } else {
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 4u);
    std::vector<uint8_t> line(size_t(t.width) * unitBytes);
    for (int plane = 0; plane < planes; ++plane)
      for (int y = 0; y < t.height; ++y) {
        for (int x = 0; x < t.width; ++x) pixel(x, y, plane, &line[size_t(x) * unitBytes]);
        ASSERT_GE(TIFFWriteScanline(tiff, line.data(), uint32_t(y), uint16_t(plane)), 0);
      }
  }
  TIFFClose(tiff);
}

TiffTags ReadTiffTags(const std::string& path) {
  TiffTags tags;
  TIFF* tiff = TIFFOpen(path.c_str(), "r");
  if (!tiff) return tags;
  TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &tags.compression);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_PREDICTOR, &tags.predictor);
  TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &tags.photometric);
  TIFFGetField(tiff, TIFFTAG_INKSET, &tags.inkSet);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &tags.planar);
  uint16_t count = 0;
  uint16_t* values = nullptr;
  if (TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &count, &values))
    tags.extraSamples.assign(values, values + count);
  TIFFClose(tiff);
  return tags;
}

namespace {

void _PutBE32(std::vector<uint8_t>* out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(uint8_t(v >> shift));
}

void _PutChunk(std::vector<uint8_t>* out, const char* type, const std::vector<uint8_t>& body) {
  _PutBE32(out, uint32_t(body.size()));
  std::vector<uint8_t> typed(type, type + 4);
  typed.insert(typed.end(), body.begin(), body.end());
  out->insert(out->end(), typed.begin(), typed.end());
  _PutBE32(out, uint32_t(crc32(0, typed.data(), uInt(typed.size()))));
}

void _PutLE(std::vector<uint8_t>* out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out->push_back(uint8_t(v >> (8 * i)));
}

}  // namespace

std::vector<uint8_t> CraftPng(uint32_t width, uint32_t height, bool withData) {
  std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> header;
  _PutBE32(&header, width);
  _PutBE32(&header, height);
  header.insert(header.end(), {8, 0, 0, 0, 0});  // 8-bit grey, no interlace
  _PutChunk(&out, "IHDR", header);
  if (withData) {
    std::vector<uint8_t> zeros(200, 0), packed(400);
    uLongf packedSize = packed.size();
    compress(packed.data(), &packedSize, zeros.data(), zeros.size());
    packed.resize(packedSize);
    _PutChunk(&out, "IDAT", packed);
    _PutChunk(&out, "IEND", {});
  }
  return out;
}

std::vector<uint8_t> CraftTiff(uint32_t width, uint32_t height, uint16_t bits, uint16_t compression,
                               uint32_t stripBytes, uint32_t stripOffset) {
  struct Entry {
    uint16_t tag, type;
    uint32_t value;
  };
  const uint32_t dataOffset = 8 + 2 + 9 * 12 + 4;
  const Entry entries[9] = {
      {256, 4, width},       {257, 4, height}, {258, 3, bits},
      {259, 3, compression}, {262, 3, 1},      {273, 4, stripOffset ? stripOffset : dataOffset},
      {277, 3, 1},           {278, 4, height}, {279, 4, stripBytes},
  };
  std::vector<uint8_t> out = {'I', 'I', 42, 0};
  _PutLE(&out, 8, 4);
  _PutLE(&out, 9, 2);
  for (const Entry& e : entries) {
    _PutLE(&out, e.tag, 2);
    _PutLE(&out, e.type, 2);
    _PutLE(&out, 1, 4);
    _PutLE(&out, e.value, 4);  // SHORT values sit in the low bytes, little-endian
  }
  _PutLE(&out, 0, 4);
  if (!stripOffset) out.resize(out.size() + stripBytes, 0x55);
  return out;
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}
