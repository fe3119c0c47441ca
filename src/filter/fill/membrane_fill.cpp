// The membrane fill, one implementation for 8-bit and 16-bit samples. This is the reference
// engine: every filled pixel visits every kept edge point, in the order they were found, so that
// its result is the one any faster engine must reproduce bit for bit.
#include "filter/fill/membrane_fill.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "platform/memory.h"

namespace {

// What differs between the two sample depths.
struct _Depth8 {
  using Sample = uint8_t;
  static constexpr int16_t kSampleBytes = 1;       // also the edge mask's bytes per pixel
  static constexpr int32_t kUnselected = 255;      // edge mask value of unselected pixels and frame
  static constexpr int32_t kOpponentOffset = 128;  // zero of the two colour-difference samples
  static constexpr int32_t kNoWeightValue = 255;   // brightness when no slot counts, no selection
  static constexpr int32_t kStoreMask = 0xFF;      // results keep their low bits, unclamped
};

struct _Depth16 {
  using Sample = uint16_t;
  static constexpr int16_t kSampleBytes = 2;
  static constexpr int32_t kUnselected = 32768;
  static constexpr int32_t kOpponentOffset = 16384;
  static constexpr int32_t kNoWeightValue = 32768;
  static constexpr int32_t kStoreMask = 0xFFFF;
};

constexpr int32_t kEmptyDistance = 999999999;  // a slot's distance before a point takes it
constexpr int32_t kFirstSmoothingPass = 2;     // passes are numbered 2..9 for the progress bar
constexpr int32_t kLastSmoothingPass = 9;
constexpr uint8_t kSelectedThreshold = 128;  // mask bytes from here on are selected

template <class Depth>
struct _BoundaryPoint {
  uint16_t x;
  uint16_t y;
  typename Depth::Sample sample[3];  // encoded; from the pixel to the right with a selection
};

// Everything one call works with. The images stay in scratch storage; only rows come in.
template <class Depth>
struct _MembraneWork {
  using Sample = typename Depth::Sample;
  NamedImage* image;
  RunRecord* record;
  NamedImage* selection;  // null: the image's outer ring is the edge
  int32_t width;
  int32_t height;
  int32_t planes;
  int32_t progressShift;  // height with a selection (the edge mask is built first), else 0
  int32_t progressTotal;  // 12 × height with a selection, 11 × height without
  Sample* window[3];      // three rows of the edge mask, later of the image (top, middle, bottom)
  Sample* row;            // one image row
  uint8_t* maskRow;       // one selection-mask row
  NamedImage* edgeMask;   // "TempImage": 0 for selected pixels, kUnselected elsewhere and around
  _BoundaryPoint<Depth>* points;  // kMaxBoundaryPoints + 1 entries
  int32_t count;
};

inline bool _IsSelected(uint8_t maskByte) { return maskByte >= kSelectedThreshold; }

template <class Depth>
int32_t _ImageRowBytes(const _MembraneWork<Depth>* work) {
  return work->planes * work->width * Depth::kSampleBytes;
}

template <class Depth>
int32_t _EdgeMaskRowBytes(const _MembraneWork<Depth>* work) {
  return (work->width + 2) * Depth::kSampleBytes;
}

// Reports progress for one row, then asks the host whether to stop: true when cancelled.
template <class Depth>
bool _Cancelled(_MembraneWork<Depth>* work, int32_t done) {
  DoProgress(work->record, done, work->progressTotal);
  return CommandPeriod(work->record) != 0;
}

// Takes the work buffers and, with a selection, the edge mask. On failure what was obtained
// stays in `work` for _ReleaseWork. Returns 0, or -108 when anything could not be had: the
// engine then stops before touching the image rather than run on missing storage. A failure of
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
  for (auto*& line : work->window) DisposePtr(reinterpret_cast<Ptr>(line));
  DisposePtr(reinterpret_cast<Ptr>(work->row));
  DisposePtr(reinterpret_cast<Ptr>(work->maskRow));
  DisposePtr(reinterpret_cast<Ptr>(work->points));
}

// ---- Edge search ----

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

// Reads image row y into work->row, opponent-encoded when the image is RGB.
template <class Depth>
void _ReadEncodedRow(_MembraneWork<Depth>* work, int32_t y) {
  GetLine(work->image, 0, y, _ImageRowBytes(work), work->row);
  if (work->planes != 3) return;
  for (int32_t x = 0; x < work->width; ++x) _EncodeOpponent<Depth>(work->row + 3 * x);
}

