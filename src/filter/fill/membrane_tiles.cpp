// The fast engine's fill pass by tiles, for holes whose pixels lie near their edge (dust, thin
// lines, strokes): the rows of a round are read as in the fill by rows, then the round's pixels
// to fill are covered by tiles of at most 16×16 placed where they are, each tile a task of its
// own on whichever lane is free, and the
// host's thread writes the rows back in order with their progress reports and cancel tests.
// The work follows the pixels to fill: tiles and rows without any cost nothing.
#include <algorithm>
#include <cstring>

#include "filter/fill/membrane_fast.h"
#include "platform/memory.h"

namespace {

template <class Depth>
struct _TileRound {
  const _MembraneWork<Depth>* work;
  _FastWork<Depth>* fast;
  int32_t firstRow;  // image row of the round's row 0, a multiple of kTileSide
  int32_t rows;
  bool toFill[kMaxFillThreads * kFastBlockRows];  // round row i has a pixel to fill (and was read)
  int32_t tileCount;                              // tiles with a pixel to fill: the tasks
};

const uint8_t kNothingWanted[kTileSide] = {};

// Eight bytes at a time, as one 64-bit word.
inline uint64_t _Eight(const uint8_t* from) {
  uint64_t eight;
  std::memcpy(&eight, from, 8);
  return eight;
}
inline void _PutEight(uint8_t* to, uint64_t eight) { std::memcpy(to, &eight, 8); }

// A tile of the list: its first row in the round and its first column.
constexpr int32_t kTileColumnSpan = 32768;  // columns are below this
inline int32_t _TileAt(int32_t r0, int32_t x0) { return r0 * kTileColumnSpan + x0; }

// Task `task` of the round: one tile's winners, then its pixels' values in the round's rows.
template <class Depth>
void _FillTile(void* context, int32_t task, int32_t laneIndex) {
  auto* round = static_cast<_TileRound<Depth>*>(context);
  const _MembraneWork<Depth>* work = round->work;
  _FastWork<Depth>* fast = round->fast;
  _FillLane& lane = fast->lane[laneIndex];
  const int32_t tile = fast->tileList[task];
  const int32_t r0 = tile / kTileColumnSpan, x0 = tile % kTileColumnSpan;
  const int32_t rows = std::min(kTileSide, round->rows - r0);
  const int32_t columns = std::min(kTileSide, work->width - x0);
  const size_t rowSamples = size_t(work->planes) * size_t(work->width);
  const uint8_t* wanted[kTileSide] = {};
  for (int32_t r = 0; r < rows; ++r)
    wanted[r] = round->toFill[r0 + r]
                    ? fast->masks + size_t(r0 + r) * size_t(work->width) + size_t(x0)
                    : kNothingWanted;
  const int32_t y0 = round->firstRow + r0;
  const bool found = FindTileWinners(fast->tiles, lane.tiles, x0, y0, columns, rows, wanted,
                                     lane.winners, lane.distances) == noErr;
  int32_t slots[kTileSide * kTileSide];
  typename Depth::Sample* pixels[kTileSide * kTileSide];
  int32_t count = 0;
  for (int32_t r = 0; r < rows; ++r)
    for (int32_t c = 0; c < columns; ++c) {
      if (!wanted[r][c]) continue;
      typename Depth::Sample* pixel =
          fast->in + size_t(r0 + r) * rowSamples + size_t(work->planes) * size_t(x0 + c);
      if (!found) {  // short of memory for a tile's candidates: visiting every point is the same
        _FillPixelByVisit(work, x0 + c, y0 + r, pixel);
        continue;
      }
      slots[count] = kTileSectors * (r * kTileSide + c);
      pixels[count++] = pixel;
    }
  _PixelsFromWinners(work, count, lane.winners, lane.distances, slots, pixels);
}

// Lists the tiles of the round, placed where the pixels to fill are: a band of kTileSide rows
// starts at the first row with a pixel to fill below the band before, and in a band a tile
// starts at the first column with one right of the tile before. Bands and tiles never overlap,
// so each pixel is one tile's, and there are never more than on a fixed grid; a speck is cut in
// two only where a band or the round ends. `columns` takes one byte per column.
template <class Depth>
void _ListTiles(const _MembraneWork<Depth>* work, _FastWork<Depth>* fast, _TileRound<Depth>* round,
                uint8_t* columns) {
  const int32_t width = work->width;
  round->tileCount = 0;
  for (int32_t r0 = 0; r0 < round->rows;) {
    if (!round->toFill[r0]) {
      ++r0;
      continue;
    }
    const int32_t rows = std::min(kTileSide, round->rows - r0);
    std::memset(columns, 0, size_t(width));
    for (int32_t r = 0; r < rows; ++r) {
      if (!round->toFill[r0 + r]) continue;
      const uint8_t* flags = fast->masks + size_t(r0 + r) * size_t(width);
      int32_t x = 0;
      for (; x + 8 <= width; x += 8)
        _PutEight(columns + x, _Eight(columns + x) | _Eight(flags + x));
      for (; x < width; ++x) columns[x] |= flags[x];
    }
    for (int32_t x = 0; x < width;) {
      uint64_t eight = 0;  // eight columns at once; most hold nothing to fill
      std::memcpy(&eight, columns + x, size_t(std::min(8, width - x)));
      if (eight == 0) {
        x += 8;
        continue;
      }
      while (columns[x] == 0) ++x;
      fast->tileList[round->tileCount++] = _TileAt(r0, x);
      x += kTileSide;
    }
    r0 += rows;
  }
}

}  // namespace

