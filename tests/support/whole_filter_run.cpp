// In-process filter runs for the reliability tests and the fuzz targets.
#include "support/whole_filter_run.h"

#include <cmath>

#include "filter/entry/entry.h"
#include "hostkit/scripting_host.h"

namespace whole_run {

hostkit::HostImage PatternImage(int w, int h, int planes, int depth, int16_t mode) {
  hostkit::HostImage image = hostkit::HostImage::Make(w, h, int16_t(planes), int16_t(depth), mode);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int p = 0; p < planes; ++p) {
        int v = (x * 37 + y * 53 + p * 71) % 200 + 20;
        image.Set(x, y, p, depth == 8 ? v : depth == 16 ? v * 128 : v / 255.0);
      }
  return image;
}

std::vector<uint8_t> DiscMask(int w, int h, double radius) {
  std::vector<uint8_t> mask(size_t(w) * size_t(h), 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (std::hypot(x - w / 2.0, y - h / 2.0) <= radius) mask[size_t(y * w + x)] = 255;
  return mask;
}

int16_t RunPlayed(hostkit::HostImage& image, const hostkit::RunOptions& options,
                  const hostkit::Descriptor* play, hostkit::Descriptor* recorded,
                  const std::function<void()>& arm, hostkit::RunReport* report) {
  hostkit::RunOptions run = options;
  hostkit::ScriptingHost scripting;
  if (play) {
    if (!scripting.SetPlay(*play, plugInDialogDontDisplay)) return memFullErr;
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
  if (recorded) scripting.TakeRecorded(recorded);  // empty when nothing was recorded
  return result;
}

int16_t RunOnce(hostkit::HostImage& image, const hostkit::RunOptions& options, int method,
                const std::function<void()>& arm, hostkit::RunReport* report) {
  if (method == 0) return RunPlayed(image, options, nullptr, nullptr, arm, report);
  hostkit::Descriptor play;
  play.Put(hostkit::DescriptorItem::Enumerated(FourCC("FilM"), FourCC("rB22"),
                                               DescriptorEnumID(method)));
  return RunPlayed(image, options, &play, nullptr, arm, report);
}

}  // namespace whole_run
