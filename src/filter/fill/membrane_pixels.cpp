// The fast engine's last step for each filled pixel: its new value from the winners of its 32
// sectors, with the same weights, the same single-precision sums in the same slot order and the
// same decoding as the reference engine's slots give. Where the processor has AVX2, eight pixels
// are worked out at once, one in each lane of a vector: every lane takes the same correctly
// rounded steps in the same order as one pixel alone, so the bits are the same; the weights of
// near winners are looked up in a table made by those steps. The slots come 32 or 8 to a pixel
// (transposed eight pixels at a time) or one to a column (eight columns side by side loaded at
// once).
#include <cstddef>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "filter/fill/membrane_fast.h"

namespace {

// One pixel, one slot after the other. A winner's distance is never 0.
template <class Depth, int32_t kPlanes>
void _PixelOf(const _MembraneWork<Depth>* work, const int32_t* winners, const int32_t* distances,
              typename Depth::Sample* pixel) {
  float weights[kSectorCount];
  _DistanceWeights(distances, weights);
  float s0 = 0.0f, s1 = 0.0f, s2 = 0.0f, weight = 0.0f;
  for (int32_t s = 0; s < kSectorCount; ++s) {
    if (winners[s] < 0) continue;  // an empty slot adds nothing
    const typename Depth::Sample* sample = work->points[winners[s]].sample;
    const float w = weights[s];
    s0 += float(sample[0]) * w;
    if (kPlanes == 3) {
      s1 += float(sample[1]) * w;
      s2 += float(sample[2]) * w;
    }
    weight += w;
  }
  _FinishPixel<Depth>(s0, s1, s2, weight, kPlanes, work->selection != nullptr, pixel);
}

#if defined(__x86_64__)
constexpr int32_t kLanes = 8;

// The weights of the squared distances below kTabled, worked out once by the same steps: a
// lookup where a square root and a division in double precision take many times as long.
// Most winners of the holes users select lie within 256 pixels.
constexpr int32_t kTabled = 1 << 16;
struct _WeightTable {
  float of[kTabled];
  _WeightTable() {
    int32_t d2[kSectorCount];
    for (int32_t first = 0; first < kTabled; first += kSectorCount) {
      for (int32_t k = 0; k < kSectorCount; ++k) d2[k] = first + k;
      _DistanceWeights(d2, of + first);  // four at a time where it can
    }
    of[0] = 0.0f;  // never counted: a winner's distance is never 0
  }
};

// The one table, made on first use and then only read.
const _WeightTable& _Weights() {
  static const _WeightTable table;
  return table;
}

// 1 / √d² for eight squared distances, in the steps _DistanceWeights takes: narrowed to single,
// widened, square root and division in double, narrowed. `counts` flags the lanes whose weight
// is wanted; the others' are 0. `table` holds the weights below kTabled.
__attribute__((target("avx2"))) inline __m256 _EightWeights(const _WeightTable& table, __m256i d2,
                                                            __m256i counts) {
  const __m256i outside =
      _mm256_and_si256(counts, _mm256_cmpgt_epi32(d2, _mm256_set1_epi32(kTabled - 1)));
  if (_mm256_testz_si256(outside, outside)) {
    const __m256i at = _mm256_and_si256(d2, counts);  // lanes not wanted look up entry 0
    return _mm256_i32gather_ps(table.of, at, 4);
  }
  const __m256d one = _mm256_set1_pd(1.0);
  const __m256 single = _mm256_cvtepi32_ps(d2);
  const __m256d low =
      _mm256_div_pd(one, _mm256_sqrt_pd(_mm256_cvtps_pd(_mm256_castps256_ps128(single))));
  const __m256d high =
      _mm256_div_pd(one, _mm256_sqrt_pd(_mm256_cvtps_pd(_mm256_extractf128_ps(single, 1))));
  return _mm256_and_ps(_mm256_set_m128(_mm256_cvtpd_ps(high), _mm256_cvtpd_ps(low)),
                       _mm256_castsi256_ps(counts));
}

// The samples of the eight points `index` (each at least 0) as 32-bit integers. A point is two
// 16-bit coordinates followed by its samples; each gather reads four bytes inside the point.
template <class Depth>
__attribute__((target("avx2"))) inline void _GatherSamples(const _BoundaryPoint<Depth>* points,
                                                           __m256i index, __m256i* samples);

template <>
__attribute__((target("avx2"))) inline void _GatherSamples<_Depth8>(
    const _BoundaryPoint<_Depth8>* points, __m256i index, __m256i* samples) {
  static_assert(
      sizeof(_BoundaryPoint<_Depth8>) == 8 && offsetof(_BoundaryPoint<_Depth8>, sample) == 4,
      "an 8-bit point is 8 bytes, its samples at 4");
  const auto* base = reinterpret_cast<const int*>(reinterpret_cast<const char*>(points) + 4);
  const __m256i bytes = _mm256_i32gather_epi32(base, index, 8);
  const __m256i low = _mm256_set1_epi32(0xFF);
  samples[0] = _mm256_and_si256(bytes, low);
  samples[1] = _mm256_and_si256(_mm256_srli_epi32(bytes, 8), low);
  samples[2] = _mm256_and_si256(_mm256_srli_epi32(bytes, 16), low);
}

template <>
__attribute__((target("avx2"))) inline void _GatherSamples<_Depth16>(
    const _BoundaryPoint<_Depth16>* points, __m256i index, __m256i* samples) {
  static_assert(
      sizeof(_BoundaryPoint<_Depth16>) == 10 && offsetof(_BoundaryPoint<_Depth16>, sample) == 4,
      "a 16-bit point is 10 bytes, its samples at 4");
  const __m256i at = _mm256_add_epi32(_mm256_slli_epi32(index, 3), _mm256_slli_epi32(index, 1));
  const auto* base = reinterpret_cast<const char*>(points);
  const __m256i first = _mm256_i32gather_epi32(reinterpret_cast<const int*>(base + 4), at, 1);
  const __m256i last = _mm256_i32gather_epi32(reinterpret_cast<const int*>(base + 6), at, 1);
  const __m256i low = _mm256_set1_epi32(0xFFFF);
  samples[0] = _mm256_and_si256(first, low);
  samples[1] = _mm256_srli_epi32(first, 16);
  samples[2] = _mm256_srli_epi32(last, 16);
}

// Turns eight rows of eight 32-bit values (row k at rows[k] + offset) into eight vectors, vector
// j holding value j of every row: one 8×8 transpose, in place of eight gathers.
__attribute__((target("avx2"))) inline void _Transpose(const int32_t* base, const int32_t* slots,
                                                       int32_t offset, __m256i* out) {
  __m256i r[8];
  for (int32_t k = 0; k < 8; ++k)
    r[k] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(base + slots[k] + offset));
  const __m256i a0 = _mm256_unpacklo_epi32(r[0], r[1]), a1 = _mm256_unpackhi_epi32(r[0], r[1]);
  const __m256i a2 = _mm256_unpacklo_epi32(r[2], r[3]), a3 = _mm256_unpackhi_epi32(r[2], r[3]);
  const __m256i a4 = _mm256_unpacklo_epi32(r[4], r[5]), a5 = _mm256_unpackhi_epi32(r[4], r[5]);
  const __m256i a6 = _mm256_unpacklo_epi32(r[6], r[7]), a7 = _mm256_unpackhi_epi32(r[6], r[7]);
  const __m256i b0 = _mm256_unpacklo_epi64(a0, a2), b1 = _mm256_unpackhi_epi64(a0, a2);
  const __m256i b2 = _mm256_unpacklo_epi64(a1, a3), b3 = _mm256_unpackhi_epi64(a1, a3);
  const __m256i b4 = _mm256_unpacklo_epi64(a4, a6), b5 = _mm256_unpackhi_epi64(a4, a6);
  const __m256i b6 = _mm256_unpacklo_epi64(a5, a7), b7 = _mm256_unpackhi_epi64(a5, a7);
  out[0] = _mm256_permute2x128_si256(b0, b4, 0x20);
  out[1] = _mm256_permute2x128_si256(b1, b5, 0x20);
  out[2] = _mm256_permute2x128_si256(b2, b6, 0x20);
  out[3] = _mm256_permute2x128_si256(b3, b7, 0x20);
  out[4] = _mm256_permute2x128_si256(b0, b4, 0x31);
  out[5] = _mm256_permute2x128_si256(b1, b5, 0x31);
  out[6] = _mm256_permute2x128_si256(b2, b6, 0x31);
  out[7] = _mm256_permute2x128_si256(b3, b7, 0x31);
}

