// The winner search's state, shared by the search object (sector_search.cpp) and the change
// logs of its downward quadrants (sector_change_logs.cpp): growable buffers, each quadrant's
// sectors with their envelopes and logs, and the SectorSearch record itself.
//
// The 32 sectors form four quadrants; each quadrant is mirrored into a frame where its points lie
// above and to the left of the pixel, and each of its 8 sectors is followed on its own. The
// quadrants that look up are carried along as rows are asked. Those that look down need the rows
// below first: they run once from the bottom up when the search is made, recording for each row
// the entries that came and went, and are replayed from the top down.
#pragma once

#include <cstddef>

#include "filter/fill/sector_envelope.h"
#include "filter/fill/sector_search.h"
#include "platform/memory.h"

// ---- Buffers ----

// Makes room for `need` elements of `size` bytes in *block (of *capacity), keeping the first
// `keep`. False when memory is short (the block is then unchanged).
bool _Reserve(void** block, int32_t* capacity, int64_t need, size_t size, int32_t keep);

template <class T>
inline bool _ReserveOf(T** block, int32_t* capacity, int64_t need, int32_t keep = 0) {
  void* p = *block;
  const bool ok = _Reserve(&p, capacity, need, sizeof(T), keep);
  *block = static_cast<T*>(p);
  return ok;
}

struct _Buffer {
  _Entry* entries;
  int32_t capacity;
};

inline void _Swap(_Buffer* a, _Buffer* b) {
  const _Buffer t = *a;
  *a = *b;
  *b = t;
}

// ---- Sectors, quadrants and the search ----

// How a downward sector's list changed between frame rows r - 1 and r, found going up and
// undone coming down: the entries that came (their positions on row r), those that went (their
// positions, points and starts on row r - 1), and those that stayed with another start (their
// positions and starts on row r - 1).
struct _Went {
  int32_t position, site;
  _Recipe recipe;
};

struct _Restart {
  int32_t position;
  _Recipe recipe;
};

template <class T>
struct _ChangeList {
  T* changes;
  int32_t* stepStart;  // changes of step t: changes[stepStart[t] .. stepStart[t + 1])
  int32_t count, capacity;
};

struct _Log {
  _ChangeList<int32_t> came;
  _ChangeList<_Went> went;
  _ChangeList<_Restart> restarted;
};

struct _Sector {
  int64_t lq, lp, rq, rp;  // footprint slopes, as in _Row
  double leftScale, rightScale, leftSlope, rightSlope;
  _Buffer list;  // the envelope (upward) or the entries' points (downward) at the quadrant's row
  int32_t count;
  _Log log;
};

// What moving a sector by one row works in: two lists (the walk's and the merge's; the sector's
// own list changes places with them) and the merge's scratch. One to a thread.
struct _StepRoom {
  _Buffer work[2];
  _View* views;  // one per point of the widest row
  _Piece* pieces;
};

// A quadrant: its frame, its sectors and its own room to step them in, so that the four
// quadrants can be moved from row to row on four threads at once.
struct _Fan {
  bool flipX, flipY;
  int32_t* cx;  // the points in the quadrant's frame
  int32_t* cy;
  int32_t row;    // the frame row that the sectors' lists describe
  int32_t asked;  // the image row last asked of the quadrant, -1 before any
  _Sector sectors[8];
  _StepRoom room;
};

struct SectorSearch {
  int32_t width, height, count;
  int32_t left, right, top, bottom;  // bounding box of the points: pixels followed
  int32_t* listIndex;                // search index -> index in the caller's list
  int32_t* px;                       // image coordinates by search index
  int32_t* py;
  int32_t* rowStart;  // points of image row top + r: rowSites[rowStart[r] .. rowStart[r + 1]),
  int32_t* rowSites;  //   by increasing column
  int32_t widestRow;
  _Fan fans[4];        // sectors 0-7 (up-left), 8-15 (down-left), 16-23 (up-right), 24-31
  int32_t* distances;  // width × 32, made when a caller first wants no distances
};

inline _Row _RowOf(const SectorSearch* s, const _Fan& fan, const _Sector& sector, int32_t y) {
  _Row row;
  row.cx = fan.cx;
  row.cy = fan.cy;
  row.y = y;
  row.left = s->left;
  row.right = s->right;
  row.lq = sector.lq;
  row.lp = sector.lp;
  row.rq = sector.rq;
  row.rp = sector.rp;
  row.leftScale = sector.leftScale;
  row.rightScale = sector.rightScale;
  row.leftSlope = sector.leftSlope;
  row.rightSlope = sector.rightSlope;
  return row;
}

// Takes a step room's merge scratch for rows of up to `widest` points. False when memory is
// short; _ReleaseRoom releases what was had.
bool _MakeRoom(_StepRoom* room, int32_t widest);
void _ReleaseRoom(_StepRoom* room);

// Moves one sector of `fan` from frame row y - 1 to y in `room` (its entries' origins refer to
// the old list, which, when `keepOld`, stays readable in the room until the next call). The
// result is in sector->list. False when memory is short.
bool _Advance(const SectorSearch* s, const _Fan& fan, _StepRoom* room, _Sector* sector, int32_t y,
              bool keepOld);

// ---- Change logs (sector_change_logs.cpp) ----

// Runs sector `sector` of a downward quadrant `fan` from the bottom up in `room`, recording each
// row's changes; leaves its list at frame row s->bottom, the quadrant's top row in the image
// (where the caller puts fan.row once every sector has run). False when memory is short.
bool _RunDownward(const SectorSearch* s, const _Fan& fan, _Sector* sector, _StepRoom* room);

// Moves a downward sector from frame row row.y + 1 to row.y by undoing that step in `room`: the
// starts that stayed move along by their slopes, those that came back or changed are worked out.
// False when memory is short.
bool _StepBack(const SectorSearch* s, const _Row& row, _StepRoom* room, _Sector* sector);

// Works every start of the list out afresh, ending the drift of moving them along.
void _Refresh(const _Row& row, _Sector* sector);

// Releases a change list's storage.
template <class T>
inline void _Release(_ChangeList<T>* list) {
  DisposePtr(Ptr(list->changes));
  DisposePtr(Ptr(list->stepStart));
}
