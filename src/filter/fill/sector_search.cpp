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
// with 64-bit integers, when two of them are within 1e-9.
//
// The quadrants that look up are carried along as rows are asked. Those that look down need the
// rows below first: they run once from the bottom up when the search is made, recording for
// each row the entries that came and went, and are replayed from the top down.
#include "filter/fill/sector_search.h"

#include <cstring>
#include <initializer_list>

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

constexpr double kTolerance = 1e-9;   // positions closer than this are compared exactly
constexpr double kFarPosition = 1048576.0;  // crossings beyond are clamped in double

// How to recompute a position exactly: a kind in the top two bits, then two 15-bit operands
// (search indices of points, or a column).
typedef uint32_t _Recipe;
enum : uint32_t { kColumn = 0, kFootBegin = 1, kFootEnd = 2, kCrossing = 3 };

inline _Recipe _MakeRecipe(uint32_t kind, uint32_t a, uint32_t b) {
  return (kind << 30) | (a << 15) | b;
}
inline _Recipe _ColumnRecipe(int32_t column) { return _MakeRecipe(kColumn, uint32_t(column), 0); }

// One piece of an envelope. Its end is the next entry's start.
struct _Entry {
  int32_t site;    // the point that wins it (search index)
  int32_t origin;  // position of the entry in the previous row's list, -1 when new on this row
  _Recipe startRecipe;
  double start;    // the column where it begins
};

// A new point's stretch on the row among the other new points.
struct _Piece {
  int32_t view;
  _Recipe beginRecipe, endRecipe;
  double begin, end;
};

// One sector of one quadrant on one row, in the quadrant's frame.
struct _Row {
  const int32_t* cx;  // the points' columns and rows in the frame
  const int32_t* cy;
  int32_t y;
  int32_t left, right;  // columns followed
  int64_t lq, lp;       // a point's footprint begins at cx + h * lq / lp
  int64_t rq, rp;       // and ends before cx + h * rq / rp (no end when rp is 0)
  double leftScale, rightScale;
};

// A point as the row sees it: cost (squared distance less x² - 2 x cx, i.e. cx² + h²) and its
// footprint [l, r), clipped to the followed columns.
struct _View {
  int32_t site, cx;
  int64_t cost;
  double l, r;
  _Recipe lRecipe, rRecipe;
};

// ---- Exact positions ----

struct _Exact {
  int64_t num, den;        // value num / den + infinitesimal * epsNum / epsDen, den > 0
  int64_t epsNum, epsDen;
};

_Exact _Evaluate(const _Row& row, _Recipe recipe) {
  const uint32_t kind = recipe >> 30, a = (recipe >> 15) & 0x7FFF, b = recipe & 0x7FFF;
  if (kind == kColumn) return {int64_t(a), 1, 0, 1};
  if (kind == kFootBegin || kind == kFootEnd) {
    const int64_t h = row.y - row.cy[a];
    const int64_t q = kind == kFootBegin ? row.lq : row.rq, p = kind == kFootBegin ? row.lp : row.rp;
    return {row.cx[a] * p + h * q, p, 0, 1};
  }
  // Where point a (later in the envelope) starts to beat point b: cost_a + eps a < cost_b + eps b
  // holds for 2 x (cx_a - cx_b) > cost_a - cost_b + eps (a - b).
  const int64_t ha = row.y - row.cy[a], hb = row.y - row.cy[b];
  const int64_t k = int64_t(row.cx[a]) * row.cx[a] + ha * ha - int64_t(row.cx[b]) * row.cx[b] - hb * hb;
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
  if (((ar | br) >> 30) == kColumn) return false;  // two equal columns
  return _LessExact(row, ar, br);
}

inline bool _Equal(const _Row& row, double av, _Recipe ar, double bv, _Recipe br) {
  const double d = av - bv;
  if (d < -kTolerance || d > kTolerance) return false;
  return !_LessExact(row, ar, br) && !_LessExact(row, br, ar);
}

// ---- Envelope steps ----

