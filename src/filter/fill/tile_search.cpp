// The tile search: the edge points laid out in square cells, the visit of the points near each
// pixel, and the rings of cells from which a tile gathers the candidates of its open sectors.
//
// A sector, seen from a pixel p, is the set of points q with p - q inside a wedge bounded by two
// lines through the origin; so it is two linear conditions on q. Over a box of pixels those give
// two wedges: q can lie in the sector of some pixel of the box only inside the box's reach (the
// wedge's directions as seen from the box), and q lies in the sector of every pixel of the box
// when both conditions hold at the corners that bind them. Sectors follow one another with the
// direction, so the sectors that a box of directions can meet form one arc of the 32.
#include "filter/fill/tile_search.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "filter/fill/sector_positions.h"
#include "filter/fill/sector_search.h"
#include "platform/memory.h"

namespace {

constexpr int32_t kFarDistance2 = 999999999;  // a slot's distance before a point takes it

// ---- Sectors as two linear conditions ----

// a.x × dx + a.y × dy >= c, with (dx, dy) = pixel - point.
struct _Form {
  int64_t ax, ay, c;
};

struct _SectorForms {
  _Form bound[2];
};

// The sector s = 8 × quadrant + j: in its quadrant |dy| × Q_j >= |dx| × P_j (from j = 1) and
// |dy| × Q_(j+1) < |dx| × P_(j+1) (up to j = 6); sector j = 0 and j = 7 end at the quadrant's
// axes instead (dy >= 0 or dy < 0; dx >= 0 or dx < 0). Each wedge is under 180°, so the two
// conditions alone hold it. _ExactSectorOf decides with the same slopes.
_SectorForms _FormsOf(int32_t s) {
  const int32_t quadrant = s / 8, j = s % 8;
  const int64_t sx = quadrant < 2 ? 1 : -1;       // dx >= 0 in sectors 0-15
  const int64_t sy = quadrant % 2 == 0 ? 1 : -1;  // dy >= 0 in sectors 0-7 and 16-23
  _SectorForms f;
  if (j >= 1)
    f.bound[0] = {-sx * kSlopeP[j], sy * kSlopeQ[j], 0};
  else
    f.bound[0] = {0, sy, sy > 0 ? 0 : 1};
  if (j <= 6)
    f.bound[1] = {sx * kSlopeP[j + 1], -sy * kSlopeQ[j + 1], 1};
  else
    f.bound[1] = {sx, 0, sx > 0 ? 0 : 1};
  return f;
}

struct _AllForms {
  _SectorForms sector[kTileSectors];
  _AllForms() {
    for (int32_t s = 0; s < kTileSectors; ++s) sector[s] = _FormsOf(s);
  }
};
const _AllForms kForms;

inline int64_t _Value(const _Form& f, int32_t x, int32_t y) { return f.ax * x + f.ay * y; }

// ---- Boxes ----

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
// ---- Buffers ----

template <class T>
bool _Grow(T** block, int32_t* capacity, int64_t need, int32_t keep) {
  if (need <= *capacity) return true;
  int64_t grown = std::max<int64_t>({need, int64_t(*capacity) * 2, 64});
  if (grown > 0x7FFFFFFF / int64_t(sizeof(T))) return false;
  T* fresh = reinterpret_cast<T*>(NewPtr(Size(grown * int64_t(sizeof(T)))));
  if (fresh == nullptr) return false;
  if (keep > 0) std::memcpy(fresh, *block, sizeof(T) * size_t(keep));
  DisposePtr(reinterpret_cast<Ptr>(*block));
  *block = fresh;
  *capacity = int32_t(grown);
  return true;
}

struct _Point {
  int32_t x, y, index;
};

// A point gathered for one sector, with its two conditions' values.
struct _Candidate {
  int32_t x, y, index;
  int64_t value[2];
};

struct _Candidates {
  _Candidate* items;
  int32_t count, capacity;
};

}  // namespace

