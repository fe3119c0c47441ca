// The tile search's entry: a lane's buffers and the winners of one tile's pixels, from the points
// near the tile (which settle most sectors) and from the candidates gathered for the sectors left
// open. The tree is in tile_tree.cpp, the runs and their visits in tile_visit.cpp, the wedges and
// boxes in tile_geometry.h.
#include "filter/fill/tile_search.h"

#include <algorithm>
#include <climits>

#include "filter/fill/tile_search_state.h"

OSErr MakeTileLane(TileLane** out) {
  *out = reinterpret_cast<TileLane*>(NewPtrClear(sizeof(TileLane)));
  return *out != nullptr ? noErr : memFullErr;
}

void DisposeTileLane(TileLane* lane) {
  if (lane == nullptr) return;
  DisposePtr(reinterpret_cast<Ptr>(lane->near));
  for (_Runs& runs : lane->runs) DisposePtr(reinterpret_cast<Ptr>(runs.block));
  DisposePtr(reinterpret_cast<Ptr>(lane));
}

namespace {

// The sector of every step between a pixel of a tile and a point within kTileReach of the tile's
// pixels, looked up rather than worked out for each pixel and point.
constexpr int32_t kNearSpan = kTileSide - 1 + kTileReach;  // the longest such step across
struct _NearSectors {
  int8_t of[2 * kNearSpan + 1][2 * kNearSpan + 1];  // by dy + kNearSpan, dx + kNearSpan
  _NearSectors() {
    for (int32_t dy = -kNearSpan; dy <= kNearSpan; ++dy)
      for (int32_t dx = -kNearSpan; dx <= kNearSpan; ++dx)
        of[dy + kNearSpan][dx + kNearSpan] = int8_t(dx == 0 && dy == 0 ? 0 : _SectorOfStep(dx, dy));
  }
};
const _NearSectors kNearSectors;

// The positions of the sectors flagged in each byte of a mask by sector number: bits of byte b
// are sectors 8b .. 8b + 7. Made on first use, once kWedges (another file's) is made.
struct _PositionBits {
  uint32_t of[4][256];
  _PositionBits() {
    for (int32_t b = 0; b < 4; ++b)
      for (int32_t m = 0; m < 256; ++m) {
        of[b][m] = 0;
        for (int32_t k = 0; k < 8; ++k)
          if (m & (1 << k)) of[b][m] |= 1u << kWedges.numbered[8 * b + k].position;
      }
  }
};

// Visits points[0 .. count), all within kTileReach of the tile's pixels, from pixel (x, y) of
// the tile, each in its own sector.
void _VisitNear(const _TilePoint* points, int32_t count, int32_t x, int32_t y, _Slots slots) {
  for (int32_t i = 0; i < count; ++i) {
    const int32_t dx = x - points[i].x, dy = y - points[i].y;
    const int32_t d2 = dx * dx + dy * dy;  // 0: the pixel itself, which never takes a slot
    _Offer(slots, kNearSectors.of[dy + kNearSpan][dx + kNearSpan], d2 != 0 ? d2 : INT32_MAX,
           points[i].index);
  }
}

}  // namespace

OSErr FindTileWinners(const TileSearch* search, TileLane* lane, int32_t x0, int32_t y0,
                      int32_t columns, int32_t rows, const uint8_t* const* wanted, int32_t* winners,
                      int32_t* distances2) {
  _Box box = {x0 + columns, y0 + rows, x0 - 1, y0 - 1};
  for (int32_t r = 0; r < rows; ++r)
    for (int32_t c = 0; c < columns; ++c)
      if (wanted[r][c]) {
        box.x0 = std::min(box.x0, x0 + c);
        box.x1 = std::max(box.x1, x0 + c);
        box.y0 = std::min(box.y0, y0 + r);
        box.y1 = std::max(box.y1, y0 + r);
      }
  if (box.x0 > box.x1) return noErr;
  if (!_GatherNear(
          search, lane,
          {box.x0 - kTileReach, box.y0 - kTileReach, box.x1 + kTileReach, box.y1 + kTileReach}))
    return memFullErr;
  // Sectors with a winner within the reach are settled: every point farther than kTileReach in
  // x or y is at least (kTileReach + 1)² away.
  constexpr int32_t kSettled2 = (kTileReach + 1) * (kTileReach + 1);
  uint32_t openAt[kTileSide * kTileSide] = {};  // the open positions of each pixel
  uint32_t open = 0;
  _Box openBox = {x0 + columns, y0 + rows, x0 - 1, y0 - 1};
  for (int32_t r = 0; r < rows; ++r)
    for (int32_t c = 0; c < columns; ++c) {
      if (!wanted[r][c]) continue;
      const int32_t pixel = r * kTileSide + c;
      const _Slots slots = {winners + kTileSectors * pixel, distances2 + kTileSectors * pixel};
      for (int32_t k = 0; k < kTileSectors; ++k) {
        slots.winner[k] = -1;
        slots.distance2[k] = kFarDistance2;
      }
      _VisitNear(lane->near, lane->nearCount, x0 + c, y0 + r, slots);
      static const _PositionBits kPositionBits;
      uint32_t bySector = 0;
      for (int32_t k = 0; k < kTileSectors; ++k)
        bySector |= uint32_t(slots.distance2[k] >= kSettled2) << k;
      openAt[pixel] =
          kPositionBits.of[0][bySector & 255] | kPositionBits.of[1][(bySector >> 8) & 255] |
          kPositionBits.of[2][(bySector >> 16) & 255] | kPositionBits.of[3][bySector >> 24];
      if (openAt[pixel] == 0) continue;
      open |= openAt[pixel];
      openBox.x0 = std::min(openBox.x0, x0 + c);
      openBox.x1 = std::max(openBox.x1, x0 + c);
      openBox.y0 = std::min(openBox.y0, y0 + r);
      openBox.y1 = std::max(openBox.y1, y0 + r);
    }
  if (open == 0) return noErr;
  if (!_GatherCandidates(search, lane, openBox, open, x0, y0)) return memFullErr;
  for (int32_t r = 0; r < rows; ++r)
    for (int32_t c = 0; c < columns; ++c) {
      const int32_t pixel = r * kTileSide + c;
      const _Slots slots = {winners + kTileSectors * pixel, distances2 + kTileSectors * pixel};
      if (openAt[pixel] != 0) _VisitOpen(lane->runs, openAt[pixel], x0 + c, y0 + r, c, r, slots);
    }
  return noErr;
}