void _See(const _Row& row, int32_t site, _View* v) {
  const int32_t cx = row.cx[site];
  const int64_t h = row.y - row.cy[site];
  v->site = site;
  v->cx = cx;
  v->cost = int64_t(cx) * cx + h * h;
  if (row.lq == 0) {  // sector 7 holding dx = 0 begins on the point's own column
    v->l = cx;
    v->lRecipe = _ColumnRecipe(cx);
  } else {
    v->l = double(cx * row.lp + h * row.lq) * row.leftScale;
    v->lRecipe = _MakeRecipe(kFootBegin, uint32_t(site), 0);
  }
  // In-range footprint ends are at least 1/P from any column, far beyond rounding.
  if (v->l < row.left) {
    v->l = row.left;
    v->lRecipe = _ColumnRecipe(row.left);
  }
  v->r = row.right + 1;
  v->rRecipe = _ColumnRecipe(row.right + 1);
  if (row.rp != 0) {
    const double r = double(cx * row.rp + h * row.rq) * row.rightScale;
    if (r < v->r) {
      v->r = r;
      v->rRecipe = _MakeRecipe(kFootEnd, uint32_t(site), 0);
    }
  }
}

inline double _CrossingValue(const _View& e, const _View& t) {
  double c = double(e.cost - t.cost) / double(2 * (int64_t(e.cx) - t.cx));
  if (c > kFarPosition) c = kFarPosition;
  if (c < -kFarPosition) c = -kFarPosition;
  return c;
}

// Where e first takes over from t, whose piece starts at (sv, sr): the least column from there
// on where e is inside its footprint and t is outside its own or farther. False when never.
bool _TakeOver(const _Row& row, const _View& t, double sv, _Recipe sr, const _View& e, double* xv,
               _Recipe* xr) {
  double lo = sv;
  _Recipe loR = sr;
  if (_Less(row, sv, sr, e.l, e.lRecipe)) {
    lo = e.l;
    loR = e.lRecipe;
  }
  if (!_Less(row, lo, loR, e.r, e.rRecipe)) return false;
  const int64_t d = int64_t(e.cx) - t.cx;
  if (d > 0) {  // e gains to the right: it wins from the crossing, or from where t ends
    double g = _CrossingValue(e, t);
    _Recipe gR = _MakeRecipe(kCrossing, uint32_t(e.site), uint32_t(t.site));
    if (!_Less(row, g, gR, t.r, t.rRecipe)) {
      g = t.r;
      gR = t.rRecipe;
    }
    if (!_Less(row, g, gR, e.r, e.rRecipe)) return false;
    const bool later = _Less(row, lo, loR, g, gR);
    *xv = later ? g : lo;
    *xr = later ? gR : loR;
    return true;
  }
  bool beats;
  if (d < 0) {  // e wins left of the crossing
    beats = _Less(row, lo, loR, _CrossingValue(e, t),
                  _MakeRecipe(kCrossing, uint32_t(e.site), uint32_t(t.site)));
  } else {
    const int64_t k = e.cost - t.cost;
    beats = k < 0 || (k == 0 && e.site < t.site);
  }
  if (beats) {
    *xv = lo;
    *xr = loR;
    return true;
  }
  if (!_Less(row, t.r, t.rRecipe, e.r, e.rRecipe)) return false;
  const bool later = _Less(row, lo, loR, t.r, t.rRecipe);
  *xv = later ? t.r : lo;
  *xr = later ? t.rRecipe : loR;
  return true;
}

// The envelope on this row of the points listed in `in` (the previous row's envelope, in
// order): writes to `out` the entries that still win somewhere, each with its start and its
// position in `in`, and returns their count (at most `count`).
int32_t _Walk(const _Row& row, const _Entry* in, int32_t count, _Entry* out) {
  int32_t n = 0;
  _View top = {};
  for (int32_t i = 0; i < count; ++i) {
    _View e;
    _See(row, in[i].site, &e);
    if (!_Less(row, e.l, e.lRecipe, e.r, e.rRecipe)) continue;  // out of the followed columns
    for (;;) {
      if (n == 0) {
        out[n++] = {e.site, i, e.lRecipe, e.l};
        top = e;
        break;
      }
      double xv;
      _Recipe xr;
      if (!_TakeOver(row, top, out[n - 1].start, out[n - 1].startRecipe, e, &xv, &xr)) break;
      if (_Equal(row, xv, xr, out[n - 1].start, out[n - 1].startRecipe)) {  // top vanished
        if (--n > 0) _See(row, out[n - 1].site, &top);
        continue;
      }
      out[n++] = {e.site, i, xr, xv};
      top = e;
      break;
    }
  }
  return n;
}

