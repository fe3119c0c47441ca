// The fast engine's edge mask and edge list in one pass: each selection row is read once, written
// as its edge mask row, and kept as flags in a rolling window of three rows from which the edge
// points are listed, the same points in the same order with the same samples as scanning the
// finished mask. The mask is never read back.
#include <algorithm>
#include <cstring>

#include "filter/fill/membrane_fast.h"

namespace {

// Turns a selection-mask row, read into line[1 .. width], into flags: 1 for a selected pixel,
// 0 otherwise, with the frame columns 0 and width + 1 unselected, and writes the edge mask row
// of the same values (0 selected, kUnselected elsewhere) to `mask`. Returns the number of
// selected pixels.
// Eight bytes at a time, as one 64-bit word.
inline uint64_t _Eight(const uint8_t* from) {
  uint64_t eight;
  std::memcpy(&eight, from, 8);
  return eight;
}
inline void _PutEight(uint8_t* to, uint64_t eight) { std::memcpy(to, &eight, 8); }
constexpr uint64_t kEveryByte = 0x0101010101010101u;

template <class Depth>
int32_t _FlagSelected(uint8_t* __restrict line, int32_t width,
                      typename Depth::Sample* __restrict mask) {
  using Sample = typename Depth::Sample;
  static_assert(kSelectedThreshold == 0x80, "a selected byte is one with its top bit set");
  int32_t selected = 0;
  int32_t x = 1;
  if constexpr (sizeof(Sample) == 1) {
    static_assert(Depth::kUnselected == 255, "an unselected flag of 0 becomes 0xFF");
    for (; x + 7 <= width; x += 8) {
      const uint64_t flags = (_Eight(line + x) >> 7) & kEveryByte;
      _PutEight(line + x, flags);
      _PutEight(mask + x, (flags ^ kEveryByte) * 0xFF);
      selected += int32_t((flags * kEveryByte) >> 56);  // the eight flags summed in the top byte
    }
  }
  for (; x <= width; ++x) {
    line[x] = uint8_t(line[x] >> 7);
    selected += line[x];
    mask[x] = Sample(line[x] ? 0 : Depth::kUnselected);
  }
  line[0] = line[width + 1] = 0;
  mask[0] = mask[width + 1] = Sample(Depth::kUnselected);
  return selected;
}

// Lists the edge points of row y from the flags of rows y - 1, y, y + 1 (frame columns
// included). A selected pixel is an edge point when one of its eight neighbours is not
// selected: when the three columns around it are not all selected in all three rows. `columns`
// (width + 2 bytes) takes each column's three flags ANDed. As in the mask scan, the last column
// is never examined and each point carries the samples of the pixel to its right.
template <class Depth>
void _ListRow(_MembraneWork<Depth>* work, int32_t y, const uint8_t* __restrict top,
              const uint8_t* __restrict middle, const uint8_t* __restrict bottom,
              uint8_t* __restrict columns) {
  const int32_t width = work->width;
  int32_t c = 0;
  for (; c + 8 <= width + 2; c += 8)
    _PutEight(columns + c, _Eight(top + c) & _Eight(middle + c) & _Eight(bottom + c));
  for (; c < width + 2; ++c) columns[c] = top[c] & middle[c] & bottom[c];
  // In place: columns[x] becomes pixel x's edge flag. Step x reads columns x .. x + 2 and writes
  // only x, which no later step reads; eight steps read all their columns before writing.
  int32_t e = 0;
  for (; e + 10 <= width + 2 && e + 8 <= width - 1; e += 8)
    _PutEight(columns + e,
              _Eight(middle + e + 1) &
                  ~(_Eight(columns + e) & _Eight(columns + e + 1) & _Eight(columns + e + 2)) &
                  kEveryByte);
  for (; e < width - 1; ++e)
    columns[e] = middle[e + 1] & uint8_t(~(columns[e] & columns[e + 1] & columns[e + 2]) & 1);
  bool rowRead = false;  // the image row is read once the row's first edge point is found
  for (int32_t x = 0; x < width - 1; x += 8) {
    uint64_t eight = 0;  // a group of eight flags at once; most groups hold none
    std::memcpy(&eight, columns + x, size_t(std::min(8, width - 1 - x)));
    if (eight == 0) continue;
    for (int32_t k = x; k < std::min(x + 8, width - 1); ++k) {
      if (columns[k] == 0) continue;
      if (!rowRead) GetLine(work->image, 0, y, _ImageRowBytes(work), work->row);
      rowRead = true;
      _AppendEdgePoint(work, k, y, work->row, k + 1);
    }
  }
}

}  // namespace

// The list is made while the mask's rows are reported: at row y the selection's row y is read
// and written as mask row y + 1, and row y - 1's points, whose neighbours are now all known, are
// listed. The mask's frame rows follow, as in _FindEdgePoints; the edge list's own rows are then
// reported in their turn with nothing left to do. A cancel at either stage leaves the image
// untouched, as the mask scan's cancel does.
template <class Depth>
OSErr _FastFindEdgePoints(_MembraneWork<Depth>* work, int64_t* filled) {
  int64_t toFill = 0;
  if (filled) *filled = 0;
  if (!work->selection) {
    if (filled && work->height > 2) *filled = int64_t(work->width) * (work->height - 2);
    return _FindEdgePointsOnFrame(work);
  }
  const int32_t width = work->width, height = work->height;
  uint8_t* top = reinterpret_cast<uint8_t*>(work->window[0]);
  uint8_t* middle = reinterpret_cast<uint8_t*>(work->window[1]);
  uint8_t* bottom = reinterpret_cast<uint8_t*>(work->window[2]);
  std::memset(middle, 0, size_t(width) + 2);  // row -1: outside the image, unselected
  const int32_t maskBytes = (width + 2) * Depth::kSampleBytes;
  bool middleAny = false;
  for (int32_t y = 0; y <= height; ++y) {
    bool bottomAny = false;
    if (y < height) {
      if (_Cancelled(work, y)) return userCanceledErr;
      GetLine(work->selection, 0, y, width, bottom + 1);
      const int32_t selected = _FlagSelected<Depth>(bottom, width, work->row);
      bottomAny = selected > 0;
      if (y >= 1 && y < height - 1) toFill += selected;
      PutLine(work->edgeMask, 0, y + 1, maskBytes, work->row);
    } else {
      std::memset(bottom, 0, size_t(width) + 2);  // row height: outside, unselected
    }
    // A row with nothing selected has no edge point; its neighbours do not matter.
    if (y >= 1 && middleAny) _ListRow(work, y - 1, top, middle, bottom, work->maskRow);
    std::swap(top, middle);
    std::swap(middle, bottom);
    middleAny = bottomAny;
  }
  std::fill(work->row, work->row + width + 2, typename Depth::Sample(Depth::kUnselected));
  PutLine(work->edgeMask, 0, height + 1, maskBytes, work->row);
  PutLine(work->edgeMask, 0, 0, maskBytes, work->row);
  if (filled) *filled = toFill;
  for (int32_t y = 0; y < height; ++y)
    if (_Cancelled(work, y + work->progressShift)) return userCanceledErr;
  return noErr;
}

template OSErr _FastFindEdgePoints<_Depth8>(_MembraneWork<_Depth8>*, int64_t*);
template OSErr _FastFindEdgePoints<_Depth16>(_MembraneWork<_Depth16>*, int64_t*);
