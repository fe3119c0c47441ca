// The tile search's tree: the edge points in a tree of boxes, and its two walks, one for the
// points near a tile and one, nearer node first, by which a tile gathers the candidates of its
// open sectors. Where the processor has AVX2 and the image is at most kNarrowSide pixels each
// way, a leaf's points are taken eight at a time.
#include <algorithm>
#include <climits>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "filter/fill/tile_search_state.h"

namespace {

// Nodes a tree of `count` points takes: complete down to the depth of its deepest leaf.
int32_t _NodesFor(int32_t count) {
  int32_t depth = 0;
  for (int32_t m = count; m > kLeafPoints; m = (m + 1) / 2) ++depth;
  return (2 << depth) - 1;
}

void _Build(TileSearch* s, int32_t i, int32_t begin, int32_t end) {
  _TileNode& node = s->nodes[i];
  node = {{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN}, begin, end};
  for (int32_t k = begin; k < end; ++k) {
    const _TilePoint& q = s->sorted[k];
    node.box = {std::min(node.box.x0, q.x), std::min(node.box.y0, q.y), std::max(node.box.x1, q.x),
                std::max(node.box.y1, q.y)};
  }
  if (_IsLeaf(node)) return;
  const bool byX = node.box.x1 - node.box.x0 >= node.box.y1 - node.box.y0;
  const int32_t middle = begin + (end - begin + 1) / 2;
  std::nth_element(s->sorted + begin, s->sorted + middle, s->sorted + end,
                   [byX](const _TilePoint& a, const _TilePoint& b) {
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
  s->narrow = width <= kNarrowSide && height <= kNarrowSide;
  s->points = {width, height, -1, -1};
  s->sorted = reinterpret_cast<_TilePoint*>(NewPtr(Size(std::max(count, 1)) * sizeof(_TilePoint)));
  s->nodes = reinterpret_cast<_TileNode*>(NewPtr(Size(_NodesFor(count)) * sizeof(_TileNode)));
  if (s->sorted == nullptr || s->nodes == nullptr) {
    DisposeTileSearch(s);
    return memFullErr;
  }
  for (int32_t i = 0; i < count; ++i) s->sorted[i] = {xs[i], ys[i], i};
  if (count > 0) {
    _Build(s, 0, 0, count);
    s->points = s->nodes[0].box;
  }
  const int32_t stride = count + kRun;
  s->columns = reinterpret_cast<int32_t*>(NewPtrClear(Size(3) * stride * 4));
  if (s->columns == nullptr) {
    DisposeTileSearch(s);
    return memFullErr;
  }
  for (int32_t i = 0; i < count; ++i) {
    s->columns[i] = s->sorted[i].x;
    s->columns[stride + i] = s->sorted[i].y;
    s->columns[2 * stride + i] = s->sorted[i].index;
  }
  *out = s;
  return noErr;
}

void DisposeTileSearch(TileSearch* search) {
  if (search == nullptr) return;
  DisposePtr(reinterpret_cast<Ptr>(search->sorted));
  DisposePtr(reinterpret_cast<Ptr>(search->columns));
  DisposePtr(reinterpret_cast<Ptr>(search->nodes));
  DisposePtr(reinterpret_cast<Ptr>(search));
}

bool _GatherNear(const TileSearch* s, TileLane* lane, const _Box& box) {
  lane->nearCount = 0;
  if (s->count == 0) return true;
  int32_t stack[kMostDepth];
  int32_t depth = 0;
  stack[depth++] = 0;
  while (depth > 0) {
    const int32_t i = stack[--depth];
    const _TileNode& node = s->nodes[i];
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

namespace {

// What the walk knows of each open position's sector.
struct _Gathering {
  int64_t reach[kTileSectors][2];  // q can be in the sector of a pixel only with values <= these
  int64_t bind[kTileSectors][2];   // q is in the sector of every pixel with values <= these
  int64_t base[kTileSectors][2];   // the values at the tile's origin
  int64_t witness2[kTileSectors];  // least greatest squared distance of a witness so far
};

// Adds the points of a leaf, points[0 .. count), that position p's sector can take: those in
// its reach, at most as far from the box as its witness so far; a point in the sector of every
// pixel of the box becomes the witness when it is farther from none of them than the witness.
// Each point is written, and counted only when taken, so that the loop has no branch to miss.
void _TakeLeafPoints(const _TilePoint* points, int32_t count, const int32_t* near2,
                     const bool* witnessable, const _Box& box, int32_t p, _Gathering* g,
                     _Runs* runs) {
  const _Wedge& f = kWedges.at[p];
  const int64_t reach0 = g->reach[p][0], reach1 = g->reach[p][1];
  const int64_t base0 = g->base[p][0], base1 = g->base[p][1];
  int64_t witness2 = g->witness2[p];
  int32_t *place = runs->place(), *index = runs->index();
  int32_t *v0 = runs->value0(), *v1 = runs->value1(), *n2 = runs->near2();
  int32_t c = runs->count;
  for (int32_t k = 0; k < count; ++k) {
    const _TilePoint& q = points[k];
    const int64_t a = _Value(f.bound[0], q.x, q.y), b = _Value(f.bound[1], q.x, q.y);
    place[c] = _Place(q.x, q.y);
    index[c] = q.index;
    v0[c] = int32_t(std::clamp<int64_t>(a - base0, -kHeld, kHeld));
    v1[c] = int32_t(std::clamp<int64_t>(b - base1, -kHeld, kHeld));
    n2[c] = near2[k];
    const bool taken = near2[k] <= witness2 && a <= reach0 && b <= reach1;
    c += taken ? 1 : 0;
    if (taken && witnessable[k] && a <= g->bind[p][0] && b <= g->bind[p][1])
      witness2 = std::min(witness2, _Farthest2(box, q.x, q.y));
  }
  runs->count = c;
  g->witness2[p] = witness2;
}

// Keeps, in order, the runs' entries that can be as near as the witness to some pixel of the
// box. Returns how many.
int32_t _KeepWithin(int64_t witness2, _Runs* runs) {
  int32_t *place = runs->place(), *index = runs->index();
  int32_t *v0 = runs->value0(), *v1 = runs->value1(), *n2 = runs->near2();
  int32_t kept = 0;
  for (int32_t k = 0; k < runs->count; ++k) {
    if (n2[k] > witness2) continue;
    place[kept] = place[k];
    index[kept] = index[k];
    v0[kept] = v0[k];
    v1[kept] = v1[k];
    n2[kept] = n2[k];
    ++kept;
  }
  return kept;
}

// Pads the runs' first `kept` entries to whole runs with entries that are never inside, and notes
// for each run the least distance of its entries and of the later runs'.
void _PadRuns(int32_t kept, _Runs* runs) {
  int32_t *place = runs->place(), *index = runs->index();
  int32_t *v0 = runs->value0(), *v1 = runs->value1(), *n2 = runs->near2();
  const int32_t padded = (kept + kRun - 1) / kRun * kRun;
  for (int32_t k = kept; k < padded; ++k) {
    place[k] = index[k] = 0;
    v0[k] = v1[k] = kHeld;
    n2[k] = INT32_MAX;
  }
  runs->count = padded;
  // Each run's least is that of its entries and of every later run's: a pixel stops at the
  // first run whose least is farther than its best.
  int32_t* least = runs->least();
  int32_t after = INT32_MAX;
  for (int32_t r = padded / kRun - 1; r >= 0; --r) {
    after = std::min(after, *std::min_element(n2 + r * kRun, n2 + (r + 1) * kRun));
    least[r] = after;
  }
}

#if defined(__x86_64__)
// The eight lanes that taking mask m (bit k: lane k) keeps, moved to the front in their order.
struct _KeptLanes {
  alignas(32) int32_t at[256][kRun];  // each row read by one aligned vector load
  _KeptLanes() {
    for (int32_t m = 0; m < 256; ++m) {
      int32_t n = 0;
      for (int32_t k = 0; k < kRun; ++k)
        if (m & (1 << k)) at[m][n++] = k;
      while (n < kRun) at[m][n++] = 0;
    }
  }
};
const _KeptLanes kKeptLanes;
static_assert(alignof(_KeptLanes) == 32, "a row of kKeptLanes is one aligned vector load");

// The leaf's points by column: the coordinates from the tile's origin, the indices, the least
// squared distances from the box and which may be witnesses, padded to whole runs.
struct _LeafLanes {
  alignas(32) int32_t x[kLeafPoints], y[kLeafPoints], dx[kLeafPoints], dy[kLeafPoints];
  alignas(32) int32_t index[kLeafPoints], near2[kLeafPoints], witnessable[kLeafPoints];
  alignas(32) int32_t place[kLeafPoints];  // _Place of each
};

// Fills `leaf` with the `count` points from `begin` in the tree's order, eight at a time: their
// coordinates, from the tile's origin too, indices, least squared distances from the box (below
// 2^31 on images of at most kNarrowSide pixels each way) and whether they lie outside it. Lanes
// past the last point are filled from the zeros after the points and are never taken.
__attribute__((target("avx2,popcnt"))) void _PrepareLeafAVX2(const TileSearch* s, int32_t begin,
                                                             int32_t count, const _Box& box,
                                                             int32_t x0, int32_t y0,
                                                             _LeafLanes* leaf) {
  const int32_t stride = s->count + kRun;
  const int32_t* xs = s->columns + begin;
  const int32_t* ys = s->columns + stride + begin;
  const int32_t* indices = s->columns + 2 * stride + begin;
  const __m256i left = _mm256_set1_epi32(box.x0), right = _mm256_set1_epi32(box.x1);
  const __m256i top = _mm256_set1_epi32(box.y0), bottom = _mm256_set1_epi32(box.y1);
  const __m256i ox = _mm256_set1_epi32(x0), oy = _mm256_set1_epi32(y0);
  const __m256i zero = _mm256_setzero_si256();
  for (int32_t k = 0; k < count; k += kRun) {
    const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(xs + k));
    const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(ys + k));
    const __m256i gapX = _mm256_max_epi32(
        _mm256_max_epi32(_mm256_sub_epi32(left, x), _mm256_sub_epi32(x, right)), zero);
    const __m256i gapY = _mm256_max_epi32(
        _mm256_max_epi32(_mm256_sub_epi32(top, y), _mm256_sub_epi32(y, bottom)), zero);
    const __m256i near2 =
        _mm256_add_epi32(_mm256_mullo_epi32(gapX, gapX), _mm256_mullo_epi32(gapY, gapY));
    _mm256_store_si256(reinterpret_cast<__m256i*>(leaf->x + k), x);
    _mm256_store_si256(reinterpret_cast<__m256i*>(leaf->y + k), y);
    _mm256_store_si256(reinterpret_cast<__m256i*>(leaf->place + k),
                       _mm256_or_si256(x, _mm256_slli_epi32(y, 16)));
    _mm256_store_si256(reinterpret_cast<__m256i*>(leaf->dx + k), _mm256_sub_epi32(x, ox));
    _mm256_store_si256(reinterpret_cast<__m256i*>(leaf->dy + k), _mm256_sub_epi32(y, oy));
    _mm256_store_si256(reinterpret_cast<__m256i*>(leaf->index + k),
                       _mm256_loadu_si256(reinterpret_cast<const __m256i*>(indices + k)));
    _mm256_store_si256(reinterpret_cast<__m256i*>(leaf->near2 + k), near2);
    // Outside the box (a distance from it): -1.
    _mm256_store_si256(reinterpret_cast<__m256i*>(leaf->witnessable + k),
                       _mm256_cmpgt_epi32(near2, zero));
  }
}

// Eight entries of a leaf's column at `from`, a whole run in (so 32-byte aligned).
__attribute__((target("avx2,popcnt"))) inline __m256i _Lanes(const int32_t* from) {
  return _mm256_load_si256(reinterpret_cast<const __m256i*>(from));
}

// Writes the lanes of v that `keep` names to to[0 .. 7], in order.
__attribute__((target("avx2,popcnt"))) inline void _PutKept(int32_t* to, __m256i keep, __m256i v) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), _mm256_permutevar8x32_epi32(v, keep));
}

// _TakeLeafPoints eight points at a time, for an image of at most kNarrowSide pixels each way:
// a value from the tile's origin is then below 2^31 in magnitude (two products of at most
// 2^14 × 54662), so the conditions are tested in 32 bits. The witness is brought down after
// each eight rather than after each point, so a few more points may be taken than there; they
// are farther from the box than the witness and _KeepWithin drops them, and none can become
// the witness. The runs must have room for count + kRun entries beyond those they hold.
__attribute__((target("avx2,popcnt"))) void _TakeLeafLanesAVX2(const _LeafLanes& leaf,
                                                               int32_t count, const _Box& box,
                                                               int32_t p, _Gathering* g,
                                                               _Runs* runs) {
  const _Wedge& f = kWedges.at[p];
  const __m256i ax0 = _mm256_set1_epi32(int32_t(f.bound[0].ax));
  const __m256i ay0 = _mm256_set1_epi32(int32_t(f.bound[0].ay));
  const __m256i ax1 = _mm256_set1_epi32(int32_t(f.bound[1].ax));
  const __m256i ay1 = _mm256_set1_epi32(int32_t(f.bound[1].ay));
  const __m256i reach0 = _mm256_set1_epi32(int32_t(g->reach[p][0] - g->base[p][0]));
  const __m256i reach1 = _mm256_set1_epi32(int32_t(g->reach[p][1] - g->base[p][1]));
  const __m256i bind0 = _mm256_set1_epi32(int32_t(g->bind[p][0] - g->base[p][0]));
  const __m256i bind1 = _mm256_set1_epi32(int32_t(g->bind[p][1] - g->base[p][1]));
  const __m256i held = _mm256_set1_epi32(kHeld), unheld = _mm256_set1_epi32(-kHeld);
  const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  int64_t witness2 = g->witness2[p];
  int32_t *place = runs->place(), *index = runs->index();
  int32_t *v0 = runs->value0(), *v1 = runs->value1(), *n2 = runs->near2();
  int32_t c = runs->count;
  for (int32_t k = 0; k < count; k += kRun) {
    const __m256i dx = _Lanes(leaf.dx + k), dy = _Lanes(leaf.dy + k),
                  near2 = _Lanes(leaf.near2 + k);
    const __m256i a = _mm256_add_epi32(_mm256_mullo_epi32(ax0, dx), _mm256_mullo_epi32(ay0, dy));
    const __m256i b = _mm256_add_epi32(_mm256_mullo_epi32(ax1, dx), _mm256_mullo_epi32(ay1, dy));
    const __m256i within = _mm256_set1_epi32(int32_t(std::min<int64_t>(witness2, INT32_MAX)));
    const __m256i refused = _mm256_or_si256(
        _mm256_or_si256(_mm256_cmpgt_epi32(near2, within), _mm256_cmpgt_epi32(a, reach0)),
        _mm256_or_si256(
            _mm256_cmpgt_epi32(b, reach1),
            _mm256_cmpgt_epi32(_mm256_set1_epi32(count - k), lanes) ^ _mm256_set1_epi32(-1)));
    const int32_t taken = ~_mm256_movemask_ps(_mm256_castsi256_ps(refused)) & 0xFF;
    if (taken == 0) continue;
    const __m256i keep = _mm256_load_si256(reinterpret_cast<const __m256i*>(kKeptLanes.at[taken]));
    _PutKept(place + c, keep, _Lanes(leaf.place + k));
    _PutKept(index + c, keep, _Lanes(leaf.index + k));
    _PutKept(v0 + c, keep, _mm256_max_epi32(_mm256_min_epi32(a, held), unheld));
    _PutKept(v1 + c, keep, _mm256_max_epi32(_mm256_min_epi32(b, held), unheld));
    _PutKept(n2 + c, keep, near2);
    c += __builtin_popcount(uint32_t(taken));
    const __m256i bound =
        _mm256_or_si256(_mm256_cmpgt_epi32(a, bind0), _mm256_cmpgt_epi32(b, bind1));
    int32_t witnesses = taken & ~_mm256_movemask_ps(_mm256_castsi256_ps(bound)) &
                        _mm256_movemask_ps(_mm256_castsi256_ps(_Lanes(leaf.witnessable + k)));
    for (; witnesses != 0; witnesses &= witnesses - 1) {
      const int32_t j = k + __builtin_ctz(uint32_t(witnesses));
      witness2 = std::min(witness2, _Farthest2(box, leaf.x[j], leaf.y[j]));
    }
  }
  runs->count = c;
  g->witness2[p] = witness2;
}

// _KeepWithin eight entries at a time. The runs must have room for kRun entries beyond those
// they hold.
__attribute__((target("avx2,popcnt"))) int32_t _KeepWithinAVX2(int64_t witness2, _Runs* runs) {
  int32_t* arrays[] = {runs->place(), runs->index(), runs->value0(), runs->value1(), runs->near2()};
  const int32_t* n2 = runs->near2();
  const __m256i within = _mm256_set1_epi32(int32_t(std::min<int64_t>(witness2, INT32_MAX)));
  const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  int32_t kept = 0;
  for (int32_t k = 0; k < runs->count; k += kRun) {
    const __m256i refused = _mm256_or_si256(
        _mm256_cmpgt_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(n2 + k)), within),
        _mm256_cmpgt_epi32(_mm256_set1_epi32(runs->count - k), lanes) ^ _mm256_set1_epi32(-1));
    const int32_t taken = ~_mm256_movemask_ps(_mm256_castsi256_ps(refused)) & 0xFF;
    if (taken == 0) continue;
    const __m256i keep = _mm256_load_si256(reinterpret_cast<const __m256i*>(kKeptLanes.at[taken]));
    // Entries move only down, to places already read.
    for (int32_t* a : arrays)
      _PutKept(a + kept, keep, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + k)));
    kept += __builtin_popcount(uint32_t(taken));
  }
  return kept;
}
#endif

}  // namespace

