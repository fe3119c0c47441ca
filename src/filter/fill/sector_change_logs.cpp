// The change logs of the winner search's downward quadrants. Their envelopes need the rows below
// first, so each runs once from the bottom row of the points up when the search is made,
// recording for every row the entries that came, those that went and those whose start
// changed; asking the rows from the top down then undoes one step at a time.
#include <cstring>

#include "filter/fill/sector_search_state.h"

namespace {

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

}  // namespace

void _Refresh(const _Row& row, _Sector* sector) {
  for (int32_t i = 0; i < sector->count; ++i) {
    _Entry& e = sector->list.entries[i];
    const _Pos start = _PosOf(row, e.startRecipe);
    e.start = start.v;
    e.slope = start.slope;
  }
}

bool _RunDownward(const SectorSearch* s, const _Fan& fan, _Sector* sector, _StepRoom* room) {
  const int32_t steps = s->bottom - s->top;
  // Typically each list gets about one change per point over all the rows.
  if (!_Prepare(&sector->log.came, steps, s->count) ||
      !_Prepare(&sector->log.went, steps, s->count) ||
      !_Prepare(&sector->log.restarted, steps, s->count))
    return false;
  sector->count = 0;
  for (int32_t y = s->top + 1; y <= s->bottom; ++y) {
    _Buffer before = sector->list;
    const int32_t beforeCount = sector->count;
    // _Advance hands the old list to the room, where it stays readable until the next step.
    if (!_Advance(s, fan, room, sector, y, true)) return false;
    if (!_Record(sector, y - s->top - 1, before.entries, beforeCount)) return false;
  }
  _Refresh(_RowOf(s, fan, *sector, s->bottom), sector);
  return true;
}

bool _StepBack(const SectorSearch* s, const _Row& row, _StepRoom* room, _Sector* sector) {
  const int32_t step = row.y - s->top;
  const _Log& log = sector->log;
  const int32_t* came = log.came.changes + log.came.stepStart[step];
  const int32_t* cameEnd = log.came.changes + log.came.stepStart[step + 1];
  const _Went* went = log.went.changes + log.went.stepStart[step];
  const _Went* wentEnd = log.went.changes + log.went.stepStart[step + 1];
  const _Restart* restarted = log.restarted.changes + log.restarted.stepStart[step];
  const _Restart* restartedEnd = log.restarted.changes + log.restarted.stepStart[step + 1];
  const int64_t size = int64_t(sector->count) - (cameEnd - came) + (wentEnd - went);
  if (!_ReserveOf(&room->work[1].entries, &room->work[1].capacity, size)) return false;
  _Entry* out = room->work[1].entries;
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
  _Swap(&sector->list, &room->work[1]);
  sector->count = n;
  return true;
}
