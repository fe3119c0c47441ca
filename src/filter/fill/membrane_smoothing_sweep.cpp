// The fast engine's eight smoothing passes in one sweep down the image, for images small enough
// that the whole smoothing takes a few tens of milliseconds: each row is read once, carried
// through the eight passes in rings of rows that stay in the processor's cache, and written
// once, instead of the whole image going through memory twice for every pass.
//
// The sweep reports nothing and cannot stop halfway; the caller reports every row of the passes
// before it starts, and a cancel among those reports is served by the passes one after the
// other, which leave the rows exactly where they would have stopped.
//
// On several threads an image in memory is swept in bands of rows, one to a thread: a band reads
// the kSweepPasses rows on either side of it too (each pass needs one more row of the one
// before), and holds back its own first and last kSweepPasses rows, which its neighbours read,
// until every band has ended.
#include <algorithm>
#include <cstring>

#include "filter/fill/membrane_fast.h"
#include "platform/memory.h"

namespace {

// Images of at most this many samples are smoothed in one sweep: their eight passes take at
// most a few tens of milliseconds, so reporting every row first holds nothing up that a user
// could see, and a cancel is still answered at once.
constexpr int64_t kSweepSamples = int64_t(1) << 26;
int64_t gSweepSamples = kSweepSamples;
uint32_t gSweepBandsLeft = 0;  // bands left as if their lanes were refused memory (tests)

// The sweep's levels: the rows read, then each pass's results. Each level keeps its last
// kSweepRing rows: the next level's block of four reads six of them, from one above the block to
// one below, and the level meanwhile makes its next four.
constexpr int32_t kSweepPasses = kLastSmoothingPass - kFirstSmoothingPass + 1;
constexpr int32_t kSweepLevels = kSweepPasses + 1;
constexpr int32_t kSweepRing = 12;

template <class Depth>
size_t _RowSamples(const _MembraneWork<Depth>* work) {
  return size_t(work->planes) * size_t(work->width);
}

// Rows a band has at least: its rows read twice, those on its edges, stay a small share.
constexpr int32_t kBandRows = 256;
// Samples below which one thread sweeps the whole image: the sweep takes a few milliseconds at
// most, and a second thread would spend much of that on getting the rows into its own cache.
constexpr int64_t kBandedSweepSamples = int64_t(1) << 22;
// Rows of a band's ring, and rows it holds back, in rows of the image.
constexpr int32_t kRingRows = kSweepLevels * kSweepRing;
constexpr int32_t kHeldRows = 2 * kSweepPasses;

}  // namespace

int64_t _SetSweepSamples(int64_t samples) {
  const int64_t before = gSweepSamples;
  gSweepSamples = samples < 0 ? kSweepSamples : samples;
  return before;
}

uint32_t _SetSweepBandsLeft(uint32_t bands) {
  const uint32_t before = gSweepBandsLeft;
  gSweepBandsLeft = bands;
  return before;
}

template <class Depth>
bool _SmoothsInOneSweep(const _MembraneWork<Depth>* work) {
  return int64_t(work->planes) * work->width * work->height <= gSweepSamples;
}

template <class Depth>
int32_t _SweepBands(const _MembraneWork<Depth>* work, int32_t lanes) {
  // Bands read and write the image from several threads at once, which only an image in memory
  // allows.
  if (lanes <= 1 || !_SmoothsInOneSweep(work) || work->image->dataHandle == nullptr ||
      int64_t(work->planes) * work->width * work->height < kBandedSweepSamples)
    return 1;
  return std::clamp(work->height / kBandRows, 1, lanes);
}

template <class Depth>
OSErr _AllocateSweep(const _MembraneWork<Depth>* work, _FastWork<Depth>* fast) {
  fast->sweep = nullptr;
  if (!_SmoothsInOneSweep(work)) return noErr;
  // The calling thread's ring, and the rows every band holds back. The other lanes take their
  // rings when they first sweep a band, on their own threads.
  const int32_t rows = kRingRows + (fast->sweepBands > 1 ? fast->sweepBands * kHeldRows : 0);
  fast->sweep = reinterpret_cast<typename Depth::Sample*>(
      NewPtr(Size(rows) * Size(_RowSamples(work)) * Depth::kSampleBytes));
  return fast->sweep != nullptr ? noErr : memFullErr;
}