bool _GrowRuns(_Runs* runs, int64_t need) {
  if (need <= runs->capacity) return true;
  const int64_t grown = std::max<int64_t>({need, int64_t(runs->capacity) * 2, 64});
  if (grown * kRunArrays > 0x7FFFFFFF / 4) return false;
  int32_t* block = reinterpret_cast<int32_t*>(NewPtr(Size(grown * kRunArrays * 4)));
  if (block == nullptr) return false;
  for (int32_t a = 0; a < kRunArrays; ++a)
    if (runs->count > 0)
      std::memcpy(block + a * grown, runs->block + a * int64_t(runs->capacity),
                  size_t(runs->count) * 4);
  DisposePtr(reinterpret_cast<Ptr>(runs->block));
  runs->block = block;
  runs->capacity = int32_t(grown);
  return true;
}

// Gathers, for each position in `open`, the candidates for the pixels of `box`: the points
// within the sector's reach from the box that are at most as far from the box as the nearest
// witness is from all of it. The tree is walked nearer node first, each node with the positions
// it can still serve: those in its arc seen from the box, whose witness is not nearer than it.
bool _GatherCandidates(const TileSearch* s, TileLane* lane, const _Box& box, uint32_t open,
                       int32_t x0, int32_t y0) {
  _Gathering g;
  for (uint32_t m = open; m != 0; m &= m - 1) {
    const int32_t p = __builtin_ctz(m);
    lane->runs[p].count = 0;
    g.witness2[p] = INT64_MAX;
    for (int32_t b = 0; b < 2; ++b) {
      const _WedgeForm& form = kWedges.at[p].bound[b];
      const int64_t v[4] = {_Value(form, box.x0, box.y0), _Value(form, box.x1, box.y0),
                            _Value(form, box.x0, box.y1), _Value(form, box.x1, box.y1)};
      g.reach[p][b] = std::max({v[0], v[1], v[2], v[3]}) - form.c;
      g.bind[p][b] = std::min({v[0], v[1], v[2], v[3]}) - form.c;
      g.base[p][b] = _Value(form, x0, y0);
    }
  }
  struct Step {
    int32_t node;
    uint32_t positions;
  };
  Step stack[kMostDepth];
  int32_t depth = 0;
  if (s->count > 0) stack[depth++] = {0, open};
#if defined(__x86_64__)
  static const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt");
  const bool lanes = avx2 && s->narrow;
  _LeafLanes leaf = {};  // lanes past a leaf's points are read, never taken
#endif
  while (depth > 0) {
    const Step step = stack[--depth];
    const _TileNode& node = s->nodes[step.node];
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
    const _TilePoint* points = s->sorted + node.begin;
    const int32_t count = node.end - node.begin;
#if defined(__x86_64__)
    if (lanes) {
      _PrepareLeafAVX2(s, node.begin, count, box, x0, y0, &leaf);
      for (uint32_t m = positions; m != 0; m &= m - 1) {
        const int32_t p = __builtin_ctz(m);
        if (gap2 > g.witness2[p]) continue;  // a witness found in this leaf may close it
        if (!_GrowRuns(&lane->runs[p], int64_t(lane->runs[p].count) + count + kRun)) return false;
        _TakeLeafLanesAVX2(leaf, count, box, p, &g, &lane->runs[p]);
      }
      continue;
    }
#endif
    int32_t near2[kLeafPoints];
    bool witnessable[kLeafPoints];
    for (int32_t k = 0; k < count; ++k) {
      near2[k] = int32_t(_Nearest2(box, points[k].x, points[k].y));
      witnessable[k] = !_Holds(box, points[k].x, points[k].y);
    }
    for (uint32_t m = positions; m != 0; m &= m - 1) {
      const int32_t p = __builtin_ctz(m);
      if (gap2 > g.witness2[p]) continue;  // a witness found in this leaf may close it
      if (!_GrowRuns(&lane->runs[p], int64_t(lane->runs[p].count) + count)) return false;
      _TakeLeafPoints(points, count, near2, witnessable, box, p, &g, &lane->runs[p]);
    }
  }
  for (uint32_t m = open; m != 0; m &= m - 1) {
    const int32_t p = __builtin_ctz(m);
    if (!_GrowRuns(&lane->runs[p], int64_t(lane->runs[p].count) + kRun)) return false;
#if defined(__x86_64__)
    if (avx2) {
      _PadRuns(_KeepWithinAVX2(g.witness2[p], &lane->runs[p]), &lane->runs[p]);
      continue;
    }
#endif
    _PadRuns(_KeepWithin(g.witness2[p], &lane->runs[p]), &lane->runs[p]);
  }
  return true;
}
