// The tile search's tree: the edge points in a tree of boxes, and its two walks, one for the
// points near a tile and one, nearer node first, by which a tile gathers the candidates of its
// open sectors.
#include <algorithm>
#include <climits>

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
  *out = s;
  return noErr;
}

void DisposeTileSearch(TileSearch* search) {
  if (search == nullptr) return;
  DisposePtr(reinterpret_cast<Ptr>(search->sorted));
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
  int32_t *qx = runs->x(), *qy = runs->y(), *index = runs->index();
  int32_t *v0 = runs->value0(), *v1 = runs->value1(), *n2 = runs->near2();
  int32_t c = runs->count;
  for (int32_t k = 0; k < count; ++k) {
    const _TilePoint& q = points[k];
    const int64_t a = _Value(f.bound[0], q.x, q.y), b = _Value(f.bound[1], q.x, q.y);
    qx[c] = q.x;
    qy[c] = q.y;
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

// Keeps the runs' entries that can be as near as the witness to some pixel of the box, pads
// them to whole runs with entries that are never inside, and notes each run's least distance.
void _FinishRuns(int64_t witness2, _Runs* runs) {
  int32_t *qx = runs->x(), *qy = runs->y(), *index = runs->index();
  int32_t *v0 = runs->value0(), *v1 = runs->value1(), *n2 = runs->near2();
  int32_t kept = 0;
  for (int32_t k = 0; k < runs->count; ++k) {
    if (n2[k] > witness2) continue;
    qx[kept] = qx[k];
    qy[kept] = qy[k];
    index[kept] = index[k];
    v0[kept] = v0[k];
    v1[kept] = v1[k];
    n2[kept] = n2[k];
    ++kept;
  }
  const int32_t padded = (kept + kRun - 1) / kRun * kRun;
  for (int32_t k = kept; k < padded; ++k) {
    qx[k] = qy[k] = index[k] = 0;
    v0[k] = v1[k] = kHeld;
    n2[k] = INT32_MAX;
  }
  runs->count = padded;
  int32_t* least = runs->least();
  for (int32_t r = 0; r < padded / kRun; ++r)
    least[r] = *std::min_element(n2 + r * kRun, n2 + (r + 1) * kRun);
}

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
    _FinishRuns(g.witness2[p], &lane->runs[p]);
  }
  return true;
}
