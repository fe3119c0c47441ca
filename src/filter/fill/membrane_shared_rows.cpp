// The fill by rows on several lanes. A row's search steps cannot be divided by columns, but its
// four quadrants are independent: each lane brings one quadrant through a chunk of rows and
// writes its eight sectors' winners of every row of the chunk into the quadrant's own part of
// the buffers (lanes writing one part would share its cache lines), one slot to a column; then
// the chunk's rows are divided by columns, each stretch adding the rest of its winners and
// working out its pixels. Waking the threads costs tens of microseconds, so they are woken twice
// a chunk rather than twice a row.
#include <algorithm>

#include "filter/fill/membrane_fast.h"
#include "platform/memory.h"

namespace {

// Slots (winners and distances each) that a chunk's buffers hold: 2 MiB of each.
constexpr int64_t kChunkSlots = int64_t(1) << 19;

template <class Depth>
struct _Chunk {
  const _MembraneWork<Depth>* work;
  _FastWork<Depth>* fast;
  const int32_t* ys;
  const uint8_t* const* wanted;  // null entries: every pixel
  typename Depth::Sample* const* rows;
  int32_t count;
  int32_t first[kMaxFillThreads * kFastBlockRows];  // each row's columns to fill
  int32_t last[kMaxFillThreads * kFastBlockRows];
  int32_t parts[kMaxFillThreads * kFastBlockRows + 1];  // tasks before each row, then in all
  bool failed[4];                                       // a quadrant ran short of memory
};

// Row k's slots in the chunk's buffers from column `from` on: each quadrant's in its own part,
// a row of slots for each of its sectors, one to a column, column first[k] first.
template <class Depth>
SectorSlots _SlotsOf(const _Chunk<Depth>* chunk, int32_t k, int32_t from) {
  const int32_t width = chunk->work->width;
  const int64_t row = int64_t(k) * kSearchSectors * SlotRowLength(width);
  SectorSlots slots =
      SlotsOfColumns(chunk->fast->chunkWinners + row, chunk->fast->chunkDistances + row, width);
  for (int32_t q = 0; q < 4; ++q) {
    slots.winners[q] += from - chunk->first[k];
    slots.distances2[q] += from - chunk->first[k];
  }
  return slots;
}

// Task q: quadrant q through the chunk's rows, writing its sectors' winners.
template <class Depth>
void _QuadrantThroughRows(void* context, int32_t q, int32_t) {
  auto* chunk = static_cast<_Chunk<Depth>*>(context);
  SectorSearch* search = chunk->fast->search;
  for (int32_t k = 0; k < chunk->count; ++k) {
    if (AdvanceSearchQuadrant(search, q, chunk->ys[k]) != noErr) {
      chunk->failed[q] = true;
      return;
    }
    CollectQuadrantWinners(search, q, chunk->ys[k], chunk->first[k], chunk->last[k],
                           chunk->wanted[k], _SlotsOf(chunk, k, chunk->first[k]));
  }
}

// Task t: one stretch of one row's columns: the rest of their winners, then their pixels.
template <class Depth>
void _RowStretch(void* context, int32_t t, int32_t) {
  const auto* chunk = static_cast<const _Chunk<Depth>*>(context);
  const _MembraneWork<Depth>* work = chunk->work;
  int32_t k = 0;
  while (chunk->parts[k + 1] <= t) ++k;
  const int32_t part = t - chunk->parts[k], parts = chunk->parts[k + 1] - chunk->parts[k];
  const int32_t first = chunk->first[k];
  const int64_t columns = int64_t(chunk->last[k]) - first + 1;
  const int32_t begin = first + int32_t(columns * part / parts);
  const int32_t end = first + int32_t(columns * (part + 1) / parts);
  const uint8_t* wanted = chunk->wanted[k];
  const SectorSlots slots = _SlotsOf(chunk, k, begin);
  CollectRowRest(chunk->fast->search, chunk->ys[k], begin, end - 1, wanted, slots);
  for (int32_t x0 = begin; x0 < end; x0 += kRowSpan) {
    int32_t offsets[kRowSpan];
    typename Depth::Sample* pixels[kRowSpan];
    int32_t count = 0;
    for (int32_t x = x0; x < std::min(end, x0 + kRowSpan); ++x) {
      if (wanted != nullptr && wanted[x] == 0) continue;
      offsets[count] = x - begin;
      pixels[count++] = chunk->rows[k] + work->planes * x;
    }
    _PixelsFromSlots(work, count, slots, offsets, pixels);
  }
}

}  // namespace

template <class Depth>
OSErr _AllocateSharedRows(const _MembraneWork<Depth>* work, _FastWork<Depth>* fast) {
  const int64_t rowSlots = int64_t(SlotRowLength(work->width)) * kSearchSectors;
  fast->chunkRows = int32_t(std::clamp<int64_t>(kChunkSlots / rowSlots, 1, fast->roundRows));
  const Size bytes = Size(fast->chunkRows * rowSlots * 4);
  fast->chunkWinners = reinterpret_cast<int32_t*>(NewPtr(bytes));
  fast->chunkDistances = reinterpret_cast<int32_t*>(NewPtr(bytes));
  return fast->chunkWinners != nullptr && fast->chunkDistances != nullptr ? noErr : memFullErr;
}

template <class Depth>
bool _FillSharedRows(const _MembraneWork<Depth>* work, _FastWork<Depth>* fast, const int32_t* ys,
                     const uint8_t* const* wanted, typename Depth::Sample* const* rows,
                     int32_t count) {
  _Chunk<Depth> chunk = {work, fast, ys, wanted, rows, count, {}, {}, {}, {}};
  for (int32_t k = 0; k < count; ++k) {
    int32_t first = 0, last = work->width - 1;
    if (wanted[k] != nullptr) {
      while (first < last && wanted[k][first] == 0) ++first;
      while (last > first && wanted[k][last] == 0) --last;
    }
    chunk.first[k] = first;
    chunk.last[k] = last;
    const int32_t parts = std::clamp((last - first + 1) / kSharedRowColumns, 1, fast->lanes);
    chunk.parts[k + 1] = chunk.parts[k] + parts;
  }
  RunFillTasks(fast->workers, 4, _QuadrantThroughRows<Depth>, &chunk);
  if (chunk.failed[0] || chunk.failed[1] || chunk.failed[2] || chunk.failed[3]) return false;
  RunFillTasks(fast->workers, chunk.parts[count], _RowStretch<Depth>, &chunk);
  return true;
}

template OSErr _AllocateSharedRows<_Depth8>(const _MembraneWork<_Depth8>*, _FastWork<_Depth8>*);
template OSErr _AllocateSharedRows<_Depth16>(const _MembraneWork<_Depth16>*, _FastWork<_Depth16>*);
template bool _FillSharedRows<_Depth8>(const _MembraneWork<_Depth8>*, _FastWork<_Depth8>*,
                                       const int32_t*, const uint8_t* const*, uint8_t* const*,
                                       int32_t);
template bool _FillSharedRows<_Depth16>(const _MembraneWork<_Depth16>*, _FastWork<_Depth16>*,
                                        const int32_t*, const uint8_t* const*, uint16_t* const*,
                                        int32_t);
