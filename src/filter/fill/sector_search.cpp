// The winner search of the membrane fill.
//
// Seen from a pixel, the winner of a sector is the nearest edge point inside a fixed wedge, ties
// going to the lower index. The 32 sectors form four quadrants; each quadrant is mirrored into a
// frame where its points lie above and to the left of the pixel, and each of its 8 sectors is
// followed on its own. For one sector and one row, the winner as a function of a real column is
// piecewise constant: the row's envelope, a list of pieces, each the stretch where one point
// wins. Two facts let the envelope be carried from row to row in one pass over its pieces:
//  - a point that wins at pixel p also wins all along the segment from p to itself, because the
//    wedge of a point on that segment lies inside the wedge of p; so the pieces that points above
//    row y - 1 win on row y keep the order of their pieces on row y - 1, and none splits;
//  - the points of row y - 1 itself enter with footprints a few pixels long (or, for sector 0,
//    with a single piece each).
// A row therefore costs one walk that recomputes where each piece begins and drops the pieces
// that vanished, and one merge that lays the new points over the result.
//
// Every decision is exact. The slopes between sectors are rationals that classify each lattice
// point as the fill's single-precision rule does; costs are integers; equal distances are
// ordered by perturbing each point's cost by its index times an infinitesimal, so that no pixel
// lies on a piece boundary. Positions are compared in double precision and recomputed exactly,
// with 64-bit integers, when two of them are within 1e-8.
//
// Most pieces keep how their start is found for many rows. Each entry carries a certificate:
// the row until which every comparison that placed it keeps its outcome (positions move
// linearly with the row, so that row can be worked out), and while it holds, the start is only
// moved along by its slope.
//
// The quadrants that look up are carried along as rows are asked. Those that look down need the
// rows below first: they run once from the bottom up when the search is made, recording for
// each row the entries that came and went, and are replayed from the top down.
#include "filter/fill/sector_search.h"

#include <cmath>
#include <cstring>

#include "platform/memory.h"

