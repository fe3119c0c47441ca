// The membrane fill's shared steps: work storage, the edge mask and edge list, the per-row
// progress and cancel test, and the value of a pixel from its sector winners. Both engines run
// exactly this code for these steps, so they can differ only in the winner search and smoothing.
#include "filter/fill/membrane_steps.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "filter/run/progress_and_cancel.h"
#include "platform/memory.h"

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace {

template <class Depth>
int32_t _EdgeMaskRowBytes(const _MembraneWork<Depth>* work) {
  return (work->width + 2) * Depth::kSampleBytes;
}

// Replaces R, G, B by one brightness and two colour-difference samples, each offset to be
// non-negative on the depth's scale.
template <class Depth>
void _EncodeOpponent(typename Depth::Sample* pixel) {
  using Sample = typename Depth::Sample;
  const int32_t r = pixel[0], g = pixel[1], b = pixel[2];
  pixel[0] = Sample((r + g + b + 1) / 3);
  pixel[1] = Sample((r - g) / 2 + Depth::kOpponentOffset);
  pixel[2] = Sample(((r + g) / 2 - b) / 2 + Depth::kOpponentOffset);
}

// The samples an edge point carries: pixel x of `row` (plain samples as read), opponent-encoded
// when the image is RGB. Only the pixels that become edge points are encoded.
template <class Depth>
void _EncodedPixel(const _MembraneWork<Depth>* work, const typename Depth::Sample* row, int32_t x,
                   typename Depth::Sample* samples) {
  for (int32_t s = 0; s < work->planes && s < 3; ++s) samples[s] = row[work->planes * x + s];
  if (work->planes == 3) _EncodeOpponent<Depth>(samples);
}

// Writes the edge mask: row y + 1, column x + 1 is 0 for a selected pixel (x, y) and
// kUnselected otherwise; rows 0 and height + 1 and columns 0 and width + 1 are kUnselected.
template <class Depth>
OSErr _BuildEdgeMask(_MembraneWork<Depth>* work) {
  using Sample = typename Depth::Sample;
  Sample* line = work->window[0];
  const int32_t width = work->width;
  for (int32_t y = 0; y < work->height; ++y) {
    if (_Cancelled(work, y)) return userCanceledErr;
    GetLine(work->selection, 0, y, width, work->maskRow);
    line[0] = Depth::kUnselected;
    for (int32_t x = 0; x < width; ++x)
      line[x + 1] = _IsSelected(work->maskRow[x]) ? 0 : Depth::kUnselected;
    line[width + 1] = Depth::kUnselected;
    PutLine(work->edgeMask, 0, y + 1, _EdgeMaskRowBytes(work), line);
  }
  std::fill(line, line + width + 2, Sample(Depth::kUnselected));
  PutLine(work->edgeMask, 0, work->height + 1, _EdgeMaskRowBytes(work), line);
  PutLine(work->edgeMask, 0, 0, _EdgeMaskRowBytes(work), line);
  return noErr;
}

// True when one of the eight neighbours of mask position x + 1 is unselected.
template <class Depth>
bool _TouchesUnselected(const typename Depth::Sample* top, const typename Depth::Sample* middle,
                        const typename Depth::Sample* bottom, int32_t x) {
  for (int32_t column = x; column <= x + 2; ++column)
    if (top[column] == Depth::kUnselected || bottom[column] == Depth::kUnselected) return true;
  return middle[x] == Depth::kUnselected || middle[x + 2] == Depth::kUnselected;
}

// Lists the selected pixels that touch an unselected pixel or the border, row by row, left to
// right. The last column is never examined, and each point carries the samples of the pixel
// one column to its right.
template <class Depth>
OSErr _FindEdgePointsInMask(_MembraneWork<Depth>* work) {
  using Sample = typename Depth::Sample;
  Sample* top = work->window[0];
  Sample* middle = work->window[1];
  Sample* bottom = work->window[2];
  const int32_t maskBytes = _EdgeMaskRowBytes(work);
  GetLine(work->edgeMask, 0, 0, maskBytes, top);
  GetLine(work->edgeMask, 0, 1, maskBytes, middle);
  for (int32_t y = 0; y < work->height; ++y) {
    if (_Cancelled(work, y + work->progressShift)) return userCanceledErr;
    GetLine(work->edgeMask, 0, y + 2, maskBytes, bottom);
    bool rowRead = false;  // the image row is read once the row's first edge point is found
    for (int32_t x = 0; x < work->width - 1; ++x) {
      if (middle[x + 1] != 0 || !_TouchesUnselected<Depth>(top, middle, bottom, x)) continue;
      if (!rowRead) GetLine(work->image, 0, y, _ImageRowBytes(work), work->row);
      rowRead = true;
      _AppendEdgePoint(work, x, y, work->row, x + 1);
    }
    Sample* oldTop = top;
    top = middle;
    middle = bottom;
    bottom = oldTop;
  }
  return noErr;
}

}  // namespace