template <class Depth>
OSErr _AllocateTiles(const _MembraneWork<Depth>* work, _FastWork<Depth>* fast) {
  if (MakeTileSearch(fast->xs, fast->ys, work->count, work->width, work->height, &fast->tiles) !=
      noErr)
    return memFullErr;
  const int32_t tilesPerBand = (work->width + kTileSide - 1) / kTileSide;
  static_assert(
      kTileColumnSpan > 32767 && (kMaxFillThreads * kFastBlockRows) <= INT32_MAX / kTileColumnSpan,
      "a tile's row and column pack in 32 bits");
  fast->tileList = reinterpret_cast<int32_t*>(
      NewPtr(Size(fast->roundRows / kTileSide + 1) * Size(tilesPerBand) * 4));
  if (fast->tileList == nullptr) return memFullErr;
  const Size slotBytes = Size(kTileSide * kTileSide * kTileSectors * 4);
  for (int32_t j = 0; j < fast->lanes; ++j) {
    _FillLane& lane = fast->lane[j];
    lane.winners = reinterpret_cast<int32_t*>(NewPtr(slotBytes));
    lane.distances = reinterpret_cast<int32_t*>(NewPtr(slotBytes));
    if (!lane.winners || !lane.distances || MakeTileLane(&lane.tiles) != noErr) return memFullErr;
  }
  return noErr;
}

// Tiles never straddle two rounds (the first round starts at row 0, which is never filled).
// Rows without a pixel to fill are neither read nor
// written back; every fill row is reported in its turn.
template <class Depth>
OSErr _FastFillTiles(_MembraneWork<Depth>* work, _FastWork<Depth>* fast) {
  const int32_t rowBytes = _ImageRowBytes(work);
  const size_t rowSamples = size_t(work->planes) * size_t(work->width);
  const int32_t width = work->width;
  for (int32_t y0 = 0; y0 < work->height - 1; y0 += fast->roundRows) {
    _TileRound<Depth> round = {work, fast, y0, std::min(fast->roundRows, work->height - 1 - y0),
                               {},   0};
    for (int32_t i = 0; i < round.rows; ++i) {
      const int32_t y = y0 + i;
      uint8_t* mask = fast->masks + size_t(i) * size_t(width);
      if (y == 0) continue;
      GetLine(work->selection, 0, y, width, mask);
      uint64_t any = 0;  // selected: mask byte 128 or more, its top bit; eight bytes at a time
      int32_t x = 0;
      for (; x + 8 <= width; x += 8) {
        const uint64_t flags = (_Eight(mask + x) >> 7) & 0x0101010101010101u;
        _PutEight(mask + x, flags);
        any |= flags;
      }
      for (; x < width; ++x) {
        mask[x] = uint8_t(mask[x] >> 7);
        any |= mask[x];
      }
      round.toFill[i] = any != 0;
      if (any) GetLine(work->image, 0, y, rowBytes, fast->in + size_t(i) * rowSamples);
    }
    _ListTiles(work, fast, &round, work->maskRow);
    RunFillTasks(fast->workers, round.tileCount, _FillTile<Depth>, &round);
    for (int32_t i = 0; i < round.rows; ++i) {
      const int32_t y = y0 + i;
      if (y == 0) continue;
      if (_Cancelled(work, y + work->height + work->progressShift)) return userCanceledErr;
      if (round.toFill[i]) PutLine(work->image, 0, y, rowBytes, fast->in + size_t(i) * rowSamples);
    }
  }
  return noErr;
}

template OSErr _AllocateTiles<_Depth8>(const _MembraneWork<_Depth8>*, _FastWork<_Depth8>*);
template OSErr _AllocateTiles<_Depth16>(const _MembraneWork<_Depth16>*, _FastWork<_Depth16>*);
template OSErr _FastFillTiles<_Depth8>(_MembraneWork<_Depth8>*, _FastWork<_Depth8>*);
template OSErr _FastFillTiles<_Depth16>(_MembraneWork<_Depth16>*, _FastWork<_Depth16>*);
