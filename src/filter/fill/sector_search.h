// The winner search of the membrane fill: for every pixel of a row, the nearest edge point in
// each of the 32 sectors around it, exactly as visiting every edge point finds it (the same
// sectors, the same strict "nearer" and so the lower index on equal distances), in time that
// grows with the rows and the edge points rather than with their product.
//
// Use: make the search from the kept edge list, ask the fill rows in increasing order, dispose.
// Making it runs the sectors that look down from the bottom row of the points up, recording each
// row's changes; asking a row carries the sectors that look up one row on and replays the others.
// Pixels in the bounding box of the points are found that way; any other pixel asked (in the fill
// only pixels of the last column, which is never an edge point) by visiting every point.
#pragma once

#include <cstdint>

#include "filter/fill/fill_workers.h"
#include "platform/mac_types.h"

constexpr int32_t kSearchSectors = 32;              // winners reported per pixel
constexpr int32_t kSearchMaxPoints = 32000;         // edge points a search accepts
constexpr int32_t kSearchFarDistance2 = 999999999;  // a point this far away (squared) never wins

struct SectorSearch;

// Builds a search over the edge points (xs[i], ys[i]), i = 0 .. count - 1, of an image of
// width × height pixels. The points are read here and not kept; a point listed again later is
// ignored, since the earlier entry wins all its ties. Time and memory grow with the points and
// the width of their bounding box (memory holds no per-pixel data). With `workers` the two
// quadrants that look down are run on two threads.
// Returns 0 and the search in *out; -50 (paramErr) when count is outside 0 .. 32000, the size
// outside 1 .. 32767, out is null, or a point lies outside the image; -108 (memFullErr) when
// memory is short. *out is null on failure and nothing is left allocated.
OSErr MakeSectorSearch(const uint16_t* xs, const uint16_t* ys, int32_t count, int32_t width,
                       int32_t height, SectorSearch** out, FillWorkers* workers = nullptr);

// Finds, for each pixel x of row y in columns first .. last with wanted[x] != 0 (every pixel when
// wanted is null; wanted holds the whole row), the winner of each sector s: the index of the
// nearest edge point i with d² = dx² + dy² > 0 whose sector of (dx, dy) = (x - xs[i], y - ys[i])
// is s, the lower index on equal distances, or -1 when no point of that sector is nearer than
// kSearchFarDistance2. Writes winners[32 * (x - first) + s] and, when distances2 is not null,
// distances2[32 * (x - first) + s] (d², or kSearchFarDistance2 for -1). Slots of pixels not
// wanted may be overwritten with anything. Asking a row in spans of a few hundred columns keeps
// the slots in the processor's cache while the pixels are worked out. Rows must be asked in
// nondecreasing order (a row again for other columns); rows may be skipped.
// Returns 0; -50 when search or winners is null, y is outside the image or before the previous
// row asked, or the columns are not within 0 .. width - 1 in order; -108 when a work buffer could
// not grow (the slots are then undefined and the search can only be disposed).
OSErr FindRowWinners(SectorSearch* search, int32_t y, int32_t first, int32_t last,
                     const uint8_t* wanted, int32_t* winners, int32_t* distances2);

// The two halves of FindRowWinners, for threads that share one search: AdvanceSearch brings the
// search to row y (rows in nondecreasing order; the same row again does nothing), on one thread
// while no other uses the search; CollectRowWinners then writes the winners of row y, the row
// last advanced to, for columns first .. last as FindRowWinners does (distances2 is required),
// and only reads the search, so that threads may collect different columns at the same time.
// Both return 0 or -50 as FindRowWinners does; AdvanceSearch -108 as it does.
OSErr AdvanceSearch(SectorSearch* search, int32_t y);
OSErr CollectRowWinners(const SectorSearch* search, int32_t y, int32_t first, int32_t last,
                        const uint8_t* wanted, int32_t* winners, int32_t* distances2);

// Where a row's winners are written: sector s of column x at winners[s / 8][pitch × (x - first)
// + reach × (s % 8)], its squared distance at the same place of distances2[s / 8].
// FindRowWinners and CollectRowWinners lay them 32 to a pixel (SlotsOfPixels); each quadrant may
// also have a buffer of its own, 8 slots to a pixel, so that threads filling different quadrants
// never write the same cache line; or each sector a row of slots, one to a column
// (SlotsOfColumns), which the reading writes a few columns at a time.
struct SectorSlots {
  int32_t* winners[4];
  int32_t* distances2[4];
  int32_t pitch;  // from one column to the next
  int32_t reach;  // from one sector to the next
};

inline SectorSlots SlotsOfPixels(int32_t* winners, int32_t* distances2) {
  return {{winners, winners + 8, winners + 16, winners + 24},
          {distances2, distances2 + 8, distances2 + 16, distances2 + 24},
          kSearchSectors,
          1};
}

// Columns written past the stretch asked, on either side, when the slots are one to a column.
constexpr int32_t kSlotRowMargin = 8;

// Slots by sector for up to `columns` columns: sector s's row of winners begins kSlotRowMargin
// after winners + s × (columns + 2 × kSlotRowMargin), its columns one after the other; the
// buffers hold 32 such rows.
inline int32_t SlotRowLength(int32_t columns) { return columns + 2 * kSlotRowMargin; }
inline SectorSlots SlotsOfColumns(int32_t* winners, int32_t* distances2, int32_t columns) {
  const int32_t row = SlotRowLength(columns);
  SectorSlots slots;
  for (int32_t q = 0; q < 4; ++q) {
    slots.winners[q] = winners + 8 * q * row + kSlotRowMargin;
    slots.distances2[q] = distances2 + 8 * q * row + kSlotRowMargin;
  }
  slots.pitch = 1;
  slots.reach = row;
  return slots;
}

// The same by quadrant, for threads that share the rows' steps too. Quadrant q (0 .. 3) holds
// sectors 8q .. 8q + 7 and is independent of the others: AdvanceSearchQuadrant brings it to row
// y (its rows in nondecreasing order) while no other call uses that quadrant, and
// CollectQuadrantWinners writes its sectors' slots of row y, the row it was last brought to, as
// CollectRowWinners does. CollectRowRest, once the four quadrants' slots of row y are written,
// adds what the quadrants leave to the row itself: the points of the pixel's own row, and pixels
// outside the points' columns; it reads no quadrant. Returns as the calls above do.
// AdvanceSearch and CollectRowWinners do the same for the four quadrants in turn.
OSErr AdvanceSearchQuadrant(SectorSearch* search, int32_t quadrant, int32_t y);
OSErr CollectQuadrantWinners(const SectorSearch* search, int32_t quadrant, int32_t y, int32_t first,
                             int32_t last, const uint8_t* wanted, const SectorSlots& slots);
OSErr CollectRowRest(const SectorSearch* search, int32_t y, int32_t first, int32_t last,
                     const uint8_t* wanted, const SectorSlots& slots);
// CollectRowWinners into any slots.
OSErr CollectRowSlots(const SectorSearch* search, int32_t y, int32_t first, int32_t last,
                      const uint8_t* wanted, const SectorSlots& slots);

// Releases the search and everything it holds. Accepts null.
void DisposeSectorSearch(SectorSearch* search);

// ---- Internal steps, exposed for tests ----

// The sector, 0..31, of (dx, dy) by integer comparisons with the search's exact slopes; for
// |dx|, |dy| <= 32767 it equals the fill's single-precision rule (_SectorOf). (0, 0) gives 0.
int32_t _ExactSectorOf(int32_t dx, int32_t dy);