template <class Depth>
void _AppendEdgePoint(_MembraneWork<Depth>* work, int32_t x, int32_t y,
                      const typename Depth::Sample* row, int32_t from) {
  _BoundaryPoint<Depth>& point = work->points[work->count];
  point.x = uint16_t(x);
  point.y = uint16_t(y);
  _EncodedPixel(work, row, from, point.sample);
  if (work->count < kMaxBoundaryPoints) ++work->count;
}

template <class Depth>
OSErr _FindEdgePointsOnFrame(_MembraneWork<Depth>* work) {
  const int32_t last = work->width - 1;
  const int32_t rowBytes = _ImageRowBytes(work);
  for (int32_t y : {0, work->height - 1}) {
    GetLine(work->image, 0, y, rowBytes, work->row);
    for (int32_t x = 0; x <= last; ++x) _AppendEdgePoint(work, x, y, work->row, x);
  }
  for (int32_t y = 1; y < work->height - 1; ++y) {
    if (_Cancelled(work, y + work->progressShift)) return userCanceledErr;
    GetLine(work->image, 0, y, rowBytes, work->row);
    _AppendEdgePoint(work, 0, y, work->row, 0);
    _AppendEdgePoint(work, last, y, work->row, last);
  }
  return noErr;
}

#if defined(__SSE2__)
namespace {

// Four weights at a time, on processors with AVX2 (built for it alone and chosen at run time).
__attribute__((target("avx2"))) void _DistanceWeightsAVX2(const int32_t* distances2,
                                                          float* weights) {
  const __m256d one = _mm256_set1_pd(1.0);
  for (int32_t i = 0; i < kSectorCount; i += 4) {
    const __m128i d2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(distances2 + i));
    const __m256d wide = _mm256_cvtps_pd(_mm_cvtepi32_ps(d2));  // narrowed, then widened
    _mm_storeu_ps(weights + i, _mm256_cvtpd_ps(_mm256_div_pd(one, _mm256_sqrt_pd(wide))));
  }
}

}  // namespace
#endif

// Two or four weights at a time: vector conversions, square roots and divisions are the same
// correctly rounded operations lane by lane, so the weights are the same bits as one at a time,
// in a half or a quarter of the time.
void _DistanceWeights(const int32_t* distances2, float* weights) {
#if defined(__SSE2__)
  if (__builtin_cpu_supports("avx2")) {
    _DistanceWeightsAVX2(distances2, weights);
    return;
  }
  const __m128d one = _mm_set1_pd(1.0);
  for (int32_t i = 0; i < kSectorCount; i += 2) {
    const __m128d d2 = _mm_set_pd(double(float(distances2[i + 1])), double(float(distances2[i])));
    const __m128 w = _mm_cvtpd_ps(_mm_div_pd(one, _mm_sqrt_pd(d2)));
    weights[i] = _mm_cvtss_f32(w);
    weights[i + 1] = _mm_cvtss_f32(_mm_shuffle_ps(w, w, 1));
  }
#else
  for (int32_t i = 0; i < kSectorCount; ++i)
    weights[i] = float(1.0 / std::sqrt(double(float(distances2[i]))));
#endif
}

void _SlotWeights(const SectorSlot* slots, float* weights) {
  int32_t distances2[kSectorCount];
  for (int32_t i = 0; i < kSectorCount; ++i) distances2[i] = slots[i].distance2;
  _DistanceWeights(distances2, weights);
}

