// The fast engine's smoothing passes: the same 3×3 means as the reference engine, with the
// interior of a row summed without tests for the sides (a loop the compiler turns into vector
// code), four rows at a time sharing their sums, and the rows of each round smoothed on the
// fill's worker threads.
#include <algorithm>
#include <cstring>

#include "filter/fill/membrane_fast.h"

namespace {

template <class Sample>
struct _SumOf;
template <>
struct _SumOf<uint8_t> {
  using Type = uint16_t;  // 9 × 255 fits
};
template <>
struct _SumOf<uint16_t> {
  using Type = uint32_t;  // 9 × 65535 fits
};

// A sum of nine samples divided by 9, truncated. 8-bit sums divide as integers, which the
// compiler does with a multiply-high on 16-bit lanes. 32-bit lanes have no such multiply before
// AVX-512 and would be divided one by one, so 16-bit sums (at most 589815) go through single
// precision: s + 0.5 is exact, and (s + 0.5) × fl(1/9) lies within 0.008 of (s + 0.5) / 9, whose
// fraction is between 0.055 and 0.945, so truncating gives s / 9 exactly. Each step is one
// correctly rounded IEEE operation, so the vector width the compiler picks changes no bit.
inline uint8_t _MeanOfNine(uint16_t sum) { return uint8_t(sum / 9); }
inline uint16_t _MeanOfNine(uint32_t sum) {
  return uint16_t(int32_t((float(int32_t(sum)) + 0.5f) * (1.0f / 9.0f)));
}

// The first and last pixel of a row: the 3 × 2 mean, or for a one-pixel-wide row the 3 × 1 one.
template <class Sample, int32_t N>
inline void _SmoothSides(const Sample* top, const Sample* middle, const Sample* bottom, Sample* out,
                         int32_t width) {
  if (width == 1) {
    for (int32_t s = 0; s < N; ++s) out[s] = Sample((top[s] + middle[s] + bottom[s]) / 3);
    return;
  }
  const int32_t last = (width - 1) * N;  // first sample of the last pixel
  for (int32_t s = 0; s < N; ++s) {
    out[s] =
        Sample((top[s] + middle[s] + bottom[s] + top[s + N] + middle[s + N] + bottom[s + N]) / 6);
    const int32_t i = last + s;
    out[i] =
        Sample((top[i - N] + middle[i - N] + bottom[i - N] + top[i] + middle[i] + bottom[i]) / 6);
  }
}

// One row for N samples per pixel, N known to the compiler: the interior is one loop of exact
// integer sums without tests for the sides, which the compiler turns into vector code. The rows
// never overlap.
template <class Sample, int32_t N>
__attribute__((always_inline)) inline void _SmoothRowOf(const Sample* __restrict top,
                                                        const Sample* __restrict middle,
                                                        const Sample* __restrict bottom,
                                                        Sample* __restrict out, int32_t width) {
  using Sum = typename _SumOf<Sample>::Type;
  _SmoothSides<Sample, N>(top, middle, bottom, out, width);
  for (int32_t i = N; i < (width - 1) * N; ++i)
    out[i] = _MeanOfNine(Sum(Sum(top[i - N]) + top[i] + top[i + N] + middle[i - N] + middle[i] +
                             middle[i + N] + bottom[i - N] + bottom[i] + bottom[i + N]));
}

// Triple sum of sample i and its neighbours N samples to each side, widened.
template <class Sample, int32_t N>
__attribute__((always_inline)) inline typename _SumOf<Sample>::Type _Across(const Sample* row,
                                                                            int32_t i) {
  using Sum = typename _SumOf<Sample>::Type;
  return Sum(Sum(row[i - N]) + row[i] + row[i + N]);
}

// Four neighbouring rows at once: out0 .. out3 from source rows r0 .. r5 (out k from rows k,
// k + 1, k + 2). Each source row's triple sums are loaded and added once and shared by the
// outputs that need them: 18 loads for four outputs instead of 36.
template <class Sample, int32_t N>
__attribute__((always_inline)) inline void _SmoothFourRowsOf(
    const Sample* __restrict r0, const Sample* __restrict r1, const Sample* __restrict r2,
    const Sample* __restrict r3, const Sample* __restrict r4, const Sample* __restrict r5,
    Sample* __restrict out0, Sample* __restrict out1, Sample* __restrict out2,
    Sample* __restrict out3, int32_t width) {
  using Sum = typename _SumOf<Sample>::Type;
  _SmoothSides<Sample, N>(r0, r1, r2, out0, width);
  _SmoothSides<Sample, N>(r1, r2, r3, out1, width);
  _SmoothSides<Sample, N>(r2, r3, r4, out2, width);
  _SmoothSides<Sample, N>(r3, r4, r5, out3, width);
  for (int32_t i = N; i < (width - 1) * N; ++i) {
    const Sum a1 = _Across<Sample, N>(r1, i), a2 = _Across<Sample, N>(r2, i);
    const Sum a3 = _Across<Sample, N>(r3, i), a4 = _Across<Sample, N>(r4, i);
    const Sum middle12 = Sum(a1 + a2), middle34 = Sum(a3 + a4);
    out0[i] = _MeanOfNine(Sum(_Across<Sample, N>(r0, i) + middle12));
    out1[i] = _MeanOfNine(Sum(middle12 + a3));
    out2[i] = _MeanOfNine(Sum(a2 + middle34));
    out3[i] = _MeanOfNine(Sum(middle34 + _Across<Sample, N>(r5, i)));
  }
}

// The row kernels, one and four rows at a time for each depth and 1 or 3 samples per pixel, each
// built for AVX-512 (x86-64-v4: 16-bit sums 32 to a vector, the 16-bit depth's single-precision
// steps 16 at a time; the 80 specks' passes 10 % faster at 8 bits, 22 % at 16), for AVX2 and for
// the baseline processor; the loader picks one once. The build never contracts a multiply and an
// add into one step, so all three give the same bits.
#define AREAFILL_ROW_KERNELS(name, Sample, N)                                                  \
  __attribute__((target_clones("arch=x86-64-v4", "avx2", "default"))) void name(               \
      const Sample* __restrict top, const Sample* __restrict middle,                           \
      const Sample* __restrict bottom, Sample* __restrict out, int32_t width) {                \
    _SmoothRowOf<Sample, N>(top, middle, bottom, out, width);                                  \
  }                                                                                            \
  __attribute__((target_clones("arch=x86-64-v4", "avx2", "default"))) void name##Four(         \
      const Sample* const* rows, Sample* const* out, int32_t width) {                          \
    _SmoothFourRowsOf<Sample, N>(rows[0], rows[1], rows[2], rows[3], rows[4], rows[5], out[0], \
                                 out[1], out[2], out[3], width);                               \
  }
