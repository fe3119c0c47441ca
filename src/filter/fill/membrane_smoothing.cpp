// The fast engine's smoothing passes: the same 3×3 means as the reference engine, with the
// interior of a row summed without tests for the sides (a loop the compiler turns into vector
// code), and the rows of each round smoothed on the fill's worker threads.
#include <algorithm>
#include <cstring>

#include "filter/fill/membrane_fast.h"

namespace {

// The interior of a row is summed a few samples at a time in vectors of the compiler's own
// (plain arithmetic on them becomes SIMD code on any processor with it); division by the
// constant 9 becomes a multiply-high. Sums fit: 9 × 255 in 16 bits, 9 × 65535 in 32. A vector
// holds 16 8-bit or 8 16-bit samples: two SSE registers each, or one AVX2 register where the
// processor has it (the row functions below are built for both and picked at load time).
// The helpers below pass 32-byte vectors by value; they are always inlined into the row kernels,
// so no such value crosses a call and the baseline build's ABI note does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"
typedef uint8_t _V16u8 __attribute__((vector_size(16)));
typedef uint16_t _V16u16 __attribute__((vector_size(32)));
typedef uint16_t _V8u16 __attribute__((vector_size(16)));
typedef uint32_t _V8u32 __attribute__((vector_size(32)));
typedef int32_t _V8i32 __attribute__((vector_size(32)));
typedef float _V8f __attribute__((vector_size(32)));

template <class Sample>
struct _SumOf;
template <>
struct _SumOf<uint8_t> {
  using Type = uint16_t;
};
template <>
struct _SumOf<uint16_t> {
  using Type = uint32_t;
};

template <class Sample>
struct _Lanes;
template <>
struct _Lanes<uint8_t> {
  using Samples = _V16u8;
  using Sums = _V16u16;
  static constexpr int32_t kCount = 16;
};
template <>
struct _Lanes<uint16_t> {
  using Samples = _V8u16;
  using Sums = _V8u32;
  static constexpr int32_t kCount = 8;
};

template <class Sample>
__attribute__((always_inline)) inline typename _Lanes<Sample>::Sums _Widened(const Sample* p) {
  typename _Lanes<Sample>::Samples v;
  std::memcpy(&v, p, sizeof v);
  return __builtin_convertvector(v, typename _Lanes<Sample>::Sums);
}

template <class Sample>
__attribute__((always_inline)) inline typename _Lanes<Sample>::Sums _LoadSums(
    const typename _SumOf<Sample>::Type* p) {
  typename _Lanes<Sample>::Sums v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// The lanes' sums divided by 9, truncated. 8-bit sums (at most 2295) divide as integers, which
// the compiler does with a multiply-high. 32-bit lanes have no such multiply before AVX-512 and
// would be divided one by one, so 16-bit sums (at most 589815) go through single precision:
// s + 0.5 is exact, and (s + 0.5) × fl(1/9) lies within 0.008 of (s + 0.5) / 9, whose fraction
// is between 0.055 and 0.945, so truncating gives s / 9 exactly. Each step is one correctly
// rounded IEEE operation, so the vector width does not change a bit.
__attribute__((always_inline)) inline _V16u8 _MeanOfNine(_V16u16 sums) {
  return __builtin_convertvector(sums / 9, _V16u8);
}
__attribute__((always_inline)) inline _V8u16 _MeanOfNine(_V8u32 sums) {
  const _V8f exact = __builtin_convertvector(reinterpret_cast<_V8i32&>(sums), _V8f) + 0.5f;
  const _V8i32 mean = __builtin_convertvector(exact * (1.0f / 9.0f), _V8i32);
  return __builtin_convertvector(mean, _V8u16);
}

// Samples of the interior a chunk holds at a time: its column sums stay in the first-level cache.
constexpr int32_t kChunkSamples = 384;

// The row for N samples per pixel, N known to the compiler. The interior goes chunk by chunk:
// first the sums of the three rows in each column, then three neighbouring column sums at a
// time, divided by 9. Truncating division of the exact integer sums gives the reference
// engine's values. The rows never overlap.
template <class Sample, int32_t N>
__attribute__((always_inline)) inline void _SmoothRowOf(const Sample* __restrict top,
                                                        const Sample* __restrict middle,
                                                        const Sample* __restrict bottom,
                                                        Sample* __restrict out, int32_t width) {
  using Lanes = _Lanes<Sample>;
  using Sum = typename _SumOf<Sample>::Type;
  constexpr int32_t K = Lanes::kCount;
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
  Sum columns[kChunkSamples + 2 * N];
  for (int32_t begin = N; begin < last; begin += kChunkSamples) {
    const int32_t count = std::min(kChunkSamples, last - begin);
    const int32_t from = begin - N, sums = count + 2 * N;  // columns[j] is sample from + j
    int32_t j = 0;
    for (; j + K <= sums; j += K) {
      const typename Lanes::Sums v =
          _Widened(top + from + j) + _Widened(middle + from + j) + _Widened(bottom + from + j);
      std::memcpy(columns + j, &v, sizeof v);
    }
    for (; j < sums; ++j) columns[j] = Sum(top[from + j] + middle[from + j] + bottom[from + j]);
    int32_t k = 0;
    for (; k + K <= count; k += K) {
      const typename Lanes::Sums v = _LoadSums<Sample>(columns + k) +
                                     _LoadSums<Sample>(columns + k + N) +
                                     _LoadSums<Sample>(columns + k + 2 * N);
      const typename Lanes::Samples mean = _MeanOfNine(v);
      std::memcpy(out + begin + k, &mean, sizeof mean);
    }
    for (; k < count; ++k)
      out[begin + k] = Sample((columns[k] + columns[k + N] + columns[k + 2 * N]) / 9);
  }
}

// The four row kernels, each built for AVX2 and for the baseline processor; the loader picks
// one once. The build never contracts a multiply and an add into one step, so both give the same
// bits.
#define AREAFILL_ROW_KERNEL(name, Sample, N)                                    \
  __attribute__((target_clones("avx2", "default"))) void name(                  \
      const Sample* __restrict top, const Sample* __restrict middle,            \
      const Sample* __restrict bottom, Sample* __restrict out, int32_t width) { \
    _SmoothRowOf<Sample, N>(top, middle, bottom, out, width);                   \
  }
AREAFILL_ROW_KERNEL(_SmoothGrey8, uint8_t, 1)
AREAFILL_ROW_KERNEL(_SmoothRGB8, uint8_t, 3)
AREAFILL_ROW_KERNEL(_SmoothGrey16, uint16_t, 1)
AREAFILL_ROW_KERNEL(_SmoothRGB16, uint16_t, 3)
#undef AREAFILL_ROW_KERNEL

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

template <class Depth>
struct _SmoothRound {
  using Sample = typename Depth::Sample;
  const _MembraneWork<Depth>* work;
  const _FastWork<Depth>* fast;
  Sample* const* source;  // rows + 2 source rows: the two above the round's first, then its own
  int32_t rows;           // rows in this round
};

// Lane `lane` smooths its block of the round: output row i from source rows i, i + 1, i + 2.
template <class Depth>
void _SmoothBlock(void* context, int32_t lane) {
  const auto* round = static_cast<const _SmoothRound<Depth>*>(context);
  const _MembraneWork<Depth>* work = round->work;
  const _FastWork<Depth>* fast = round->fast;
  const size_t rowSamples = size_t(work->planes) * size_t(work->width);
  const int32_t end = std::min(round->rows, (lane + 1) * fast->blockRows);
  for (int32_t i = lane * fast->blockRows; i < end; ++i)
    _SmoothRowPicked(round->source[i], round->source[i + 1], round->source[i + 2],
                     fast->out + size_t(i) * rowSamples, work->width, work->planes);
}

}  // namespace

template <class Depth>
void _SmoothRowFast(const typename Depth::Sample* top, const typename Depth::Sample* middle,
                    const typename Depth::Sample* bottom, typename Depth::Sample* out,
                    int32_t width, int32_t planes) {
  _SmoothRowPicked(top, middle, bottom, out, width, planes);
}

// In each round the rows to write are read first (with the two rows above them, kept from the
// round before), so every source row holds the previous pass's values: rows are written only
// after every row the round needs has been read. Row -1 is row 0 and row height is row
// height - 1, read again as the reference engine reads them. The source rows are a ring of
// pointers into fast->in: the round's last two rows become the next round's first two by
// rotating the pointers, not by copying.
template <class Depth>
OSErr _FastSmoothingPasses(_MembraneWork<Depth>* work, _FastWork<Depth>* fast) {
  using Sample = typename Depth::Sample;
  const int32_t rowBytes = _ImageRowBytes(work);
  const size_t rowSamples = size_t(work->planes) * size_t(work->width);
  const int32_t height = work->height;
  const int32_t ring = fast->roundRows + 2;
  Sample* source[kMaxFillThreads * kFastBlockRows + 2];
  for (int32_t i = 0; i < ring; ++i) source[i] = fast->in + size_t(i) * rowSamples;
  for (int32_t pass = kFirstSmoothingPass; pass <= kLastSmoothingPass; ++pass) {
    GetLine(work->image, 0, 0, rowBytes, source[0]);
    std::memcpy(source[1], source[0], size_t(rowBytes));
    for (int32_t y0 = 0; y0 < height; y0 += fast->roundRows) {
      _SmoothRound<Depth> round = {work, fast, source, std::min(fast->roundRows, height - y0)};
      for (int32_t i = 0; i < round.rows; ++i)
        GetLine(work->image, 0, std::min(y0 + i + 1, height - 1), rowBytes, source[i + 2]);
      RunFillTasks(fast->workers, (round.rows + fast->blockRows - 1) / fast->blockRows,
                   _SmoothBlock<Depth>, &round);
      for (int32_t i = 0; i < round.rows; ++i) {
        const int32_t y = y0 + i;
        if (_Cancelled(work, y + pass * height + work->progressShift)) return userCanceledErr;
        PutLine(work->image, 0, y, rowBytes, fast->out + size_t(i) * rowSamples);
      }
      std::rotate(source, source + round.rows, source + ring);
    }
  }
  return noErr;
}

template void _SmoothRowFast<_Depth8>(const uint8_t*, const uint8_t*, const uint8_t*, uint8_t*,
                                      int32_t, int32_t);
template void _SmoothRowFast<_Depth16>(const uint16_t*, const uint16_t*, const uint16_t*, uint16_t*,
                                       int32_t, int32_t);
template OSErr _FastSmoothingPasses<_Depth8>(_MembraneWork<_Depth8>*, _FastWork<_Depth8>*);
template OSErr _FastSmoothingPasses<_Depth16>(_MembraneWork<_Depth16>*, _FastWork<_Depth16>*);
