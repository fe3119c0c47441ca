// The geometry of the tile search: each sector as two linear conditions on a point seen from a
// pixel, the arc of sectors a box of directions can meet, and distances between boxes and points.
//
// A sector, seen from a pixel p, is the set of points q with p - q inside a wedge bounded by two
// lines through the origin: two linear conditions on q. Over a box of pixels those give two
// wedges: q can lie in the sector of some pixel of the box only where both conditions hold at
// the corners that loosen them most (the sector's reach), and q lies in the sector of every
// pixel of the box where both hold at the corners that bind them (a witness). Sectors follow one
// another with the direction, so the sectors that a box of directions can meet form one arc.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "filter/fill/sector_positions.h"
#include "filter/fill/tile_search.h"

// a.x × dx + a.y × dy >= c, with (dx, dy) = pixel - point.
struct _WedgeForm {
  int64_t ax, ay, c;
};

// The sector s = 8 × quadrant + j: in its quadrant |dy| × Q_j >= |dx| × P_j (from j = 1) and
// |dy| × Q_(j+1) < |dx| × P_(j+1) (up to j = 6); sectors j = 0 and j = 7 end at the quadrant's
// axes instead (dy >= 0 or dy < 0; dx >= 0 or dx < 0). Each wedge is under 180°, so its two
// conditions alone hold it.
struct _Wedge {
  _WedgeForm bound[2];
  int32_t position;  // its place counterclockwise from the direction (1, 0)
};

// The 32 wedges by sector number and by position, and the sector at each position.
struct _Wedges {
  _Wedge numbered[kTileSectors];
  _Wedge at[kTileSectors];         // by position
  int32_t sectorAt[kTileSectors];  // the sector at each position
  _Wedges();
};
extern const _Wedges kWedges;

inline int64_t _Value(const _WedgeForm& f, int32_t x, int32_t y) { return f.ax * x + f.ay * y; }

// The sector of (dx, dy) != (0, 0) by the search's exact slopes, as _ExactSectorOf finds it: the
// slopes rise, so three comparisons find how many of the seven are reached.
inline int32_t _SectorOfStep(int32_t dx, int32_t dy) {
  const int64_t ax = dx < 0 ? -int64_t(dx) : dx, ay = dy < 0 ? -int64_t(dy) : dy;
  int32_t j = ay * kSlopeQ[4] >= ax * kSlopeP[4] ? 4 : 0;
  if (ay * kSlopeQ[j + 2] >= ax * kSlopeP[j + 2]) j += 2;
  if (ay * kSlopeQ[j + 1] >= ax * kSlopeP[j + 1]) j += 1;
  return j + (dx < 0 ? (dy < 0 ? 24 : 16) : (dy < 0 ? 8 : 0));
}

// The positions met by the directions of a box of vectors [dx0, dx1] × [dy0, dy1]: all when the
// box holds the origin; else the directions span under 180°, and the positions of the corners,
// taken relative to one of them, bound an arc. An arc of 15 positions or more may be misread
// that way, so every position is given instead.
uint32_t _ArcOf(int32_t dx0, int32_t dx1, int32_t dy0, int32_t dy1);

// A box of pixels or points.
struct _Box {
  int32_t x0, y0, x1, y1;  // inclusive
};

inline int64_t _Square(int64_t v) { return v * v; }

// Squared distances from a box to a point: the least and the greatest over the box.
inline int64_t _Nearest2(const _Box& b, int32_t x, int32_t y) {
  const int64_t dx = x < b.x0 ? b.x0 - x : x > b.x1 ? x - b.x1 : 0;
  const int64_t dy = y < b.y0 ? b.y0 - y : y > b.y1 ? y - b.y1 : 0;
  return dx * dx + dy * dy;
}
inline int64_t _Farthest2(const _Box& b, int32_t x, int32_t y) {
  return _Square(std::max(std::abs(x - b.x0), std::abs(x - b.x1))) +
         _Square(std::max(std::abs(y - b.y0), std::abs(y - b.y1)));
}
inline int64_t _BoxGap2(const _Box& a, const _Box& b) {
  const int64_t dx = std::max({0, b.x0 - a.x1, a.x0 - b.x1});
  const int64_t dy = std::max({0, b.y0 - a.y1, a.y0 - b.y1});
  return dx * dx + dy * dy;
}
inline bool _Meets(const _Box& a, const _Box& b) {
  return a.x0 <= b.x1 && b.x0 <= a.x1 && a.y0 <= b.y1 && b.y0 <= a.y1;
}
inline bool _Holds(const _Box& b, int32_t x, int32_t y) {
  return x >= b.x0 && x <= b.x1 && y >= b.y0 && y <= b.y1;
}

// The positions in which points of `area` can be seen from pixels of `pixels`.
inline uint32_t _ArcBetween(const _Box& pixels, const _Box& area) {
  return _ArcOf(pixels.x0 - area.x1, pixels.x1 - area.x0, pixels.y0 - area.y1, pixels.y1 - area.y0);
}
