// In-process runs and sweep bookkeeping for the reliability tests.
#include "run_harness.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "filter/entry/entry.h"
#include "hostkit/descriptor.h"
#include "hostkit/scripting_host.h"

namespace reliability {

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

int16_t RunOnce(hostkit::HostImage& image, const hostkit::RunOptions& options, int method,
                const std::function<void()>& arm) {
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
    result = hostkit::RunFilter(AreaFillMain, image, run, &globals);
  }
  hostkit::ReleasePluginData(&globals);
  return result;
}

bool Exhaustive() {
  const char* value = std::getenv("AREAFILL_EXHAUSTIVE");
  return value && std::strcmp(value, "1") == 0;
}

std::vector<long> SweepPoints(long count, long quickLimit) {
  std::vector<long> points;
  if (Exhaustive() || count <= quickLimit) {
    for (long k = 0; k < count; ++k) points.push_back(k);
    return points;
  }
  for (long i = 0; i < quickLimit; ++i) points.push_back(i * (count - 1) / (quickLimit - 1));
  return points;
}

void ReportSweep(const std::string& sweep, long tried, long survived) {
  std::printf("fault-points %s: tried %ld, survived %ld\n", sweep.c_str(), tried, survived);
  std::fflush(stdout);
}

}  // namespace reliability
