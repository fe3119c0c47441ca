// The fast engine's eight smoothing passes in one sweep down the image, for images small enough
// that the whole smoothing takes a few tens of milliseconds: each row is read once, carried
// through the eight passes in rings of rows that stay in the processor's cache, and written
// once, instead of the whole image going through memory twice for every pass.
//
// The sweep reports nothing and cannot stop halfway; the caller reports every row of the passes
// before it starts, and a cancel among those reports is served by the passes one after the
// other, which leave the rows exactly where they would have stopped.
#include <algorithm>

#include "filter/fill/membrane_fast.h"
#include "platform/memory.h"

namespace {

// Images of at most this many samples are smoothed in one sweep: their eight passes take at
// most a few tens of milliseconds, so reporting every row first holds nothing up that a user
// could see, and a cancel is still answered at once.
constexpr int64_t kSweepSamples = int64_t(1) << 26;
int64_t gSweepSamples = kSweepSamples;

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

}  // namespace

int64_t _SetSweepSamples(int64_t samples) {
  const int64_t before = gSweepSamples;
  gSweepSamples = samples < 0 ? kSweepSamples : samples;
  return before;
}

template <class Depth>
bool _SmoothsInOneSweep(const _MembraneWork<Depth>* work) {
  return int64_t(work->planes) * work->width * work->height <= gSweepSamples;
}

template <class Depth>
OSErr _AllocateSweep(const _MembraneWork<Depth>* work, _FastWork<Depth>* fast) {
  fast->sweep = nullptr;
  if (!_SmoothsInOneSweep(work)) return noErr;
  fast->sweep = reinterpret_cast<typename Depth::Sample*>(
      NewPtr(Size(kSweepLevels * kSweepRing) * Size(_RowSamples(work)) * Depth::kSampleBytes));
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

// In each step the rows a0 .. a0 + 3 are read and pass k smooths the block of four rows that
// starts 4k rows higher: the rows of the level before that it needs (one above the block to
// one below) were made in this step or the ones before, and its ring still holds them.
template <class Depth>
void _SmoothInOneSweep(_MembraneWork<Depth>* work, _FastWork<Depth>* fast) {
  using Sample = typename Depth::Sample;
  const int32_t height = work->height, width = work->width, planes = work->planes;
  const int32_t rowBytes = _ImageRowBytes(work);
  const _SweepRows<Depth> rows = {fast->sweep, _RowSamples(work), height};
  for (int32_t a0 = 0; a0 - 4 * kSweepPasses < height; a0 += 4) {
    for (int32_t r = a0; r < std::min(a0 + 4, height); ++r)
      GetLine(work->image, 0, r, rowBytes, rows.At(0, r));
    for (int32_t k = 1; k <= kSweepPasses; ++k) {
      const int32_t a = a0 - 4 * k;
      if (a < 0 || a >= height) continue;
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
      if (k == kSweepPasses)
        for (int32_t r = a; r < std::min(a + 4, height); ++r)
          PutLine(work->image, 0, r, rowBytes, rows.At(k, r));
    }
  }
}

template bool _SmoothsInOneSweep<_Depth8>(const _MembraneWork<_Depth8>*);
template bool _SmoothsInOneSweep<_Depth16>(const _MembraneWork<_Depth16>*);
template OSErr _AllocateSweep<_Depth8>(const _MembraneWork<_Depth8>*, _FastWork<_Depth8>*);
template OSErr _AllocateSweep<_Depth16>(const _MembraneWork<_Depth16>*, _FastWork<_Depth16>*);
template void _SmoothInOneSweep<_Depth8>(_MembraneWork<_Depth8>*, _FastWork<_Depth8>*);
template void _SmoothInOneSweep<_Depth16>(_MembraneWork<_Depth16>*, _FastWork<_Depth16>*);
