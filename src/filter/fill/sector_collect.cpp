// The winner search's reading of a row: each sector's winners read off its envelope column by
// column (into slots one to a column, eight columns at a time where the processor has AVX2), the
// points of the pixel's own row, and pixels outside the points' columns visited whole. Reading
// changes nothing, so threads may read different columns or quadrants at once.
#include <algorithm>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "filter/fill/sector_search.h"
#include "filter/fill/sector_search_state.h"

namespace {

// The first followed column at or after the position (v, recipe).
inline int32_t _FirstColumn(const _Row& row, double v, _Recipe recipe) {
  // Within the tolerance of the first or last column, the exact position decides too.
  if (v <= row.left - kTolerance) return row.left;
  if (v > row.right + kTolerance) return row.right + 1;
  const int32_t c = int32_t(v);  // floor (0 just below column 0, where near is 0 too)
  const double above = v - c;
  if (above > kTolerance && above < 1.0 - kTolerance) return c + 1;
  // v is within the tolerance of a column: which side of it the exact position lies decides.
  const int32_t near = above <= kTolerance ? c : c + 1;
  return _Less(row, near, _ColumnRecipe(near), v, recipe) ? near + 1 : near;
}

// The entry *j whose piece holds frame column `first`, or the first after it, found without
// reading the pieces well before it (the pieces start in increasing order); returns the first
// column from `first` on that the envelope holds (last + 1 when none).
int32_t _FirstPiece(const _Row& row, const _Entry* env, int32_t m, int32_t first, int32_t last,
                    int32_t* j) {
  *j = 0;
  if (m > 1)
    *j = int32_t(std::partition_point(env + 1, env + m,
                                      [first](const _Entry& e) { return e.start < first - 1; }) -
                 (env + 1));
  if (m == 0) return last + 1;
  return std::clamp(_FirstColumn(row, env[*j].start, env[*j].startRecipe), first, last + 1);
}

// Writes one sector's winners for frame columns first .. last from the row's envelope (m
// entries): entry j holds the columns from its start to the next entry's start, as far as its
// point's footprint reaches. Image column x's slots begin at pitch * (x - base); the sector's is
// `slot` after them.
void _Collect(const SectorSearch* s, const _Fan& fan, const _Row& row, const _Entry* env, int32_t m,
              int32_t first, int32_t last, int32_t base, int32_t pitch, int32_t slot,
              int32_t* winners, int32_t* distances2) {
  if (first > last) return;
  const int32_t stride = fan.flipX ? -pitch : pitch;
  const int32_t origin = pitch * ((fan.flipX ? row.right : row.left) - base) + slot;
  int32_t* const slotW = winners + origin;  // column c's slot is at (c - row.left) * stride
  int32_t* const slotD = distances2 + origin;
  auto empty = [&](int32_t from, int32_t to) {
    for (int32_t c = from; c < to; ++c) {
      slotW[(c - row.left) * stride] = -1;
      slotD[(c - row.left) * stride] = kSearchFarDistance2;
    }
  };
  int32_t j;
  int32_t begin = _FirstPiece(row, env, m, first, last, &j);
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

#if defined(__x86_64__)
// _Collect for slots one to a column where the processor has AVX2, `kStep` (1 or -1) from one
// frame column to the next in memory: each piece writes eight columns from its start in one go,
// without asking how wide it is (a later piece, which begins within them, writes its own again;
// the columns past the last asked land in the slots' margin), which spares the branches on a
// piece's width that no predictor foresees: most pieces are one or two columns wide.
static_assert(kSlotRowMargin >= 7, "the columns written ahead stay in the margin");

template <int32_t kStep>
__attribute__((target("avx2"))) void _CollectColumnsAVX2(const SectorSearch* s, const _Row& row,
                                                         const _Entry* env, int32_t m,
                                                         int32_t first, int32_t last,
                                                         int32_t* slotW, int32_t* slotD) {
  // Column c's slot is slotW[(c - row.left) * kStep].
  int32_t j;
  int32_t begin = _FirstPiece(row, env, m, first, last, &j);
  for (int32_t c = first; c < begin; ++c) {
    slotW[(c - row.left) * kStep] = -1;
    slotD[(c - row.left) * kStep] = kSearchFarDistance2;
  }
  const __m256i ahead = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  const __m256i reversed = _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0);
  const __m256i none = _mm256_set1_epi32(-1), far = _mm256_set1_epi32(kSearchFarDistance2);
  const __m256i nearest = _mm256_set1_epi32(kSearchFarDistance2 - 1);
  const __m256i footEnd = _mm256_set1_epi32(int32_t(row.rp));
  for (; j < m && begin <= last; ++j) {
    int32_t end = last + 1;
    if (j + 1 < m)
      end = std::min(_FirstColumn(row, env[j + 1].start, env[j + 1].startRecipe), last + 1);
    const int32_t site = env[j].site;
    const int32_t cx = row.cx[site];
    const int32_t h = row.y - row.cy[site];
    // Column c lies inside the point's footprint, which ends before cx + h × rq / rp (never on a
    // column), when (c - cx) × rp < h × rq; both products fit in 32 bits.
    const int32_t bound = row.rp != 0 ? int32_t(h * row.rq) : INT32_MAX;
    // Eight columns: squared distances of columns within 32775 of the point stay below 2^32,
    // so they are exact in unsigned 32-bit lanes.
    const __m256i c = _mm256_add_epi32(_mm256_set1_epi32(begin), ahead);
    const __m256i dx = _mm256_sub_epi32(c, _mm256_set1_epi32(cx));
    const __m256i dist = _mm256_add_epi32(_mm256_mullo_epi32(dx, dx),
                                          _mm256_set1_epi32(int32_t(uint32_t(h) * uint32_t(h))));
    const __m256i inside =
        _mm256_cmpgt_epi32(_mm256_set1_epi32(bound), _mm256_mullo_epi32(dx, footEnd));
    const __m256i near =
        _mm256_and_si256(inside, _mm256_cmpeq_epi32(_mm256_min_epu32(dist, nearest), dist));
    __m256i w = _mm256_blendv_epi8(none, _mm256_set1_epi32(s->listIndex[site]), near);
    __m256i d = _mm256_blendv_epi8(far, dist, near);
    int32_t* at = slotW + (begin - row.left) * kStep;
    if (kStep < 0) {  // column begin + 7 comes first in memory
      w = _mm256_permutevar8x32_epi32(w, reversed);
      d = _mm256_permutevar8x32_epi32(d, reversed);
      at -= 7;
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(at), w);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(slotD + (at - slotW)), d);
    for (int32_t col = begin + 8; col < end; ++col) {  // a piece wider than eight columns
      const int64_t ex = col - cx;
      const int64_t e2 = ex * ex + int64_t(h) * h;
      const bool within = ex * row.rp < h * row.rq + (row.rp == 0) && e2 < kSearchFarDistance2;
      slotW[(col - row.left) * kStep] = within ? s->listIndex[site] : -1;
      slotD[(col - row.left) * kStep] = within ? int32_t(e2) : kSearchFarDistance2;
    }
    if (end > begin) begin = end;
  }
}
#endif