// Row `row` of a level, rows above the image read as row 0 and below as the last row, as the
// passes one after the other read them.
template <class Depth>
struct _SweepRows {
  typename Depth::Sample* ring;
  size_t rowSamples;
  int32_t height;
  typename Depth::Sample* At(int32_t level, int32_t row) const {
    row = std::clamp(row, 0, height - 1);
    return ring + (size_t(level) * kSweepRing + size_t(row % kSweepRing)) * rowSamples;
  }
};

namespace {

// Where row r of the band b0 .. b1 - 1 (of an image `height` rows tall) is held back: its slot
// among the band's held rows (its first kSweepPasses, then its last), or -1 for a row that goes
// straight to the image (the band's inner rows, and its edge rows on the image's own edges).
int32_t _HeldSlot(int32_t r, int32_t b0, int32_t b1, int32_t height) {
  if (b0 > 0 && r < b0 + kSweepPasses) return r - b0;
  if (b1 < height && r >= b1 - kSweepPasses) return kSweepPasses + r - (b1 - kSweepPasses);
  return -1;
}

// One band: the rows b0 .. b1 - 1 after the eight passes. In each step the rows a0 .. a0 + 3 are
// read and pass k smooths the block of four rows that starts 4k rows higher: the rows of the
// level before that it needs (one above the block to one below) were made in this step or the
// ones before, and its ring still holds them. Pass k needs the rows within kSweepPasses - k of
// the band; blocks wholly outside them are passed over, and a row of a pass that reads rows
// the band never made is never read in turn. Rows of the band that `held` is given for, its
// first and last kSweepPasses but on the image's own edges, go there instead of to the image.
template <class Depth>
void _SweepBand(_MembraneWork<Depth>* work, typename Depth::Sample* ring, int32_t b0, int32_t b1,
                typename Depth::Sample* held) {
  using Sample = typename Depth::Sample;
  const int32_t height = work->height, width = work->width, planes = work->planes;
  const int32_t rowBytes = _ImageRowBytes(work);
  const size_t rowSamples = _RowSamples(work);
  const _SweepRows<Depth> rows = {ring, rowSamples, height};
  auto needFrom = [&](int32_t k) { return std::max(0, b0 - (kSweepPasses - k)); };
  auto needTo = [&](int32_t k) { return std::min(height, b1 + (kSweepPasses - k)); };
  for (int32_t a0 = needFrom(0) / 4 * 4; a0 - 4 * kSweepPasses < b1; a0 += 4) {
    for (int32_t r = a0; r < std::min(a0 + 4, needTo(0)); ++r)
      GetLine(work->image, 0, r, rowBytes, rows.At(0, r));
    for (int32_t k = 1; k <= kSweepPasses; ++k) {
      const int32_t a = a0 - 4 * k;
      if (a + 4 <= needFrom(k) || a >= needTo(k)) continue;
      if (a + 4 <= height) {
        const Sample* from[6];
        Sample* to[4];
        for (int32_t i = 0; i < 6; ++i) from[i] = rows.At(k - 1, a - 1 + i);
        for (int32_t i = 0; i < 4; ++i) to[i] = rows.At(k, a + i);
        _SmoothFourRowsFast<Depth>(from, to, width, planes);
      } else {
        for (int32_t r = a; r < height; ++r)
          _SmoothRowFast<Depth>(rows.At(k - 1, r - 1), rows.At(k - 1, r), rows.At(k - 1, r + 1),
                                rows.At(k, r), width, planes);
      }
      if (k < kSweepPasses) continue;
      for (int32_t r = std::max(a, b0); r < std::min({a + 4, b1, height}); ++r) {
        const int32_t slot = held != nullptr ? _HeldSlot(r, b0, b1, height) : -1;
        if (slot >= 0) {
          std::memcpy(held + size_t(slot) * rowSamples, rows.At(k, r), size_t(rowBytes));
        } else {
          PutLine(work->image, 0, r, rowBytes, rows.At(k, r));
        }
      }
    }
  }
}

template <class Depth>
struct _Bands {
  _MembraneWork<Depth>* work;
  _FastWork<Depth>* fast;
  bool left[kMaxFillThreads];  // a band whose lane had no ring: the calling thread sweeps it after
};

// Band b's rows, at multiples of four.
template <class Depth>
void _BandRows(const _MembraneWork<Depth>* work, int32_t bands, int32_t b, int32_t* b0,
               int32_t* b1) {
  *b0 = int32_t(int64_t(work->height) * b / bands) / 4 * 4;
  *b1 = b + 1 == bands ? work->height : int32_t(int64_t(work->height) * (b + 1) / bands) / 4 * 4;
}

template <class Depth>
typename Depth::Sample* _HeldRows(const _MembraneWork<Depth>* work, _FastWork<Depth>* fast,
                                  int32_t b) {
  return fast->sweep + (size_t(kRingRows) + size_t(b) * kHeldRows) * _RowSamples(work);
}

// Band b on `lane`: the calling thread's ring, or the lane's own, taken on first use from the
// lane's thread (so that the calling thread's memory is what a sweep on one thread takes).
template <class Depth>
void _SweepBandTask(void* context, int32_t b, int32_t lane) {
  auto* bands = static_cast<_Bands<Depth>*>(context);
  _MembraneWork<Depth>* work = bands->work;
  _FastWork<Depth>* fast = bands->fast;
  using Sample = typename Depth::Sample;
  Sample* ring = fast->sweep;
  if (b < 32 && (gSweepBandsLeft >> b & 1) != 0) {
    bands->left[b] = true;
    return;
  }
  if (lane > 0) {
    void*& own = fast->lane[lane].sweepRing;
    if (own == nullptr)
      own = NewPtr(Size(kRingRows) * Size(_RowSamples(work)) * Depth::kSampleBytes);
    if (own == nullptr) {
      bands->left[b] = true;
      return;
    }
    ring = static_cast<Sample*>(own);
  }
  int32_t b0, b1;
  _BandRows(work, fast->sweepBands, b, &b0, &b1);
  _SweepBand(work, ring, b0, b1, _HeldRows(work, fast, b));
}

}  // namespace

