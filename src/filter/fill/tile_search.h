// The winner search of the membrane fill for small and thin holes: the nearest edge point in
// each of the 32 sectors around every pixel of a 16×16 tile, exactly as visiting every edge point
// finds it (the same sectors, the same strict "nearer" and so the lower index on equal
// distances), in time that follows the tile's pixels rather than the rows of the image.
//
// Each pixel first visits the points within kTileReach pixels of it; a sector whose winner lies
// that near is settled. For the sectors left open the tile gathers, in rings of cells around it,
// the points that can win there for one of its pixels: every point of the sector's reach from
// the tile up to the distance at which a point seen in that sector from all of the tile's pixels
// (a witness) is farther from none of them. Those few candidates are then visited per pixel.
#pragma once

#include <cstdint>

#include "platform/mac_types.h"

constexpr int32_t kTileSide = 16;     // pixels per side of a tile, at most
constexpr int32_t kTileReach = 6;     // pixels within this Chebyshev distance are visited first
constexpr int32_t kTileSectors = 32;  // winners reported per pixel
constexpr int32_t kTileMaxPoints = 32000;

struct TileSearch;  // the edge points in cells, read-only once made; shared by every lane
struct TileLane;    // one thread's work buffers

// Lays out the edge points (xs[i], ys[i]), i = 0 .. count - 1, of an image of width × height
// pixels in square cells. Memory grows with the points (at most about four cells a point).
// Returns 0 and the search in *out; -50 when count is outside 0 .. 32000, the size outside
// 1 .. 32767 or a point outside the image; -108 when memory is short (*out is then null).
OSErr MakeTileSearch(const uint16_t* xs, const uint16_t* ys, int32_t count, int32_t width,
                     int32_t height, TileSearch** out);
void DisposeTileSearch(TileSearch* search);

// One lane's buffers, grown as tiles need. 0, or -108 (*out null).
OSErr MakeTileLane(TileLane** out);
void DisposeTileLane(TileLane* lane);

// Finds the winners of the pixels of one tile: columns x0 .. x0 + columns - 1 of rows
// y0 .. y0 + rows - 1 (anywhere in the image, columns and rows at most kTileSide),
// those with wanted[r][c] != 0 (row r of the tile, column x0 + c). For wanted pixel (c, r) it
// writes winners[32 * (r * kTileSide + c) + s], the index of the winning point of sector s or
// -1, and distances2[the same], its squared distance or 999999999 for -1. Other slots are left
// as they were. Returns 0, or -108 when a buffer could not grow (the slots are then undefined).
OSErr FindTileWinners(const TileSearch* search, TileLane* lane, int32_t x0, int32_t y0,
                      int32_t columns, int32_t rows, const uint8_t* const* wanted, int32_t* winners,
                      int32_t* distances2);