// Points of the pixel's own row (dy = 0) belong to sector 0 (to the left) and 16 (to the right);
// the quadrant envelopes hold only points of other rows, so the nearer of the two is kept.
void _CollectSameRow(const SectorSearch* s, int32_t y, int32_t first, int32_t last, int32_t base,
                     const uint8_t* wanted, const SectorSlots& slots) {
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
      // Sector 0 (to the left) is quadrant 0's first slot, sector 16 quadrant 2's.
      int32_t* winner = slots.winners[2 * side] + slots.pitch * (x - base);
      int32_t* distance2 = slots.distances2[2 * side] + slots.pitch * (x - base);
      const int32_t index = s->listIndex[sites[side]];
      if (dx * dx < *distance2 || (dx * dx == *distance2 && index < *winner)) {
        *winner = index;
        *distance2 = int32_t(dx * dx);
      }
    }
  }
}

// Visits every point, for a pixel outside the followed box: its 32 winners and distances.
void _CollectByVisit(const SectorSearch* s, int32_t x, int32_t y, int32_t* slots, int32_t* best) {
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

// Writes quadrant f's winners at image row y (where it has been brought) for image columns
// first .. last (within the followed ones), column x's at slots.pitch * (x - base) in its buffer.
void _CollectQuadrant(const SectorSearch* s, int32_t f, int32_t y, int32_t first, int32_t last,
                      int32_t base, const SectorSlots& slots) {
  const _Fan& fan = s->fans[f];
  const int32_t frameY = fan.flipY ? s->top + s->bottom - y : y;
  for (int32_t k = 0; k < 8; ++k) {
    const _Sector& sector = fan.sectors[k];
    const _Row row = _RowOf(s, fan, sector, frameY);
    const int32_t a = fan.flipX ? s->left + s->right - last : first;
    const int32_t b = fan.flipX ? s->left + s->right - first : last;
#if defined(__x86_64__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (slots.pitch == 1 && avx2) {
      const int32_t origin = ((fan.flipX ? row.right : row.left) - base) + slots.reach * k;
      if (fan.flipX)
        _CollectColumnsAVX2<-1>(s, row, sector.list.entries, sector.count, a, b,
                                slots.winners[f] + origin, slots.distances2[f] + origin);
      else
        _CollectColumnsAVX2<1>(s, row, sector.list.entries, sector.count, a, b,
                               slots.winners[f] + origin, slots.distances2[f] + origin);
      continue;
    }
#endif
    _Collect(s, fan, row, sector.list.entries, sector.count, a, b, base, slots.pitch,
             slots.reach * k, slots.winners[f], slots.distances2[f]);
  }
}

