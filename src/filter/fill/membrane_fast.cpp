// The fast membrane engine: the same steps as the reference engine, with the nearest edge point
// of each sector found by the winner search (sector_search.h) instead of by visiting every point,
// and with rows computed in parallel blocks while the host's thread keeps every row read and
// write, progress report and cancel test, in order.
#include "filter/fill/membrane_fast.h"

#include <algorithm>

#include "platform/memory.h"

namespace {

template <class Depth>
void _ReleaseFast(_FastWork<Depth>* fast) {
  StopFillWorkers(fast->workers);
  fast->workers = nullptr;
  for (_FillLane& lane : fast->lane) {
    DisposeTileLane(lane.tiles);
    DisposePtr(reinterpret_cast<Ptr>(lane.winners));
    DisposePtr(reinterpret_cast<Ptr>(lane.distances));
    DisposePtr(reinterpret_cast<Ptr>(lane.sweepRing));
    lane = {};
  }
  DisposeSectorSearch(fast->search);
  fast->search = nullptr;
  DisposeFrameWinners(fast->frame);
  fast->frame = nullptr;
  DisposeTileSearch(fast->tiles);
  DisposePtr(reinterpret_cast<Ptr>(fast->tileList));
  fast->tiles = nullptr;
  fast->tileList = nullptr;
  DisposePtr(reinterpret_cast<Ptr>(fast->chunkWinners));
  DisposePtr(reinterpret_cast<Ptr>(fast->chunkDistances));
  fast->chunkWinners = fast->chunkDistances = nullptr;
  DisposePtr(reinterpret_cast<Ptr>(fast->in));
  DisposePtr(reinterpret_cast<Ptr>(fast->out));
  DisposePtr(reinterpret_cast<Ptr>(fast->sweep));
  fast->sweep = nullptr;
  DisposePtr(reinterpret_cast<Ptr>(fast->masks));
  DisposePtr(reinterpret_cast<Ptr>(fast->xs));
  DisposePtr(reinterpret_cast<Ptr>(fast->ys));
  fast->in = fast->out = nullptr;
  fast->masks = nullptr;
  fast->xs = fast->ys = nullptr;
}

// The columns of a row asked of the search at once.
template <class Depth>
int32_t _SpanColumns(const _MembraneWork<Depth>* work) {
  return std::min(work->width, kRowSpan);
}

// Takes the threads (`lanes` for the fill, `bands` for the smoothing's sweep), the round
// buffers and, when there are edge points, the search (by tiles or by rows, one search read by
// every lane, with a lane's buffers each). All of it is had before the image is touched.
// Returns 0, or -108 when anything could not be had.
template <class Depth>
OSErr _AllocateFast(const _MembraneWork<Depth>* work, _FastWork<Depth>* fast, int32_t lanes,
                    int32_t bands, bool byTiles) {
  if (StartFillWorkers(std::max(lanes, bands), &fast->workers) != noErr) return memFullErr;
  fast->lanes = std::min(lanes, FillWorkerCount(fast->workers));
  fast->sweepBands = std::min(bands, FillWorkerCount(fast->workers));
  SetFillLanes(fast->workers, fast->lanes);
  fast->blockRows = kFastBlockRows;
  fast->roundRows = fast->lanes * fast->blockRows;
  // The fill by tiles places its bands where the holes are: taller rounds cut fewer holes.
  if (byTiles) fast->roundRows = std::max(fast->roundRows, kTileRoundRows);
  const Size rowBytes = Size(_ImageRowBytes(work));
  fast->in =
      reinterpret_cast<typename Depth::Sample*>(NewPtrClear((fast->roundRows + 2) * rowBytes));
  fast->out = reinterpret_cast<typename Depth::Sample*>(NewPtrClear(fast->roundRows * rowBytes));
  fast->masks = reinterpret_cast<uint8_t*>(NewPtrClear(Size(fast->roundRows) * work->width));
  if (!fast->in || !fast->out || !fast->masks) return memFullErr;
  if (_AllocateSweep(work, fast) != noErr) return memFullErr;
  if (work->count == 0 || work->height < 3) return noErr;  // no fill pass

  fast->xs = reinterpret_cast<uint16_t*>(NewPtr(Size(work->count) * 2));
  fast->ys = reinterpret_cast<uint16_t*>(NewPtr(Size(work->count) * 2));
  if (!fast->xs || !fast->ys) return memFullErr;
  for (int32_t i = 0; i < work->count; ++i) {
    fast->xs[i] = work->points[i].x;
    fast->ys[i] = work->points[i].y;
  }
  if (byTiles) return _AllocateTiles(work, fast);
  if (_MakeFrameWinners(work, &fast->frame) != noErr) return memFullErr;
  // Room for a span's slots: from the ring 32 to a pixel, from the search by sector with the
  // margins. (The ring's winners are written and read 5-10 % faster in blocks of exactly their
  // size: a layout effect, measured.)
  const int32_t span = _SpanColumns(work);
  const Size slotBytes = Size(fast->frame ? span : SlotRowLength(span)) * kSearchSectors * 4;
  for (int32_t j = 0; j < fast->lanes; ++j) {
    _FillLane& lane = fast->lane[j];
    lane.winners = reinterpret_cast<int32_t*>(NewPtr(slotBytes));
    lane.distances = reinterpret_cast<int32_t*>(NewPtr(slotBytes));
    if (!lane.winners || !lane.distances) return memFullErr;
  }
  if (fast->frame != nullptr) return noErr;
  if (fast->lanes > 1 && _AllocateSharedRows(work, fast) != noErr) return memFullErr;
  return MakeSectorSearch(fast->xs, fast->ys, work->count, work->width, work->height, &fast->search,
                          fast->workers) == noErr
             ? noErr
             : memFullErr;
}

template <class Depth>
struct _FillRound {
  const _MembraneWork<Depth>* work;
  _FastWork<Depth>* fast;
  int32_t firstRow;  // image row of the round's row 0
  int32_t rows;
  bool toFill[kMaxFillThreads * kFastBlockRows];  // row i has a pixel to fill and was read
};

// One row of the fill by rows: its pixels to fill lie in columns first .. last, divided into
// `parts` stretches, one per task.
template <class Depth>
struct _RowParts {
  const _MembraneWork<Depth>* work;
  _FastWork<Depth>* fast;
  int32_t y;
  const uint8_t* wanted;  // null: every pixel
  typename Depth::Sample* row;
  int32_t first, last, parts;
};

// Task `part` of a row: its stretch of columns, asked of the search in spans of kRowSpan, each
// span's pixels worked out while its winners are still in the processor's cache.
template <class Depth>
void _FillRowPart(void* context, int32_t part, int32_t laneIndex) {
  const auto* task = static_cast<const _RowParts<Depth>*>(context);
  const _MembraneWork<Depth>* work = task->work;
  const _FillLane& lane = task->fast->lane[laneIndex];
  const SectorSearch* search = task->fast->search;
  const int64_t columns = int64_t(task->last) - task->first + 1;
  const int32_t begin = task->first + int32_t(columns * part / task->parts);
  const int32_t end = task->first + int32_t(columns * (part + 1) / task->parts);
  for (int32_t x0 = begin; x0 < end; x0 += kRowSpan) {
    const int32_t x1 = std::min(end, x0 + kRowSpan) - 1;
    SectorSlots slots;
    if (task->fast->frame != nullptr) {
      FindFrameRowWinners(task->fast->frame, task->y, x0, x1, lane.winners, lane.distances);
      slots = SlotsOfPixels(lane.winners, lane.distances);
    } else if (search == nullptr) {
      for (int32_t x = x0; x <= x1; ++x)
        if (task->wanted == nullptr || task->wanted[x] != 0)
          _FillPixelByVisit(work, x, task->y, task->row + work->planes * x);
      continue;
    } else {
      // One slot to a column: the search writes each sector's winners eight columns at a time.
      slots = SlotsOfColumns(lane.winners, lane.distances, _SpanColumns(work));
      CollectRowSlots(search, task->y, x0, x1, task->wanted, slots);
    }
    int32_t offsets[kRowSpan];
    typename Depth::Sample* pixels[kRowSpan];
    int32_t count = 0;
    for (int32_t x = x0; x <= x1; ++x) {
      if (task->wanted != nullptr && task->wanted[x] == 0) continue;
      offsets[count] = slots.pitch * (x - x0);
      pixels[count++] = task->row + work->planes * x;
    }
    _PixelsFromSlots(work, count, slots, offsets, pixels);
  }
}

// Fills one row in place, on one lane, or once the search is gone by visiting every point.
// `wanted` flags the pixels to fill (null: every pixel). The host's thread brings the search to
// the row; a row with enough pixels to fill is then divided between the lanes by columns. (On
// several lanes with a search the rows go through membrane_shared_rows.cpp instead.)
template <class Depth>
void _FillRow(const _MembraneWork<Depth>* work, _FastWork<Depth>* fast, int32_t y,
              const uint8_t* wanted, typename Depth::Sample* row) {
  _RowParts<Depth> task = {work, fast, y, wanted, row, 0, work->width - 1, 1};
  if (wanted != nullptr) {
    while (task.first <= task.last && wanted[task.first] == 0) ++task.first;
    while (task.last >= task.first && wanted[task.last] == 0) --task.last;
    if (task.first > task.last) return;
  }
  if (fast->search != nullptr && AdvanceSearch(fast->search, y) != noErr) {
    // Short of memory mid-fill: rows already written cannot be taken back, so the fill goes on
    // by visiting every point, which gives the same values.
    DisposeSectorSearch(fast->search);
    fast->search = nullptr;
  }
  task.parts = std::clamp((task.last - task.first + 1) / kSharedRowColumns, 1, fast->lanes);
  RunFillTasks(fast->workers, task.parts, _FillRowPart<Depth>, &task);
}

// Task `i` of a round without a selection: the whole of round row i, from the ring's winners,
// which every lane reads and none changes.
template <class Depth>
void _FillFrameRow(void* context, int32_t i, int32_t laneIndex) {
  const auto* round = static_cast<const _FillRound<Depth>*>(context);
  const _MembraneWork<Depth>* work = round->work;
  const size_t rowSamples = size_t(work->planes) * size_t(work->width);
  _RowParts<Depth> task = {work,
                           round->fast,
                           round->firstRow + i,
                           nullptr,
                           round->fast->in + size_t(i) * rowSamples,
                           0,
                           work->width - 1,
                           1};
  _FillRowPart<Depth>(&task, 0, laneIndex);
}

// Fills the round's rows, in order, on the host's thread (sharing wide rows with the lanes);
// without a selection the lanes take whole rows, one wake for the round rather than for each row.
template <class Depth>
void _FillBlock(_FillRound<Depth>* round) {
  const _MembraneWork<Depth>* work = round->work;
  _FastWork<Depth>* fast = round->fast;
  const size_t rowSamples = size_t(work->planes) * size_t(work->width);
  if (fast->frame != nullptr) {
    RunFillTasks(fast->workers, round->rows, _FillFrameRow<Depth>, round);
    return;
  }
  int32_t ys[kMaxFillThreads * kFastBlockRows];
  uint8_t* wanted[kMaxFillThreads * kFastBlockRows];
  typename Depth::Sample* rows[kMaxFillThreads * kFastBlockRows];
  int32_t count = 0;
  for (int32_t i = 0; i < round->rows; ++i) {
    if (!round->toFill[i]) continue;
    ys[count] = round->firstRow + i;
    wanted[count] = nullptr;
    if (work->selection) {
      wanted[count] = fast->masks + size_t(i) * size_t(work->width);
      for (int32_t x = 0; x < work->width; ++x) wanted[count][x] = _IsSelected(wanted[count][x]);
    }
    rows[count++] = fast->in + size_t(i) * rowSamples;
  }
  for (int32_t k = 0; k < count;) {
    if (fast->search != nullptr && fast->chunkWinners != nullptr) {
      const int32_t n = std::min(fast->chunkRows, count - k);
      if (_FillSharedRows(work, fast, ys + k, wanted + k, rows + k, n)) {
        k += n;
        continue;
      }
      // Short of memory mid-fill: the rows go on by visiting every point, as _FillRow does.
      DisposeSectorSearch(fast->search);
      fast->search = nullptr;
    }
    _FillRow(work, fast, ys[k], wanted[k], rows[k]);
    ++k;
  }
}

// True when a selection-mask row selects a pixel: some byte has its top bit set (is at least
// kSelectedThreshold). One pass of ORs over the row, which the compiler vectorises.
inline bool _AnySelected(const uint8_t* mask, int32_t width) {
  static_assert(kSelectedThreshold == 0x80, "the test reads the top bit");
  uint8_t any = 0;
  for (int32_t x = 0; x < width; ++x) any |= mask[x];
  return (any & 0x80) != 0;
}

// Refills the selected pixels (all pixels without a selection) of rows 1 .. height - 2. A row
// with no selected pixel is neither read nor written: it would be written back unchanged. Its
// progress report and cancel test still come in their turn.
// One search serves every lane: the host's thread brings it from row to row, in increasing
// order, and the lanes share out the columns of each wide row, so no step of the search is made
// twice.
template <class Depth>
OSErr _FastFillPass(_MembraneWork<Depth>* work, _FastWork<Depth>* fast) {
  const int32_t rowBytes = _ImageRowBytes(work);
  const size_t rowSamples = size_t(work->planes) * size_t(work->width);
  for (int32_t y0 = 1; y0 < work->height - 1; y0 += fast->blockRows) {
    _FillRound<Depth> round = {
        work, fast, y0, std::min(fast->blockRows, work->height - 1 - y0), {}};
    for (int32_t i = 0; i < round.rows; ++i) {
      bool toFill = true;
      if (work->selection) {
        uint8_t* mask = fast->masks + size_t(i) * size_t(work->width);
        GetLine(work->selection, 0, y0 + i, work->width, mask);
        toFill = _AnySelected(mask, work->width);
      }
      round.toFill[i] = toFill;
      if (toFill) GetLine(work->image, 0, y0 + i, rowBytes, fast->in + size_t(i) * rowSamples);
    }
    _FillBlock(&round);
    for (int32_t i = 0; i < round.rows; ++i) {
      const int32_t y = y0 + i;
      if (_Cancelled(work, y + work->height + work->progressShift)) return userCanceledErr;
      if (round.toFill[i]) PutLine(work->image, 0, y, rowBytes, fast->in + size_t(i) * rowSamples);
    }
  }
  return noErr;
}

}  // namespace