// Output of the merge, dropping repeats of the point just written.
struct _Emitter {
  _Entry* out;
  int32_t n;
  int32_t lastSite;
  void Emit(int32_t site, int32_t origin, double start, _Recipe recipe) {
    if (site == lastSite) return;
    out[n++] = {site, origin, recipe, start};
    lastSite = site;
  }
};

// Upper bound of the merge's output, for sizing buffers.
inline int32_t _MergeBound(int32_t envelope, int32_t fresh) { return 4 * envelope + 3 * fresh + 4; }

// The stretch [p, q) of envelope entry t (or none) where the new point n is the new points'
// winner: writes the envelope of the two.
void _MergeTwo(const _Row& row, const _Entry* t, const _View* tv, const _View& n, double pv,
               _Recipe pr, double qv, _Recipe qr, bool* tKept, _Emitter* em) {
  if (t == nullptr) {
    em->Emit(n.site, -1, pv, pr);
    return;
  }
  // Split points inside (p, q): where t's footprint ends and where the two costs cross.
  double bv[2];
  _Recipe br[2];
  int nb = 0;
  if (_Less(row, pv, pr, tv->r, tv->rRecipe) && _Less(row, tv->r, tv->rRecipe, qv, qr)) {
    bv[nb] = tv->r;
    br[nb++] = tv->rRecipe;
  }
  const int64_t d = int64_t(n.cx) - tv->cx;
  double cv = 0.0;
  _Recipe cr = 0;
  if (d != 0) {
    cv = _CrossingValue(n, *tv);
    cr = _MakeRecipe(kCrossing, uint32_t(n.site), uint32_t(tv->site));
    if (_Less(row, pv, pr, cv, cr) && _Less(row, cv, cr, qv, qr)) {
      bv[nb] = cv;
      br[nb++] = cr;
    }
  }
  if (nb == 2 && _Less(row, bv[1], br[1], bv[0], br[0])) {
    const double v = bv[0];
    bv[0] = bv[1];
    bv[1] = v;
    const _Recipe r = br[0];
    br[0] = br[1];
    br[1] = r;
  }
  double r1v = pv;
  _Recipe r1r = pr;
  for (int s = 0; s <= nb; ++s) {
    const double r2v = s < nb ? bv[s] : qv;
    const _Recipe r2r = s < nb ? br[s] : qr;
    if (!_Less(row, r1v, r1r, r2v, r2r)) continue;
    const bool tActive = _Less(row, r1v, r1r, tv->r, tv->rRecipe);
    bool nBeats;
    if (d > 0) nBeats = !_Less(row, r1v, r1r, cv, cr);
    else if (d < 0) nBeats = !_Less(row, cv, cr, r2v, r2r);
    else nBeats = n.cost < tv->cost || (n.cost == tv->cost && n.site < tv->site);
    if (tActive && !nBeats) {
      em->Emit(t->site, *tKept ? -1 : t->origin, r1v, r1r);
      *tKept = true;
    } else {
      em->Emit(n.site, -1, r1v, r1r);
    }
    r1v = r2v;
    r1r = r2r;
  }
}

