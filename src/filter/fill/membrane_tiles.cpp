// The fast engine's fill pass by tiles, for holes whose pixels lie near their edge (dust, thin
// lines, strokes): the rows of a round are read as in the fill by rows, then every 16×16 tile of
// the round that has a pixel to fill is a task of its own, on whichever lane is free, and the
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

// Task `task` of the round: one tile's winners, then its pixels' values in the round's rows.
template <class Depth>
void _FillTile(void* context, int32_t task, int32_t laneIndex) {
  auto* round = static_cast<_TileRound<Depth>*>(context);
  const _MembraneWork<Depth>* work = round->work;
  _FastWork<Depth>* fast = round->fast;
  _FillLane& lane = fast->lane[laneIndex];
  const int32_t tilesPerBand = (work->width + kTileSide - 1) / kTileSide;
  const int32_t tile = fast->tileList[task];
  const int32_t band = tile / tilesPerBand, x0 = (tile % tilesPerBand) * kTileSide;
  const int32_t r0 = band * kTileSide;
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
  for (int32_t r = 0; r < rows; ++r)
    for (int32_t c = 0; c < columns; ++c) {
      if (!wanted[r][c]) continue;
      typename Depth::Sample* pixel =
          fast->in + size_t(r0 + r) * rowSamples + size_t(work->planes) * size_t(x0 + c);
      const int32_t slot = kTileSectors * (r * kTileSide + c);
      if (found)
        _PixelFromWinners(work, lane.winners + slot, lane.distances + slot, pixel);
      else  // short of memory for a tile's candidates: visiting every point gives the same value
        _FillPixelByVisit(work, x0 + c, y0 + r, pixel);
    }
}

// Lists the tiles of the round that have a pixel to fill, band by band.
template <class Depth>
void _ListTiles(const _MembraneWork<Depth>* work, _FastWork<Depth>* fast,
                _TileRound<Depth>* round) {
  const int32_t width = work->width;
  const int32_t tilesPerBand = (width + kTileSide - 1) / kTileSide;
  round->tileCount = 0;
  for (int32_t r0 = 0; r0 < round->rows; r0 += kTileSide) {
    const int32_t rows = std::min(kTileSide, round->rows - r0);
    for (int32_t t = 0; t < tilesPerBand; ++t) {
      const int32_t x0 = t * kTileSide, columns = std::min(kTileSide, width - x0);
      uint64_t any = 0;
      for (int32_t r = 0; r < rows; ++r) {
        if (!round->toFill[r0 + r]) continue;
        const uint8_t* flags = fast->masks + size_t(r0 + r) * size_t(width) + size_t(x0);
        for (int32_t c = 0; c < columns; c += 8) {
          uint64_t eight = 0;
          std::memcpy(&eight, flags + c, size_t(std::min(8, columns - c)));
          any |= eight;
        }
      }
      if (any != 0) fast->tileList[round->tileCount++] = (r0 / kTileSide) * tilesPerBand + t;
    }
  }
}

}  // namespace

template <class Depth>
OSErr _AllocateTiles(const _MembraneWork<Depth>* work, _FastWork<Depth>* fast) {
  if (MakeTileSearch(fast->xs, fast->ys, work->count, work->width, work->height, &fast->tiles) !=
      noErr)
    return memFullErr;
  const int32_t tilesPerBand = (work->width + kTileSide - 1) / kTileSide;
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

// Rounds start at multiples of kTileSide (the first one at row 0, which is never filled), so
// that tiles never straddle two rounds. Rows without a pixel to fill are neither read nor
// written back; every fill row is reported in its turn.
template <class Depth>
OSErr _FastFillTiles(_MembraneWork<Depth>* work, _FastWork<Depth>* fast) {
  static_assert(kFastBlockRows % kTileSide == 0, "rounds hold whole bands of tiles");
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
      uint8_t any = 0;
      for (int32_t x = 0; x < width; ++x) {
        mask[x] = uint8_t(mask[x] >> 7);  // selected: mask byte 128 or more
        any |= mask[x];
      }
      round.toFill[i] = any != 0;
      if (any) GetLine(work->image, 0, y, rowBytes, fast->in + size_t(i) * rowSamples);
    }
    _ListTiles(work, fast, &round);
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