struct TileSearch {
  int32_t count;
  int32_t shift;             // cells are 1 << shift pixels square
  int32_t gx0, gy0, gw, gh;  // the cells that cover the points
  _Box points;               // the points' bounding box
  int32_t* cellStart;        // points of cell c: cellPoints[cellStart[c] .. cellStart[c + 1])
  _Point* cellPoints;        //   in list order
};

struct TileLane {
  _Point* near;  // the points within reach of a tile's pixels
  int32_t nearCount, nearCapacity;
  _Candidates candidates[kTileSectors];
};

OSErr MakeTileSearch(const uint16_t* xs, const uint16_t* ys, int32_t count, int32_t width,
                     int32_t height, TileSearch** out) {
  if (out == nullptr) return paramErr;
  *out = nullptr;
  if (count < 0 || count > kTileMaxPoints || width < 1 || width > 32767 || height < 1 ||
      height > 32767 || (count > 0 && (xs == nullptr || ys == nullptr)))
    return paramErr;
  for (int32_t i = 0; i < count; ++i)
    if (xs[i] >= width || ys[i] >= height) return paramErr;
  TileSearch* s = reinterpret_cast<TileSearch*>(NewPtrClear(sizeof(TileSearch)));
  if (s == nullptr) return memFullErr;
  s->count = count;
  s->points = {width, height, -1, -1};
  for (int32_t i = 0; i < count; ++i) {
    s->points.x0 = std::min<int32_t>(s->points.x0, xs[i]);
    s->points.x1 = std::max<int32_t>(s->points.x1, xs[i]);
    s->points.y0 = std::min<int32_t>(s->points.y0, ys[i]);
    s->points.y1 = std::max<int32_t>(s->points.y1, ys[i]);
  }
  if (count == 0) s->points = {0, 0, 0, 0};
  // Cells of a tile's side or larger, at most about four for each point.
  for (s->shift = 3;; ++s->shift) {
    s->gx0 = s->points.x0 >> s->shift;
    s->gy0 = s->points.y0 >> s->shift;
    s->gw = (s->points.x1 >> s->shift) - s->gx0 + 1;
    s->gh = (s->points.y1 >> s->shift) - s->gy0 + 1;
    if (int64_t(s->gw) * s->gh <= 4 * int64_t(count) + 64) break;
  }
  const int32_t cells = s->gw * s->gh;
  s->cellStart = reinterpret_cast<int32_t*>(NewPtrClear(Size(cells + 1) * 4));
  s->cellPoints = reinterpret_cast<_Point*>(NewPtr(Size(std::max(count, 1)) * sizeof(_Point)));
  if (s->cellStart == nullptr || s->cellPoints == nullptr) {
    DisposeTileSearch(s);
    return memFullErr;
  }
  auto cellOf = [&](int32_t i) {
    return ((ys[i] >> s->shift) - s->gy0) * s->gw + ((xs[i] >> s->shift) - s->gx0);
  };
  for (int32_t i = 0; i < count; ++i) ++s->cellStart[cellOf(i) + 1];
  for (int32_t c = 0; c < cells; ++c) s->cellStart[c + 1] += s->cellStart[c];
  for (int32_t i = 0; i < count; ++i) s->cellPoints[s->cellStart[cellOf(i)]++] = {xs[i], ys[i], i};
  for (int32_t c = cells; c > 0; --c) s->cellStart[c] = s->cellStart[c - 1];
  s->cellStart[0] = 0;
  *out = s;
  return noErr;
}

void DisposeTileSearch(TileSearch* search) {
  if (search == nullptr) return;
  DisposePtr(reinterpret_cast<Ptr>(search->cellStart));
  DisposePtr(reinterpret_cast<Ptr>(search->cellPoints));
  DisposePtr(reinterpret_cast<Ptr>(search));
}

