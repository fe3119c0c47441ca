// The membrane fill's entry points, and its reference engine: every filled pixel visits every
// kept edge point in the order they were found, and the smoothing passes are written as plainly
// as the mean is defined. Its result is the one the fast engine (membrane_fast.cpp) reproduces
// bit for bit; a host selects it for a run through its settings (AREAFILL_MEMBRANE=reference).
#include "filter/fill/membrane_fill.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "filter/fill/membrane_steps.h"
#include "platform/host_settings.h"

namespace {

// ---- Fill ----

// Refills the selected pixels (all pixels without a selection) of rows 1 .. height - 2; the
// first and last rows keep their values.
template <class Depth>
OSErr _FillPass(_MembraneWork<Depth>* work) {
  const int32_t rowBytes = _ImageRowBytes(work);
  for (int32_t y = 1; y < work->height - 1; ++y) {
    if (_Cancelled(work, y + work->height + work->progressShift)) return userCanceledErr;
    GetLine(work->image, 0, y, rowBytes, work->row);
    if (work->selection) GetLine(work->selection, 0, y, work->width, work->maskRow);
    for (int32_t x = 0; x < work->width; ++x) {
      if (work->selection && !_IsSelected(work->maskRow[x])) continue;
      _FillPixelByVisit(work, x, y, work->row + work->planes * x);
    }
    PutLine(work->image, 0, y, rowBytes, work->row);
  }
  return noErr;
}

// ---- Smoothing ----

// One output row of the 3×3 mean: columns outside the image are left out of the sum and of the
// divisor (9 inside, 6 at the sides, 3 for a one-pixel-wide image).
template <class Depth>
void _SmoothRow(const typename Depth::Sample* top, const typename Depth::Sample* middle,
                const typename Depth::Sample* bottom, typename Depth::Sample* out, int32_t width,
                int32_t planes) {
  using Sample = typename Depth::Sample;
  for (int32_t x = 0; x < width; ++x) {
    const int32_t left = std::max(x - 1, 0);
    const int32_t right = std::min(x + 1, width - 1);
    const int32_t divisor = 3 * (right - left + 1);
    for (int32_t s = 0; s < planes; ++s) {
      int32_t sum = 0;
      for (int32_t column = left; column <= right; ++column) {
        const int32_t i = column * planes + s;
        sum += int32_t(top[i]) + int32_t(middle[i]) + int32_t(bottom[i]);
      }
      out[x * planes + s] = Sample(sum / divisor);
    }
  }
}

// Eight passes over every row. Rows above the first and below the last repeat the edge row, and
// the window always holds the previous pass's rows: the next source row is read before the
// current row is written.
template <class Depth>
OSErr _SmoothingPasses(_MembraneWork<Depth>* work) {
  using Sample = typename Depth::Sample;
  const int32_t rowBytes = _ImageRowBytes(work);
  for (int32_t pass = kFirstSmoothingPass; pass <= kLastSmoothingPass; ++pass) {
    Sample* top = work->window[0];
    Sample* middle = work->window[1];
    Sample* bottom = work->window[2];
    GetLine(work->image, 0, 0, rowBytes, top);
    GetLine(work->image, 0, 0, rowBytes, middle);
    for (int32_t y = 0; y < work->height; ++y) {
      if (_Cancelled(work, y + pass * work->height + work->progressShift)) return userCanceledErr;
      GetLine(work->image, 0, std::min(y + 1, work->height - 1), rowBytes, bottom);
      _SmoothRow<Depth>(top, middle, bottom, work->row, work->width, work->planes);
      PutLine(work->image, 0, y, rowBytes, work->row);
      Sample* oldTop = top;
      top = middle;
      middle = bottom;
      bottom = oldTop;
    }
  }
  return noErr;
}

template <class Depth>
int32_t _MembraneFillReference(NamedImage* image, RunRecord* record) {
  _MembraneWork<Depth> work;
  OSErr err = _SetUpWork(&work, image, record);
  if (err != noErr || work.width < 1 || work.height < 1) return err;
  err = _AllocateWork(&work);
  if (err == noErr) err = _FindEdgePoints(&work);
  if (err == noErr && work.count > 0) err = _FillPass(&work);
  if (err == noErr) err = _SmoothingPasses(&work);
  _ReleaseWork(&work);
  return err;
}

// The engine the host asked for: the reference engine, or the fast one. Asked on every call, so
// that one process can time both.
bool _ReferenceAsked() { return PlatformUseReferenceMembrane(); }

}  // namespace

int32_t _SectorOf(int32_t dx, int32_t dy) {
  // Tangents of 11.25°, 22.5°, … 78.75°, rounded as the fill has always rounded them (1.497 and
  // 5.028, not 1.4966 and 5.0273). The ratio is taken in single precision, compared in double.
  static constexpr double kTangents[] = {0.1989, 0.4142, 0.6682, 1.0, 1.497, 2.414, 5.028};
  const float r =
      dx == 0 ? std::numeric_limits<float>::infinity() : float(std::abs(dy)) / float(std::abs(dx));
  int32_t sector = 0;
  for (double tangent : kTangents)
    if (double(r) >= tangent) ++sector;
  if (dx < 0)
    sector += dy < 0 ? 24 : 16;
  else if (dy < 0)
    sector += 8;
  return sector;
}

int32_t MembraneFill(NamedImage* image, RunRecord* record) {
  return _ReferenceAsked() ? _MembraneFillReference<_Depth8>(image, record)
                           : _MembraneFillFast<_Depth8>(image, record, 0);
}

int32_t MembraneFill16(NamedImage* image, RunRecord* record) {
  return _ReferenceAsked() ? _MembraneFillReference<_Depth16>(image, record)
                           : _MembraneFillFast<_Depth16>(image, record, 0);
}

int32_t _MembraneFillReference8(NamedImage* image, RunRecord* record) {
  return _MembraneFillReference<_Depth8>(image, record);
}

int32_t _MembraneFillReference16(NamedImage* image, RunRecord* record) {
  return _MembraneFillReference<_Depth16>(image, record);
}
