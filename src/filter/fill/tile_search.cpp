// The tile search: the edge points in a tree of boxes, the visit of the points near each pixel,
// and the walk of the tree by which a tile gathers the candidates of its open sectors.
//
// A sector, seen from a pixel p, is the set of points q with p - q inside a wedge bounded by two
// lines through the origin: two linear conditions on q. Over a box of pixels those give two
// wedges: q can lie in the sector of some pixel of the box only where both conditions hold at
// the corners that loosen them most (the sector's reach), and q lies in the sector of every
// pixel of the box where both hold at the corners that bind them (a witness). Sectors follow one
// another with the direction, so the sectors that a box of directions can meet form one arc.
#include "filter/fill/tile_search.h"

#include <algorithm>
#include <climits>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "filter/fill/sector_positions.h"
#include "platform/memory.h"

namespace {

constexpr int32_t kFarDistance2 = 999999999;  // a slot's distance before a point takes it

// ---- Sectors ----

// a.x × dx + a.y × dy >= c, with (dx, dy) = pixel - point.
struct _Form {
  int64_t ax, ay, c;
};

// The sector s = 8 × quadrant + j: in its quadrant |dy| × Q_j >= |dx| × P_j (from j = 1) and
// |dy| × Q_(j+1) < |dx| × P_(j+1) (up to j = 6); sectors j = 0 and j = 7 end at the quadrant's
// axes instead (dy >= 0 or dy < 0; dx >= 0 or dx < 0). Each wedge is under 180°, so its two
// conditions alone hold it.
struct _Sector {
  _Form bound[2];
  int32_t position;  // its place counterclockwise from the direction (1, 0)
};

_Sector _SectorNumbered(int32_t s) {
  const int32_t quadrant = s / 8, j = s % 8;
  const int64_t sx = quadrant < 2 ? 1 : -1;       // dx >= 0 in sectors 0-15
  const int64_t sy = quadrant % 2 == 0 ? 1 : -1;  // dy >= 0 in sectors 0-7 and 16-23
  _Sector f;
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

struct _Sectors {
  _Sector numbered[kTileSectors];
  _Sector at[kTileSectors];        // by position
  int32_t sectorAt[kTileSectors];  // the sector at each position
  _Sectors() {
    for (int32_t s = 0; s < kTileSectors; ++s) {
      numbered[s] = _SectorNumbered(s);
      at[numbered[s].position] = numbered[s];
      sectorAt[numbered[s].position] = s;
    }
  }
};
const _Sectors kSectors;

inline int64_t _Value(const _Form& f, int32_t x, int32_t y) { return f.ax * x + f.ay * y; }

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
uint32_t _ArcOf(int32_t dx0, int32_t dx1, int32_t dy0, int32_t dy1) {
  if (dx0 <= 0 && dx1 >= 0 && dy0 <= 0 && dy1 >= 0) return 0xFFFFFFFFu;
  const int32_t p0 = kSectors.numbered[_SectorOfStep(dx0, dy0)].position;
  const int32_t others[3] = {kSectors.numbered[_SectorOfStep(dx1, dy0)].position,
                             kSectors.numbered[_SectorOfStep(dx0, dy1)].position,
                             kSectors.numbered[_SectorOfStep(dx1, dy1)].position};
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

// ---- Buffers ----

template <class T>
bool _Grow(T** block, int32_t* capacity, int64_t need, int32_t keep) {
  if (need <= *capacity) return true;
  const int64_t grown = std::max<int64_t>({need, int64_t(*capacity) * 2, 64});
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

// The candidates of one position as the pixels visit them: columns, rows, indices and the two
// conditions' values taken from the tile's origin and held within ±2^30 (a pixel's own values
// from the origin are far smaller, so no comparison with them changes), in runs of 8 padded
// with entries that are never inside.
struct _Runs {
  int32_t* block;  // capacity entries of each of the five, one after the other
  int32_t count, capacity;
  int32_t* x() const { return block; }
  int32_t* y() const { return block + capacity; }
  int32_t* index() const { return block + 2 * capacity; }
  int32_t* value0() const { return block + 3 * capacity; }
  int32_t* value1() const { return block + 4 * capacity; }
};

constexpr int32_t kRun = 8;
constexpr int32_t kHeld = 1 << 30;

// ---- The tree ----

// Node i holds points[begin, end) inside its bounding box and, when it has more than
// kLeafPoints, is split at the median of its longer side into nodes 2i + 1 and 2i + 2. A walk
// pays nothing below a node that holds no point it wants.
struct _Node {
  _Box box;
  int32_t begin, end;
};

constexpr int32_t kLeafPoints = 32;
constexpr int32_t kMostDepth = 64;  // a walk's stack; the tree of 32000 points is 12 deep

inline bool _IsLeaf(const _Node& node) { return node.end - node.begin <= kLeafPoints; }

}  // namespace

struct TileSearch {
  int32_t count;
  _Box points;     // the points' bounding box
  _Point* sorted;  // the points in the tree's order
  _Node* nodes;
};

struct TileLane {
  _Point* near;  // the points within reach of a tile's pixels
  int32_t nearCount, nearCapacity;
  _Candidates candidates[kTileSectors];  // by position, as gathered
  _Runs runs[kTileSectors];              // by position, as visited
};

namespace {

// Nodes a tree of `count` points takes: complete down to the depth of its deepest leaf.
int32_t _NodesFor(int32_t count) {
  int32_t depth = 0;
  for (int32_t m = count; m > kLeafPoints; m = (m + 1) / 2) ++depth;
  return (2 << depth) - 1;
}

void _Build(TileSearch* s, int32_t i, int32_t begin, int32_t end) {
  _Node& node = s->nodes[i];
  node = {{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN}, begin, end};
  for (int32_t k = begin; k < end; ++k) {
    const _Point& q = s->sorted[k];
    node.box = {std::min(node.box.x0, q.x), std::min(node.box.y0, q.y), std::max(node.box.x1, q.x),
                std::max(node.box.y1, q.y)};
  }
  if (_IsLeaf(node)) return;
  const bool byX = node.box.x1 - node.box.x0 >= node.box.y1 - node.box.y0;
  const int32_t middle = begin + (end - begin + 1) / 2;
  std::nth_element(s->sorted + begin, s->sorted + middle, s->sorted + end,
                   [byX](const _Point& a, const _Point& b) {
                     const int32_t ka = byX ? a.x : a.y, kb = byX ? b.x : b.y;
                     return ka != kb ? ka < kb : a.index < b.index;
                   });
  _Build(s, 2 * i + 1, begin, middle);
  _Build(s, 2 * i + 2, middle, end);
}

}  // namespace

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
  s->sorted = reinterpret_cast<_Point*>(NewPtr(Size(std::max(count, 1)) * sizeof(_Point)));
  s->nodes = reinterpret_cast<_Node*>(NewPtr(Size(_NodesFor(count)) * sizeof(_Node)));
  if (s->sorted == nullptr || s->nodes == nullptr) {
    DisposeTileSearch(s);
    return memFullErr;
  }
  for (int32_t i = 0; i < count; ++i) s->sorted[i] = {xs[i], ys[i], i};
  if (count > 0) {
    _Build(s, 0, 0, count);
    s->points = s->nodes[0].box;
  }
  *out = s;
  return noErr;
}

void DisposeTileSearch(TileSearch* search) {
  if (search == nullptr) return;
  DisposePtr(reinterpret_cast<Ptr>(search->sorted));
  DisposePtr(reinterpret_cast<Ptr>(search->nodes));
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
  for (_Runs& runs : lane->runs) DisposePtr(reinterpret_cast<Ptr>(runs.block));
  DisposePtr(reinterpret_cast<Ptr>(lane));
}

namespace {

// One pixel's 32 slots, by sector: the winner so far and its squared distance.
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
    if (d2 != 0) _Offer(slots, _SectorOfStep(dx, dy), d2, points[i].index);
  }
}

// The nearest of the runs' entries that lie inside the sector of pixel (x, y) (both values at
// most the pixel's limits), the lower index on equal distances: *bestD2 and *bestIndex, left at
// INT32_MAX when none is. Squared distances of the image's points stay below INT32_MAX.
void _VisitRunsPlain(const _Runs& runs, int32_t limit0, int32_t limit1, int32_t x, int32_t y,
                     int32_t* bestD2, int32_t* bestIndex) {
  const int32_t *qx = runs.x(), *qy = runs.y(), *index = runs.index();
  const int32_t *v0 = runs.value0(), *v1 = runs.value1();
  for (int32_t i = 0; i < runs.count; ++i) {
    if (v0[i] > limit0 || v1[i] > limit1) continue;
    const int32_t dx = x - qx[i], dy = y - qy[i];
    const int32_t d2 = dx * dx + dy * dy;
    if (d2 > 0 && (d2 < *bestD2 || (d2 == *bestD2 && index[i] < *bestIndex))) {
      *bestD2 = d2;
      *bestIndex = index[i];
    }
  }
}

#if defined(__x86_64__)
// The same, eight entries at a time: each lane keeps its own best, and the eight are reduced
// with the same rule at the end.
__attribute__((target("avx2"))) void _VisitRunsAVX2(const _Runs& runs, int32_t limit0,
                                                    int32_t limit1, int32_t x, int32_t y,
                                                    int32_t* bestD2, int32_t* bestIndex) {
  const __m256i lim0 = _mm256_set1_epi32(limit0), lim1 = _mm256_set1_epi32(limit1);
  const __m256i px = _mm256_set1_epi32(x), py = _mm256_set1_epi32(y);
  const __m256i none = _mm256_set1_epi32(INT32_MAX), zero = _mm256_setzero_si256();
  __m256i best = none, bestI = none;
  const int32_t *qx = runs.x(), *qy = runs.y(), *index = runs.index();
  const int32_t *v0 = runs.value0(), *v1 = runs.value1();
  for (int32_t i = 0; i < runs.count; i += kRun) {
    const __m256i outside = _mm256_or_si256(
        _mm256_cmpgt_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(v0 + i)), lim0),
        _mm256_cmpgt_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(v1 + i)), lim1));
    const __m256i dx = _mm256_sub_epi32(
                      px, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(qx + i))),
                  dy = _mm256_sub_epi32(
                      py, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(qy + i)));
    __m256i d2 = _mm256_add_epi32(_mm256_mullo_epi32(dx, dx), _mm256_mullo_epi32(dy, dy));
    d2 = _mm256_blendv_epi8(d2, none, _mm256_or_si256(outside, _mm256_cmpeq_epi32(d2, zero)));
    const __m256i idx = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(index + i));
    const __m256i better = _mm256_or_si256(
        _mm256_cmpgt_epi32(best, d2),
        _mm256_and_si256(_mm256_cmpeq_epi32(best, d2), _mm256_cmpgt_epi32(bestI, idx)));
    best = _mm256_blendv_epi8(best, d2, better);
    bestI = _mm256_blendv_epi8(bestI, idx, better);
  }
  alignas(32) int32_t d[kRun], k[kRun];
  _mm256_store_si256(reinterpret_cast<__m256i*>(d), best);
  _mm256_store_si256(reinterpret_cast<__m256i*>(k), bestI);
  for (int32_t lane = 0; lane < kRun; ++lane)
    if (d[lane] < *bestD2 || (d[lane] == *bestD2 && k[lane] < *bestIndex)) {
      *bestD2 = d[lane];
      *bestIndex = k[lane];
    }
}
#endif