OSErr MakeTileLane(TileLane** out) {
  *out = reinterpret_cast<TileLane*>(NewPtrClear(sizeof(TileLane)));
  return *out != nullptr ? noErr : memFullErr;
}

void DisposeTileLane(TileLane* lane) {
  if (lane == nullptr) return;
  DisposePtr(reinterpret_cast<Ptr>(lane->near));
  for (_Candidates& list : lane->candidates) DisposePtr(reinterpret_cast<Ptr>(list.items));
  DisposePtr(reinterpret_cast<Ptr>(lane));
}

namespace {

// One pixel's 32 slots: the winner so far of each sector and its squared distance.
struct _Slots {
  int32_t* winner;
  int32_t* distance2;
};

// Point i at squared distance d2 > 0 takes sector s's slot when nearer, or as near with a lower
// index, which is what visiting the points in list order with a strict "nearer" leaves.
inline void _Offer(_Slots slots, int32_t s, int32_t d2, int32_t index) {
  if (d2 < slots.distance2[s] || (d2 == slots.distance2[s] && index < slots.winner[s])) {
    slots.distance2[s] = d2;
    slots.winner[s] = index;
  }
}

// Visits points[0 .. count) from pixel (x, y), each in its own sector.
void _VisitAll(const _Point* points, int32_t count, int32_t x, int32_t y, _Slots slots) {
  for (int32_t i = 0; i < count; ++i) {
    const int32_t dx = x - points[i].x, dy = y - points[i].y;
    const int32_t d2 = dx * dx + dy * dy;
    if (d2 == 0) continue;
    _Offer(slots, _ExactSectorOf(dx, dy), d2, points[i].index);
  }
}

// Visits the candidates of sector s from pixel (x, y): those inside the sector.
void _VisitCandidates(const _Candidates& list, int32_t s, int32_t x, int32_t y, _Slots slots) {
  const _SectorForms& f = kForms.sector[s];
  const int64_t limit0 = _Value(f.bound[0], x, y) - f.bound[0].c;
  const int64_t limit1 = _Value(f.bound[1], x, y) - f.bound[1].c;
  for (int32_t i = 0; i < list.count; ++i) {
    const _Candidate& q = list.items[i];
    if (q.value[0] > limit0 || q.value[1] > limit1) continue;
    const int32_t dx = x - q.x, dy = y - q.y;
    const int32_t d2 = dx * dx + dy * dy;
    if (d2 > 0) _Offer(slots, s, d2, q.index);
  }
}

// Gathers into lane->near the points of `box`, from the cells it meets.
bool _GatherBox(const TileSearch* s, TileLane* lane, const _Box& box) {
  lane->nearCount = 0;
  const int32_t cx0 = std::max((box.x0 >> s->shift) - s->gx0, 0);
  const int32_t cx1 = std::min((box.x1 >> s->shift) - s->gx0, s->gw - 1);
  const int32_t cy0 = std::max((box.y0 >> s->shift) - s->gy0, 0);
  const int32_t cy1 = std::min((box.y1 >> s->shift) - s->gy0, s->gh - 1);
  for (int32_t cy = cy0; cy <= cy1; ++cy)
    for (int32_t cx = cx0; cx <= cx1; ++cx) {
      const int32_t c = cy * s->gw + cx;
      const int32_t begin = s->cellStart[c], end = s->cellStart[c + 1];
      if (!_Grow(&lane->near, &lane->nearCapacity, int64_t(lane->nearCount) + (end - begin),
                 lane->nearCount))
        return false;
      for (int32_t k = begin; k < end; ++k) {
        const _Point& q = s->cellPoints[k];
        if (q.x >= box.x0 && q.x <= box.x1 && q.y >= box.y0 && q.y <= box.y1)
          lane->near[lane->nearCount++] = q;
      }
    }
  return true;
}

// The range of one coordinate over which the half-plane a × x + b × y <= m meets a band of the
// other: rows y0 .. y1 (when `byRows`; the range is then of x) or columns x0 .. x1 (of y). The
// range is widened by a pixel each way against rounding; lo > hi when it is empty.
void _Narrow(const _Form& f, int64_t m, bool byRows, int32_t band0, int32_t band1, int32_t* lo,
             int32_t* hi) {
  const int64_t along = byRows ? f.ax : f.ay;   // coefficient of the coordinate sought
  const int64_t across = byRows ? f.ay : f.ax;  // of the band's coordinate
  const int64_t spare = m - std::min(across * band0, across * band1);  // the most room left
  if (along == 0) {
    if (spare < 0) *lo = 1, *hi = 0;
    return;
  }
  const double bound = double(spare) / double(along);
  if (along > 0 ? bound < double(*lo) - 1.0 : bound > double(*hi) + 1.0) {
    *lo = 1, *hi = 0;  // the band lies wholly outside
  } else if (along > 0) {
    if (bound < double(*hi)) *hi = int32_t(std::floor(bound)) + 1;
  } else {
    if (bound > double(*lo)) *lo = int32_t(std::ceil(bound)) - 1;
  }
}

// Gathers the candidates of sector k for the pixels of `box`: the points q that lie in sector k
// of some pixel of the box (within both half-planes of the sector moved to the corners that
// bound them, on the sector's side of the box) and are at most as far from the box as a
// witness, a point in sector k of every pixel of the box, is from all of it. The cells are taken
// band by band going away from the box (rows for the steep sectors, columns for the others);
// once the next band is farther than the nearest witness, no point beyond can win.
bool _GatherSector(const TileSearch* s, TileLane* lane, const _Box& box, int32_t k) {
  const _SectorForms& f = kForms.sector[k];
  int64_t reach[2], bind[2];
  for (int32_t b = 0; b < 2; ++b) {
    const _Form& form = f.bound[b];
    const int64_t v[4] = {_Value(form, box.x0, box.y0), _Value(form, box.x1, box.y0),
                          _Value(form, box.x0, box.y1), _Value(form, box.x1, box.y1)};
    reach[b] = std::max({v[0], v[1], v[2], v[3]}) - form.c;
    bind[b] = std::min({v[0], v[1], v[2], v[3]}) - form.c;
  }
  // The sector's quadrant: points to the left of or level with the pixel for sectors 0-15,
  // strictly to the right for 16-31; above or level for 0-7 and 16-23, strictly below else.
  const bool left = k < 16, up = (k / 8) % 2 == 0;
  _Box range = s->points;
  if (left)
    range.x1 = std::min(range.x1, box.x1);
  else
    range.x0 = std::max(range.x0, box.x0 + 1);
  if (up)
    range.y1 = std::min(range.y1, box.y1);
  else
    range.y0 = std::max(range.y0, box.y0 + 1);
  _Candidates& list = lane->candidates[k];
  list.count = 0;
  if (range.x0 > range.x1 || range.y0 > range.y1) return true;
  int64_t witness2 = INT64_MAX;
  const bool byRows = k % 8 >= 4;          // steep sectors go row band by row band
  const bool away = byRows ? !up : !left;  // bands go to larger coordinates
  const int32_t shift = s->shift, side = 1 << shift;
  const int32_t first = byRows ? range.y0 : range.x0, last = byRows ? range.y1 : range.x1;
  for (int32_t cell = (away ? first : last) >> shift;; cell += away ? 1 : -1) {
    const int32_t band0 = std::max(cell << shift, first);
    const int32_t band1 = std::min((cell << shift) + side - 1, last);
    if (band0 > band1) break;
    // The part of the band the sector's half-planes leave.
    int32_t lo = byRows ? range.x0 : range.y0, hi = byRows ? range.x1 : range.y1;
    for (int32_t b = 0; b < 2 && lo <= hi; ++b)
      _Narrow(f.bound[b], reach[b], byRows, band0, band1, &lo, &hi);
    lo = std::max(lo, byRows ? range.x0 : range.y0);
    hi = std::min(hi, byRows ? range.x1 : range.y1);
    for (int32_t across = lo >> shift; lo <= hi && across <= hi >> shift; ++across) {
      const int32_t cx = (byRows ? across : cell) - s->gx0, cy = (byRows ? cell : across) - s->gy0;
      const int32_t c = cy * s->gw + cx;
      const int32_t begin = s->cellStart[c], end = s->cellStart[c + 1];
      if (!_Grow(&list.items, &list.capacity, int64_t(list.count) + (end - begin), list.count))
        return false;
      for (int32_t i = begin; i < end; ++i) {
        const _Point& q = s->cellPoints[i];
        if (q.x < range.x0 || q.x > range.x1 || q.y < range.y0 || q.y > range.y1) continue;
        const int64_t v0 = _Value(f.bound[0], q.x, q.y), v1 = _Value(f.bound[1], q.x, q.y);
        if (v0 > reach[0] || v1 > reach[1]) continue;
        list.items[list.count++] = {q.x, q.y, q.index, {v0, v1}};
        const bool inside = q.x >= box.x0 && q.x <= box.x1 && q.y >= box.y0 && q.y <= box.y1;
        if (!inside && v0 <= bind[0] && v1 <= bind[1])
          witness2 = std::min(witness2, _Farthest2(box, q.x, q.y));
      }
    }
    // Points of later bands are at least this far from the box along the bands' direction.
    const int64_t gap = away ? (byRows ? band1 + 1 - box.y1 : band1 + 1 - box.x1)
                             : (byRows ? box.y0 - (band0 - 1) : box.x0 - (band0 - 1));
    if (witness2 < gap * gap) break;
  }
  // Keep the candidates that can be as near as the witness to some pixel of the box.
  int32_t kept = 0;
  for (int32_t i = 0; i < list.count; ++i)
    if (_Nearest2(box, list.items[i].x, list.items[i].y) <= witness2)
      list.items[kept++] = list.items[i];
  list.count = kept;
  return true;
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
  if (!_GatherBox(
          search, lane,
          {box.x0 - kTileReach, box.y0 - kTileReach, box.x1 + kTileReach, box.y1 + kTileReach}))
    return memFullErr;
  // Sectors with a winner within the reach are settled: every point farther than kTileReach in
  // x or y is at least (kTileReach + 1)² away.
  constexpr int32_t kSettled2 = (kTileReach + 1) * (kTileReach + 1);
  uint32_t openOf[kTileSide * kTileSide] = {};
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
      _VisitAll(lane->near, lane->nearCount, x0 + c, y0 + r, slots);
      for (int32_t k = 0; k < kTileSectors; ++k)
        if (slots.distance2[k] >= kSettled2) openOf[pixel] |= 1u << k;
      if (openOf[pixel] == 0) continue;
      open |= openOf[pixel];
      openBox.x0 = std::min(openBox.x0, x0 + c);
      openBox.x1 = std::max(openBox.x1, x0 + c);
      openBox.y0 = std::min(openBox.y0, y0 + r);
      openBox.y1 = std::max(openBox.y1, y0 + r);
    }
  if (open == 0) return noErr;
  for (uint32_t m = open; m != 0; m &= m - 1)
    if (!_GatherSector(search, lane, openBox, __builtin_ctz(m))) return memFullErr;
  for (int32_t r = 0; r < rows; ++r)
    for (int32_t c = 0; c < columns; ++c) {
      const int32_t pixel = r * kTileSide + c;
      const _Slots slots = {winners + kTileSectors * pixel, distances2 + kTileSectors * pixel};
      for (uint32_t m = openOf[pixel]; m != 0; m &= m - 1) {
        const int32_t k = __builtin_ctz(m);
        _VisitCandidates(lane->candidates[k], k, x0 + c, y0 + r, slots);
      }
    }
  return noErr;
}
