// Writing a filled image over the JPEG it was read from so that the fill costs nothing outside
// it: the source's quantised coefficients are kept in every 8×8 block whose pixels the fill left
// alone, and only the blocks holding a changed pixel take new ones, encoded with the source's
// quantisation tables and sampling. The source's markers are copied as they are.
//
// The steps: decode the source again exactly as it was read and note which 8×8 cells of pixels
// differ from the filled image; encode the filled image with the source's tables into memory and
// read its coefficients back; copy those coefficients into the source's for every block (of each
// component, a chroma block of 4:2:0 covering 2×2 cells) that covers a changed cell; write the
// source's coefficients with its markers.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "imagefile/jpeg_codec.h"

namespace imagefile {
namespace {

// Everything one splice holds, released on every exit. The jumping steps below hold nothing
// with a destructor of their own.
struct Splice {
  JpegError error = {};
  JpegColour colour;
  JpegDecoder source;    // the source's coefficients, spliced in place and written
  JpegDecoder decoded;   // the source decoded again, to find the changed pixels
  JpegEncoder filled;    // the filled image encoded with the source's tables, into `encoded`
  JpegDecoder refilled;  // that encoding's coefficients
  JpegEncoder out;
  std::FILE* sourceFile = nullptr;
  std::FILE* decodedFile = nullptr;
  unsigned char* encoded = nullptr;
  unsigned long encodedBytes = 0;
  jvirt_barray_ptr* sourceBlocks = nullptr;
  jvirt_barray_ptr* refilledBlocks = nullptr;
  std::vector<uint8_t> row;      // one row of samples as the file stores them
  std::vector<uint8_t> changed;  // per 8×8 cell of pixels: 1 when one of them changed
  size_t cellsAcross = 0;
  size_t cellsDown = 0;
  long blocksTaken = 0;