// Visits the runs of `position` from pixel (x, y), whose offset from the tile's origin is
// (ox, oy): the nearest entry inside the sector is offered to its slot.
void _VisitRuns(const _Runs& runs, int32_t position, int32_t x, int32_t y, int32_t ox, int32_t oy,
                _Slots slots) {
  const _Sector& f = kSectors.at[position];
  const int32_t limit0 = int32_t(_Value(f.bound[0], ox, oy) - f.bound[0].c);
  const int32_t limit1 = int32_t(_Value(f.bound[1], ox, oy) - f.bound[1].c);
  int32_t bestD2 = INT32_MAX, bestIndex = INT32_MAX;
#if defined(__x86_64__)
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (avx2)
    _VisitRunsAVX2(runs, limit0, limit1, x, y, &bestD2, &bestIndex);
  else
#endif
    _VisitRunsPlain(runs, limit0, limit1, x, y, &bestD2, &bestIndex);
  if (bestD2 != INT32_MAX) _Offer(slots, kSectors.sectorAt[position], bestD2, bestIndex);
}

// Lays the kept candidates of `position` out as runs, their values taken from origin (x, y).
bool _MakeRuns(const _Candidates& list, int32_t position, int32_t x, int32_t y, _Runs* runs) {
  const int32_t padded = (list.count + kRun - 1) / kRun * kRun;
  if (padded > runs->capacity) {
    const int64_t capacity = std::max<int64_t>(padded, int64_t(runs->capacity) * 2);
    if (capacity * 5 > 0x7FFFFFFF / 4) return false;
    int32_t* block = reinterpret_cast<int32_t*>(NewPtr(Size(capacity * 5 * 4)));
    if (block == nullptr) return false;
    DisposePtr(reinterpret_cast<Ptr>(runs->block));
    runs->block = block;
    runs->capacity = int32_t(capacity);
  }
  runs->count = padded;
  const _Sector& f = kSectors.at[position];
  const int64_t base0 = _Value(f.bound[0], x, y), base1 = _Value(f.bound[1], x, y);
  int32_t *qx = runs->x(), *qy = runs->y(), *index = runs->index();
  int32_t *v0 = runs->value0(), *v1 = runs->value1();
  for (int32_t i = 0; i < padded; ++i) {
    if (i >= list.count) {  // never inside
      qx[i] = qy[i] = index[i] = 0;
      v0[i] = v1[i] = kHeld;
      continue;
    }
    const _Candidate& q = list.items[i];
    qx[i] = q.x;
    qy[i] = q.y;
    index[i] = q.index;
    v0[i] = int32_t(std::clamp<int64_t>(q.value[0] - base0, -kHeld, kHeld));
    v1[i] = int32_t(std::clamp<int64_t>(q.value[1] - base1, -kHeld, kHeld));
  }
  return true;
}