// How eight pixels' slots are read: 8 or 32 to a pixel, by 8×8 transposes; one to a column, the
// eight side by side in one load each, or anywhere in the row by gathers.
enum _SlotReading { kTransposed, kSideBySide, kGathered };

// Eight pixels, one to a lane; pixel k's slots of each quadrant begin at offsets[k]. An empty
// slot's weight and samples are +0, and adding +0 to a sum of non-negative terms leaves it as it
// was, so the lanes need no branch.
template <class Depth, int32_t kPlanes, _SlotReading kReading>
__attribute__((target("avx2"))) void _EightPixels(const _MembraneWork<Depth>* work,
                                                  const SectorSlots& slots, const int32_t* offsets,
                                                  typename Depth::Sample* const* pixels) {
  const _WeightTable& weights = _Weights();
  const __m256i none = _mm256_set1_epi32(-1), zero = _mm256_setzero_si256();
  __m256 s0 = _mm256_setzero_ps(), s1 = s0, s2 = s0, weight = s0;
  __m256i indices[8], squares[8];
  const __m256i at = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(offsets));
  for (int32_t s = 0; s < kSectorCount; ++s) {
    __m256i index, d2;
    if (kReading == kSideBySide) {
      const int32_t slot = offsets[0] + slots.reach * (s % 8);
      index = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(slots.winners[s / 8] + slot));
      d2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(slots.distances2[s / 8] + slot));
    } else if (kReading == kGathered) {
      const int32_t slot = slots.reach * (s % 8);
      index = _mm256_i32gather_epi32(slots.winners[s / 8] + slot, at, 4);
      d2 = _mm256_i32gather_epi32(slots.distances2[s / 8] + slot, at, 4);
    } else {
      if (s % 8 == 0) {  // the next quadrant's eight slots of every pixel
        _Transpose(slots.winners[s / 8], offsets, 0, indices);
        _Transpose(slots.distances2[s / 8], offsets, 0, squares);
      }
      index = indices[s % 8];
      d2 = squares[s % 8];
    }
    const __m256i counts = _mm256_cmpgt_epi32(index, none);
    const __m256 w = _EightWeights(weights, d2, counts);
    __m256i samples[3];
    _GatherSamples<Depth>(work->points, _mm256_max_epi32(index, zero), samples);
    s0 = _mm256_add_ps(s0, _mm256_mul_ps(_mm256_cvtepi32_ps(samples[0]), w));
    if (kPlanes == 3) {
      s1 = _mm256_add_ps(s1, _mm256_mul_ps(_mm256_cvtepi32_ps(samples[1]), w));
      s2 = _mm256_add_ps(s2, _mm256_mul_ps(_mm256_cvtepi32_ps(samples[2]), w));
    }
    weight = _mm256_add_ps(weight, w);
  }
  alignas(32) float sums[4][kLanes];
  _mm256_store_ps(sums[0], s0);
  _mm256_store_ps(sums[1], s1);
  _mm256_store_ps(sums[2], s2);
  _mm256_store_ps(sums[3], weight);
  for (int32_t k = 0; k < kLanes; ++k)
    _FinishPixel<Depth>(sums[0][k], sums[1][k], sums[2][k], sums[3][k], kPlanes,
                        work->selection != nullptr, pixels[k]);
}
#endif

