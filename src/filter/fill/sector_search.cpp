// The winner search of the membrane fill: the search object. It lays out the edge points by
// row, builds the four quadrants' frames, and for each row asked brings every sector's envelope
// to that row; the winners are read off the envelopes in sector_collect.cpp.
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

bool _MakeRoom(_StepRoom* room, int32_t widest) {
  room->views = reinterpret_cast<_View*>(NewPtr(Size(widest) * Size(sizeof(_View))));
  room->pieces = reinterpret_cast<_Piece*>(NewPtr(Size(widest) * Size(sizeof(_Piece))));
  return room->views != nullptr && room->pieces != nullptr;
}

void _ReleaseRoom(_StepRoom* room) {
  DisposePtr(Ptr(room->work[0].entries));
  DisposePtr(Ptr(room->work[1].entries));
  DisposePtr(Ptr(room->views));
  DisposePtr(Ptr(room->pieces));
  *room = {};
}

bool _Advance(const SectorSearch* s, const _Fan& fan, _StepRoom* room, _Sector* sector, int32_t y,
              bool keepOld) {
  const _Row row = _RowOf(s, fan, *sector, y);
  _Buffer* const work = room->work;
  _Buffer* walked = &sector->list;
  if (keepOld) {
    if (!_ReserveOf(&work[0].entries, &work[0].capacity, sector->count)) return false;
    walked = &work[0];
  }
  const int32_t m = _Walk(row, sector->list.entries, sector->count, walked->entries);
  const int32_t* fresh;
  int32_t freshCount, step;
  _FreshOf(s, fan, y - 1, &fresh, &freshCount, &step);
  if (freshCount == 0) {
    if (keepOld) _Swap(&sector->list, &work[0]);
    sector->count = m;
    return true;
  }
  if (!_ReserveOf(&work[1].entries, &work[1].capacity, _MergeRoom(m, freshCount))) return false;
  int32_t merged = _Merge(row, walked->entries, m, fresh, freshCount, step, room->views,
                          room->pieces, work[1].entries, work[1].capacity);
  if (merged > work[1].capacity) {
    if (!_ReserveOf(&work[1].entries, &work[1].capacity, merged)) return false;
    merged = _Merge(row, walked->entries, m, fresh, freshCount, step, room->views, room->pieces,
                    work[1].entries, work[1].capacity);
  }
  sector->count = merged;
  _Swap(&sector->list, &work[1]);
  return true;
}