// Gathers into lane->near the points of `box`.
bool _GatherNear(const TileSearch* s, TileLane* lane, const _Box& box) {
  lane->nearCount = 0;
  if (s->count == 0) return true;
  int32_t stack[kMostDepth];
  int32_t depth = 0;
  stack[depth++] = 0;
  while (depth > 0) {
    const int32_t i = stack[--depth];
    const _Node& node = s->nodes[i];
    if (!_Meets(node.box, box)) continue;
    if (!_IsLeaf(node)) {
      stack[depth++] = 2 * i + 2;
      stack[depth++] = 2 * i + 1;
      continue;
    }
    if (!_Grow(&lane->near, &lane->nearCapacity, int64_t(lane->nearCount) + kLeafPoints,
               lane->nearCount))
      return false;
    for (int32_t k = node.begin; k < node.end; ++k)
      if (_Holds(box, s->sorted[k].x, s->sorted[k].y)) lane->near[lane->nearCount++] = s->sorted[k];
  }
  return true;
}

// What the walk knows of each open position's sector.
struct _Gathering {
  int64_t reach[kTileSectors][2];  // q can be in the sector of a pixel only with values <= these
  int64_t bind[kTileSectors][2];   // q is in the sector of every pixel with values <= these
  int64_t witness2[kTileSectors];  // least greatest squared distance of a witness so far
};

