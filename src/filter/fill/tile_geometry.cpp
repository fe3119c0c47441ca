// The tile search's sectors as wedges, numbered and by position, and the arc of positions that a
// box of directions meets.
#include "filter/fill/tile_geometry.h"

namespace {

_Wedge _WedgeNumbered(int32_t s) {
  const int32_t quadrant = s / 8, j = s % 8;
  const int64_t sx = quadrant < 2 ? 1 : -1;       // dx >= 0 in sectors 0-15
  const int64_t sy = quadrant % 2 == 0 ? 1 : -1;  // dy >= 0 in sectors 0-7 and 16-23
  _Wedge f;
  if (j >= 1)
    f.bound[0] = {-sx * kSlopeP[j], sy * kSlopeQ[j], 0};
  else
    f.bound[0] = {0, sy, sy > 0 ? 0 : 1};
  if (j <= 6)
    f.bound[1] = {sx * kSlopeP[j + 1], -sy * kSlopeQ[j + 1], 1};
  else
    f.bound[1] = {sx, 0, sx > 0 ? 0 : 1};
  // Counterclockwise: sectors 0..7 (up to straight down the y axis), 23..16, 24..31, 15..8.
  const int32_t positions[4] = {j, 24 + 7 - j, 8 + 7 - j, 16 + j};
  f.position = positions[quadrant];
  return f;
}

}  // namespace

_Wedges::_Wedges() {
  for (int32_t s = 0; s < kTileSectors; ++s) {
    numbered[s] = _WedgeNumbered(s);
    at[numbered[s].position] = numbered[s];
    sectorAt[numbered[s].position] = s;
  }
}
const _Wedges kWedges;

uint32_t _ArcOf(int32_t dx0, int32_t dx1, int32_t dy0, int32_t dy1) {
  if (dx0 <= 0 && dx1 >= 0 && dy0 <= 0 && dy1 >= 0) return 0xFFFFFFFFu;
  const int32_t p0 = kWedges.numbered[_SectorOfStep(dx0, dy0)].position;
  const int32_t others[3] = {kWedges.numbered[_SectorOfStep(dx1, dy0)].position,
                             kWedges.numbered[_SectorOfStep(dx0, dy1)].position,
                             kWedges.numbered[_SectorOfStep(dx1, dy1)].position};
  int32_t low = 0, high = 0;
  for (int32_t p : others) {
    const int32_t offset = ((p - p0 + 16) & 31) - 16;
    low = std::min(low, offset);
    high = std::max(high, offset);
  }
  if (high - low >= 15) return 0xFFFFFFFFu;
  const uint64_t run = ((uint64_t(1) << (high - low + 1)) - 1) << ((p0 + low + 32) & 31);
  return uint32_t(run | (run >> 32));
}