template <class Depth>
OSErr _SetUpWork(_MembraneWork<Depth>* work, NamedImage* image, RunRecord* record) {
  *work = {};
  work->image = image;
  work->record = record;
  work->selection = record->selection;
  work->width = record->width;
  work->height = record->height;
  work->planes = std::abs(int32_t(record->planes));
  if (work->width < 1 || work->height < 1) return noErr;  // no pixel to fill or smooth
  if (work->planes != 1 && work->planes != 3) return paramErr;
  work->progressShift = work->selection ? work->height : 0;
  work->progressTotal = 11 * work->height + work->progressShift;
  return noErr;
}

// An engine stops before touching the image rather than run on missing storage. A failure of
// MakeTempImage is -108 too, whatever its own status (a file error when the mask had to go to
// disk): to the caller either way the fill lacked the storage it needs.
template <class Depth>
OSErr _AllocateWork(_MembraneWork<Depth>* work) {
  using Sample = typename Depth::Sample;
  const Size rowBytes = Size(work->planes) * (work->width + 2) * Depth::kSampleBytes;
  for (Sample*& line : work->window) line = reinterpret_cast<Sample*>(NewPtrClear(rowBytes));
  work->row = reinterpret_cast<Sample*>(NewPtrClear(rowBytes));
  work->maskRow = reinterpret_cast<uint8_t*>(NewPtrClear(work->width + 2));
  work->points = reinterpret_cast<_BoundaryPoint<Depth>*>(
      NewPtrClear(Size(kMaxBoundaryPoints + 1) * Size(sizeof(_BoundaryPoint<Depth>))));
  for (Sample* line : work->window)
    if (!line) return memFullErr;
  if (!work->row || !work->maskRow || !work->points) return memFullErr;
  if (!work->selection) return noErr;
  // The mask's frame makes it two pixels wider and taller; past 16 bits it cannot be made.
  constexpr int32_t kMaxSide = std::numeric_limits<int16_t>::max();
  if (work->width + 2 > kMaxSide || work->height + 2 > kMaxSide) return memFullErr;
  OSErr err = MakeTempImage(int16_t(work->width + 2), int16_t(work->height + 2),
                            Depth::kSampleBytes, &work->edgeMask);
  return err == noErr ? noErr : memFullErr;
}

template <class Depth>
void _ReleaseWork(_MembraneWork<Depth>* work) {
  if (work->edgeMask) TossTempImage(work->edgeMask);
  work->edgeMask = nullptr;
  for (auto*& line : work->window) {
    DisposePtr(reinterpret_cast<Ptr>(line));
    line = nullptr;
  }
  DisposePtr(reinterpret_cast<Ptr>(work->row));
  DisposePtr(reinterpret_cast<Ptr>(work->maskRow));
  DisposePtr(reinterpret_cast<Ptr>(work->points));
  work->row = nullptr;
  work->maskRow = nullptr;
  work->points = nullptr;
}

template <class Depth>
bool _Cancelled(_MembraneWork<Depth>* work, int32_t done) {
  DoProgress(work->record, done, work->progressTotal);
  return CommandPeriod(work->record) != 0;
}

template <class Depth>
OSErr _FindEdgePoints(_MembraneWork<Depth>* work) {
  if (!work->selection) return _FindEdgePointsOnFrame(work);
  const OSErr err = _BuildEdgeMask(work);
  return err == noErr ? _FindEdgePointsInMask(work) : err;
}

// Single-precision sums, weights 1/√d² taken in double.
template <class Depth>
bool _DecodePixel(const SectorSlot* slots, int32_t planes, bool haveSelection,
                  typename Depth::Sample* pixel) {
  float weights[kSectorCount];
  _SlotWeights(slots, weights);
  float s0 = 0.0f, s1 = 0.0f, s2 = 0.0f, weight = 0.0f;
  for (int32_t i = 0; i < kSectorCount; ++i) {
    const SectorSlot& slot = slots[i];
    if (slot.sample[0] < 0 || slot.distance2 <= 0) continue;
    const float w = weights[i];
    s0 += float(slot.sample[0]) * w;
    if (planes == 3) {
      s1 += float(slot.sample[1]) * w;
      s2 += float(slot.sample[2]) * w;
    }
    weight += w;
  }
  return _FinishPixel<Depth>(s0, s1, s2, weight, planes, haveSelection, pixel);
}

