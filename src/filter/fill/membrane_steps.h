// The steps that both membrane fill engines share: the work record and its storage, the edge
// mask, the edge list, the value of a pixel from its 32 sector winners, and the per-row progress
// and cancel test. The reference engine (membrane_fill.cpp) and the fast one (membrane_fast.cpp)
// differ only in how they find the winners and how they run the smoothing passes.
#pragma once

#include <cstdint>

#include "filter/fill/membrane_fill.h"

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

// One direction's nearest edge point so far for the pixel being filled.
struct SectorSlot {
  int32_t distance2;  // squared distance; 999999999 while the slot is empty
  int32_t sample[3];  // the point's encoded samples; sample[0] is -1 while the slot is empty
};

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

// Fills in the work record for `image` and `record`. Returns 0, or -50 when |planes| is neither
// 1 nor 3. An image without pixels gets a record with no rows (check work->height > 0 and
// work->width > 0 before anything else).
template <class Depth>
OSErr _SetUpWork(_MembraneWork<Depth>* work, NamedImage* image, RunRecord* record);

// Takes the work buffers and, with a selection, the edge mask. On failure what was obtained
// stays in `work` for _ReleaseWork. Returns 0, or -108 when anything could not be had.
template <class Depth>
OSErr _AllocateWork(_MembraneWork<Depth>* work);

// Tosses the edge mask and releases every work buffer; safe on a partly allocated record.
template <class Depth>
void _ReleaseWork(_MembraneWork<Depth>* work);

// Reports progress `done` for one row, then asks the host whether to stop: true when cancelled.
template <class Depth>
bool _Cancelled(_MembraneWork<Depth>* work, int32_t done);

// Builds the edge mask (with a selection) and lists the edge points in work->points. Neither
// step changes the working image. Returns 0, or -128 when the user cancelled.
template <class Depth>
OSErr _FindEdgePoints(_MembraneWork<Depth>* work);

// Lists pixel (x, y) with the encoded samples of pixel `from` of `row` (plain samples as read).
// Once the list is full, later points land on the spare entry after the last counted one and are
// never read.
template <class Depth>
void _AppendEdgePoint(_MembraneWork<Depth>* work, int32_t x, int32_t y,
                      const typename Depth::Sample* row, int32_t from);

// Without a selection the image's outer ring is the edge: lists row 0, row height - 1, then the
// first and last pixel of each middle row, each point with its own samples. Returns 0, or -128
// when the user cancelled.
template <class Depth>
OSErr _FindEdgePointsOnFrame(_MembraneWork<Depth>* work);

// Writes the weight 1/√d² of each of the 32 slots to weights[0..31], counted or not: d² narrowed
// to single precision and widened to double, square root and division in double, the quotient
// narrowed to single.
void _SlotWeights(const SectorSlot* slots, float* weights);

// The same weights from 32 squared distances in a row (distances2[0..31]).
void _DistanceWeights(const int32_t* distances2, float* weights);

// Weighs the 32 slots of one pixel and writes its new samples (|planes| of them, 1 or 3) to
// `pixel`. Returns false, leaving `pixel` as it was, when a selection is present and no slot
// counts; true otherwise.
template <class Depth>
bool _DecodePixel(const SectorSlot* slots, int32_t planes, bool haveSelection,
                  typename Depth::Sample* pixel);

// The last step of _DecodePixel: the pixel's value from the weighted sums s0, s1, s2 (brightness
// and the two colour differences; s1, s2 unused for one plane) and the weights' sum. Leaves the
// pixel and returns false when a selected pixel has no weight; otherwise stores it, true.
template <class Depth>
bool _FinishPixel(float s0, float s1, float s2, float weight, int32_t planes, bool haveSelection,
                  typename Depth::Sample* pixel);

// Stores the new value of pixel (x, y) in `pixel` by visiting every kept edge point: the
// reference engine's definition of the fill.
template <class Depth>
void _FillPixelByVisit(const _MembraneWork<Depth>* work, int32_t x, int32_t y,
                       typename Depth::Sample* pixel);

// The fast engine's two steps (membrane_fast.cpp, membrane_smoothing.cpp) and its entry.
template <class Depth>
int32_t _MembraneFillFast(NamedImage* image, RunRecord* record, int32_t threads);