// Lays the points of the row above (h = 1), fresh[0], fresh[step], ... (count of them, in
// increasing column of the frame), over the envelope `env` of m entries; writes the envelope of
// all of them to `out` (room for _MergeBound entries) and returns its count. `views` and
// `pieces` are scratch for `count` entries.
int32_t _Merge(const _Row& row, const _Entry* env, int32_t m, const int32_t* fresh, int32_t count,
               int32_t step, _View* views, _Piece* pieces, _Entry* out) {
  for (int32_t i = 0; i < count; ++i) _See(row, fresh[i * step], &views[i]);
  // Among new points (all at h = 1) the nearest column wins, so each one holds from its
  // footprint's start to the next one's start or its own end.
  int32_t np = 0;
  for (int32_t i = 0; i < count; ++i) {
    _Piece p = {i, views[i].lRecipe, views[i].rRecipe, views[i].l, views[i].r};
    if (i + 1 < count && _Less(row, views[i + 1].l, views[i + 1].lRecipe, p.end, p.endRecipe)) {
      p.end = views[i + 1].l;
      p.endRecipe = views[i + 1].lRecipe;
    }
    if (_Less(row, p.begin, p.beginRecipe, p.end, p.endRecipe)) pieces[np++] = p;
  }
  _Emitter em = {out, 0, -1};
  if (np == 0) {
    for (int32_t j = 0; j < m; ++j) em.Emit(env[j].site, env[j].origin, env[j].start, env[j].startRecipe);
    return em.n;
  }
  const double endV = row.right + 1, beginV = row.left;
  const _Recipe endR = _ColumnRecipe(row.right + 1), beginR = _ColumnRecipe(row.left);
  int32_t k = 0;  // first piece that may still matter
  for (int32_t j = -1; j < m; ++j) {
    const double sv = j < 0 ? beginV : env[j].start;
    const _Recipe sr = j < 0 ? beginR : env[j].startRecipe;
    const double ev = j + 1 < m ? env[j + 1].start : endV;
    const _Recipe er = j + 1 < m ? env[j + 1].startRecipe : endR;
    if (!_Less(row, sv, sr, ev, er)) continue;
    while (k < np && !_Less(row, sv, sr, pieces[k].end, pieces[k].endRecipe)) ++k;
    if (k == np || !_Less(row, pieces[k].begin, pieces[k].beginRecipe, ev, er)) {
      if (j < 0) continue;
      // No new point reaches entries j .. j2 - 1: copy them as they are.
      int32_t j2 = j + 1;
      if (k == np) {
        j2 = m;
      } else {
        while (j2 < m) {
          const double e2v = j2 + 1 < m ? env[j2 + 1].start : endV;
          const _Recipe e2r = j2 + 1 < m ? env[j2 + 1].startRecipe : endR;
          if (_Less(row, pieces[k].begin, pieces[k].beginRecipe, e2v, e2r)) break;
          ++j2;
        }
      }
      for (int32_t i = j; i < j2; ++i) em.Emit(env[i].site, env[i].origin, env[i].start, env[i].startRecipe);
      j = j2 - 1;
      continue;
    }
    const _Entry* t = j >= 0 ? &env[j] : nullptr;
    _View tv;
    if (t != nullptr) _See(row, t->site, &tv);
    bool tKept = false;
    double pv = sv;
    _Recipe pr = sr;
    while (_Less(row, pv, pr, ev, er)) {
      while (k < np && !_Less(row, pv, pr, pieces[k].end, pieces[k].endRecipe)) ++k;
      if (k < np && !_Less(row, pv, pr, pieces[k].begin, pieces[k].beginRecipe)) {
        const bool pieceEnds = _Less(row, pieces[k].end, pieces[k].endRecipe, ev, er);
        const double qv = pieceEnds ? pieces[k].end : ev;
        const _Recipe qr = pieceEnds ? pieces[k].endRecipe : er;
        _MergeTwo(row, t, t ? &tv : nullptr, views[pieces[k].view], pv, pr, qv, qr, &tKept, &em);
        pv = qv;
        pr = qr;
      } else {
        const bool pieceFirst = k < np && _Less(row, pieces[k].begin, pieces[k].beginRecipe, ev, er);
        const double qv = pieceFirst ? pieces[k].begin : ev;
        const _Recipe qr = pieceFirst ? pieces[k].beginRecipe : er;
        if (t != nullptr && _Less(row, pv, pr, tv.r, tv.rRecipe)) {
          em.Emit(t->site, tKept ? -1 : t->origin, pv, pr);
          tKept = true;
        }
        pv = qv;
        pr = qr;
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

// One change of a downward sector's list between frame rows r - 1 and r, found going up and
// undone coming down: an entry that came (its position on row r), one that went (its position,
// point and start on row r - 1), or one that stayed with another start (position and start on
// row r - 1).
struct _Change {
  int32_t position;
  int32_t site;
  _Recipe recipe;
};

struct _ChangeList {
  _Change* changes;
  int32_t* stepStart;  // changes of step t: changes[stepStart[t] .. stepStart[t + 1])
  int32_t count, capacity;
};

struct _Log {
  _ChangeList came, went, restarted;
};

struct _Sector {
  int64_t lq, lp, rq, rp;
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
  int32_t* rowStart;   // points of image row top + r: rowSites[rowStart[r] .. rowStart[r + 1]),
  int32_t* rowSites;   //   by increasing column
  int32_t widestRow;
  _Fan fans[4];        // sectors 0-7 (up-left), 8-15 (down-left), 16-23 (up-right), 24-31
  _Buffer work[2];
  _View* views;        // merge scratch, one per point of the widest row
  _Piece* pieces;
  int32_t* distances;  // width × 32, when the caller wants no distances
};

namespace {

constexpr bool _Upward(int32_t fan) { return fan == 0 || fan == 2; }

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
  row.leftScale = 1.0 / double(sector.lp);
  row.rightScale = sector.rp != 0 ? 1.0 / double(sector.rp) : 0.0;
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
// list). The result is in sector->list. False when memory is short.
bool _Advance(SectorSearch* s, const _Fan& fan, _Sector* sector, int32_t y) {
  const _Row row = _RowOf(s, fan, *sector, y);
  if (!_ReserveOf(&s->work[0].entries, &s->work[0].capacity, sector->count)) return false;
  const int32_t m = _Walk(row, sector->list.entries, sector->count, s->work[0].entries);
  const int32_t* fresh;
  int32_t freshCount, step;
  _FreshOf(s, fan, y - 1, &fresh, &freshCount, &step);
  if (freshCount == 0) {
    _Swap(&sector->list, &s->work[0]);
    sector->count = m;
    return true;
  }
  if (!_ReserveOf(&s->work[1].entries, &s->work[1].capacity, _MergeBound(m, freshCount)))
    return false;
  sector->count = _Merge(row, s->work[0].entries, m, fresh, freshCount, step, s->views, s->pieces,
                         s->work[1].entries);
  _Swap(&sector->list, &s->work[1]);
  return true;
}

bool _Note(_ChangeList* list, _Change change) {
  if (!_ReserveOf(&list->changes, &list->capacity, int64_t(list->count) + 1, list->count))
    return false;
  list->changes[list->count++] = change;
  return true;
}

// Records in the sector's log how the list `before` (count entries) became sector->list.
bool _Record(_Sector* sector, int32_t step, const _Entry* before, int32_t count) {
  _Log& log = sector->log;
  const _Entry* after = sector->list.entries;
  int32_t next = 0;  // next position of `before` not yet accounted for
  for (int32_t i = 0; i <= sector->count; ++i) {
    const int32_t origin = i < sector->count ? after[i].origin : count;
    if (origin < 0) {
      if (!_Note(&log.came, {i, 0, 0})) return false;
      continue;
    }
    for (; next < origin; ++next)
      if (!_Note(&log.went, {next, before[next].site, before[next].startRecipe})) return false;
    if (origin < count && after[i].startRecipe != before[origin].startRecipe &&
        !_Note(&log.restarted, {origin, 0, before[origin].startRecipe}))
      return false;
    next = origin + 1;
  }
  log.came.stepStart[step + 1] = log.came.count;
  log.went.stepStart[step + 1] = log.went.count;
  log.restarted.stepStart[step + 1] = log.restarted.count;
  return true;
}

// Runs a downward quadrant from the bottom up, recording each row's changes; leaves each
// sector's list at the top row.
bool _RunDownward(SectorSearch* s, _Fan* fan) {
  const int32_t steps = s->bottom - s->top;
  for (_Sector& sector : fan->sectors) {
    for (_ChangeList* list : {&sector.log.came, &sector.log.went, &sector.log.restarted}) {
      list->stepStart = reinterpret_cast<int32_t*>(NewPtrClear(Size(steps + 1) * 4));
      if (list->stepStart == nullptr) return false;
    }
    sector.count = 0;
    for (int32_t y = s->top + 1; y <= s->bottom; ++y) {
      _Buffer before = sector.list;
      const int32_t beforeCount = sector.count;
      // _Advance hands the old list to a work buffer, where it stays readable until the next step.
      if (!_Advance(s, *fan, &sector, y)) return false;
      if (!_Record(&sector, y - s->top - 1, before.entries, beforeCount)) return false;
    }
  }
  fan->row = s->bottom;
  return true;
}

// Moves a downward sector's list from frame row y to y - 1 by undoing step y.
bool _StepBack(SectorSearch* s, _Sector* sector, int32_t step) {
  const _Log& log = sector->log;
  const _Change* came = log.came.changes + log.came.stepStart[step];
  const _Change* cameEnd = log.came.changes + log.came.stepStart[step + 1];
  const _Change* went = log.went.changes + log.went.stepStart[step];
  const _Change* wentEnd = log.went.changes + log.went.stepStart[step + 1];
  const _Change* restarted = log.restarted.changes + log.restarted.stepStart[step];
  const _Change* restartedEnd = log.restarted.changes + log.restarted.stepStart[step + 1];
  const int64_t size = int64_t(sector->count) - (cameEnd - came) + (wentEnd - went);
  if (!_ReserveOf(&s->work[1].entries, &s->work[1].capacity, size)) return false;
  _Entry* out = s->work[1].entries;
  const _Entry* in = sector->list.entries;
  int32_t n = 0;
  for (int32_t i = 0; i <= sector->count; ++i) {
    if (came < cameEnd && came->position == i) {
      ++came;
      continue;
    }
    for (; went < wentEnd && went->position == n; ++went) out[n++] = {went->site, 0, went->recipe, 0.0};
    if (i == sector->count) break;
    out[n] = in[i];
    if (restarted < restartedEnd && restarted->position == n) out[n].startRecipe = (restarted++)->recipe;
    ++n;
  }
  _Swap(&sector->list, &s->work[1]);
  sector->count = n;
  return true;
}

// The position that `recipe` stands for on the row, in double precision.
double _Value(const _Row& row, _Recipe recipe) {
  const uint32_t kind = recipe >> 30, a = (recipe >> 15) & 0x7FFF, b = recipe & 0x7FFF;
  if (kind == kColumn) return double(a);
  const int64_t ha = row.y - row.cy[a];
  if (kind == kFootBegin) return double(row.cx[a] * row.lp + ha * row.lq) * row.leftScale;
  if (kind == kFootEnd) return double(row.cx[a] * row.rp + ha * row.rq) * row.rightScale;
  const int64_t hb = row.y - row.cy[b];
  _View va, vb;
  va.cx = row.cx[a];
  va.cost = int64_t(va.cx) * va.cx + ha * ha;
  vb.cx = row.cx[b];
  vb.cost = int64_t(vb.cx) * vb.cx + hb * hb;
  return _CrossingValue(va, vb);
}

// The first followed column at or after the position (v, recipe).
int32_t _FirstColumn(const _Row& row, double v, _Recipe recipe) {
  if (v <= row.left) return row.left;
  if (v > row.right) return row.right + 1;
  const int32_t c = int32_t(v);  // floor: v > left >= 0
  return _Less(row, c, _ColumnRecipe(c), v, recipe) ? c + 1 : c;
}

// Writes one sector's winners for the followed columns from the row's envelope (m entries):
// entry j holds the columns from its start to the next entry's start, as far as its point's
// footprint reaches. Starts are taken from the entries, or worked out from their recipes.
void _Collect(const SectorSearch* s, const _Fan& fan, const _Row& row, const _Entry* env, int32_t m,
              bool fromRecipes, int32_t sector, int32_t* winners, int32_t* distances2) {
  const int32_t mirror = row.left + row.right;
  int32_t* const slotW = winners + sector;
  int32_t* const slotD = distances2 + sector;
  auto empty = [&](int32_t from, int32_t to) {
    for (int32_t c = from; c < to; ++c) {
      const int32_t x = fan.flipX ? mirror - c : c;
      slotW[kSearchSectors * x] = -1;
      slotD[kSearchSectors * x] = kSearchFarDistance2;
    }
  };
  int32_t begin = row.right + 1;
  if (m > 0) {
    const double v = fromRecipes ? _Value(row, env[0].startRecipe) : env[0].start;
    begin = _FirstColumn(row, v, env[0].startRecipe);
  }
  empty(row.left, begin);
  for (int32_t j = 0; j < m; ++j) {
    int32_t end = row.right + 1;
    if (j + 1 < m) {
      const double v = fromRecipes ? _Value(row, env[j + 1].startRecipe) : env[j + 1].start;
      end = _FirstColumn(row, v, env[j + 1].startRecipe);
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
      const int32_t x = fan.flipX ? mirror - c : c;
      const bool near = dist < kSearchFarDistance2;
      slotW[kSearchSectors * x] = near ? index : -1;
      slotD[kSearchSectors * x] = near ? int32_t(dist) : kSearchFarDistance2;
    }
    empty(reach, end);
    begin = end;
  }
}

// Points of the pixel's own row (dy = 0) belong to sector 0 (to the left) and 16 (to the right);
// the quadrant envelopes hold only points of other rows, so the nearer of the two is kept.
void _CollectSameRow(const SectorSearch* s, int32_t y, const uint8_t* wanted, int32_t* winners,
                     int32_t* distances2) {
  const int32_t begin = s->rowStart[y - s->top], end = s->rowStart[y - s->top + 1];
  int32_t next = begin;  // first point of the row at or right of x
  for (int32_t x = s->left; x <= s->right && begin < end; ++x) {
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

// Brings the four quadrants to image row y and writes their winners for the followed columns.
OSErr _CollectQuadrants(SectorSearch* s, int32_t y, int32_t* winners, int32_t* distances2) {
  for (int32_t f = 0; f < 4; ++f) {
    _Fan& fan = s->fans[f];
    const int32_t frameY = fan.flipY ? s->top + s->bottom - y : y;
    if (_Upward(f)) {
      for (; fan.row < frameY; ++fan.row)
        for (_Sector& sector : fan.sectors)
          if (!_Advance(s, fan, &sector, fan.row + 1)) return memFullErr;
    } else {
      for (; fan.row > frameY; --fan.row)
        for (_Sector& sector : fan.sectors)
          if (!_StepBack(s, &sector, fan.row - s->top - 1)) return memFullErr;
    }
    for (int32_t k = 0; k < 8; ++k) {
      _Sector& sector = fan.sectors[k];
      const _Row row = _RowOf(s, fan, sector, frameY);
      // The replayed lists carry each start's recipe, not its value on this row.
      _Collect(s, fan, row, sector.list.entries, sector.count, !_Upward(f), 8 * f + k, winners,
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
  s->distances = reinterpret_cast<int32_t*>(NewPtr(Size(s->width) * kSearchSectors * 4));
  if (s->distances == nullptr) return memFullErr;
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
  int32_t* dist = distances2 != nullptr ? distances2 : s->distances;
  const bool covered = s->count > 0 && y >= s->top && y <= s->bottom;
  if (covered) {
    const OSErr err = _CollectQuadrants(s, y, winners, dist);
    if (err != noErr) return err;
    _CollectSameRow(s, y, wanted, winners, dist);
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
      for (_ChangeList* list : {&sector.log.came, &sector.log.went, &sector.log.restarted}) {
        DisposePtr(Ptr(list->changes));
        DisposePtr(Ptr(list->stepStart));
      }
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
  if (dx < 0) sector += dy < 0 ? 24 : 16;
  else if (dy < 0) sector += 8;
  return sector;
}