// Whether row y lies in the points' rows, and if so the stretch of columns that the quadrants
// write: the followed columns from the first to the last wanted pixel of first .. last (empty
// when from > to).
bool _Stretch(const SectorSearch* s, int32_t y, int32_t first, int32_t last, const uint8_t* wanted,
              int32_t* from, int32_t* to) {
  if (s->count == 0 || y < s->top || y > s->bottom) return false;
  *from = std::max(first, s->left);
  *to = std::min(last, s->right);
  if (wanted != nullptr) {
    while (*from <= *to && wanted[*from] == 0) ++*from;
    while (*to >= *from && wanted[*to] == 0) --*to;
  }
  return true;
}

bool _ColumnsValid(const SectorSearch* s, int32_t first, int32_t last) {
  return first >= 0 && last < s->width && first <= last;
}

bool _SlotsGiven(const SectorSlots& slots) {
  for (int32_t q = 0; q < 4; ++q)
    if (slots.winners[q] == nullptr || slots.distances2[q] == nullptr) return false;
  return slots.pitch == 1 ? slots.reach >= 1 : slots.pitch >= 8;
}

}  // namespace

OSErr CollectQuadrantWinners(const SectorSearch* search, int32_t quadrant, int32_t y, int32_t first,
                             int32_t last, const uint8_t* wanted, const SectorSlots& slots) {
  if (search == nullptr || !_SlotsGiven(slots) || quadrant < 0 || quadrant > 3 ||
      y != search->fans[quadrant].asked || !_ColumnsValid(search, first, last))
    return paramErr;
  int32_t from, to;
  if (_Stretch(search, y, first, last, wanted, &from, &to))
    _CollectQuadrant(search, quadrant, y, from, to, first, slots);
  return noErr;
}

OSErr CollectRowRest(const SectorSearch* search, int32_t y, int32_t first, int32_t last,
                     const uint8_t* wanted, const SectorSlots& slots) {
  if (search == nullptr || !_SlotsGiven(slots) || y < 0 || y >= search->height ||
      !_ColumnsValid(search, first, last))
    return paramErr;
  const SectorSearch* s = search;
  int32_t from, to;
  const bool covered = _Stretch(s, y, first, last, wanted, &from, &to);
  if (covered) _CollectSameRow(s, y, from, to, first, wanted, slots);
  for (int32_t x = first; x <= last; ++x) {
    if ((wanted != nullptr && wanted[x] == 0) || (covered && x >= s->left && x <= s->right))
      continue;
    int32_t visited[kSearchSectors], best[kSearchSectors];
    _CollectByVisit(s, x, y, visited, best);
    for (int32_t k = 0; k < kSearchSectors; ++k) {
      slots.winners[k / 8][slots.pitch * (x - first) + slots.reach * (k % 8)] = visited[k];
      slots.distances2[k / 8][slots.pitch * (x - first) + slots.reach * (k % 8)] = best[k];
    }
  }
  return noErr;
}

OSErr CollectRowWinners(const SectorSearch* search, int32_t y, int32_t first, int32_t last,
                        const uint8_t* wanted, int32_t* winners, int32_t* distances2) {
  if (winners == nullptr || distances2 == nullptr) return paramErr;
  return CollectRowSlots(search, y, first, last, wanted, SlotsOfPixels(winners, distances2));
}

OSErr CollectRowSlots(const SectorSearch* search, int32_t y, int32_t first, int32_t last,
                      const uint8_t* wanted, const SectorSlots& slots) {
  if (search == nullptr || !_SlotsGiven(slots) || !_ColumnsValid(search, first, last))
    return paramErr;
  for (const _Fan& fan : search->fans)
    if (y != fan.asked) return paramErr;
  int32_t from, to;
  if (_Stretch(search, y, first, last, wanted, &from, &to))
    for (int32_t f = 0; f < 4; ++f) _CollectQuadrant(search, f, y, from, to, first, slots);
  return CollectRowRest(search, y, first, last, wanted, slots);
}
