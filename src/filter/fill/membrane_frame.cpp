// The fast engine's fill without a selection, where the edge is the image's outer ring: the
// winners of a pixel's 32 sectors worked out from the four sides of the ring rather than
// searched for.
//
// Seen from a pixel, the points of one side in one sector form a run of consecutive points: on
// a row of the ring the step's |dy| is fixed and the sector only grows as |dx| shrinks, on a
// column |dx| is fixed and the sector grows with |dy|. Where each run begins follows from the
// search's exact slopes (sector_positions.h), which classify every step as the fill's
// single-precision rule does; the nearest point of the run is the one nearest the pixel's own
// row or column. Of the two sides that meet a sector the nearer point wins, the one listed
// first on equal distances, as visiting the points in list order with a strict "nearer" leaves.
#include <algorithm>
#include <climits>

#include "filter/fill/membrane_fast.h"
#include "filter/fill/sector_positions.h"
#include "platform/memory.h"

namespace {

constexpr int32_t kNoEnd = INT32_MAX / 4;  // beyond any step

// On a row of the ring |dy| = y, 1 or more: the step (|dx|, y) is in sector j of its quadrant
// exactly when rowEnd[j + 1] < |dx| <= rowEnd[j] (rowEnd[0] unbounded, rowEnd[8] = -1), since
// y × Q_k >= |dx| × P_k holds for the slopes k <= j.
void _RowEnds(int32_t y, int32_t* rowEnd) {
  rowEnd[0] = kNoEnd;
  for (int32_t k = 1; k < 8; ++k) rowEnd[k] = int32_t(int64_t(y) * kSlopeQ[k] / kSlopeP[k]);
  rowEnd[8] = -1;
}

// On a column of the ring |dx| = x, 0 or more: the step (x, |dy|) is in sector j exactly when
// columnStart[j] <= |dy| < columnStart[j + 1] (columnStart[0] = 0, columnStart[8] unbounded).
void _ColumnStarts(int32_t x, int32_t* columnStart) {
  columnStart[0] = 0;
  for (int32_t k = 1; k < 8; ++k)
    columnStart[k] = int32_t((int64_t(x) * kSlopeP[k] + kSlopeQ[k] - 1) / kSlopeQ[k]);
  columnStart[8] = kNoEnd;
}

// The nearest step of a side in sector j, its distance along the side `along` taken within
// [lo, hi]: the run's first step, or none (-1) when the run misses the side.
inline int32_t _NearestOnRow(const int32_t* rowEnd, int32_t j, int32_t lo, int32_t hi) {
  const int32_t along = std::max(rowEnd[j + 1] + 1, lo);
  return along <= std::min(rowEnd[j], hi) ? along : -1;
}
inline int32_t _NearestOnColumn(const int32_t* columnStart, int32_t j, int32_t lo, int32_t hi) {
  const int32_t along = std::max(columnStart[j], lo);
  return along <= std::min(columnStart[j + 1] - 1, hi) ? along : -1;
}

// Offers point `index` at squared distance d2 to a slot: nearer, or as near and listed first.
inline void _Take(int32_t* winner, int32_t* distance2, int32_t index, int64_t d2) {
  if (d2 < *distance2 || (d2 == *distance2 && index < *winner)) {
    *winner = index;
    *distance2 = int32_t(d2);
  }
}

}  // namespace

struct FrameWinners {
  int32_t width, height;
  int32_t* columnStart;  // by |dx| = 0 .. width - 1: _ColumnStarts, nine each
};

template <class Depth>
OSErr _MakeFrameWinners(const _MembraneWork<Depth>* work, FrameWinners** out) {
  *out = nullptr;
  const int32_t w = work->width, h = work->height;
  // The ring as the edge search lists it: row 0, row h - 1, then the first and last pixel of
  // each row between. Narrower or shorter images list points twice; a ring cut short by the
  // list's limit is not whole. Those go by the search.
  if (work->selection != nullptr || w < 2 || h < 3 || work->count != 2 * w + 2 * (h - 2))
    return noErr;
  for (int32_t i = 0; i < work->count; ++i) {
    const int32_t x = i < 2 * w ? i % w : (i - 2 * w) % 2 * (w - 1);
    const int32_t y = i < w ? 0 : i < 2 * w ? h - 1 : 1 + (i - 2 * w) / 2;
    if (work->points[i].x != x || work->points[i].y != y) return noErr;
  }
  auto* frame = reinterpret_cast<FrameWinners*>(NewPtrClear(sizeof(FrameWinners)));
  if (frame == nullptr) return memFullErr;
  frame->width = w;
  frame->height = h;
  frame->columnStart = reinterpret_cast<int32_t*>(NewPtr(Size(w) * 9 * 4));
  if (frame->columnStart == nullptr) {
    DisposeFrameWinners(frame);
    return memFullErr;
  }
  for (int32_t x = 0; x < w; ++x) _ColumnStarts(x, frame->columnStart + 9 * x);
  *out = frame;
  return noErr;
}

void DisposeFrameWinners(FrameWinners* frame) {
  if (frame == nullptr) return;
  DisposePtr(reinterpret_cast<Ptr>(frame->columnStart));
  DisposePtr(reinterpret_cast<Ptr>(frame));
}

