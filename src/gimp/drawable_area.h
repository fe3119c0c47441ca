// The part of a GIMP drawable that a filter run works on: its samples in the drawable's own
// encoding (GEGL buffers, no colour conversion), the selection over it, GIMP's foreground and
// background colours in the same encoding, and the write-back through the shadow buffer, whose
// merge lets GIMP confine the result to the selection and record one undo step.
#pragma once

#include <babl/babl.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "hostkit/stored_samples.h"

namespace areafill_gimp {

struct DrawableArea {
  int32_t drawable = -1;
  int32_t x = 0, y = 0;  // the area's top-left corner in the drawable
  hostkit::StoredLayout layout;
  const Babl* format = nullptr;  // how `samples` are encoded
  std::vector<uint8_t> samples;  // layout.ByteCount() bytes, rows top to bottom
  // One byte per pixel of the area, 255 × the weight with which GIMP merges the result there
  // (0 unselected, 255 selected), or empty when the image has no selection (the whole drawable
  // is the area).
  std::vector<uint8_t> mask;
};

enum class AreaStatus { kRead, kNothingSelected, kFailed };

// Reads the area of `drawable` (of `image`) that the selection covers, as
// gimp_drawable_mask_intersect bounds it, with the selection's bytes. Samples keep the
// drawable's colour model, colour space and tone curve; their type becomes 8-bit (8-bit),
// 16-bit (16- and 32-bit integer) or 32-bit float (half, float and double). Returns
// kNothingSelected when the selection misses the drawable, kFailed with *error for a drawable
// that is not grey or RGB or is too large.
AreaStatus ReadDrawableArea(int32_t image, int32_t drawable, DrawableArea* area,
                            std::string* error);

// Writes `samples` (laid out as area.samples) into the drawable's shadow buffer over the area,
// merges it (GIMP applies the selection and pushes one undo step named after the procedure)
// and marks the area for redrawing.
void WriteDrawableArea(const DrawableArea& area, const void* samples);

// GIMP's foreground (or background) colour as 8-bit samples in the encoding of `format`'s
// colour: red, green, blue for RGB drawables, the grey value three times for grey ones.
std::array<uint8_t, 3> ContextColour(bool foreground, const Babl* format);

}  // namespace areafill_gimp
