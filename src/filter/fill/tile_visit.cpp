// The tile search's visits: each pixel's visit of the runs of candidates of its open sectors,
// eight entries at a time where the processor has AVX2, passing over the runs that cannot hold a
// winner.
#include <algorithm>
#include <climits>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "filter/fill/tile_search_state.h"

namespace {

// The nearest of the runs' entries that lie inside the sector of pixel (x, y) (both values at
// most the pixel's limits) and of the winner that *bestD2 and *bestIndex hold on entry (the
// slot's, index -1 when empty), the lower index on equal distances. Squared distances of the
// image's points stay below INT32_MAX.
void _VisitRunsPlain(const _Runs& runs, int32_t limit0, int32_t limit1, int32_t x, int32_t y,
                     int32_t* bestD2, int32_t* bestIndex) {
  const int32_t *place = runs.place(), *index = runs.index();
  const int32_t *v0 = runs.value0(), *v1 = runs.value1(), *least = runs.least();
  for (int32_t i = 0; i < runs.count; ++i) {
    if (i % kRun == 0 && least[i / kRun] > *bestD2) break;  // nor of any later run
    if (v0[i] > limit0 || v1[i] > limit1) continue;
    const int32_t dx = x - (place[i] & 0xFFFF), dy = y - (place[i] >> 16);
    const int32_t d2 = dx * dx + dy * dy;
    if (d2 > 0 && (d2 < *bestD2 || (d2 == *bestD2 && index[i] < *bestIndex))) {
      *bestD2 = d2;
      *bestIndex = index[i];
    }
  }
}

#if defined(__x86_64__)
// The same, eight entries at a time: each lane keeps its own best, and the eight are reduced
// with the same rule at the end.
__attribute__((target("avx2"), always_inline)) inline void _VisitRunsAVX2(
    const _Runs& runs, int32_t limit0, int32_t limit1, int32_t x, int32_t y, int32_t* bestD2,
    int32_t* bestIndex) {
  const __m256i lim0 = _mm256_set1_epi32(limit0), lim1 = _mm256_set1_epi32(limit1);
  const __m256i pixel = _mm256_set1_epi32(_Place(x, y));
  const __m256i none = _mm256_set1_epi32(INT32_MAX), zero = _mm256_setzero_si256();
  __m256i best = _mm256_set1_epi32(*bestD2), bestI = _mm256_set1_epi32(*bestIndex);
  const int32_t *place = runs.place(), *index = runs.index();
  const int32_t *v0 = runs.value0(), *v1 = runs.value1(), *least = runs.least();
  for (int32_t i = 0; i < runs.count; i += kRun) {
    // A lane's best nearer than every entry of this run and the later ones: none of them can
    // win. Once true it stays true, so the branch is foreseen but at the end.
    if (_mm256_movemask_epi8(_mm256_cmpgt_epi32(_mm256_set1_epi32(least[i / kRun]), best)) != 0)
      break;
    const __m256i outside = _mm256_or_si256(
        _mm256_cmpgt_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(v0 + i)), lim0),
        _mm256_cmpgt_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(v1 + i)), lim1));
    // The steps' two 16-bit parts from the places', and dx² + dy² in one multiply-add.
    const __m256i step =
        _mm256_sub_epi16(pixel, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(place + i)));
    __m256i d2 = _mm256_madd_epi16(step, step);
    d2 = _mm256_blendv_epi8(d2, none, _mm256_or_si256(outside, _mm256_cmpeq_epi32(d2, zero)));
    const __m256i idx = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(index + i));
    const __m256i better = _mm256_or_si256(
        _mm256_cmpgt_epi32(best, d2),
        _mm256_and_si256(_mm256_cmpeq_epi32(best, d2), _mm256_cmpgt_epi32(bestI, idx)));
    best = _mm256_blendv_epi8(best, d2, better);
    bestI = _mm256_blendv_epi8(bestI, idx, better);
  }
  // The lanes began at the slot's winner, so the least distance over the lanes, then the least
  // index among the lanes at that distance, is the sector's winner.
  __m256i lowD2 = _mm256_min_epi32(best, _mm256_permute2x128_si256(best, best, 1));
  lowD2 = _mm256_min_epi32(lowD2, _mm256_shuffle_epi32(lowD2, _MM_SHUFFLE(1, 0, 3, 2)));
  lowD2 = _mm256_min_epi32(lowD2, _mm256_shuffle_epi32(lowD2, _MM_SHUFFLE(2, 3, 0, 1)));
  __m256i lowIndex = _mm256_blendv_epi8(none, bestI, _mm256_cmpeq_epi32(best, lowD2));
  lowIndex = _mm256_min_epi32(lowIndex, _mm256_permute2x128_si256(lowIndex, lowIndex, 1));
  lowIndex = _mm256_min_epi32(lowIndex, _mm256_shuffle_epi32(lowIndex, _MM_SHUFFLE(1, 0, 3, 2)));
  lowIndex = _mm256_min_epi32(lowIndex, _mm256_shuffle_epi32(lowIndex, _MM_SHUFFLE(2, 3, 0, 1)));
  *bestD2 = _mm256_cvtsi256_si32(lowD2);
  *bestIndex = _mm256_cvtsi256_si32(lowIndex);
}
#endif

// The limits of the two conditions of `position`'s sector for the pixel at (ox, oy) from the
// tile's origin, as the runs' values are taken.
inline void _LimitsAt(int32_t position, int32_t ox, int32_t oy, int32_t* limit0, int32_t* limit1) {
  const _Wedge& f = kWedges.at[position];
  *limit0 = int32_t(_Value(f.bound[0], ox, oy) - f.bound[0].c);
  *limit1 = int32_t(_Value(f.bound[1], ox, oy) - f.bound[1].c);
}

#if defined(__x86_64__)
// _VisitOpen's loop over the positions, in one function built for AVX2, so that the visits of a
// pixel's runs are inlined into it rather than called one by one.
__attribute__((target("avx2"))) void _VisitOpenAVX2(const _Runs* runs, uint32_t open, int32_t x,
                                                    int32_t y, int32_t ox, int32_t oy,
                                                    _Slots slots) {
  for (uint32_t m = open; m != 0; m &= m - 1) {
    const int32_t p = __builtin_ctz(m);
    int32_t limit0, limit1;
    _LimitsAt(p, ox, oy, &limit0, &limit1);
    const int32_t sector = kWedges.sectorAt[p];
    _VisitRunsAVX2(runs[p], limit0, limit1, x, y, &slots.distance2[sector], &slots.winner[sector]);
  }
}
#endif

}  // namespace

void _VisitOpen(const _Runs* runs, uint32_t open, int32_t x, int32_t y, int32_t ox, int32_t oy,
                _Slots slots) {
#if defined(__x86_64__)
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (avx2) {
    _VisitOpenAVX2(runs, open, x, y, ox, oy, slots);
    return;
  }
#endif
  for (uint32_t m = open; m != 0; m &= m - 1) {
    const int32_t p = __builtin_ctz(m);
    int32_t limit0, limit1;
    _LimitsAt(p, ox, oy, &limit0, &limit1);
    const int32_t sector = kWedges.sectorAt[p];
    _VisitRunsPlain(runs[p], limit0, limit1, x, y, &slots.distance2[sector], &slots.winner[sector]);
  }
}
