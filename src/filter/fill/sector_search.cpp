// The winner search of the membrane fill: the search object. It lays out the edge points by
// row, builds the four quadrants' frames, and for each row asked brings every sector's envelope
// to that row and reads the winners off it.
//
// For one sector and one row, the winner as a function of a real column is piecewise constant:
// the row's envelope (sector_envelope.h). A row therefore costs one walk that recomputes where
// each piece begins and drops the pieces that vanished, and one merge that lays the new points
// over the result. Every decision is exact (sector_positions.h). The quadrants that look down are
// replayed from their change logs (sector_change_logs.cpp).
#include "filter/fill/sector_search.h"

#include <algorithm>
#include <cstring>

#include "filter/fill/sector_search_state.h"
#include "platform/memory.h"

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

namespace {

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

}  // namespace

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

// Writes one sector's winners for frame columns first .. last from the row's envelope (m
// entries): entry j holds the columns from its start to the next entry's start, as far as its
// point's footprint reaches. Image column x's slots begin at 32 * (x - base).
void _Collect(const SectorSearch* s, const _Fan& fan, const _Row& row, const _Entry* env, int32_t m,
              int32_t first, int32_t last, int32_t base, int32_t sector, int32_t* winners,
              int32_t* distances2) {
  if (first > last) return;
  const int32_t stride = fan.flipX ? -kSearchSectors : kSearchSectors;
  const int32_t origin = kSearchSectors * ((fan.flipX ? row.right : row.left) - base) + sector;
  int32_t* const slotW = winners + origin;  // column c's slot is at (c - row.left) * stride
  int32_t* const slotD = distances2 + origin;
  auto empty = [&](int32_t from, int32_t to) {
    for (int32_t c = from; c < to; ++c) {
      slotW[(c - row.left) * stride] = -1;
      slotD[(c - row.left) * stride] = kSearchFarDistance2;
    }
  };
  // Pieces well before the columns are passed over; the pieces start in increasing order.
  int32_t j = 0;
  if (m > 1)
    j = int32_t(std::partition_point(env + 1, env + m,
                                     [first](const _Entry& e) { return e.start < first - 1; }) -
                (env + 1));
  int32_t begin = last + 1;
  if (m > 0) {
    begin = std::clamp(_FirstColumn(row, env[j].start, env[j].startRecipe), first, last + 1);
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
void _CollectSameRow(const SectorSearch* s, int32_t y, int32_t first, int32_t last, int32_t base,
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
      const int32_t slot = kSearchSectors * (x - base) + 16 * side;
      const int32_t index = s->listIndex[sites[side]];
      if (dx * dx < distances2[slot] || (dx * dx == distances2[slot] && index < winners[slot])) {
        winners[slot] = index;
        distances2[slot] = int32_t(dx * dx);
      }
    }
  }
}

// Visits every point, for a pixel outside the followed box: its 32 slots and distances.
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

// Brings the four quadrants to image row y. False when memory is short.
bool _AdvanceQuadrants(SectorSearch* s, int32_t y) {
  for (_Fan& fan : s->fans) {
    const int32_t frameY = fan.flipY ? s->top + s->bottom - y : y;
    for (; fan.row < frameY; ++fan.row)
      for (_Sector& sector : fan.sectors)
        if (!_Advance(s, fan, &sector, fan.row + 1, false)) return false;
    for (; fan.row > frameY; --fan.row) {
      const bool refresh = (fan.row - 1 - s->top) % kLongestCertificate == 0;
      for (_Sector& sector : fan.sectors) {
        const _Row row = _RowOf(s, fan, sector, fan.row - 1);
        if (!_StepBack(s, row, &sector)) return false;
        if (refresh) _Refresh(row, &sector);
      }
    }
  }
  return true;
}

// Writes the four quadrants' winners at image row y (where they have been brought) for image
// columns first .. last (within the followed ones), column x's slots at 32 * (x - base).
void _CollectQuadrants(const SectorSearch* s, int32_t y, int32_t first, int32_t last, int32_t base,
                       int32_t* winners, int32_t* distances2) {
  for (int32_t f = 0; f < 4; ++f) {
    const _Fan& fan = s->fans[f];
    const int32_t frameY = fan.flipY ? s->top + s->bottom - y : y;
    for (int32_t k = 0; k < 8; ++k) {
      const _Sector& sector = fan.sectors[k];
      const _Row row = _RowOf(s, fan, sector, frameY);
      const int32_t a = fan.flipX ? s->left + s->right - last : first;
      const int32_t b = fan.flipX ? s->left + s->right - first : last;
      _Collect(s, fan, row, sector.list.entries, sector.count, a, b, base, 8 * f + k, winners,
               distances2);
    }
  }
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

OSErr AdvanceSearch(SectorSearch* search, int32_t y) {
  if (search == nullptr || y < 0 || y >= search->height || y < search->lastRow) return paramErr;
  if (y == search->lastRow) return noErr;
  search->lastRow = y;
  const bool covered = search->count > 0 && y >= search->top && y <= search->bottom;
  return !covered || _AdvanceQuadrants(search, y) ? noErr : memFullErr;
}

OSErr CollectRowWinners(const SectorSearch* search, int32_t y, int32_t first, int32_t last,
                        const uint8_t* wanted, int32_t* winners, int32_t* distances2) {
  if (search == nullptr || winners == nullptr || distances2 == nullptr || y != search->lastRow ||
      first < 0 || last >= search->width || first > last)
    return paramErr;
  const SectorSearch* s = search;
  const bool covered = s->count > 0 && y >= s->top && y <= s->bottom;
  if (covered) {
    // Only the stretch of followed columns between the first and last wanted pixel is written.
    int32_t from = std::max(first, s->left), to = std::min(last, s->right);
    if (wanted != nullptr) {
      while (from <= to && wanted[from] == 0) ++from;
      while (to >= from && wanted[to] == 0) --to;
    }
    _CollectQuadrants(s, y, from, to, first, winners, distances2);
    _CollectSameRow(s, y, from, to, first, wanted, winners, distances2);
  }
  for (int32_t x = first; x <= last; ++x) {
    if ((wanted != nullptr && wanted[x] == 0) || (covered && x >= s->left && x <= s->right))
      continue;
    _CollectByVisit(s, x, y, winners + kSearchSectors * (x - first),
                    distances2 + kSearchSectors * (x - first));
  }
  return noErr;
}

OSErr FindRowWinners(SectorSearch* search, int32_t y, int32_t first, int32_t last,
                     const uint8_t* wanted, int32_t* winners, int32_t* distances2) {
  if (search == nullptr || winners == nullptr || first < 0 || last >= search->width || first > last)
    return paramErr;
  if (distances2 == nullptr && search->distances == nullptr) {
    search->distances =
        reinterpret_cast<int32_t*>(NewPtr(Size(search->width) * kSearchSectors * 4));
    if (search->distances == nullptr) return memFullErr;
  }
  const OSErr err = AdvanceSearch(search, y);
  if (err != noErr) return err;
  return CollectRowWinners(search, y, first, last, wanted, winners,
                           distances2 != nullptr ? distances2 : search->distances);
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