bool _FillByTiles(bool haveSelection, int64_t filled, int32_t count) {
  // The fill by rows costs about the same for each row of the edge points' span whatever is
  // filled there; the fill by tiles costs about the same for each pixel and each of its sectors'
  // candidates, which grow with the distance to the edge. Holes whose pixels are on average
  // within a few pixels of the edge go by tiles.
  return haveSelection && filled <= kTilesPerEdgePoint * int64_t(count);
}

// Pixels to fill that make a lane worth waking: by tiles, and without a selection (whole rows).
// Where the host has more than two threads the tiles take a lane for every quarter of that: a
// few thousand pixels of dust then spread over the free processors (80 specks on eight, from
// each task's time: 1.4× where one lane gave nothing), while two threads keep the lanes whose
// processor time stays that of one.
constexpr int64_t kTilePixelsPerLane = 4096;
constexpr int64_t kRingPixelsPerLane = 65536;

// The rows that the edge points span.
template <class Depth>
int32_t _EdgeRows(const _MembraneWork<Depth>* work) {
  int32_t top = work->height, bottom = -1;
  for (int32_t i = 0; i < work->count; ++i) {
    top = std::min<int32_t>(top, work->points[i].y);
    bottom = std::max<int32_t>(bottom, work->points[i].y);
  }
  return std::max(1, bottom - top + 1);
}