  ~Splice() {
    if (sourceFile) std::fclose(sourceFile);
    if (decodedFile) std::fclose(decodedFile);
    std::free(encoded);
  }
};

// Ink to the file's samples and back: the same flip both ways, for inverted CMYK.
void _ToStored(const Splice& splice, const uint8_t* samples, size_t count, uint8_t* stored) {
  for (size_t i = 0; i < count; ++i)
    stored[i] = splice.colour.inverted ? uint8_t(255 - samples[i]) : samples[i];
}

int _ReadSourceJumping(Splice* s) {
  if (setjmp(s->error.jump)) return 0;
  s->source.info.err = UseJpegError(&s->error);
  jpeg_create_decompress(&s->source.info);
  jpeg_stdio_src(&s->source.info, s->sourceFile);
  KeepJpegMarkers(&s->source.info);
  jpeg_read_header(&s->source.info, TRUE);
  s->sourceBlocks = jpeg_read_coefficients(&s->source.info);
  return 1;
}

// Decodes the source again and marks the cells where the filled image differs from it.
int _FindChangesJumping(Splice* s, const FileImage* image) {
  if (setjmp(s->error.jump)) return 0;
  jpeg_decompress_struct& info = s->decoded.info;
  info.err = UseJpegError(&s->error);
  jpeg_create_decompress(&info);
  jpeg_stdio_src(&info, s->decodedFile);
  jpeg_read_header(&info, TRUE);
  SetJpegDecoding(&info, s->colour);
  jpeg_start_decompress(&info);
  const size_t rowBytes = image->RowBytes();
  const size_t pixelBytes = size_t(image->colorChannels);
  if (int32_t(info.output_width) != image->width || int32_t(info.output_height) != image->height ||
      size_t(info.output_components) != pixelBytes || s->row.size() != rowBytes) {
    return 0;
  }
  while (info.output_scanline < info.output_height && !s->error.truncated) {
    const size_t y = info.output_scanline;
    JSAMPROW row = s->row.data();
    jpeg_read_scanlines(&info, &row, 1);
    _ToStored(*s, row, rowBytes, row);  // ink, as the image holds it
    const uint8_t* filled = image->data.Rows(int32_t(y));
    if (std::memcmp(row, filled, rowBytes) == 0) continue;
    uint8_t* cells = s->changed.data() + (y / 8) * s->cellsAcross;
    for (size_t x = 0; x < size_t(image->width); ++x) {
      if (std::memcmp(row + x * pixelBytes, filled + x * pixelBytes, pixelBytes) != 0)
        cells[x / 8] = 1;
    }
  }
  return s->error.truncated ? 0 : 1;
}

// Encodes the filled image into memory with the source's colour space, sampling and tables.
int _EncodeFilledJumping(Splice* s, const FileImage* image) {
  if (setjmp(s->error.jump)) return 0;
  const jpeg_decompress_struct& source = s->source.info;
  jpeg_compress_struct& info = s->filled.info;
  info.err = UseJpegError(&s->error);
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, &s->encoded, &s->encodedBytes);
  info.image_width = source.image_width;
  info.image_height = source.image_height;
  info.input_components = source.num_components;
  info.in_color_space = s->colour.decoded;
  jpeg_set_defaults(&info);
  jpeg_set_colorspace(&info, source.jpeg_color_space);
  for (int c = 0; c < source.num_components; ++c) {
    info.comp_info[c].h_samp_factor = source.comp_info[c].h_samp_factor;
    info.comp_info[c].v_samp_factor = source.comp_info[c].v_samp_factor;
    info.comp_info[c].quant_tbl_no = source.comp_info[c].quant_tbl_no;
  }
  for (int t = 0; t < NUM_QUANT_TBLS; ++t) {
    if (!source.quant_tbl_ptrs[t]) continue;
    if (!info.quant_tbl_ptrs[t])
      info.quant_tbl_ptrs[t] = jpeg_alloc_quant_table(reinterpret_cast<j_common_ptr>(&info));
    std::memcpy(info.quant_tbl_ptrs[t]->quantval, source.quant_tbl_ptrs[t]->quantval,
                sizeof source.quant_tbl_ptrs[t]->quantval);
  }
  info.dct_method = JDCT_ISLOW;
  jpeg_start_compress(&info, TRUE);
  const size_t rowBytes = image->RowBytes();
  for (int32_t y = 0; y < image->height; ++y) {
    _ToStored(*s, image->data.Rows(y), rowBytes, s->row.data());
    JSAMPROW row = s->row.data();
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  return 1;
}

int _ReadRefilledJumping(Splice* s) {
  if (setjmp(s->error.jump)) return 0;
  jpeg_decompress_struct& info = s->refilled.info;
  info.err = UseJpegError(&s->error);
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, s->encoded, s->encodedBytes);
  jpeg_read_header(&info, TRUE);
  s->refilledBlocks = jpeg_read_coefficients(&info);
  return 1;
}

// Whether each component's blocks were quantised with the table its slot holds at the end of the
// file: a file may redefine a slot between scans, and neither the filled blocks nor the written
// tables could then match them all; a damaged one may leave a component without any scan.
bool _OneTablePerComponent(const jpeg_decompress_struct& source) {
  for (int c = 0; c < source.num_components; ++c) {
    const int number = source.comp_info[c].quant_tbl_no;  // as the frame header says
    if (number < 0 || number >= NUM_QUANT_TBLS) return false;
    const JQUANT_TBL* used = source.comp_info[c].quant_table;
    const JQUANT_TBL* slot = source.quant_tbl_ptrs[number];
    if (!used || !slot || std::memcmp(used->quantval, slot->quantval, sizeof used->quantval) != 0)
      return false;
  }
  return true;
}

// Whether the block grids of the source and of the filled image's encoding are the same.
bool _SameGrids(const jpeg_decompress_struct& a, const jpeg_decompress_struct& b) {
  if (a.num_components != b.num_components) return false;
  for (int c = 0; c < a.num_components; ++c) {
    if (a.comp_info[c].width_in_blocks != b.comp_info[c].width_in_blocks ||
        a.comp_info[c].height_in_blocks != b.comp_info[c].height_in_blocks ||
        a.comp_info[c].h_samp_factor != b.comp_info[c].h_samp_factor ||
        a.comp_info[c].v_samp_factor != b.comp_info[c].v_samp_factor)
      return false;
  }
  return true;
}

// Whether a block covering cells [x0, x0 + w) × [y0, y0 + h) covers a changed one.
bool _Touched(const Splice& s, size_t x0, size_t y0, size_t w, size_t h) {
  for (size_t y = y0; y < y0 + h && y < s.cellsDown; ++y) {
    for (size_t x = x0; x < x0 + w && x < s.cellsAcross; ++x)
      if (s.changed[y * s.cellsAcross + x]) return true;
  }
  return false;
}

// Takes the filled image's coefficients for every block that covers a changed cell.
int _SpliceBlocksJumping(Splice* s) {
  if (setjmp(s->error.jump)) return 0;
  jpeg_decompress_struct& source = s->source.info;
  jpeg_decompress_struct& refilled = s->refilled.info;
  for (int c = 0; c < source.num_components; ++c) {
    const jpeg_component_info& component = source.comp_info[c];
    const size_t across = size_t(source.max_h_samp_factor / component.h_samp_factor);
    const size_t down = size_t(source.max_v_samp_factor / component.v_samp_factor);
    for (JDIMENSION by = 0; by < component.height_in_blocks; ++by) {
      JBLOCKARRAY kept = (*source.mem->access_virt_barray)(reinterpret_cast<j_common_ptr>(&source),
                                                           s->sourceBlocks[c], by, 1, TRUE);
      JBLOCKARRAY fresh = (*refilled.mem->access_virt_barray)(
          reinterpret_cast<j_common_ptr>(&refilled), s->refilledBlocks[c], by, 1, FALSE);
      for (JDIMENSION bx = 0; bx < component.width_in_blocks; ++bx) {
        if (!_Touched(*s, bx * across, by * down, across, down)) continue;
        std::memcpy(kept[0][bx], fresh[0][bx], sizeof(JBLOCK));
        ++s->blocksTaken;
      }
    }
  }
  return 1;
}

// Whether every coefficient of the source, as spliced, is one a JPEG may store: a damaged or
// crafted file can decode to larger ones (its own Huffman tables allow them), which libjpeg refuses
// to encode. A DC of at most 1023 and −1024 keeps the differences between neighbours in 11 bits.
int _StorableJumping(Splice* s, bool* storable) {
  if (setjmp(s->error.jump)) return 0;
  jpeg_decompress_struct& source = s->source.info;
  for (int c = 0; c < source.num_components; ++c) {
    const jpeg_component_info& component = source.comp_info[c];
    for (JDIMENSION by = 0; by < component.height_in_blocks; ++by) {
      JBLOCKARRAY row = (*source.mem->access_virt_barray)(reinterpret_cast<j_common_ptr>(&source),
                                                          s->sourceBlocks[c], by, 1, FALSE);
      for (JDIMENSION bx = 0; bx < component.width_in_blocks; ++bx) {
        const JCOEF* values = row[0][bx];
        if (values[0] < -1024 || values[0] > 1023) *storable = false;
        for (int k = 1; k < DCTSIZE2; ++k)
          if (values[k] < -1023 || values[k] > 1023) *storable = false;
      }
    }
  }
  return 1;
}

// Writes the source's coefficients, as spliced, with its markers in their order.
int _WriteJumping(Splice* s, std::FILE* file) {
  if (setjmp(s->error.jump)) return 0;
  jpeg_decompress_struct& source = s->source.info;
  jpeg_compress_struct& info = s->out.info;
  info.err = UseJpegError(&s->error);
  jpeg_create_compress(&info);
  jpeg_stdio_dest(&info, file);
  jpeg_copy_critical_parameters(&source, &info);
  info.write_JFIF_header = FALSE;  // the source's own JFIF and APP14 markers are copied
  info.write_Adobe_marker = FALSE;
  info.arith_code = source.arith_code;
  info.restart_interval = source.restart_interval;
  if (source.progressive_mode)
    jpeg_simple_progression(&info);
  else if (!source.arith_code)  // arithmetic coding adapts by itself, and refuses the option
    info.optimize_coding = TRUE;
  jpeg_write_coefficients(&info, s->sourceBlocks);
  for (jpeg_saved_marker_ptr marker = source.marker_list; marker; marker = marker->next)
    jpeg_write_marker(&info, marker->marker, marker->data, marker->data_length);
  jpeg_finish_compress(&info);
  return 1;
}

}  // namespace