namespace {

// Brings one quadrant to image row y. False when memory is short.
bool _AdvanceQuadrant(const SectorSearch* s, _Fan* fan, int32_t y) {
  const int32_t frameY = fan->flipY ? s->top + s->bottom - y : y;
  for (; fan->row < frameY; ++fan->row)
    for (_Sector& sector : fan->sectors)
      if (!_Advance(s, *fan, &fan->room, &sector, fan->row + 1, false)) return false;
  for (; fan->row > frameY; --fan->row) {
    const bool refresh = (fan->row - 1 - s->top) % kLongestCertificate == 0;
    for (_Sector& sector : fan->sectors) {
      const _Row row = _RowOf(s, *fan, sector, fan->row - 1);
      if (!_StepBack(s, row, &fan->room, &sector)) return false;
      if (refresh) _Refresh(row, &sector);
    }
  }
  return true;
}

// The downward quadrants' logs (fans 1 and 3), one task to a sector: a sector's log depends on
// no other sector's, and a task to each keeps more threads busy than two quadrants would. Each
// task steps its sector in a room of its own, released when it ends; a task short of memory
// says so in `failed`.
constexpr int32_t kDownwardTasks = 2 * 8;  // the two downward quadrants' sectors

struct _DownwardTasks {
  SectorSearch* search;
  bool failed[kDownwardTasks];
};

void _RunDownwardTask(void* context, int32_t task, int32_t) {
  auto* tasks = static_cast<_DownwardTasks*>(context);
  SectorSearch* s = tasks->search;
  _Fan& fan = s->fans[1 + 2 * (task / 8)];
  _StepRoom room = {};
  tasks->failed[task] =
      !_MakeRoom(&room, s->widestRow) || !_RunDownward(s, fan, &fan.sectors[task % 8], &room);
  _ReleaseRoom(&room);
}

// Records the downward quadrants' logs, on `workers`' threads when given. False when memory is
// short.
bool _RunDownwardQuadrants(SectorSearch* s, FillWorkers* workers) {
  _DownwardTasks tasks = {s, {}};
  if (workers != nullptr)
    RunFillTasks(workers, kDownwardTasks, _RunDownwardTask, &tasks);
  else
    for (int32_t task = 0; task < kDownwardTasks; ++task) _RunDownwardTask(&tasks, task, 0);
  s->fans[1].row = s->fans[3].row = s->bottom;
  for (bool failed : tasks.failed)
    if (failed) return false;
  return true;
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
// quadrants (on `workers` when given). False when memory is short.
bool _Lay(SectorSearch* s, const uint16_t* xs, const uint16_t* ys, int32_t listCount,
          const int32_t* order, const int32_t* index, FillWorkers* workers) {
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
  for (int32_t f = 0; f < 4; ++f) {
    _Fan& fan = s->fans[f];
    fan.flipX = f >= 2;
    fan.flipY = f == 1 || f == 3;
    fan.row = s->top;
    fan.cx = reinterpret_cast<int32_t*>(NewPtr(Size(n) * 4));
    fan.cy = reinterpret_cast<int32_t*>(NewPtr(Size(n) * 4));
    if (fan.cx == nullptr || fan.cy == nullptr || !_MakeRoom(&fan.room, s->widestRow)) return false;
    for (int32_t i = 0; i < n; ++i) {
      fan.cx[i] = fan.flipX ? s->left + s->right - s->px[i] : s->px[i];
      fan.cy[i] = fan.flipY ? s->top + s->bottom - s->py[i] : s->py[i];
    }
    // Points straight above or below (dx = 0) belong to the quadrants with dx >= 0.
    for (int32_t k = 0; k < 8; ++k) _SetUpSector(&fan.sectors[k], k, !fan.flipX);
  }
  return _RunDownwardQuadrants(s, workers);
}

// Sorts and indexes the points and builds everything the rows need. 0 or -108.
OSErr _Build(SectorSearch* s, const uint16_t* xs, const uint16_t* ys, int32_t count,
             FillWorkers* workers) {
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
    ok = _Lay(s, xs, ys, count, order, index, workers);
  }
  DisposePtr(Ptr(order));
  DisposePtr(Ptr(index));
  DisposePtr(Ptr(bucket));
  return ok ? noErr : memFullErr;
}

}  // namespace

OSErr MakeSectorSearch(const uint16_t* xs, const uint16_t* ys, int32_t count, int32_t width,
                       int32_t height, SectorSearch** out, FillWorkers* workers) {
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
  for (_Fan& fan : s->fans) fan.asked = -1;
  const OSErr err = _Build(s, xs, ys, count, workers);
  if (err != noErr) {
    DisposeSectorSearch(s);
    return err;
  }
  *out = s;
  return noErr;
}

OSErr AdvanceSearchQuadrant(SectorSearch* search, int32_t quadrant, int32_t y) {
  if (search == nullptr || quadrant < 0 || quadrant > 3 || y < 0 || y >= search->height)
    return paramErr;
  _Fan& fan = search->fans[quadrant];
  if (y < fan.asked) return paramErr;
  if (y == fan.asked) return noErr;
  fan.asked = y;
  const bool covered = search->count > 0 && y >= search->top && y <= search->bottom;
  return !covered || _AdvanceQuadrant(search, &fan, y) ? noErr : memFullErr;
}

OSErr AdvanceSearch(SectorSearch* search, int32_t y) {
  // The quadrants are asked the same rows, so a row refused is refused by the first.
  for (int32_t q = 0; q < 4; ++q)
    if (const OSErr err = AdvanceSearchQuadrant(search, q, y); err != noErr) return err;
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
    _ReleaseRoom(&fan.room);
  }
  DisposePtr(Ptr(search->distances));
  DisposePtr(Ptr(search));
}
