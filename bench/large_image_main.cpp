// areafill_large_image: one filter run over a large 8-bit grey image with a small round hole,
// through a host that holds only the rows it is passing: input rows are computed on demand and
// output rows go straight to a file. What the run itself holds therefore shows in the process's
// peak memory.
//
//   areafill_large_image WIDTH HEIGHT disk|memory OUTPUT-FILE [MEMORY-CAP-MIB [PREFS-DIR]]
//
// A cap of 0 leaves the address space uncapped.
//
// "disk" puts every scratch image in the Preferences folder (PREFS-DIR, else the user's own) by
// allowing no temporary memory; "memory" lets them all be held in memory. MEMORY-CAP-MIB caps the
// process's address space. Prints one line: width, height, mode, result, peak RSS in KiB,
// seconds, and the number of pixels the fill changed. Exit status 0 when the run succeeded.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "filter/entry/entry.h"
#include "platform/dialog_backend.h"
#include "platform/files.h"
#include "platform/memory.h"

namespace {

struct StreamingHost {
  FilterRecord record{};
  int32_t width = 0, height = 0;
  int radius = 0;
  int outFd = -1;
  std::vector<uint8_t> in, out, mask;
  Rect outTaken = {0, 0, 0, 0};  // the rectangle `out` was handed out for
  long changed = 0;
};

StreamingHost* gHost = nullptr;

uint8_t Pixel(int32_t x, int32_t y) { return uint8_t(x * 7 + y * 13 + ((x * y) >> 5)); }

bool Selected(const StreamingHost& h, int32_t x, int32_t y) {
  double dx = x - h.width / 2.0, dy = y - h.height / 2.0;
  return dx * dx + dy * dy <= double(h.radius) * h.radius;
}

// Writes the last output row handed out to the output file, at its place.
void TakeOutput(StreamingHost& h) {
  if (h.outTaken.bottom <= h.outTaken.top) return;
  int32_t y = h.outTaken.top;
  for (int32_t x = 0; x < h.width; ++x)
    if (h.out[size_t(x)] != Pixel(x, y)) ++h.changed;
  if (pwrite(h.outFd, h.out.data(), size_t(h.width), off_t(y) * h.width) != h.width) std::abort();
  h.outTaken = {0, 0, 0, 0};
}

// Delivers the requested rows; this host is asked for one whole row at a time.
void Deliver(StreamingHost& h) {
  FilterRecord& r = h.record;
  r.inData = r.outData = r.maskData = nullptr;
  if (r.inRect.bottom > r.inRect.top) {
    for (int32_t x = 0; x < h.width; ++x) h.in[size_t(x)] = Pixel(x, r.inRect.top);
    r.inData = h.in.data();
    r.inRowBytes = h.width;
  }
  if (r.outRect.bottom > r.outRect.top) {
    for (int32_t x = 0; x < h.width; ++x) h.out[size_t(x)] = Pixel(x, r.outRect.top);
    r.outData = h.out.data();
    r.outRowBytes = h.width;
    h.outTaken = r.outRect;
  }
  if (r.haveMask && r.maskRect.bottom > r.maskRect.top) {
    for (int32_t x = 0; x < h.width; ++x)
      h.mask[size_t(x)] = Selected(h, x, r.maskRect.top) ? 255 : 0;
    r.maskData = h.mask.data();
    r.maskRowBytes = h.width;
  }
}

OSErr AdvanceState() {
  TakeOutput(*gHost);
  Deliver(*gHost);
  return noErr;
}

void Progress(int32_t, int32_t) {}
Boolean Abort() { return 0; }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr,
                 "usage: %s WIDTH HEIGHT disk|memory OUTPUT-FILE [MEMORY-CAP-MIB [PREFS-DIR]]\n",
                 argv[0]);
    return 2;
  }
  StreamingHost host;
  host.width = std::atoi(argv[1]);
  host.height = std::atoi(argv[2]);
  const bool disk = std::strcmp(argv[3], "disk") == 0;
  host.radius = 12;
  if (argc > 6) PlatformSetPreferencesFolder(argv[6]);
  if (argc > 5 && std::atoll(argv[5]) > 0) {
    rlim_t cap = rlim_t(std::atoll(argv[5])) << 20;
    struct rlimit limit = {cap, cap};
    setrlimit(RLIMIT_AS, &limit);
  }
  host.outFd = open(argv[4], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (host.outFd < 0) return 2;
  host.in.resize(size_t(host.width));
  host.out.resize(size_t(host.width));
  host.mask.resize(size_t(host.width));
  PlatformSetTempMemoryLimit(disk ? 0 : -1);
  PlatformSetDialogBackend(PlatformScriptedDialogBackend());  // headless: the remembered fill

  FilterRecord& r = host.record;
  r.abortProc = Abort;
  r.progressProc = Progress;
  r.imageSize = Point{int16_t(host.height), int16_t(host.width)};
  r.planes = 1;
  r.filterRect = Rect{0, 0, int16_t(host.height), int16_t(host.width)};
  r.maxSpace = 0x7fffffff;
  r.haveMask = 1;
  r.autoMask = 1;
  r.hostSig = FourCC("AFlg");
  r.imageMode = plugInModeGrayScale;
  r.depth = 8;
  r.advanceState = AdvanceState;
  gHost = &host;

  auto started = std::chrono::steady_clock::now();
  intptr_t data = 0;
  int16_t result = 0;
  for (int16_t selector : {filterSelectorParameters, filterSelectorPrepare, filterSelectorStart}) {
    if (result == 0) AreaFillMain(selector, &r, &data, &result);
  }
  if (result == 0) TakeOutput(host);
  int16_t finish = 0;
  AreaFillMain(filterSelectorFinish, &r, &data, &finish);
  if (r.parameters) DisposeHandle(r.parameters);
  if (data) DisposeHandle(reinterpret_cast<Handle>(data));
  close(host.outFd);
  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("%d %d %s result=%d peak_rss_kib=%ld seconds=%.1f changed=%ld\n", host.width,
              host.height, disk ? "disk" : "memory", result, usage.ru_maxrss, seconds,
              host.changed);
  return result == 0 && finish == 0 ? 0 : 1;
}