std::string SpliceJpegFile(std::FILE* out, const FileImage& image) {
  Splice s;
  const std::string& path = image.sourcePath;
  s.sourceFile = std::fopen(path.c_str(), "rb");
  s.decodedFile = std::fopen(path.c_str(), "rb");
  if (!s.sourceFile || !s.decodedFile)
    return "cannot read the source JPEG " + path + " again: " + std::strerror(errno);
  const std::string changedSource = "the source JPEG " + path + " changed while it was filled";
  if (!_ReadSourceJumping(&s)) return changedSource + " (" + s.error.message + ")";
  if (!JpegColourOf(s.source.info, &s.colour).empty() || s.colour.model != image.model ||
      int64_t(s.source.info.image_width) != image.width ||
      int64_t(s.source.info.image_height) != image.height || image.bitsPerSample != 8 ||
      image.extraChannels != 0) {
    return changedSource;
  }
  if (!_OneTablePerComponent(s.source.info)) {
    return std::string(kBlocksNotKept) + " (a quantisation table is missing or redefined midway)" +
           kWriteInstead;
  }
  s.row.resize(image.RowBytes());
  s.cellsAcross = (size_t(image.width) + 7) / 8;
  s.cellsDown = (size_t(image.height) + 7) / 8;
  s.changed.assign(s.cellsAcross * s.cellsDown, 0);
  if (!_FindChangesJumping(&s, &image)) return changedSource;
  const bool anyChanged = std::find(s.changed.begin(), s.changed.end(), 1) != s.changed.end();
  if (anyChanged && (!_EncodeFilledJumping(&s, &image) || !_ReadRefilledJumping(&s)))
    return std::string("cannot encode the filled blocks (") + s.error.message + ")";
  if (anyChanged && !_SameGrids(s.source.info, s.refilled.info))
    return "cannot encode the filled blocks with the source's sampling";
  bool storable = true;
  if ((anyChanged && !_SpliceBlocksJumping(&s)) || !_StorableJumping(&s, &storable))
    return std::string("cannot splice the JPEG (") + s.error.message + ")";
  if (!storable)
    return std::string(kBlocksNotKept) + " (the file is damaged: it holds values no JPEG may " +
           "store)" + kWriteInstead;
  if (!_WriteJumping(&s, out))
    return std::string("cannot write the JPEG (") + s.error.message + ")";
  return "";
}

}  // namespace imagefile
