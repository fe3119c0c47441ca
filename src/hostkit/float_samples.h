// Float images filled through the filter's 16-bit mode. The filter leaves 32-bit images as they
// are; a host that wants them filled hands them over as 16-bit samples instead, scaled so that
// values above 1 (HDR) survive, and takes the result back as floats:
//   s = max(1, the largest colour sample of the filter area);
//   a colour sample v goes as h = ⌊min(max(v / s, 0), 1) × 32768 + 0.5⌋ (in double), and a
//   filtered h comes back as the float nearest to h × s / 32768 (in double);
//   an extra plane (alpha) goes as h = ⌊min(max(a, 0), 1) × 32768 + 0.5⌋ and comes back as the
//   exact float it was.
// Samples outside the filter area keep their exact values; inside it the host's masking then
// blends in floats, so a pixel the mask leaves alone keeps its exact value too.
#pragma once

#include "filter/host/filter_record.h"
#include "hostkit/host_image.h"

namespace hostkit {

// s of the rule: the largest colour sample of `image` (32-bit) inside `area`, at least 1.
double FloatScale(const HostImage& image, const Rect& area);

// The 16-bit host image (Gray16 or RGB48, the same planes) that carries `image` (grey or RGB,
// 32-bit) by the rule, with scale `scale`. Throws std::bad_alloc when memory is short.
HostImage FloatToSixteen(const HostImage& image, double scale);

// `original` with the colour samples inside `area` replaced by the rule's floats of `filtered`
// (the image FloatToSixteen made, after the run). Extra planes and everything outside `area`
// keep their exact values. Throws std::bad_alloc when memory is short.
HostImage SixteenToFloat(const HostImage& filtered, const HostImage& original, const Rect& area,
                         double scale);

}  // namespace hostkit