template <class Depth, int32_t kPlanes>
void _PixelsOf(const _MembraneWork<Depth>* work, int32_t count, const SectorSlots& slots,
               const int32_t* offsets, typename Depth::Sample* const* pixels) {
  int32_t k = 0;
#if defined(__x86_64__)
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (avx2)
    for (; k + kLanes <= count; k += kLanes) {
      if (slots.pitch != 1)
        _EightPixels<Depth, kPlanes, kTransposed>(work, slots, offsets + k, pixels + k);
      else if (offsets[k + kLanes - 1] == offsets[k] + kLanes - 1)
        _EightPixels<Depth, kPlanes, kSideBySide>(work, slots, offsets + k, pixels + k);
      else
        _EightPixels<Depth, kPlanes, kGathered>(work, slots, offsets + k, pixels + k);
    }
#endif
  for (; k < count; ++k) {
    int32_t winners[kSectorCount], distances[kSectorCount];
    for (int32_t s = 0; s < kSectorCount; ++s) {
      winners[s] = slots.winners[s / 8][offsets[k] + slots.reach * (s % 8)];
      distances[s] = slots.distances2[s / 8][offsets[k] + slots.reach * (s % 8)];
    }
    _PixelOf<Depth, kPlanes>(work, winners, distances, pixels[k]);
  }
}

}  // namespace

template <class Depth>
void _PixelsFromSlots(const _MembraneWork<Depth>* work, int32_t count, const SectorSlots& slots,
                      const int32_t* offsets, typename Depth::Sample* const* pixels) {
  if (work->planes == 3)
    _PixelsOf<Depth, 3>(work, count, slots, offsets, pixels);
  else
    _PixelsOf<Depth, 1>(work, count, slots, offsets, pixels);
}

template <class Depth>
void _PixelsFromWinners(const _MembraneWork<Depth>* work, int32_t count, int32_t* winners,
                        int32_t* distances, const int32_t* slots,
                        typename Depth::Sample* const* pixels) {
  _PixelsFromSlots(work, count, SlotsOfPixels(winners, distances), slots, pixels);
}

template void _PixelsFromSlots<_Depth8>(const _MembraneWork<_Depth8>*, int32_t, const SectorSlots&,
                                        const int32_t*, uint8_t* const*);
template void _PixelsFromSlots<_Depth16>(const _MembraneWork<_Depth16>*, int32_t,
                                         const SectorSlots&, const int32_t*, uint16_t* const*);
template void _PixelsFromWinners<_Depth8>(const _MembraneWork<_Depth8>*, int32_t, int32_t*,
                                          int32_t*, const int32_t*, uint8_t* const*);
template void _PixelsFromWinners<_Depth16>(const _MembraneWork<_Depth16>*, int32_t, int32_t*,
                                           int32_t*, const int32_t*, uint16_t* const*);
