// The membrane fill: every selected pixel of the working image becomes an inverse-distance-
// weighted mean of the nearest edge point in each of 32 directions, then eight 3×3 smoothing
// passes run over the whole image. MembraneFill works on 8-bit samples, MembraneFill16 on 16-bit.
#pragma once

#include "filter/image/named_image.h"
#include "filter/run/run_record.h"

constexpr int32_t kMaxBoundaryPoints = 32000;  // edge points beyond these are dropped
constexpr int32_t kSectorCount = 32;           // directions of 11.25° around a filled pixel

// Fills the selected pixels of `image` (record->width × record->height pixels of |planes|
// interleaved samples: 1 for grey, 3 for RGB) and smooths the whole image, in place, reading and
// writing one row at a time. record->selection is the 8-bit selection mask (a pixel is selected
// at 128 or more) or null to fill every pixel inside the image's outer ring. Progress and the
// cancel test go through record->host once per row. Returns 0 when the fill ran to its end;
// -128 when the user cancelled (rows written so far stay written); -108 when the work storage or
// the "TempImage" edge mask could not be had (the image is untouched); -50 when |planes| is
// neither 1 nor 3 (untouched); 0 at once for an image without pixels. Every buffer is released
// and the edge mask tossed on each return.
int32_t MembraneFill(NamedImage* image, RunRecord* record);

// The same for 16-bit samples (0..32768 is the host's scale; results are not clamped to it).
int32_t MembraneFill16(NamedImage* image, RunRecord* record);

// ---- Internal steps, exposed for tests and benchmarks ----

// The two engines by name, whatever the host chose (MembraneFill runs the fast one unless the host
// asked for the reference). Same arguments, results and statuses as MembraneFill and
// MembraneFill16. `threads` is the number of threads the fast engine uses, the calling one
// included; 0 takes at most the host's count, or else one per processor, and fewer where the
// work would not divide between them.
int32_t _MembraneFillReference8(NamedImage* image, RunRecord* record);
int32_t _MembraneFillReference16(NamedImage* image, RunRecord* record);
int32_t _MembraneFillFast8(NamedImage* image, RunRecord* record, int32_t threads);
int32_t _MembraneFillFast16(NamedImage* image, RunRecord* record, int32_t threads);

// The sector, 0..31, of an edge point seen from a pixel, with dx = pixel x - point x and
// dy = pixel y - point y, not both 0.
int32_t _SectorOf(int32_t dx, int32_t dy);
