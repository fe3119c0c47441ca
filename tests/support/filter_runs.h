// Whole filter runs in-process through the host kit, for the tests that drive the filter as a
// host does: small deterministic images in any mode, a disc-shaped mask, and one call that runs
// the filter with a chosen fill (replayed from a script, or the remembered one via the dialog).
#pragma once

#include <cmath>
#include <functional>
#include <vector>

#include "filter/entry/entry.h"
#include "hostkit/descriptor.h"
#include "hostkit/filter_host.h"
#include "hostkit/scripting_host.h"

namespace filter_runs {

// A w × h image of `planes` samples at `depth` bits in `mode`, from a fixed formula.
inline hostkit::HostImage PatternImage(int w, int h, int planes, int depth, int16_t mode) {
  hostkit::HostImage image = hostkit::HostImage::Make(w, h, int16_t(planes), int16_t(depth), mode);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int p = 0; p < planes; ++p) {
        const int v = (x * 37 + y * 53 + p * 71) % 200 + 20;
        image.Set(x, y, p, depth == 8 ? v : depth == 16 ? v * 128 : v / 255.0);
      }
  return image;
}

// A disc of selected pixels (255) centred in a w × h mask.
inline std::vector<uint8_t> DiscMask(int w, int h, double radius) {
  std::vector<uint8_t> mask(size_t(w) * size_t(h), 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (std::hypot(x - w / 2.0, y - h / 2.0) <= radius) mask[size_t(y * w + x)] = 255;
  return mask;
}

// Runs the filter on `image`. `method` 3..9 is replayed without the dialog; 0 shows the dialog,
// which takes the remembered choice. `arm`, when given, is called just before the run starts and
// after the host's own set-up. The plug-in's globals are released after the run. Returns the
// run's result; *report, when given, what the host saw.
inline int16_t RunOnce(hostkit::HostImage& image, const hostkit::RunOptions& options, int method,
                       hostkit::RunReport* report = nullptr,
                       const std::function<void()>& arm = nullptr) {
  hostkit::RunOptions run = options;
  hostkit::ScriptingHost scripting;
  if (method != 0) {
    hostkit::Descriptor play;
    play.Put(hostkit::DescriptorItem::Enumerated(FourCC("FilM"), FourCC("rB22"),
                                                 DescriptorEnumID(method)));
    if (!scripting.SetPlay(play, plugInDialogDontDisplay)) return memFullErr;
    run.descriptorParameters = scripting.descriptorParameters();
    run.handleProcs = scripting.handleProcs();
  }
  intptr_t globals = 0;
  int16_t result;
  {
    hostkit::ScriptingHost::Activation active(scripting);
    if (arm) arm();
    result = hostkit::RunFilter(AreaFillMain, image, run, &globals, report);
  }
  hostkit::ReleasePluginData(&globals);
  return result;
}

}  // namespace filter_runs