// Lists (x, y) with the given samples. Once the list is full, later points land on the spare
// entry after the last counted one and are never read.
template <class Depth>
void _AppendEdgePoint(_MembraneWork<Depth>* work, int32_t x, int32_t y,
                      const typename Depth::Sample* samples) {
  _BoundaryPoint<Depth>& point = work->points[work->count];
  point.x = uint16_t(x);
  point.y = uint16_t(y);
  for (int32_t s = 0; s < work->planes; ++s) point.sample[s] = samples[s];
  if (work->count < kMaxBoundaryPoints) ++work->count;
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
    _ReadEncodedRow(work, y);
    for (int32_t x = 0; x < work->width - 1; ++x) {
      if (middle[x + 1] == 0 && _TouchesUnselected<Depth>(top, middle, bottom, x))
        _AppendEdgePoint(work, x, y, work->row + work->planes * (x + 1));
    }
    Sample* oldTop = top;
    top = middle;
    middle = bottom;
    bottom = oldTop;
  }
  return noErr;
}

// Without a selection the image's outer ring is the edge: row 0, row height - 1, then the first
// and last pixel of each middle row, each point with its own samples.
template <class Depth>
OSErr _FindEdgePointsOnFrame(_MembraneWork<Depth>* work) {
  const int32_t last = work->width - 1;
  for (int32_t y : {0, work->height - 1}) {
    _ReadEncodedRow(work, y);
    for (int32_t x = 0; x <= last; ++x) _AppendEdgePoint(work, x, y, work->row + work->planes * x);
  }
  for (int32_t y = 1; y < work->height - 1; ++y) {
    if (_Cancelled(work, y + work->progressShift)) return userCanceledErr;
    _ReadEncodedRow(work, y);
    _AppendEdgePoint(work, 0, y, work->row);
    _AppendEdgePoint(work, last, y, work->row + work->planes * last);
  }
  return noErr;
}

// ---- Fill ----

// The new value of a pixel from the weighted slots: single-precision sums, weights 1/√d² taken
// in double, opponent decoding with truncating integer divisions, low bits stored.
template <class Depth>
bool _DecodePixel(const SectorSlot* slots, int32_t planes, bool haveSelection,
                  typename Depth::Sample* pixel) {
  using Sample = typename Depth::Sample;
  float s0 = 0.0f, s1 = 0.0f, s2 = 0.0f, weight = 0.0f;
  for (int32_t i = 0; i < kSectorCount; ++i) {
    const SectorSlot& slot = slots[i];
    if (slot.sample[0] < 0 || slot.distance2 <= 0) continue;
    const float w = float(1.0 / std::sqrt(double(float(slot.distance2))));
    s0 += float(slot.sample[0]) * w;
    if (planes == 3) {
      s1 += float(slot.sample[1]) * w;
      s2 += float(slot.sample[2]) * w;
    }
    weight += w;
  }
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

// Finds the nearest edge point in each sector of pixel (x, y) and stores the pixel's new value.
// On equal distances the point listed first keeps its slot.
template <class Depth>
void _FillPixel(const _MembraneWork<Depth>* work, int32_t x, int32_t y,
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
      _FillPixel(work, x, y, work->row + work->planes * x);
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
int32_t _MembraneFill(NamedImage* image, RunRecord* record) {
  _MembraneWork<Depth> work = {};
  work.image = image;
  work.record = record;
  work.selection = record->selection;
  work.width = record->width;
  work.height = record->height;
  work.planes = std::abs(int32_t(record->planes));
  if (work.width < 1 || work.height < 1) return noErr;  // no pixel to fill or smooth
  if (work.planes != 1 && work.planes != 3) return paramErr;
  work.progressShift = work.selection ? work.height : 0;
  work.progressTotal = 11 * work.height + work.progressShift;

  OSErr err = _AllocateWork(&work);
  if (err == noErr && work.selection) err = _BuildEdgeMask(&work);
  if (err == noErr)
    err = work.selection ? _FindEdgePointsInMask(&work) : _FindEdgePointsOnFrame(&work);
  if (err == noErr && work.count > 0) err = _FillPass(&work);
  if (err == noErr) err = _SmoothingPasses(&work);
  _ReleaseWork(&work);
  return err;
}

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

bool _PixelFromSectors(const SectorSlot* slots, int32_t planes, bool haveSelection,
                       uint8_t* pixel) {
  return _DecodePixel<_Depth8>(slots, planes, haveSelection, pixel);
}

bool _PixelFromSectors(const SectorSlot* slots, int32_t planes, bool haveSelection,
                       uint16_t* pixel) {
  return _DecodePixel<_Depth16>(slots, planes, haveSelection, pixel);
}

int32_t MembraneFill(NamedImage* image, RunRecord* record) {
  return _MembraneFill<_Depth8>(image, record);
}

int32_t MembraneFill16(NamedImage* image, RunRecord* record) {
  return _MembraneFill<_Depth16>(image, record);
}