// Opponent decoding with truncating integer divisions, low bits stored.
template <class Depth>
bool _FinishPixel(float s0, float s1, float s2, float weight, int32_t planes, bool haveSelection,
                  typename Depth::Sample* pixel) {
  using Sample = typename Depth::Sample;
  // A selected pixel that no slot reaches (its own point is the only one near enough, e.g. a
  // one-pixel selection) keeps its own samples: any invented value would be a guess.
  if (haveSelection && weight == 0.0f) return false;

  int32_t brightness;
  if (haveSelection)
    brightness = int32_t(s0 * (1.0f / weight));
  else
    brightness = weight > 0.0f ? int32_t(s0 / weight) : Depth::kNoWeightValue;
  if (planes == 1) {
    pixel[0] = Sample(brightness & Depth::kStoreMask);
    return true;
  }
  // Without a selection and without weight the colour differences are taken as neutral (0),
  // so the pixel becomes full-intensity grey rather than a value made from an infinite k.
  int32_t a = 0, c = 0;
  if (weight > 0.0f) {
    const float k = 1.0f / weight;
    a = int32_t(2.0f * (s1 * k - float(Depth::kOpponentOffset)));
    c = int32_t(2.0f * (s2 * k - float(Depth::kOpponentOffset)));
  }
  pixel[0] = Sample((brightness + a / 2 + c / 3) & Depth::kStoreMask);
  pixel[1] = Sample((brightness - a / 2 + c / 3) & Depth::kStoreMask);
  pixel[2] = Sample((brightness - (2 * c) / 3) & Depth::kStoreMask);
  return true;
}

// On equal distances the point listed first keeps its slot.
template <class Depth>
void _FillPixelByVisit(const _MembraneWork<Depth>* work, int32_t x, int32_t y,
                       typename Depth::Sample* pixel) {
  SectorSlot slots[kSectorCount];
  for (SectorSlot& slot : slots) slot = {kEmptyDistance, {-1, 0, 0}};
  for (int32_t i = 0; i < work->count; ++i) {
    const _BoundaryPoint<Depth>& point = work->points[i];
    const int32_t dx = x - int32_t(point.x);
    const int32_t dy = y - int32_t(point.y);
    const int32_t distance2 = dx * dx + dy * dy;
    if (distance2 <= 0) continue;  // the pixel's own entry
    SectorSlot& slot = slots[_SectorOf(dx, dy)];
    if (distance2 < slot.distance2) {
      slot.distance2 = distance2;
      for (int32_t s = 0; s < work->planes; ++s) slot.sample[s] = point.sample[s];
    }
  }
  _DecodePixel<Depth>(slots, work->planes, work->selection != nullptr, pixel);
}

#define AREAFILL_MEMBRANE_STEPS(Depth)                                                          \
  template OSErr _SetUpWork<Depth>(_MembraneWork<Depth>*, NamedImage*, RunRecord*);             \
  template OSErr _AllocateWork<Depth>(_MembraneWork<Depth>*);                                   \
  template void _AppendEdgePoint<Depth>(_MembraneWork<Depth>*, int32_t, int32_t,                \
                                        const Depth::Sample*, int32_t);                         \
  template OSErr _FindEdgePointsOnFrame<Depth>(_MembraneWork<Depth>*);                          \
  template void _ReleaseWork<Depth>(_MembraneWork<Depth>*);                                     \
  template bool _Cancelled<Depth>(_MembraneWork<Depth>*, int32_t);                              \
  template OSErr _FindEdgePoints<Depth>(_MembraneWork<Depth>*);                                 \
  template bool _DecodePixel<Depth>(const SectorSlot*, int32_t, bool, Depth::Sample*);          \
  template bool _FinishPixel<Depth>(float, float, float, float, int32_t, bool, Depth::Sample*); \
  template void _FillPixelByVisit<Depth>(const _MembraneWork<Depth>*, int32_t, int32_t,         \
                                         Depth::Sample*);
AREAFILL_MEMBRANE_STEPS(_Depth8)
AREAFILL_MEMBRANE_STEPS(_Depth16)
#undef AREAFILL_MEMBRANE_STEPS
