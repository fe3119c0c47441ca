// Exact positions of the winner search: a recipe evaluated with integers, the exact
// comparison of two positions, a position worked out afresh from its recipe, and the exact
// sector of a point.
#include "filter/fill/sector_positions.h"

#include "filter/fill/sector_search.h"

namespace {

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

}  // namespace

// Magnitudes: numerators below 2^33, denominators below 2^17, so the products fit 64 bits.
bool _LessExact(const _Row& row, _Recipe a, _Recipe b) {
  const _Exact x = _Evaluate(row, a), z = _Evaluate(row, b);
  const int64_t d = x.num * z.den - z.num * x.den;
  if (d != 0) return d < 0;
  return x.epsNum * z.epsDen < z.epsNum * x.epsDen;
}

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