AREAFILL_ROW_KERNELS(_SmoothGrey8, uint8_t, 1)
AREAFILL_ROW_KERNELS(_SmoothRGB8, uint8_t, 3)
AREAFILL_ROW_KERNELS(_SmoothGrey16, uint16_t, 1)
AREAFILL_ROW_KERNELS(_SmoothRGB16, uint16_t, 3)
#undef AREAFILL_ROW_KERNELS

inline void _SmoothRowPicked(const uint8_t* top, const uint8_t* middle, const uint8_t* bottom,
                             uint8_t* out, int32_t width, int32_t planes) {
  if (planes == 3)
    _SmoothRGB8(top, middle, bottom, out, width);
  else
    _SmoothGrey8(top, middle, bottom, out, width);
}

inline void _SmoothRowPicked(const uint16_t* top, const uint16_t* middle, const uint16_t* bottom,
                             uint16_t* out, int32_t width, int32_t planes) {
  if (planes == 3)
    _SmoothRGB16(top, middle, bottom, out, width);
  else
    _SmoothGrey16(top, middle, bottom, out, width);
}

inline void _SmoothFourRowsPicked(const uint8_t* const* rows, uint8_t* const* out, int32_t width,
                                  int32_t planes) {
  if (planes == 3)
    _SmoothRGB8Four(rows, out, width);
  else
    _SmoothGrey8Four(rows, out, width);
}

inline void _SmoothFourRowsPicked(const uint16_t* const* rows, uint16_t* const* out, int32_t width,
                                  int32_t planes) {
  if (planes == 3)
    _SmoothRGB16Four(rows, out, width);
  else
    _SmoothGrey16Four(rows, out, width);
}

template <class Depth>
struct _SmoothRound {
  using Sample = typename Depth::Sample;
  const _MembraneWork<Depth>* work;
  const _FastWork<Depth>* fast;
  Sample* const* source;  // rows + 2 source rows: the two above the round's first, then its own
  int32_t rows;           // rows in this round
};

// Smooths block `block` of the round: output row i from source rows i, i + 1, i + 2, four rows
// at a time while four are left.
template <class Depth>
void _SmoothBlock(void* context, int32_t block, int32_t) {
  const auto* round = static_cast<const _SmoothRound<Depth>*>(context);
  const _MembraneWork<Depth>* work = round->work;
  const _FastWork<Depth>* fast = round->fast;
  const size_t rowSamples = size_t(work->planes) * size_t(work->width);
  const int32_t end = std::min(round->rows, (block + 1) * fast->blockRows);
  int32_t i = block * fast->blockRows;
  for (; i + 3 < end; i += 4) {
    typename Depth::Sample* out[4];
    for (int32_t k = 0; k < 4; ++k) out[k] = fast->out + size_t(i + k) * rowSamples;
    _SmoothFourRowsPicked(round->source + i, out, work->width, work->planes);
  }
  for (; i < end; ++i)
    _SmoothRowPicked(round->source[i], round->source[i + 1], round->source[i + 2],
                     fast->out + size_t(i) * rowSamples, work->width, work->planes);
}

}  // namespace

template <class Depth>
void _SmoothFourRowsFast(const typename Depth::Sample* const* rows,
                         typename Depth::Sample* const* out, int32_t width, int32_t planes) {
  _SmoothFourRowsPicked(rows, out, width, planes);
}

