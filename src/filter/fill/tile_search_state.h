// The tile search's storage, shared by its parts: the edge points in a tree of boxes (read-only
// once made, shared by every lane), a lane's buffers (the points near a tile, the candidates of
// each open sector as gathered and as the pixels visit them), and the steps between them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "filter/fill/tile_geometry.h"
#include "platform/memory.h"

constexpr int32_t kFarDistance2 = 999999999;  // a slot's distance before a point takes it

// Grows *block to hold at least `need` entries, keeping its first `keep`. False when memory is
// short (the block is then as it was).
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

// An edge point and its place in the edge list.
struct _TilePoint {
  int32_t x, y, index;
};

// The candidates of one position, gathered for a tile and visited by its pixels: places (column
// and row in one word, _Place), indices, the two conditions' values taken from the tile's origin
// and held within ±2^30 (a pixel's own values from the origin are far smaller, so no comparison
// with them changes) and the least squared distance from the visiting pixels' box (a point's
// distance from the image's pixels stays below 2^31). Once gathered they are padded to runs of
// kRun with entries that are never inside, and each run has the least distance of its entries
// and of all later runs' entries: none of them can be nearer to a pixel of the box.
struct _Runs {
  int32_t* block;  // capacity entries of each of the six, one after the other
  int32_t count, capacity;
  int32_t* place() const { return block; }
  int32_t* index() const { return block + capacity; }
  int32_t* value0() const { return block + 2 * capacity; }
  int32_t* value1() const { return block + 3 * capacity; }
  int32_t* near2() const { return block + 4 * capacity; }
  int32_t* least() const { return block + 5 * capacity; }  // by run: count / kRun of them
};
constexpr int32_t kRunArrays = 6;

// A column and a row (each below 32768) in one word, the column in the low 16 bits: the steps
// from a pixel to eight places are then 16-bit differences, and their squared lengths one
// multiply-add of the pairs, exact in 32 bits.
inline int32_t _Place(int32_t x, int32_t y) { return x | y << 16; }

constexpr int32_t kRun = 8;
constexpr int32_t kHeld = 1 << 30;

// Node i holds points[begin, end) inside its bounding box and, when it has more than
// kLeafPoints, is split at the median of its longer side into nodes 2i + 1 and 2i + 2. A walk
// pays nothing below a node that holds no point it wants.
struct _TileNode {
  _Box box;
  int32_t begin, end;
};

constexpr int32_t kLeafPoints = 32;
constexpr int32_t kMostDepth = 64;  // a walk's stack; the tree of 32000 points is 12 deep

inline bool _IsLeaf(const _TileNode& node) { return node.end - node.begin <= kLeafPoints; }

// Images at most this many pixels each way have their leaves' points taken eight at a time.
constexpr int32_t kNarrowSide = 16384;

struct TileSearch {
  int32_t count;
  bool narrow;         // width and height at most kNarrowSide
  _Box points;         // the points' bounding box
  _TilePoint* sorted;  // the points in the tree's order
  // The same by column (columns, rows, indices), with kRun entries of zeros after the last, so
  // that a leaf is read eight points at a time.
  int32_t* columns;
  _TileNode* nodes;
};

struct TileLane {
  _TilePoint* near;  // the points within reach of a tile's pixels
  int32_t nearCount, nearCapacity;
  _Runs runs[kTileSectors];  // the candidates of each open position
};

// One pixel's 32 slots, by sector: the winner so far and its squared distance.
struct _Slots {
  int32_t* winner;
  int32_t* distance2;
};

// Point i at squared distance d2 > 0 takes sector s's slot when nearer, or as near with a lower
// index, which is what visiting the points in list order with a strict "nearer" leaves.
// Whether it does is hard to foretell, so the slot is rewritten either way, without a branch.
inline void _Offer(_Slots slots, int32_t s, int32_t d2, int32_t index) {
  const int32_t held2 = slots.distance2[s], held = slots.winner[s];
  const bool nearer =
      (int64_t(d2) << 32 | uint32_t(index)) < (int64_t(held2) << 32 | uint32_t(held));
  slots.distance2[s] = nearer ? d2 : held2;
  slots.winner[s] = nearer ? index : held;
}

// Gathers into lane->near the points of `box`. False when the buffer could not grow.
bool _GatherNear(const TileSearch* s, TileLane* lane, const _Box& box);

// Gathers, for each position in `open`, the candidates for the pixels of `box` into lane->runs,
// their values taken from the tile's origin (x0, y0). False when a buffer could not grow.
bool _GatherCandidates(const TileSearch* s, TileLane* lane, const _Box& box, uint32_t open,
                       int32_t x0, int32_t y0);

// Grows the runs to hold at least `need` entries, keeping those they hold. False when memory is
// short (the runs are then as they were).
bool _GrowRuns(_Runs* runs, int64_t need);

// Visits, for each position in `open`, its runs from pixel (x, y), whose offset from the tile's
// origin is (ox, oy): the nearest entry inside the sector is offered to its slot. A run none of
// whose entries can be as near as the best found so far (the slot's own included) is passed over.
void _VisitOpen(const _Runs* runs, uint32_t open, int32_t x, int32_t y, int32_t ox, int32_t oy,
                _Slots slots);