// Gathers, for each position in `open`, the candidates for the pixels of `box`: the points
// within the sector's reach from the box that are at most as far from the box as the nearest
// witness is from all of it. The tree is walked nearer node first, each node with the positions
// it can still serve: those in its arc seen from the box, whose witness is not nearer than it.
bool _GatherCandidates(const TileSearch* s, TileLane* lane, const _Box& box, uint32_t open) {
  _Gathering g;
  for (uint32_t m = open; m != 0; m &= m - 1) {
    const int32_t p = __builtin_ctz(m);
    lane->candidates[p].count = 0;
    g.witness2[p] = INT64_MAX;
    for (int32_t b = 0; b < 2; ++b) {
      const _Form& form = kSectors.at[p].bound[b];
      const int64_t v[4] = {_Value(form, box.x0, box.y0), _Value(form, box.x1, box.y0),
                            _Value(form, box.x0, box.y1), _Value(form, box.x1, box.y1)};
      g.reach[p][b] = std::max({v[0], v[1], v[2], v[3]}) - form.c;
      g.bind[p][b] = std::min({v[0], v[1], v[2], v[3]}) - form.c;
    }
  }
  if (s->count == 0) return true;
  struct Step {
    int32_t node;
    uint32_t positions;
  };
  Step stack[kMostDepth];
  int32_t depth = 0;
  stack[depth++] = {0, open};
  while (depth > 0) {
    const Step step = stack[--depth];
    const _Node& node = s->nodes[step.node];
    uint32_t positions = step.positions & _ArcBetween(box, node.box);
    const int64_t gap2 = _BoxGap2(box, node.box);
    for (uint32_t m = positions; m != 0; m &= m - 1)
      if (gap2 > g.witness2[__builtin_ctz(m)]) positions &= ~(m & -m);
    if (positions == 0) continue;
    if (!_IsLeaf(node)) {
      const int32_t a = 2 * step.node + 1, b = 2 * step.node + 2;
      const bool bFirst = _BoxGap2(box, s->nodes[b].box) < _BoxGap2(box, s->nodes[a].box);
      stack[depth++] = {bFirst ? a : b, positions};
      stack[depth++] = {bFirst ? b : a, positions};
      continue;
    }
    for (int32_t k = node.begin; k < node.end; ++k) {
      const _Point& q = s->sorted[k];
      const int64_t nearest2 = _Nearest2(box, q.x, q.y);
      const bool witnessable = !_Holds(box, q.x, q.y);
      for (uint32_t m = positions; m != 0; m &= m - 1) {
        const int32_t p = __builtin_ctz(m);
        if (nearest2 > g.witness2[p]) continue;
        const _Sector& f = kSectors.at[p];
        const int64_t v0 = _Value(f.bound[0], q.x, q.y), v1 = _Value(f.bound[1], q.x, q.y);
        if (v0 > g.reach[p][0] || v1 > g.reach[p][1]) continue;
        _Candidates& list = lane->candidates[p];
        if (!_Grow(&list.items, &list.capacity, int64_t(list.count) + 1, list.count)) return false;
        list.items[list.count++] = {q.x, q.y, q.index, {v0, v1}};
        if (witnessable && v0 <= g.bind[p][0] && v1 <= g.bind[p][1])
          g.witness2[p] = std::min(g.witness2[p], _Farthest2(box, q.x, q.y));
      }
    }
  }
  // Keep the candidates that can be as near as the witness to some pixel of the box.
  for (uint32_t m = open; m != 0; m &= m - 1) {
    const int32_t p = __builtin_ctz(m);
    _Candidates& list = lane->candidates[p];
    int32_t kept = 0;
    for (int32_t k = 0; k < list.count; ++k)
      if (_Nearest2(box, list.items[k].x, list.items[k].y) <= g.witness2[p])
        list.items[kept++] = list.items[k];
    list.count = kept;
  }
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
      _VisitAll(lane->near, lane->nearCount, x0 + c, y0 + r, slots);
      for (int32_t k = 0; k < kTileSectors; ++k)
        if (slots.distance2[k] >= kSettled2) openAt[pixel] |= 1u << kSectors.numbered[k].position;
      if (openAt[pixel] == 0) continue;
      open |= openAt[pixel];
      openBox.x0 = std::min(openBox.x0, x0 + c);
      openBox.x1 = std::max(openBox.x1, x0 + c);
      openBox.y0 = std::min(openBox.y0, y0 + r);
      openBox.y1 = std::max(openBox.y1, y0 + r);
    }
  if (open == 0) return noErr;
  if (!_GatherCandidates(search, lane, openBox, open)) return memFullErr;
  for (uint32_t m = open; m != 0; m &= m - 1) {
    const int32_t p = __builtin_ctz(m);
    if (!_MakeRuns(lane->candidates[p], p, x0, y0, &lane->runs[p])) return memFullErr;
  }
  for (int32_t r = 0; r < rows; ++r)
    for (int32_t c = 0; c < columns; ++c) {
      const int32_t pixel = r * kTileSide + c;
      const _Slots slots = {winners + kTileSectors * pixel, distances2 + kTileSectors * pixel};
      for (uint32_t m = openAt[pixel]; m != 0; m &= m - 1) {
        const int32_t p = __builtin_ctz(m);
        _VisitRuns(lane->runs[p], p, x0 + c, y0 + r, c, r, slots);
      }
    }
  return noErr;
}
