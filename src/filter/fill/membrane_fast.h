// The fast membrane engine's storage and steps. Rows move in rounds: the calling (host) thread
// reads a round's rows, the lanes compute its tiles, blocks of rows or, in the fill by rows, the
// columns of each wide row on the fill's worker threads, and the host thread then reports
// progress, tests for cancel and writes each row in order, once per row, as the reference
// engine does. A cancelled round writes nothing more, so the image ends as
// a one-row-at-a-time run would have left it.
#pragma once

#include "filter/fill/fill_workers.h"
#include "filter/fill/membrane_steps.h"
#include "filter/fill/sector_search.h"
#include "filter/fill/tile_search.h"

// Rows a lane takes per round. Small enough that a cancel is answered within a few rows' work,
// large enough that waking the threads costs little against a block's work.
constexpr int32_t kFastBlockRows = 16;

// Rows of a round of the fill by tiles, at least: its bands of tiles start at the first row
// with a pixel to fill, so a hole is cut in two only where a band or a round ends.
constexpr int32_t kTileRoundRows = 4 * kFastBlockRows;
static_assert(kTileRoundRows <= kMaxFillThreads * kFastBlockRows, "a round's rows fit its arrays");

// Columns of a row asked of the fill by rows' search at once: their winners (64 KiB) stay in the
// processor's cache until their pixels are worked out.
constexpr int32_t kRowSpan = 256;

// Columns to fill that a row must have for each lane that shares its winners and pixels: fewer
// take less time than waking another thread for them.
constexpr int32_t kSharedRowColumns = 128;

// Pixels to fill per row of the edge points' span, on average, for the fill by rows to take more
// than one lane: each row then wakes the threads twice (its search's four quadrants, then its
// columns), which fewer pixels do not repay.
constexpr int64_t kSharedRowPixels = 256;

// The fill goes by tiles when it has at most this many pixels to fill for each edge point.
constexpr int64_t kTilesPerEdgePoint = 16;

struct FrameWinners;  // the fill without a selection's winners, from the ring (below)

// One lane's buffers in the fill pass: the winners of the columns or the tile it works on.
struct _FillLane {
  // A span's slots: by sector with margins from the search (SlotsOfColumns), 32 to a pixel from
  // the ring; by tiles, a tile's 256 pixels × 32.
  int32_t* winners;
  int32_t* distances;  // the same
  TileLane* tiles;     // by tiles: the lane's work buffers
  void* sweepRing;     // the smoothing sweep's rings of rows for its bands, made on its thread
};

template <class Depth>
struct _FastWork {
  using Sample = typename Depth::Sample;
  FillWorkers* workers;
  int32_t lanes;      // blocks per round, one per thread
  int32_t blockRows;  // rows of one block, kFastBlockRows
  int32_t roundRows;  // lanes × blockRows
  Sample* in;         // roundRows + 2 image rows: a round's rows (smoothing: and the two above)
  Sample* out;        // roundRows image rows: a smoothing round's results
  uint8_t* masks;     // roundRows selection-mask rows, then flags of the pixels to fill
  uint16_t* xs;       // the edge points' columns and rows, for the searches
  uint16_t* ys;
  TileSearch* tiles;  // the fill by tiles' search, or null for the fill by rows
  // The fill by rows' search, brought to each row by the host's thread and read by every lane;
  // null without one (none made, or one that ran short of memory mid-fill): the lanes then visit
  // every edge point instead, which gives the same values.
  SectorSearch* search;
  FrameWinners* frame;  // without a selection: the winners worked out from the ring, no search
  int32_t* tileList;    // by tiles: a round's tiles with a pixel to fill
  // The fill by rows on several lanes: the winners of a chunk of chunkRows rows, each row's
  // columns from its first to its last pixel to fill, its quadrants' sectors a row of slots each
  // (membrane_shared_rows.cpp).
  int32_t chunkRows;
  int32_t* chunkWinners;
  int32_t* chunkDistances;
  // The smoothing sweep's rings of rows for the calling thread, then the rows each band holds
  // back, or null when the image is too large for a sweep.
  Sample* sweep;
  int32_t sweepBands;  // bands of rows swept at once, one to a thread
  _FillLane lane[kMaxFillThreads];
};

// The fill without a selection, from the image's outer ring (membrane_frame.cpp): in *out when
// the edge list is the whole ring as the edge search lists it (else null, and the fill goes by
// the search). 0, or -108 when short of memory.
template <class Depth>
OSErr _MakeFrameWinners(const _MembraneWork<Depth>* work, FrameWinners** out);
void DisposeFrameWinners(FrameWinners* frame);
// The winners of row y's columns first .. last, written as CollectRowWinners writes them.
void FindFrameRowWinners(const FrameWinners* frame, int32_t y, int32_t first, int32_t last,
                         int32_t* winners, int32_t* distances2);