template <class Depth>
void _SmoothInOneSweep(_MembraneWork<Depth>* work, _FastWork<Depth>* fast) {
  const int32_t bands = fast->sweepBands;
  if (bands <= 1) {
    _SweepBand(work, fast->sweep, 0, work->height, nullptr);
    return;
  }
  _Bands<Depth> context = {work, fast, {}};
  SetFillLanes(fast->workers, bands);
  RunFillTasks(fast->workers, bands, _SweepBandTask<Depth>, &context);
  SetFillLanes(fast->workers, fast->lanes);
  // A band left for want of memory, swept now with the calling thread's ring, holds back its
  // edge rows too: a neighbour may be left as well.
  for (int32_t b = 0; b < bands; ++b) {
    if (!context.left[b]) continue;
    int32_t b0, b1;
    _BandRows(work, bands, b, &b0, &b1);
    _SweepBand(work, fast->sweep, b0, b1, _HeldRows(work, fast, b));
  }
  // The rows that the bands held back, now that no band reads them.
  const int32_t rowBytes = _ImageRowBytes(work);
  for (int32_t b = 0; b < bands; ++b) {
    int32_t b0, b1;
    _BandRows(work, bands, b, &b0, &b1);
    const typename Depth::Sample* held = _HeldRows(work, fast, b);
    for (int32_t r = b0; r < b1; ++r) {
      const int32_t slot = _HeldSlot(r, b0, b1, work->height);
      if (slot < 0) continue;
      PutLine(work->image, 0, r, rowBytes, held + size_t(slot) * _RowSamples(work));
    }
  }
}

template bool _SmoothsInOneSweep<_Depth8>(const _MembraneWork<_Depth8>*);
template bool _SmoothsInOneSweep<_Depth16>(const _MembraneWork<_Depth16>*);
template int32_t _SweepBands<_Depth8>(const _MembraneWork<_Depth8>*, int32_t);
template int32_t _SweepBands<_Depth16>(const _MembraneWork<_Depth16>*, int32_t);
template OSErr _AllocateSweep<_Depth8>(const _MembraneWork<_Depth8>*, _FastWork<_Depth8>*);
template OSErr _AllocateSweep<_Depth16>(const _MembraneWork<_Depth16>*, _FastWork<_Depth16>*);
template void _SmoothInOneSweep<_Depth8>(_MembraneWork<_Depth8>*, _FastWork<_Depth8>*);
template void _SmoothInOneSweep<_Depth16>(_MembraneWork<_Depth16>*, _FastWork<_Depth16>*);