// The threads a fill takes when the host leaves the count to the engine (`wanted` at most): a
// lane pays only where the work divides and there is enough of it that waking a thread costs
// little. Tiles divide by the few thousand pixels, rows without a selection whole, rows of a
// selection when they have a few hundred pixels each to fill, and the smoothing only in rounds,
// for images too large for the sweep.
template <class Depth>
int32_t _LanesWorthHaving(const _MembraneWork<Depth>* work, int64_t filled, bool byTiles,
                          int32_t wanted) {
  if (wanted <= 1 || !_SmoothsInOneSweep(work)) return wanted;
  if (byTiles)
    return int32_t(std::clamp<int64_t>(
        filled / (wanted > 2 ? kTilePixelsPerLane / 4 : kTilePixelsPerLane), 1, wanted));
  if (work->selection == nullptr) return filled >= kRingPixelsPerLane ? wanted : 1;
  return filled >= kSharedRowPixels * _EdgeRows(work) ? wanted : 1;
}

template <class Depth>
int32_t _MembraneFillFast(NamedImage* image, RunRecord* record, int32_t threads) {
  _MembraneWork<Depth> work;
  OSErr err = _SetUpWork(&work, image, record);
  if (err != noErr || work.width < 1 || work.height < 1) return err;
  _FastWork<Depth> fast = {};
  int64_t filled = 0;
  err = _AllocateWork(&work);
  if (err == noErr) err = _FastFindEdgePoints(&work, &filled);
  const bool byTiles = _FillByTiles(work.selection != nullptr, filled, work.count);
  const int32_t wanted = threads > 0 ? threads : FillThreadsWanted();
  if (err == noErr)
    err = _AllocateFast(&work, &fast,
                        threads > 0 ? threads : _LanesWorthHaving(&work, filled, byTiles, wanted),
                        _SweepBands(&work, wanted), byTiles);
  if (err == noErr && work.count > 0)
    err = byTiles ? _FastFillTiles(&work, &fast) : _FastFillPass(&work, &fast);
  if (err == noErr) err = _FastSmoothingPasses(&work, &fast);
  _ReleaseFast(&fast);
  _ReleaseWork(&work);
  return err;
}

int32_t _MembraneFillFast8(NamedImage* image, RunRecord* record, int32_t threads) {
  return _MembraneFillFast<_Depth8>(image, record, threads);
}

int32_t _MembraneFillFast16(NamedImage* image, RunRecord* record, int32_t threads) {
  return _MembraneFillFast<_Depth16>(image, record, threads);
}

template int32_t _MembraneFillFast<_Depth8>(NamedImage*, RunRecord*, int32_t);
template int32_t _MembraneFillFast<_Depth16>(NamedImage*, RunRecord*, int32_t);