// Whether the fill goes by tiles (small and thin holes: most filled pixels lie near the edge)
// rather than by rows: `filled` pixels to fill from `count` edge points.
bool _FillByTiles(bool haveSelection, int64_t filled, int32_t count);

// The new values of `count` pixels, each from its 32 winners (edge point index or -1) and their
// squared distances: pixels[k] from sector s's slot at offsets[k] + slots.reach × (s % 8) of the
// quadrant s / 8's buffers (membrane_pixels.cpp); _PixelsFromWinners for 32 slots a pixel,
// pixels[k]'s from winners[slots[k]] and distances[slots[k]] on.
template <class Depth>
void _PixelsFromSlots(const _MembraneWork<Depth>* work, int32_t count, const SectorSlots& slots,
                      const int32_t* offsets, typename Depth::Sample* const* pixels);
template <class Depth>
void _PixelsFromWinners(const _MembraneWork<Depth>* work, int32_t count, int32_t* winners,
                        int32_t* distances, const int32_t* slots,
                        typename Depth::Sample* const* pixels);

// The fill by rows on several lanes (membrane_shared_rows.cpp): the chunk buffers (0, or -108),
// and the rows ys[0 .. count) (at most fast->chunkRows of them, in increasing order, each with
// its pixels to fill flagged in wanted[k], null for every pixel, and its samples in rows[k])
// filled in place. False when the search ran short of memory: no row was changed, and the search
// can only be disposed.
template <class Depth>
OSErr _AllocateSharedRows(const _MembraneWork<Depth>* work, _FastWork<Depth>* fast);
template <class Depth>
bool _FillSharedRows(const _MembraneWork<Depth>* work, _FastWork<Depth>* fast, const int32_t* ys,
                     const uint8_t* const* wanted, typename Depth::Sample* const* rows,
                     int32_t count);

// The fill by tiles: its search and lanes' buffers, and the fill pass. 0, -108 or -128.
template <class Depth>
OSErr _AllocateTiles(const _MembraneWork<Depth>* work, _FastWork<Depth>* fast);
template <class Depth>
OSErr _FastFillTiles(_MembraneWork<Depth>* work, _FastWork<Depth>* fast);

// Builds the edge mask and lists the edge points exactly as _FindEdgePoints does, with the same
// progress reports and cancel tests, in one pass over the selection: the mask is written but never
// read back. *filled (when not null) receives the number of pixels the fill pass will fill.
// Returns 0, or -128 when the user cancelled.
template <class Depth>
OSErr _FastFindEdgePoints(_MembraneWork<Depth>* work, int64_t* filled = nullptr);

// Smooths one row: out = the 3×3 mean of the rows top, middle and bottom (width pixels of
// `planes` samples, 1 or 3), with the edge columns divided by 6 and a one-pixel-wide row by 3.
template <class Depth>
void _SmoothRowFast(const typename Depth::Sample* top, const typename Depth::Sample* middle,
                    const typename Depth::Sample* bottom, typename Depth::Sample* out,
                    int32_t width, int32_t planes);

// Smooths four neighbouring rows: out[k] from rows[k], rows[k + 1], rows[k + 2] (k = 0 .. 3),
// each as _SmoothRowFast would. No output row may overlap a source row.
template <class Depth>
void _SmoothFourRowsFast(const typename Depth::Sample* const* rows,
                         typename Depth::Sample* const* out, int32_t width, int32_t planes);

// The eight smoothing passes: in one sweep when fast->sweep was had, otherwise in rounds.
// Returns 0, or -128 when the user cancelled.
template <class Depth>
OSErr _FastSmoothingPasses(_MembraneWork<Depth>* work, _FastWork<Depth>* fast);

// The smoothing in one sweep (membrane_smoothing_sweep.cpp): the bands of rows worth sweeping at
// once on `lanes` threads (1 where the image is not swept, or is on disk, or is small), the
// calling thread's rings of rows in fast->sweep for fast->sweepBands bands when the image is
// small enough for a sweep (else null; 0, or -108 when short of memory), and the sweep, which
// reports nothing and cannot be cancelled.
template <class Depth>
bool _SmoothsInOneSweep(const _MembraneWork<Depth>* work);
template <class Depth>
int32_t _SweepBands(const _MembraneWork<Depth>* work, int32_t lanes);
template <class Depth>
OSErr _AllocateSweep(const _MembraneWork<Depth>* work, _FastWork<Depth>* fast);
template <class Depth>
void _SmoothInOneSweep(_MembraneWork<Depth>* work, _FastWork<Depth>* fast);
// For tests: the most samples an image may have to be smoothed in one sweep (0: never; -1: the
// engine's own limit). Returns the limit it replaces.
int64_t _SetSweepSamples(int64_t samples);
// For tests: the bands whose bits are set (bit b: band b) are left by their lanes as if refused
// memory for a ring, so that the calling thread sweeps them afterwards whatever the threads'
// timing. Returns the setting it replaces (0: none).
uint32_t _SetSweepBandsLeft(uint32_t bands);