namespace {

// The list index of the left column's point on row u (1 .. h - 2); the right column's follows.
inline int32_t _LeftIndex(int32_t w, int32_t u) { return 2 * w + 2 * (u - 1); }

// Offers a side's nearest point in one sector (none when `along` is -1): its index indexOf(along)
// and its squared distance along² + across2, across2 being the square of the step across.
template <class IndexOf>
inline void _OfferNearest(int32_t* winner, int32_t* distance2, int32_t along, int64_t across2,
                          IndexOf indexOf) {
  if (along >= 0) _Take(winner, distance2, indexOf(along), int64_t(along) * along + across2);
}

}  // namespace

// The four quadrants, each met by a row and a column of the ring: the top row (indices x) or
// the bottom one (w + x), the left column or the right one. A step with dx = 0 counts as
// dx >= 0, so the right column meets the quadrants on the left (sectors 0 .. 15) only from the
// last column, where its steps are vertical.
void FindFrameRowWinners(const FrameWinners* frame, int32_t y, int32_t first, int32_t last,
                         int32_t* winners, int32_t* distances2) {
  const int32_t w = frame->width, h = frame->height;
  const int32_t above = y - 1, below = h - 2 - y;  // rows of the side columns above and below
  int32_t topEnd[9], bottomEnd[9];
  _RowEnds(y, topEnd);
  _RowEnds(h - 1 - y, bottomEnd);
  const int64_t up2 = int64_t(y) * y, down2 = int64_t(h - 1 - y) * (h - 1 - y);
  const auto leftUp = [&](int32_t a) { return _LeftIndex(w, y - a); };
  const auto leftDown = [&](int32_t a) { return _LeftIndex(w, y + a); };
  const auto rightUp = [&](int32_t a) { return _LeftIndex(w, y - a) + 1; };
  const auto rightDown = [&](int32_t a) { return _LeftIndex(w, y + a) + 1; };
  for (int32_t x = first; x <= last; ++x) {
    int32_t* winner = winners + kSectorCount * (x - first);
    int32_t* distance2 = distances2 + kSectorCount * (x - first);
    for (int32_t s = 0; s < kSectorCount; ++s) {
      winner[s] = -1;
      distance2[s] = kEmptyDistance;
    }
    const int32_t* leftStart = frame->columnStart + 9 * x;             // |dx| = x
    const int32_t* rightStart = frame->columnStart + 9 * (w - 1 - x);  // |dx| = w - 1 - x
    const int64_t left2 = int64_t(x) * x, right2 = int64_t(w - 1 - x) * (w - 1 - x);
    const auto topLeft = [&](int32_t a) { return x - a; };
    const auto bottomLeft = [&](int32_t a) { return w + x - a; };
    const auto topRight = [&](int32_t a) { return x + a; };
    const auto bottomRight = [&](int32_t a) { return w + x + a; };
    for (int32_t j = 0; j < 8; ++j) {
      // Sectors 0 .. 7 (dx >= 0, dy >= 0) and 8 .. 15 (dx >= 0, dy < 0): the top and bottom
      // rows from the pixel's column leftwards, the left column (the pixel's own point left
      // out), and the right column from the last column.
      int32_t* up = winner + j;
      int32_t* upD2 = distance2 + j;
      int32_t* down = winner + 8 + j;
      int32_t* downD2 = distance2 + 8 + j;
      _OfferNearest(up, upD2, _NearestOnRow(topEnd, j, 0, x), up2, topLeft);
      _OfferNearest(down, downD2, _NearestOnRow(bottomEnd, j, 0, x), down2, bottomLeft);
      _OfferNearest(up, upD2, _NearestOnColumn(leftStart, j, x == 0 ? 1 : 0, above), left2, leftUp);
      _OfferNearest(down, downD2, _NearestOnColumn(leftStart, j, 1, below), left2, leftDown);
      if (x == w - 1) {  // nothing lies right of the last column
        _OfferNearest(up, upD2, _NearestOnColumn(rightStart, j, 1, above), 0, rightUp);
        _OfferNearest(down, downD2, _NearestOnColumn(rightStart, j, 1, below), 0, rightDown);
        continue;
      }
      // Sectors 16 .. 23 (dx < 0, dy >= 0) and 24 .. 31 (dx < 0, dy < 0): the top and bottom
      // rows right of the pixel, and the right column.
      up = winner + 16 + j;
      upD2 = distance2 + 16 + j;
      down = winner + 24 + j;
      downD2 = distance2 + 24 + j;
      _OfferNearest(up, upD2, _NearestOnRow(topEnd, j, 1, w - 1 - x), up2, topRight);
      _OfferNearest(down, downD2, _NearestOnRow(bottomEnd, j, 1, w - 1 - x), down2, bottomRight);
      _OfferNearest(up, upD2, _NearestOnColumn(rightStart, j, 0, above), right2, rightUp);
      _OfferNearest(down, downD2, _NearestOnColumn(rightStart, j, 1, below), right2, rightDown);
    }
  }
}

template OSErr _MakeFrameWinners<_Depth8>(const _MembraneWork<_Depth8>*, FrameWinners**);
template OSErr _MakeFrameWinners<_Depth16>(const _MembraneWork<_Depth16>*, FrameWinners**);