template <class Depth>
void _SmoothRowFast(const typename Depth::Sample* top, const typename Depth::Sample* middle,
                    const typename Depth::Sample* bottom, typename Depth::Sample* out,
                    int32_t width, int32_t planes) {
  _SmoothRowPicked(top, middle, bottom, out, width, planes);
}

// A round is shared between the threads when it holds at least this many samples: a smaller
// one is smoothed in less time than waking the threads and waiting for them takes.
constexpr int64_t kSharedRoundSamples = int64_t(1) << 18;

// In each round the rows to write are read first (with the two rows above them, kept from the
// round before), so every source row holds the previous pass's values: rows are written only
// after every row the round needs has been read. Row -1 is row 0 and row height is row
// height - 1, read again as the reference engine reads them. The source rows are a ring of
// pointers into fast->in: the round's last two rows become the next round's first two by
// rotating the pointers, not by copying.
// With `report`, each row is reported and tested for cancel before it is written; without, the
// passes report nothing and stop once `rowsToWrite` rows (counted over all passes) are written.
template <class Depth>
OSErr _SmoothInRounds(_MembraneWork<Depth>* work, _FastWork<Depth>* fast, bool report,
                      int64_t rowsToWrite) {
  using Sample = typename Depth::Sample;
  const int32_t rowBytes = _ImageRowBytes(work);
  const size_t rowSamples = size_t(work->planes) * size_t(work->width);
  const int32_t height = work->height;
  const int32_t ring = fast->roundRows + 2;
  Sample* source[kMaxFillThreads * kFastBlockRows + 2];
  static_assert(kFastBlockRows % 4 == 0, "blocks are smoothed four rows at a time");
  for (int32_t i = 0; i < ring; ++i) source[i] = fast->in + size_t(i) * rowSamples;
  int64_t written = 0;
  for (int32_t pass = kFirstSmoothingPass; pass <= kLastSmoothingPass; ++pass) {
    GetLine(work->image, 0, 0, rowBytes, source[0]);
    std::memcpy(source[1], source[0], size_t(rowBytes));
    for (int32_t y0 = 0; y0 < height; y0 += fast->roundRows) {
      _SmoothRound<Depth> round = {work, fast, source, std::min(fast->roundRows, height - y0)};
      for (int32_t i = 0; i < round.rows; ++i)
        GetLine(work->image, 0, std::min(y0 + i + 1, height - 1), rowBytes, source[i + 2]);
      const int32_t blocks = (round.rows + fast->blockRows - 1) / fast->blockRows;
      if (int64_t(round.rows) * int64_t(rowSamples) >= kSharedRoundSamples)
        RunFillTasks(fast->workers, blocks, _SmoothBlock<Depth>, &round);
      else  // too little work to wake the threads for: the same blocks, on this thread
        for (int32_t block = 0; block < blocks; ++block) _SmoothBlock<Depth>(&round, block, 0);
      for (int32_t i = 0; i < round.rows; ++i) {
        const int32_t y = y0 + i;
        if (report) {
          if (_Cancelled(work, y + pass * height + work->progressShift)) return userCanceledErr;
        } else if (written == rowsToWrite) {
          return noErr;
        }
        PutLine(work->image, 0, y, rowBytes, fast->out + size_t(i) * rowSamples);
        ++written;
      }
      std::rotate(source, source + round.rows, source + ring);
    }
  }
  return noErr;
}

// With the sweep, every row of the eight passes is reported first (the sweep then takes a few
// milliseconds); a cancel among the reports has the passes one after the other write the rows
// they would have written by then, so the image ends as it would have without the sweep.
template <class Depth>
OSErr _FastSmoothingPasses(_MembraneWork<Depth>* work, _FastWork<Depth>* fast) {
  if (fast->sweep == nullptr) return _SmoothInRounds(work, fast, true, 0);
  const int32_t height = work->height;
  const int64_t rows = int64_t(kLastSmoothingPass - kFirstSmoothingPass + 1) * height;
  for (int64_t n = 0; n < rows; ++n) {
    const int32_t pass = kFirstSmoothingPass + int32_t(n / height), y = int32_t(n % height);
    if (_Cancelled(work, y + pass * height + work->progressShift)) {
      _SmoothInRounds(work, fast, false, n);
      return userCanceledErr;
    }
  }
  _SmoothInOneSweep(work, fast);
  return noErr;
}

template void _SmoothRowFast<_Depth8>(const uint8_t*, const uint8_t*, const uint8_t*, uint8_t*,
                                      int32_t, int32_t);
template void _SmoothRowFast<_Depth16>(const uint16_t*, const uint16_t*, const uint16_t*, uint16_t*,
                                       int32_t, int32_t);
template void _SmoothFourRowsFast<_Depth8>(const uint8_t* const*, uint8_t* const*, int32_t,
                                           int32_t);
template void _SmoothFourRowsFast<_Depth16>(const uint16_t* const*, uint16_t* const*, int32_t,
                                            int32_t);
template OSErr _FastSmoothingPasses<_Depth8>(_MembraneWork<_Depth8>*, _FastWork<_Depth8>*);
template OSErr _FastSmoothingPasses<_Depth16>(_MembraneWork<_Depth16>*, _FastWork<_Depth16>*);
