// The envelope of one sector on one row of the winner search: for a real column, which point
// wins there, as a list of pieces, each the stretch where one point wins. The walk carries an
// envelope from one row to the next and the merge lays the new row's points over it.
//
// Most pieces keep how their start is found for many rows. Each entry carries a certificate:
// the row until which every comparison that placed it keeps its outcome (positions move
// linearly with the row, so that row can be worked out), and while it holds, the start is only
// moved along by its slope.
#pragma once

#include "filter/fill/sector_positions.h"

// A start is moved along by its slope for at most this many rows before it is worked out
// again, which keeps the sums' rounding below 2e-9, well inside kTolerance.
constexpr int32_t kLongestCertificate = 128;

// One piece of an envelope. Its end is the next entry's start.
struct _Entry {
  int32_t site;    // the point that wins it (search index)
  int32_t origin;  // position of the entry in the previous row's list, -1 when new on this row
  // The start's certificate: the comparisons that placed it keep their outcome on rows before
  // `until`, as long as the entry before it is `anchor` (-1: none) with start `anchorRecipe`.
  int32_t until;
  int32_t anchor;
  _Recipe anchorRecipe;
  _Recipe startRecipe;
  double start;  // where it begins, and how that moves per row
  double slope;
};

// A new point's stretch on the row among the other new points.
struct _Piece {
  int32_t view;
  _Pos begin, end;
};

// A point as the row sees it: cost (squared distance less x² - 2 x cx, i.e. cx² + h²) and its
// footprint [l, r), clipped to the followed columns.
struct _View {
  int32_t site, cx;
  int64_t cost;
  _Pos l, r;
};

inline _Pos _StartOf(const _Entry& e) { return {e.start, e.slope, e.startRecipe}; }

// Room to give the merge first: most new points add an entry or two. The merge reports a
// larger count when that was short (each of the m + 1 stretches between entries can give one
// entry plus four for each new piece over it), and is run again.
inline int64_t _MergeRoom(int32_t envelope, int32_t fresh) {
  return int64_t(envelope) + 3 * int64_t(fresh) + 16;
}

// The envelope on this row of the points listed in `in` (the previous row's envelope, in
// order): writes to `out` (which may be `in`) the entries that still win somewhere, each with
// its start and its position in `in`, and returns their count (at most `count`). An entry
// whose certificate holds only has its start moved along; the others are placed again after
// the entry before.
int32_t _Walk(const _Row& row, const _Entry* in, int32_t count, _Entry* out);

// Lays the points of the row above (h = 1), fresh[0], fresh[step], ... (count of them, in
// increasing column of the frame), over the envelope `env` of m entries; writes the envelope of
// all of them to `out`, which has room for `room` entries, and returns its count (all of it
// written only when it fits). `views` and `pieces` are scratch for `count` entries.
int32_t _Merge(const _Row& row, const _Entry* env, int32_t m, const int32_t* fresh, int32_t count,
               int32_t step, _View* views, _Piece* pieces, _Entry* out, int32_t room);