namespace {

// Boundary slopes 1..7 as P/Q (index 0 unused). Each lies strictly between the two lattice
// slopes (|dx|, |dy| <= 32767) that the single-precision rule puts on either side of 0.1989,
// 0.4142, 0.6682, 1.0, 1.497, 2.414 and 5.028 (it is their mediant), so dy * Q >= dx * P
// decides every point as the rule does.
constexpr int64_t kSlopeP[8] = {0, 8607, 22641, 29924, 32767, 33184, 33417, 33220};
constexpr int64_t kSlopeQ[8] = {1, 43273, 54662, 44783, 32768, 22167, 13843, 6607};
// In the quadrants that leave out dx = 0, sector 7 begins at slope 32768 instead, steeper than
// any lattice slope but short of vertical.
constexpr int64_t kSteepestP = 32768;

constexpr double kTolerance = 1e-8;         // positions closer than this are compared exactly
constexpr double kFarPosition = 1048576.0;  // crossings beyond are clamped in double
// A start is moved along by its slope for at most this many rows before it is worked out
// again, which keeps the sums' rounding below 2e-9, well inside kTolerance.
constexpr int32_t kLongestCertificate = 128;

// How to recompute a position exactly: a kind in the top two bits, then two 15-bit operands
// (search indices of points, or a column).
typedef uint32_t _Recipe;
enum : uint32_t { kColumn = 0, kFootBegin = 1, kFootEnd = 2, kCrossing = 3 };

inline _Recipe _MakeRecipe(uint32_t kind, uint32_t a, uint32_t b) {
  return (kind << 30) | (a << 15) | b;
}
inline _Recipe _ColumnRecipe(int32_t column) { return _MakeRecipe(kColumn, uint32_t(column), 0); }

// A position on a row: a column in double precision (within 3e-9 of the exact one), how far it
// moves from one row to the next (every position here moves linearly with the row), and how to
// find it exactly.
struct _Pos {
  double v;
  double slope;
  _Recipe recipe;
};

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

// One sector of one quadrant on one row, in the quadrant's frame.
struct _Row {
  const int32_t* cx;  // the points' columns and rows in the frame
  const int32_t* cy;
  int32_t y;
  int32_t left, right;           // columns followed
  int64_t lq, lp;                // a point's footprint begins at cx + h * lq / lp
  int64_t rq, rp;                // and ends before cx + h * rq / rp (no end when rp is 0)
  double leftScale, rightScale;  // 1 / lp, 1 / rp
  double leftSlope, rightSlope;  // lq / lp, rq / rp
};

// A point as the row sees it: cost (squared distance less x² - 2 x cx, i.e. cx² + h²) and its
// footprint [l, r), clipped to the followed columns.
struct _View {
  int32_t site, cx;
  int64_t cost;
  _Pos l, r;
};

// ---- Exact positions ----

struct _Exact {
  int64_t num, den;  // value num / den + infinitesimal * epsNum / epsDen, den > 0
  int64_t epsNum, epsDen;
};

_Exact _Evaluate(const _Row& row, _Recipe recipe) {
  const uint32_t kind = recipe >> 30, a = (recipe >> 15) & 0x7FFF, b = recipe & 0x7FFF;
  if (kind == kColumn) return {int64_t(a), 1, 0, 1};
  if (kind == kFootBegin || kind == kFootEnd) {
    const int64_t h = row.y - row.cy[a];
    const int64_t q = kind == kFootBegin ? row.lq : row.rq,
                  p = kind == kFootBegin ? row.lp : row.rp;
    return {row.cx[a] * p + h * q, p, 0, 1};
  }
  // Where point a (later in the envelope) starts to beat point b: cost_a + eps a < cost_b + eps b
  // holds for 2 x (cx_a - cx_b) > cost_a - cost_b + eps (a - b).
  const int64_t ha = row.y - row.cy[a], hb = row.y - row.cy[b];
  const int64_t k =
      int64_t(row.cx[a]) * row.cx[a] + ha * ha - int64_t(row.cx[b]) * row.cx[b] - hb * hb;
  const int64_t d = int64_t(row.cx[a]) - row.cx[b];
  const int64_t sign = d > 0 ? 1 : -1;
  return {k * sign, 2 * d * sign, (int64_t(a) - int64_t(b)) * sign, 2 * d * sign};
}

// Magnitudes: numerators below 2^33, denominators below 2^17, so the products fit 64 bits.
bool _LessExact(const _Row& row, _Recipe a, _Recipe b) {
  const _Exact x = _Evaluate(row, a), z = _Evaluate(row, b);
  const int64_t d = x.num * z.den - z.num * x.den;
  if (d != 0) return d < 0;
  return x.epsNum * z.epsDen < z.epsNum * x.epsDen;
}

inline bool _Less(const _Row& row, double av, _Recipe ar, double bv, _Recipe br) {
  const double d = av - bv;
  if (d < -kTolerance) return true;
  if (d > kTolerance) return false;
  if (ar == br) return false;                        // one position
  if (((ar | br) >> 30) == kColumn) return av < bv;  // two columns: the doubles are exact
  return _LessExact(row, ar, br);
}

inline bool _Less(const _Row& row, const _Pos& a, const _Pos& b) {
  return _Less(row, a.v, a.recipe, b.v, b.recipe);
}

// Lowers *until to the first row at which the order of a and b, as found on this row, may
// change: they move linearly from row to row, so they meet at most once. The estimate errs
// early; a near tie is looked at again on the next row.
inline void _NoteUntil(const _Row& row, const _Pos& a, const _Pos& b, int32_t* until) {
  if (*until <= row.y + 1) return;  // as early as it gets
  const double d = a.v - b.v;
  if (std::fabs(d) <= 4 * kTolerance) {
    *until = row.y + 1;
    return;
  }
  const double ds = a.slope - b.slope;
  if (ds == 0.0 || (d < 0) == (ds < 0)) return;  // moving apart
  // They meet after |d| / |ds| rows; the estimate is taken a little early.
  const double span = double(*until - row.y);
  if (std::fabs(d) * (1.0 - 1e-9) >= (span + 1e-6) * std::fabs(ds)) return;
  const double meet = double(row.y) + (-d / ds) * (1.0 - 1e-9) - 1e-6;
  int32_t last = int32_t(std::ceil(meet));
  if (last <= row.y) last = row.y + 1;
  if (last < *until) *until = last;
}

inline bool _LessUntil(const _Row& row, const _Pos& a, const _Pos& b, int32_t* until) {
  if (until != nullptr) _NoteUntil(row, a, b, until);
  return _Less(row, a, b);
}

inline _Pos _Column(int32_t column) { return {double(column), 0.0, _ColumnRecipe(column)}; }

inline _Pos _StartOf(const _Entry& e) { return {e.start, e.slope, e.startRecipe}; }

// ---- Envelope steps ----

inline _Pos _Crossing(const _Row& row, int32_t a, int64_t costA, int32_t b, int64_t costB) {
  const int64_t d = int64_t(row.cx[a]) - row.cx[b];
  double c = double(costA - costB) / double(2 * d);
  if (c > kFarPosition) c = kFarPosition;
  if (c < -kFarPosition) c = -kFarPosition;
  return {c, double(row.cy[b] - row.cy[a]) / double(d),
          _MakeRecipe(kCrossing, uint32_t(a), uint32_t(b))};
}

// The position that `recipe` stands for on the row.
_Pos _PosOf(const _Row& row, _Recipe recipe) {
  const uint32_t kind = recipe >> 30, a = (recipe >> 15) & 0x7FFF, b = recipe & 0x7FFF;
  if (kind == kColumn) return {double(a), 0.0, recipe};
  const int64_t ha = row.y - row.cy[a];
  if (kind == kFootBegin)
    return {double(row.cx[a] * row.lp + ha * row.lq) * row.leftScale, row.leftSlope, recipe};
  if (kind == kFootEnd)
    return {double(row.cx[a] * row.rp + ha * row.rq) * row.rightScale, row.rightSlope, recipe};
  const int64_t hb = row.y - row.cy[b];
  return _Crossing(row, int32_t(a), int64_t(row.cx[a]) * row.cx[a] + ha * ha, int32_t(b),
                   int64_t(row.cx[b]) * row.cx[b] + hb * hb);
}

// Point `site` as the row sees it. The clipping to the followed columns is a comparison that
// *until (when given) must cover.
void _See(const _Row& row, int32_t site, _View* v, int32_t* until = nullptr) {
  const int32_t cx = row.cx[site];
  const int64_t h = row.y - row.cy[site];
  v->site = site;
  v->cx = cx;
  v->cost = int64_t(cx) * cx + h * h;
  if (row.lq == 0) {  // sector 7 holding dx = 0 begins on the point's own column
    v->l = _Column(cx);
  } else {
    v->l = {double(cx * row.lp + h * row.lq) * row.leftScale, row.leftSlope,
            _MakeRecipe(kFootBegin, uint32_t(site), 0)};
  }
  // In-range footprint ends are at least 1/P from any column, far beyond rounding.
  const _Pos left = _Column(row.left);
  if (until != nullptr) _NoteUntil(row, v->l, left, until);
  if (v->l.v < row.left) v->l = left;
  v->r = _Column(row.right + 1);
  if (row.rp != 0) {
    const _Pos r = {double(cx * row.rp + h * row.rq) * row.rightScale, row.rightSlope,
                    _MakeRecipe(kFootEnd, uint32_t(site), 0)};
    if (until != nullptr) _NoteUntil(row, r, v->r, until);
    if (r.v < v->r.v) v->r = r;
  }
}

inline _Pos _CrossingOf(const _Row& row, const _View& e, const _View& t) {
  return _Crossing(row, e.site, e.cost, t.site, t.cost);
}

// Where e first takes over from t, whose piece starts at s: the least column from there on
// where e is inside its footprint and t is outside its own or farther. False when never. Every
// comparison made lowers *until (when given) to the row where its outcome may change.
bool _TakeOver(const _Row& row, const _View& t, const _Pos& s, const _View& e, _Pos* x,
               int32_t* until) {
  const _Pos lo = _LessUntil(row, s, e.l, until) ? e.l : s;
  if (!_LessUntil(row, lo, e.r, until)) return false;
  const int64_t d = int64_t(e.cx) - t.cx;
  if (d > 0) {  // e gains to the right: it wins from the crossing, or from where t ends
    _Pos g = _CrossingOf(row, e, t);
    if (!_LessUntil(row, g, t.r, until)) g = t.r;
    if (!_LessUntil(row, g, e.r, until)) return false;
    *x = _LessUntil(row, lo, g, until) ? g : lo;
    return true;
  }
  bool beats;
  if (d < 0) {  // e wins left of the crossing
    beats = _LessUntil(row, lo, _CrossingOf(row, e, t), until);
  } else {
    beats = e.cost < t.cost;  // one column: equal costs would be one point, and repeats are gone
  }
  if (beats) {
    *x = lo;
    return true;
  }
  if (!_LessUntil(row, t.r, e.r, until)) return false;
  *x = _LessUntil(row, lo, t.r, until) ? t.r : lo;
  return true;
}

// The envelope on this row of the points listed in `in` (the previous row's envelope, in
// order): writes to `out` (which may be `in`) the entries that still win somewhere, each with
// its start and its position in `in`, and returns their count (at most `count`). An entry
// whose certificate holds only has its start moved along; the others are placed again after
// the entry before.
int32_t _Walk(const _Row& row, const _Entry* in, int32_t count, _Entry* out) {
  int32_t n = 0;
  _View top = {};
  bool topSeen = false;  // whether `top` is the view of out[n - 1]
  for (int32_t i = 0; i < count; ++i) {
    const _Entry old = in[i];
    if (old.until > row.y &&
        (n == 0 ? old.anchor < 0
                : old.anchor == out[n - 1].site && old.anchorRecipe == out[n - 1].startRecipe)) {
      if (out + n != in + i) out[n] = old;
      out[n].origin = i;
      out[n++].start = old.start + old.slope;
      topSeen = false;
      continue;
    }
    int32_t until = row.y + kLongestCertificate;
    _View e;
    _See(row, old.site, &e, &until);
    if (!_LessUntil(row, e.l, e.r, &until)) continue;  // out of the followed columns
    for (;;) {
      if (n == 0) {
        out[n++] = {e.site, i, until, -1, 0, e.l.recipe, e.l.v, e.l.slope};
        top = e;
        topSeen = true;
        break;
      }
      if (!topSeen) {
        _See(row, out[n - 1].site, &top);
        topSeen = true;
      }
      const _Entry& t = out[n - 1];
      const _Pos ts = _StartOf(t);
      _Pos x;
      int32_t placed = until;
      if (!_TakeOver(row, top, ts, e, &x, &placed)) break;
      if (!_Less(row, ts, x)) {  // takes over at once: the entry before vanished
        --n;
        topSeen = false;
        continue;
      }
      _NoteUntil(row, ts, x, &placed);
      out[n] = {e.site, i, placed, t.site, t.startRecipe, x.recipe, x.v, x.slope};
      ++n;
      top = e;
      break;
    }
  }
  return n;
}

// Output of the merge, dropping repeats of the point just written. Entries beyond the room
// are counted, not written.
struct _Emitter {
  _Entry* out;
  int32_t room;
  int32_t n;
  int32_t lastSite;
  // A new or moved entry, placed again on the next row.
  void Emit(int32_t site, int32_t origin, const _Pos& start) {
    if (site == lastSite) return;
    if (n < room) out[n] = {site, origin, 0, -1, 0, start.recipe, start.v, start.slope};
    ++n;
    lastSite = site;
  }
  // An entry of the walk, unchanged.
  void Copy(const _Entry& entry) {
    if (entry.site == lastSite) return;
    if (n < room) out[n] = entry;
    ++n;
    lastSite = entry.site;
  }
  // Consecutive entries of the walk, unchanged (no two of them share a point).
  void CopyRun(const _Entry* entries, int32_t count) {
    if (count > 0 && entries[0].site == lastSite) {
      ++entries;
      --count;
    }
    if (count <= 0) return;
    if (n + count <= room) std::memcpy(out + n, entries, sizeof(_Entry) * size_t(count));
    n += count;
    lastSite = entries[count - 1].site;
  }
};

// Room to give the merge first: most new points add an entry or two. The merge reports a
// larger count when that was short (each of the m + 1 stretches between entries can give one
// entry plus four for each new piece over it), and is run again.
inline int64_t _MergeRoom(int32_t envelope, int32_t fresh) {
  return int64_t(envelope) + 3 * int64_t(fresh) + 16;
}

// Writes the envelope, over [p, q), of envelope entry t (or none) and the new point n, which
// holds there among the new points.
void _MergeTwo(const _Row& row, const _Entry* t, const _View* tv, const _View& n, const _Pos& p,
               const _Pos& q, bool* tKept, _Emitter* em) {
  if (t == nullptr) {
    em->Emit(n.site, -1, p);
    return;
  }
  // Split points inside (p, q): where t's footprint ends and where the two costs cross.
  _Pos split[2];
  int nb = 0;
  if (_Less(row, p, tv->r) && _Less(row, tv->r, q)) split[nb++] = tv->r;
  const int64_t d = int64_t(n.cx) - tv->cx;
  _Pos c = {};
  if (d != 0) {
    c = _CrossingOf(row, n, *tv);
    if (_Less(row, p, c) && _Less(row, c, q)) split[nb++] = c;
  }
  if (nb == 2 && _Less(row, split[1], split[0])) {
    const _Pos first = split[1];
    split[1] = split[0];
    split[0] = first;
  }
  _Pos r1 = p;
  for (int i = 0; i <= nb; ++i) {
    const _Pos r2 = i < nb ? split[i] : q;
    if (!_Less(row, r1, r2)) continue;
    const bool tActive = _Less(row, r1, tv->r);
    bool nBeats;
    if (d > 0)
      nBeats = !_Less(row, r1, c);
    else if (d < 0)
      nBeats = !_Less(row, c, r2);
    else
      nBeats = n.cost < tv->cost;
    if (tActive && !nBeats) {
      em->Emit(t->site, *tKept ? -1 : t->origin, r1);
      *tKept = true;
    } else {
      em->Emit(n.site, -1, r1);
    }
    r1 = r2;
  }
}

// Lays the points of the row above (h = 1), fresh[0], fresh[step], ... (count of them, in
// increasing column of the frame), over the envelope `env` of m entries; writes the envelope of
// all of them to `out`, which has room for `room` entries, and returns its count (all of it
// written only when it fits). `views` and `pieces` are scratch for `count` entries.
int32_t _Merge(const _Row& row, const _Entry* env, int32_t m, const int32_t* fresh, int32_t count,
               int32_t step, _View* views, _Piece* pieces, _Entry* out, int32_t room) {
  for (int32_t i = 0; i < count; ++i) _See(row, fresh[i * step], &views[i]);
  // Among new points (all at h = 1) the nearest column wins, so each one holds from its
  // footprint's start to the next one's start or its own end.
  int32_t np = 0;
  for (int32_t i = 0; i < count; ++i) {
    _Piece piece = {i, views[i].l, views[i].r};
    if (i + 1 < count && _Less(row, views[i + 1].l, piece.end)) piece.end = views[i + 1].l;
    if (_Less(row, piece.begin, piece.end)) pieces[np++] = piece;
  }
  _Emitter em = {out, room, 0, -1};
  if (np == 0) {
    em.CopyRun(env, m);
    return em.n;
  }
  const _Pos rowEnd = _Column(row.right + 1), rowBegin = _Column(row.left);
  int32_t k = 0;  // first piece that may still matter
  for (int32_t j = -1; j < m; ++j) {
    const _Pos segBegin = j < 0 ? rowBegin : _StartOf(env[j]);
    const _Pos segEnd = j + 1 < m ? _StartOf(env[j + 1]) : rowEnd;
    if (!_Less(row, segBegin, segEnd)) continue;
    while (k < np && !_Less(row, segBegin, pieces[k].end)) ++k;
    if (k == np || !_Less(row, pieces[k].begin, segEnd)) {
      if (j < 0) continue;
      // No new point reaches entries j .. j2 - 1: copy them as they are.
      int32_t j2 = m;
      if (k < np)
        for (j2 = j + 1; j2 < m; ++j2) {
          const _Pos next = j2 + 1 < m ? _StartOf(env[j2 + 1]) : rowEnd;
          if (_Less(row, pieces[k].begin, next)) break;
        }
      em.CopyRun(env + j, j2 - j);
      j = j2 - 1;
      continue;
    }
    const _Entry* t = j >= 0 ? &env[j] : nullptr;
    _View tv;
    if (t != nullptr) _See(row, t->site, &tv);
    bool tKept = false;
    _Pos p = segBegin;
    while (_Less(row, p, segEnd)) {
      while (k < np && !_Less(row, p, pieces[k].end)) ++k;
      if (k < np && !_Less(row, p, pieces[k].begin)) {
        const _Pos q = _Less(row, pieces[k].end, segEnd) ? pieces[k].end : segEnd;
        _MergeTwo(row, t, t ? &tv : nullptr, views[pieces[k].view], p, q, &tKept, &em);
        p = q;
      } else {
        const _Pos q = k < np && _Less(row, pieces[k].begin, segEnd) ? pieces[k].begin : segEnd;
        if (t != nullptr && _Less(row, p, tv.r)) {
          if (tKept || _Less(row, segBegin, p))
            em.Emit(t->site, tKept ? -1 : t->origin, p);
          else
            em.Copy(*t);
          tKept = true;
        }
        p = q;
      }
    }
  }
  return em.n;
}

// ---- Buffers ----

// Makes room for `need` elements of `size` bytes in *block (of *capacity), keeping the first
// `keep`. False when memory is short (the block is then unchanged).
bool _Reserve(void** block, int32_t* capacity, int64_t need, size_t size, int32_t keep) {
  if (need <= *capacity) return true;
  int64_t grown = int64_t(*capacity) * 2;
  if (grown < need) grown = need;
  if (grown < 16) grown = 16;
  if (grown > 0x7FFFFFFF / int64_t(size)) return false;
  Ptr fresh = NewPtr(Size(grown * int64_t(size)));
  if (fresh == nullptr) return false;
  if (keep > 0) BlockMoveData(*block, fresh, Size(keep) * Size(size));
  DisposePtr(Ptr(*block));
  *block = fresh;
  *capacity = int32_t(grown);
  return true;
}

template <class T>
bool _ReserveOf(T** block, int32_t* capacity, int64_t need, int32_t keep = 0) {
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

struct _Fan {
  bool flipX, flipY;
  int32_t* cx;  // the points in the quadrant's frame
  int32_t* cy;
  int32_t row;  // the frame row that the sectors' lists describe
  _Sector sectors[8];
};

}  // namespace

struct SectorSearch {
  int32_t width, height, count;
  int32_t left, right, top, bottom;  // bounding box of the points: pixels followed
  int32_t lastRow;
  int32_t* listIndex;  // search index -> index in the caller's list
  int32_t* px;         // image coordinates by search index
  int32_t* py;
  int32_t* rowStart;  // points of image row top + r: rowSites[rowStart[r] .. rowStart[r + 1]),
  int32_t* rowSites;  //   by increasing column
  int32_t widestRow;
  _Fan fans[4];  // sectors 0-7 (up-left), 8-15 (down-left), 16-23 (up-right), 24-31
  _Buffer work[2];
  _View* views;  // merge scratch, one per point of the widest row
  _Piece* pieces;
  int32_t* distances;  // width × 32, made when a caller first wants no distances
};

namespace {

_Row _RowOf(const SectorSearch* s, const _Fan& fan, const _Sector& sector, int32_t y) {
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

// The points of frame row y (the new points of row y + 1), in increasing frame column.
void _FreshOf(const SectorSearch* s, const _Fan& fan, int32_t y, const int32_t** first,
              int32_t* count, int32_t* step) {
  const int32_t imageRow = fan.flipY ? s->top + s->bottom - y : y;
  const int32_t r = imageRow - s->top;
  const int32_t begin = s->rowStart[r], end = s->rowStart[r + 1];
  *count = end - begin;
  if (fan.flipX) {
    *first = s->rowSites + end - 1;
    *step = -1;
  } else {
    *first = s->rowSites + begin;
    *step = 1;
  }
}

// Moves one sector's envelope from frame row y - 1 to y (its entries' origins refer to the old
// list, which, when `keepOld`, stays readable in a work buffer until the next call). The result
// is in sector->list. False when memory is short.
bool _Advance(SectorSearch* s, const _Fan& fan, _Sector* sector, int32_t y, bool keepOld) {
  const _Row row = _RowOf(s, fan, *sector, y);
  _Buffer* walked = &sector->list;
  if (keepOld) {
    if (!_ReserveOf(&s->work[0].entries, &s->work[0].capacity, sector->count)) return false;
    walked = &s->work[0];
  }
  const int32_t m = _Walk(row, sector->list.entries, sector->count, walked->entries);
  const int32_t* fresh;
  int32_t freshCount, step;
  _FreshOf(s, fan, y - 1, &fresh, &freshCount, &step);
  if (freshCount == 0) {
    if (keepOld) _Swap(&sector->list, &s->work[0]);
    sector->count = m;
    return true;
  }
  if (!_ReserveOf(&s->work[1].entries, &s->work[1].capacity, _MergeRoom(m, freshCount)))
    return false;
  int32_t merged = _Merge(row, walked->entries, m, fresh, freshCount, step, s->views, s->pieces,
                          s->work[1].entries, s->work[1].capacity);
  if (merged > s->work[1].capacity) {
    if (!_ReserveOf(&s->work[1].entries, &s->work[1].capacity, merged)) return false;
    merged = _Merge(row, walked->entries, m, fresh, freshCount, step, s->views, s->pieces,
                    s->work[1].entries, s->work[1].capacity);
  }
  sector->count = merged;
  _Swap(&sector->list, &s->work[1]);
  return true;
}

template <class T>
bool _Note(_ChangeList<T>* list, const T& change) {
  if (!_ReserveOf(&list->changes, &list->capacity, int64_t(list->count) + 1, list->count))
    return false;
  list->changes[list->count++] = change;
  return true;
}

// Readies a change list for `steps` steps, with room for about `expected` changes.
template <class T>
bool _Prepare(_ChangeList<T>* list, int32_t steps, int32_t expected) {
  list->stepStart = reinterpret_cast<int32_t*>(NewPtrClear(Size(steps + 1) * 4));
  return list->stepStart != nullptr && _ReserveOf(&list->changes, &list->capacity, expected);
}

template <class T>
void _Release(_ChangeList<T>* list) {
  DisposePtr(Ptr(list->changes));
  DisposePtr(Ptr(list->stepStart));
}

// Records in the sector's log how the list `before` (count entries) became sector->list.
bool _Record(_Sector* sector, int32_t step, const _Entry* before, int32_t count) {
  _Log& log = sector->log;
  const _Entry* after = sector->list.entries;
  int32_t next = 0;  // next position of `before` not yet accounted for
  for (int32_t i = 0; i <= sector->count; ++i) {
    const int32_t origin = i < sector->count ? after[i].origin : count;
    if (origin < 0) {
      if (!_Note(&log.came, i)) return false;
      continue;
    }
    for (; next < origin; ++next)
      if (!_Note(&log.went, {next, before[next].site, before[next].startRecipe})) return false;
    if (origin < count && after[i].startRecipe != before[origin].startRecipe &&
        !_Note(&log.restarted, {origin, before[origin].startRecipe}))
      return false;
    next = origin + 1;
  }
  log.came.stepStart[step + 1] = log.came.count;
  log.went.stepStart[step + 1] = log.went.count;
  log.restarted.stepStart[step + 1] = log.restarted.count;
  return true;
}

// Works every start of the list out afresh, ending the drift of moving them along.
void _Refresh(const _Row& row, _Sector* sector) {
  for (int32_t i = 0; i < sector->count; ++i) {
    _Entry& e = sector->list.entries[i];
    const _Pos start = _PosOf(row, e.startRecipe);
    e.start = start.v;
    e.slope = start.slope;
  }
}

// Runs a downward quadrant from the bottom up, recording each row's changes; leaves each
// sector's list at the top row.
bool _RunDownward(SectorSearch* s, _Fan* fan) {
  const int32_t steps = s->bottom - s->top;
  for (_Sector& sector : fan->sectors) {
    // Typically each list gets about one change per point over all the rows.
    if (!_Prepare(&sector.log.came, steps, s->count) ||
        !_Prepare(&sector.log.went, steps, s->count) ||
        !_Prepare(&sector.log.restarted, steps, s->count))
      return false;
    sector.count = 0;
    for (int32_t y = s->top + 1; y <= s->bottom; ++y) {
      _Buffer before = sector.list;
      const int32_t beforeCount = sector.count;
      // _Advance hands the old list to a work buffer, where it stays readable until the next step.
      if (!_Advance(s, *fan, &sector, y, true)) return false;
      if (!_Record(&sector, y - s->top - 1, before.entries, beforeCount)) return false;
    }
  }
  fan->row = s->bottom;
  for (_Sector& sector : fan->sectors) _Refresh(_RowOf(s, *fan, sector, fan->row), &sector);
  return true;
}

// Moves a downward sector's list from frame row row.y + 1 to row.y by undoing that step: the
// starts that stayed move along by their slopes, those that came back or changed are worked out.
bool _StepBack(SectorSearch* s, const _Row& row, _Sector* sector) {
  const int32_t step = row.y - s->top;
  const _Log& log = sector->log;
  const int32_t* came = log.came.changes + log.came.stepStart[step];
  const int32_t* cameEnd = log.came.changes + log.came.stepStart[step + 1];
  const _Went* went = log.went.changes + log.went.stepStart[step];
  const _Went* wentEnd = log.went.changes + log.went.stepStart[step + 1];
  const _Restart* restarted = log.restarted.changes + log.restarted.stepStart[step];
  const _Restart* restartedEnd = log.restarted.changes + log.restarted.stepStart[step + 1];
  const int64_t size = int64_t(sector->count) - (cameEnd - came) + (wentEnd - went);
  if (!_ReserveOf(&s->work[1].entries, &s->work[1].capacity, size)) return false;
  _Entry* out = s->work[1].entries;
  const _Entry* in = sector->list.entries;
  int32_t n = 0, i = 0;
  for (;;) {
    // Entries that stay, up to the next one that came or the next place one went from.
    int32_t run = sector->count - i;
    if (came < cameEnd && *came - i < run) run = *came - i;
    if (went < wentEnd && went->position - n < run) run = went->position - n;
    if (run > 0) std::memcpy(out + n, in + i, sizeof(_Entry) * size_t(run));
    for (int32_t k = n; k < n + run; ++k) out[k].start -= out[k].slope;
    for (; restarted < restartedEnd && restarted->position < n + run; ++restarted) {
      const _Pos start = _PosOf(row, restarted->recipe);
      out[restarted->position].startRecipe = start.recipe;
      out[restarted->position].start = start.v;
      out[restarted->position].slope = start.slope;
    }
    n += run;
    i += run;
    if (came < cameEnd && *came == i) {
      ++came;
      ++i;
      continue;
    }
    if (went < wentEnd && went->position == n) {
      const _Pos start = _PosOf(row, went->recipe);
      out[n++] = {went->site, 0, 0, -1, 0, went->recipe, start.v, start.slope};
      ++went;
      continue;
    }
    break;
  }
  _Swap(&sector->list, &s->work[1]);
  sector->count = n;
  return true;
}

// The first followed column at or after the position (v, recipe).
inline int32_t _FirstColumn(const _Row& row, double v, _Recipe recipe) {
  if (v <= row.left) return row.left;
  if (v > row.right) return row.right + 1;
  const int32_t c = int32_t(v);  // floor: v > left >= 0
  const double above = v - c;
  if (above > kTolerance && above < 1.0 - kTolerance) return c + 1;
  // v is within the tolerance of a column: which side of it the exact position lies decides.
  const int32_t near = above <= kTolerance ? c : c + 1;
  return _Less(row, near, _ColumnRecipe(near), v, recipe) ? near + 1 : near;
}

// Writes one sector's winners for frame columns first .. last from the row's envelope (m
// entries): entry j holds the columns from its start to the next entry's start, as far as its
// point's footprint reaches.
void _Collect(const SectorSearch* s, const _Fan& fan, const _Row& row, const _Entry* env, int32_t m,
              int32_t first, int32_t last, int32_t sector, int32_t* winners, int32_t* distances2) {
  if (first > last) return;
  const int32_t stride = fan.flipX ? -kSearchSectors : kSearchSectors;
  const int32_t origin = kSearchSectors * (fan.flipX ? row.right : row.left) + sector;
  int32_t* const slotW = winners + origin;  // column c's slot is at (c - row.left) * stride
  int32_t* const slotD = distances2 + origin;
  auto empty = [&](int32_t from, int32_t to) {
    for (int32_t c = from; c < to; ++c) {
      slotW[(c - row.left) * stride] = -1;
      slotD[(c - row.left) * stride] = kSearchFarDistance2;
    }
  };
  int32_t j = 0;
  while (j + 1 < m && env[j + 1].start < first - 1) ++j;  // pieces well before the columns
  int32_t begin = last + 1;
  if (m > 0) {
    begin = _FirstColumn(row, env[j].start, env[j].startRecipe);
    if (begin < first) begin = first;
  }
  empty(first, begin);
  for (; j < m && begin <= last; ++j) {
    int32_t end = last + 1;
    if (j + 1 < m) {
      end = _FirstColumn(row, env[j + 1].start, env[j + 1].startRecipe);
      if (end > last + 1) end = last + 1;
      if (end <= begin) continue;  // a piece narrower than a column
    }
    const int32_t site = env[j].site;
    const int32_t cx = row.cx[site];
    const int64_t h = row.y - row.cy[site];
    int32_t reach = end;  // footprint ends are never on a column, so the floor is exact
    if (row.rp != 0) {
      const double r = double(cx * row.rp + h * row.rq) * row.rightScale;
      if (r < reach) reach = r < begin ? begin : int32_t(r) + 1;
    }
    const int32_t index = s->listIndex[site];
    for (int32_t c = begin; c < reach; ++c) {
      const int64_t dx = c - cx;
      const int64_t dist = dx * dx + h * h;
      const bool near = dist < kSearchFarDistance2;
      slotW[(c - row.left) * stride] = near ? index : -1;
      slotD[(c - row.left) * stride] = near ? int32_t(dist) : kSearchFarDistance2;
    }
    empty(reach, end);
    begin = end;
  }
}

// Points of the pixel's own row (dy = 0) belong to sector 0 (to the left) and 16 (to the right);
// the quadrant envelopes hold only points of other rows, so the nearer of the two is kept.
void _CollectSameRow(const SectorSearch* s, int32_t y, int32_t first, int32_t last,
                     const uint8_t* wanted, int32_t* winners, int32_t* distances2) {
  const int32_t begin = s->rowStart[y - s->top], end = s->rowStart[y - s->top + 1];
  int32_t next = begin;  // first point of the row at or right of x
  for (int32_t x = first; x <= last && begin < end; ++x) {
    while (next < end && s->px[s->rowSites[next]] < x) ++next;
    if (wanted != nullptr && wanted[x] == 0) continue;
    int32_t after = next;
    if (after < end && s->px[s->rowSites[after]] == x) ++after;  // the pixel's own point
    const int32_t sites[2] = {next > begin ? s->rowSites[next - 1] : -1,
                              after < end ? s->rowSites[after] : -1};
    for (int32_t side = 0; side < 2; ++side) {
      if (sites[side] < 0) continue;
      const int64_t dx = x - s->px[sites[side]];
      if (dx * dx >= kSearchFarDistance2) continue;
      const int32_t slot = kSearchSectors * x + 16 * side;
      const int32_t index = s->listIndex[sites[side]];
      if (dx * dx < distances2[slot] || (dx * dx == distances2[slot] && index < winners[slot])) {
        winners[slot] = index;
        distances2[slot] = int32_t(dx * dx);
      }
    }
  }
}

// Visits every point, for a pixel outside the followed box.
void _CollectByVisit(const SectorSearch* s, int32_t x, int32_t y, int32_t* winners,
                     int32_t* distances2) {
  int32_t* slots = winners + kSearchSectors * x;
  int32_t* best = distances2 + kSearchSectors * x;
  for (int32_t k = 0; k < kSearchSectors; ++k) {
    slots[k] = -1;
    best[k] = kSearchFarDistance2;
  }
  for (int32_t i = 0; i < s->count; ++i) {  // search indices keep the list's order
    const int32_t dx = x - s->px[i], dy = y - s->py[i];
    const int64_t dist = int64_t(dx) * dx + int64_t(dy) * dy;
    if (dist <= 0) continue;
    const int32_t k = _ExactSectorOf(dx, dy);
    if (dist < best[k]) {
      best[k] = int32_t(dist);
      slots[k] = s->listIndex[i];
    }
  }
}

// Brings the four quadrants to image row y and writes their winners for image columns
// first .. last (within the followed ones).
OSErr _CollectQuadrants(SectorSearch* s, int32_t y, int32_t first, int32_t last, int32_t* winners,
                        int32_t* distances2) {
  for (int32_t f = 0; f < 4; ++f) {
    _Fan& fan = s->fans[f];
    const int32_t frameY = fan.flipY ? s->top + s->bottom - y : y;
    for (; fan.row < frameY; ++fan.row)
      for (_Sector& sector : fan.sectors)
        if (!_Advance(s, fan, &sector, fan.row + 1, false)) return memFullErr;
    for (; fan.row > frameY; --fan.row) {
      const bool refresh = (fan.row - 1 - s->top) % kLongestCertificate == 0;
      for (_Sector& sector : fan.sectors) {
        const _Row row = _RowOf(s, fan, sector, fan.row - 1);
        if (!_StepBack(s, row, &sector)) return memFullErr;
        if (refresh) _Refresh(row, &sector);
      }
    }
    for (int32_t k = 0; k < 8; ++k) {
      _Sector& sector = fan.sectors[k];
      const _Row row = _RowOf(s, fan, sector, frameY);
      const int32_t a = fan.flipX ? s->left + s->right - last : first;
      const int32_t b = fan.flipX ? s->left + s->right - first : last;
      _Collect(s, fan, row, sector.list.entries, sector.count, a, b, 8 * f + k, winners,
               distances2);
    }
  }
  return noErr;
}

// Orders the list by row, then column, then index, into `order` (two stable counting passes).
void _SortPoints(const uint16_t* xs, const uint16_t* ys, int32_t count, int32_t* order,
                 int32_t* tmp, int32_t* bucket, int32_t buckets) {
  std::memset(bucket, 0, sizeof(int32_t) * size_t(buckets + 1));
  for (int32_t i = 0; i < count; ++i) ++bucket[xs[i] + 1];
  for (int32_t b = 0; b < buckets; ++b) bucket[b + 1] += bucket[b];
  for (int32_t i = 0; i < count; ++i) tmp[bucket[xs[i]]++] = i;
  std::memset(bucket, 0, sizeof(int32_t) * size_t(buckets + 1));
  for (int32_t i = 0; i < count; ++i) ++bucket[ys[i] + 1];
  for (int32_t b = 0; b < buckets; ++b) bucket[b + 1] += bucket[b];
  for (int32_t j = 0; j < count; ++j) order[bucket[ys[tmp[j]]]++] = tmp[j];
}

void _SetUpSector(_Sector* sector, int32_t k, bool holdsVertical) {
  if (k < 7) {
    sector->lq = kSlopeQ[k + 1];
    sector->lp = kSlopeP[k + 1];
  } else {
    sector->lq = holdsVertical ? 0 : 1;
    sector->lp = holdsVertical ? 1 : kSteepestP;
  }
  sector->rq = k > 0 ? kSlopeQ[k] : 0;
  sector->rp = k > 0 ? kSlopeP[k] : 0;
  sector->leftScale = 1.0 / double(sector->lp);
  sector->rightScale = sector->rp != 0 ? 1.0 / double(sector->rp) : 0.0;
  sector->leftSlope = double(sector->lq) * sector->leftScale;
  sector->rightSlope = double(sector->rq) * sector->rightScale;
}

// Indexes the points with `order` (sorted by row and column) and `index` (search index by list
// index, -1 for repeats), lays out their rows and the quadrants' frames, and runs the downward
// quadrants. False when memory is short.
bool _Lay(SectorSearch* s, const uint16_t* xs, const uint16_t* ys, int32_t listCount,
          const int32_t* order, const int32_t* index) {
  const int32_t n = s->count;
  s->listIndex = reinterpret_cast<int32_t*>(NewPtr(Size(n) * 4));
  s->px = reinterpret_cast<int32_t*>(NewPtr(Size(n) * 4));
  s->py = reinterpret_cast<int32_t*>(NewPtr(Size(n) * 4));
  if (s->listIndex == nullptr || s->px == nullptr || s->py == nullptr) return false;
  s->left = s->width;
  s->top = s->height;
  for (int32_t i = 0; i < listCount; ++i) {
    if (index[i] < 0) continue;
    s->listIndex[index[i]] = i;
    s->px[index[i]] = xs[i];
    s->py[index[i]] = ys[i];
    if (xs[i] < s->left) s->left = xs[i];
    if (xs[i] > s->right) s->right = xs[i];
    if (ys[i] < s->top) s->top = ys[i];
    if (ys[i] > s->bottom) s->bottom = ys[i];
  }
  const int32_t rows = s->bottom - s->top + 1;
  s->rowStart = reinterpret_cast<int32_t*>(NewPtrClear(Size(rows + 1) * 4));
  s->rowSites = reinterpret_cast<int32_t*>(NewPtr(Size(n) * 4));
  if (s->rowStart == nullptr || s->rowSites == nullptr) return false;
  int32_t placed = 0;
  for (int32_t j = 0; j < listCount; ++j) {
    const int32_t site = index[order[j]];
    if (site < 0) continue;
    s->rowSites[placed++] = site;
    ++s->rowStart[s->py[site] - s->top + 1];
  }
  for (int32_t r = 0; r < rows; ++r) {
    if (s->rowStart[r + 1] > s->widestRow) s->widestRow = s->rowStart[r + 1];
    s->rowStart[r + 1] += s->rowStart[r];
  }
  s->views = reinterpret_cast<_View*>(NewPtr(Size(s->widestRow) * Size(sizeof(_View))));
  s->pieces = reinterpret_cast<_Piece*>(NewPtr(Size(s->widestRow) * Size(sizeof(_Piece))));
  if (s->views == nullptr || s->pieces == nullptr) return false;
  for (int32_t f = 0; f < 4; ++f) {
    _Fan& fan = s->fans[f];
    fan.flipX = f >= 2;
    fan.flipY = f == 1 || f == 3;
    fan.row = s->top;
    fan.cx = reinterpret_cast<int32_t*>(NewPtr(Size(n) * 4));
    fan.cy = reinterpret_cast<int32_t*>(NewPtr(Size(n) * 4));
    if (fan.cx == nullptr || fan.cy == nullptr) return false;
    for (int32_t i = 0; i < n; ++i) {
      fan.cx[i] = fan.flipX ? s->left + s->right - s->px[i] : s->px[i];
      fan.cy[i] = fan.flipY ? s->top + s->bottom - s->py[i] : s->py[i];
    }
    // Points straight above or below (dx = 0) belong to the quadrants with dx >= 0.
    for (int32_t k = 0; k < 8; ++k) _SetUpSector(&fan.sectors[k], k, !fan.flipX);
  }
  return _RunDownward(s, &s->fans[1]) && _RunDownward(s, &s->fans[3]);
}

// Sorts and indexes the points and builds everything the rows need. 0 or -108.
OSErr _Build(SectorSearch* s, const uint16_t* xs, const uint16_t* ys, int32_t count) {
  if (count == 0) return noErr;
  const int32_t buckets = s->width > s->height ? s->width : s->height;
  int32_t* order = reinterpret_cast<int32_t*>(NewPtr(Size(count) * 4));
  int32_t* index = reinterpret_cast<int32_t*>(NewPtr(Size(count) * 4));
  int32_t* bucket = reinterpret_cast<int32_t*>(NewPtr(Size(buckets + 1) * 4));
  bool ok = order != nullptr && index != nullptr && bucket != nullptr;
  if (ok) {
    _SortPoints(xs, ys, count, order, index, bucket, buckets);
    // A repeat of a point sorts right after it (the sort keeps list order) and never wins.
    for (int32_t j = 0; j < count; ++j) {
      const int32_t i = order[j], prev = j > 0 ? order[j - 1] : -1;
      index[i] = prev >= 0 && xs[i] == xs[prev] && ys[i] == ys[prev] ? -1 : 0;
    }
    for (int32_t i = 0; i < count; ++i)
      if (index[i] == 0) index[i] = s->count++;
    ok = _Lay(s, xs, ys, count, order, index);
  }
  DisposePtr(Ptr(order));
  DisposePtr(Ptr(index));
  DisposePtr(Ptr(bucket));
  return ok ? noErr : memFullErr;
}

}  // namespace

OSErr MakeSectorSearch(const uint16_t* xs, const uint16_t* ys, int32_t count, int32_t width,
                       int32_t height, SectorSearch** out) {
  if (out == nullptr) return paramErr;
  *out = nullptr;
  if (count < 0 || count > kSearchMaxPoints || width < 1 || width > 32767 || height < 1 ||
      height > 32767 || (count > 0 && (xs == nullptr || ys == nullptr)))
    return paramErr;
  for (int32_t i = 0; i < count; ++i)
    if (xs[i] >= width || ys[i] >= height) return paramErr;
  SectorSearch* s = reinterpret_cast<SectorSearch*>(NewPtrClear(sizeof(SectorSearch)));
  if (s == nullptr) return memFullErr;
  s->width = width;
  s->height = height;
  s->lastRow = -1;
  const OSErr err = _Build(s, xs, ys, count);
  if (err != noErr) {
    DisposeSectorSearch(s);
    return err;
  }
  *out = s;
  return noErr;
}

OSErr FindRowWinners(SectorSearch* search, int32_t y, const uint8_t* wanted, int32_t* winners,
                     int32_t* distances2) {
  if (search == nullptr || winners == nullptr || y < 0 || y >= search->height ||
      y <= search->lastRow)
    return paramErr;
  search->lastRow = y;
  SectorSearch* s = search;
  if (distances2 == nullptr && s->distances == nullptr) {
    s->distances = reinterpret_cast<int32_t*>(NewPtr(Size(s->width) * kSearchSectors * 4));
    if (s->distances == nullptr) return memFullErr;
  }
  int32_t* dist = distances2 != nullptr ? distances2 : s->distances;
  const bool covered = s->count > 0 && y >= s->top && y <= s->bottom;
  if (covered) {
    // Only the stretch of followed columns between the first and last wanted pixel is written.
    int32_t first = s->left, last = s->right;
    if (wanted != nullptr) {
      while (first <= last && wanted[first] == 0) ++first;
      while (last >= first && wanted[last] == 0) --last;
    }
    const OSErr err = _CollectQuadrants(s, y, first, last, winners, dist);
    if (err != noErr) return err;
    _CollectSameRow(s, y, first, last, wanted, winners, dist);
  }
  for (int32_t x = 0; x < s->width; ++x) {
    if ((wanted != nullptr && wanted[x] == 0) || (covered && x >= s->left && x <= s->right))
      continue;
    _CollectByVisit(s, x, y, winners, dist);
  }
  return noErr;
}

void DisposeSectorSearch(SectorSearch* search) {
  if (search == nullptr) return;
  DisposePtr(Ptr(search->listIndex));
  DisposePtr(Ptr(search->px));
  DisposePtr(Ptr(search->py));
  DisposePtr(Ptr(search->rowStart));
  DisposePtr(Ptr(search->rowSites));
  for (_Fan& fan : search->fans) {
    DisposePtr(Ptr(fan.cx));
    DisposePtr(Ptr(fan.cy));
    for (_Sector& sector : fan.sectors) {
      DisposePtr(Ptr(sector.list.entries));
      _Release(&sector.log.came);
      _Release(&sector.log.went);
      _Release(&sector.log.restarted);
    }
  }
  DisposePtr(Ptr(search->work[0].entries));
  DisposePtr(Ptr(search->work[1].entries));
  DisposePtr(Ptr(search->views));
  DisposePtr(Ptr(search->pieces));
  DisposePtr(Ptr(search->distances));
  DisposePtr(Ptr(search));
}

int32_t _ExactSectorOf(int32_t dx, int32_t dy) {
  const int64_t ax = dx < 0 ? -int64_t(dx) : dx, ay = dy < 0 ? -int64_t(dy) : dy;
  int32_t sector = 0;
  if (ax != 0 || ay != 0)
    for (int32_t j = 1; j <= 7; ++j) sector += ay * kSlopeQ[j] >= ax * kSlopeP[j];
  if (dx < 0)
    sector += dy < 0 ? 24 : 16;
  else if (dy < 0)
    sector += 8;
  return sector;
}
