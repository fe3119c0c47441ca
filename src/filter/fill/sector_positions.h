// Positions on a row for the winner search of the membrane fill, and their exact comparison.
//
// The slopes between sectors are rationals that classify each lattice point as the fill's
// single-precision rule does; costs are integers; equal distances are ordered by perturbing each
// point's cost by its index times an infinitesimal, so that no pixel lies on a piece boundary.
// Positions are compared in double precision and recomputed exactly, with 64-bit integers, when
// two of them are within 1e-8. Each position therefore carries a recipe: how to work it out
// exactly.
#pragma once

#include <cmath>
#include <cstdint>

// Boundary slopes 1..7 as P/Q (index 0 unused). Each lies strictly between the two lattice
// slopes (|dx|, |dy| <= 32767) that the single-precision rule puts on either side of 0.1989,
// 0.4142, 0.6682, 1.0, 1.497, 2.414 and 5.028 (it is their mediant), so dy * Q >= dx * P
// decides every point as the rule does.
inline constexpr int64_t kSlopeP[8] = {0, 8607, 22641, 29924, 32767, 33184, 33417, 33220};
inline constexpr int64_t kSlopeQ[8] = {1, 43273, 54662, 44783, 32768, 22167, 13843, 6607};
// In the quadrants that leave out dx = 0, sector 7 begins at slope 32768 instead, steeper than
// any lattice slope but short of vertical.
constexpr int64_t kSteepestP = 32768;

constexpr double kTolerance = 1e-8;         // positions closer than this are compared exactly
constexpr double kFarPosition = 1048576.0;  // crossings beyond are clamped in double

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

// Whether position a (ar) lies before position b (br) on the row, decided exactly: the recipes
// are evaluated with 64-bit integers, ties broken by the points' infinitesimal perturbations.
bool _LessExact(const _Row& row, _Recipe a, _Recipe b);

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

// Where point a (cost costA) starts to beat point b (cost costB), in double precision and
// clamped to kFarPosition either way, and how that moves per row.
inline _Pos _Crossing(const _Row& row, int32_t a, int64_t costA, int32_t b, int64_t costB) {
  const int64_t d = int64_t(row.cx[a]) - row.cx[b];
  double c = double(costA - costB) / double(2 * d);
  if (c > kFarPosition) c = kFarPosition;
  if (c < -kFarPosition) c = -kFarPosition;
  return {c, double(row.cy[b] - row.cy[a]) / double(d),
          _MakeRecipe(kCrossing, uint32_t(a), uint32_t(b))};
}

// The position that `recipe` stands for on the row.
_Pos _PosOf(const _Row& row, _Recipe recipe);
