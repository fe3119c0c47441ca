// The envelope's two steps from one row to the next: the walk, which moves each piece's start
// (worked out afresh when its certificate has run out) and drops the pieces that vanished, and
// the merge, which lays the points of the row just passed over the result.
//
// Seen from a pixel, the winner of a sector is the nearest edge point inside a fixed wedge, ties
// going to the lower index. Two facts let the envelope be carried from row to row in one pass
// over its pieces:
//  - a point that wins at pixel p also wins all along the segment from p to itself, because the
//    wedge of a point on that segment lies inside the wedge of p; so the pieces that points above
//    row y - 1 win on row y keep the order of their pieces on row y - 1, and none splits;
//  - the points of row y - 1 itself enter with footprints a few pixels long (or, for sector 0,
//    with a single piece each).
#include "filter/fill/sector_envelope.h"

#include <cstring>

namespace {

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

}  // namespace

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

namespace {

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

// The first segment j of `from` .. m - 1 (entry j's start to the next one's, the last to the
// row's end) in which position p lies before the end: the segments' ends increase, so the
// search gallops from `from`, as the next piece is most often a few segments on.
int32_t _SegmentOf(const _Row& row, const _Entry* env, int32_t from, int32_t m, const _Pos& p) {
  auto beforeEnd = [&](int32_t j) { return j + 1 >= m || _Less(row, p, _StartOf(env[j + 1])); };
  int32_t lo = from, step = 1;  // every segment before lo ends at or before p
  int32_t hi = lo;
  while (hi < m && !beforeEnd(hi)) {
    lo = hi + 1;
    hi = lo + step;
    step *= 2;
  }
  if (hi >= m) hi = m - 1;
  while (lo < hi) {  // the answer lies in lo .. hi, and p lies before hi's end
    const int32_t mid = lo + (hi - lo) / 2;
    if (beforeEnd(mid))
      hi = mid;
    else
      lo = mid + 1;
  }
  return lo;
}

}  // namespace

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
      const int32_t j2 = k < np ? _SegmentOf(row, env, j + 1, m, pieces[k].begin) : m;
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
