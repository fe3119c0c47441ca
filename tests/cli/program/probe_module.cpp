// A stand-in filter module for the command-line host's tests. It asks for the whole filter area
// at once, writes down what the host handed it (the record's fields, the input samples and the
// mask) to $AREAFILL_PROBE_LOG, and answers with output that $AREAFILL_PROBE_OUT describes:
//   (unset)   the input as it came
//   "set V"   every sample of every plane of the area set to V (in the image's own scale)
//   "add D"   D added to every sample of every plane (no clamping: 16-bit sums may pass 32768)
//   "fail N"  the start selector returns status N and nothing is requested
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "filter/host/filter_record.h"

namespace {

size_t _BytesPerSample(const FilterRecord& r) { return r.depth == 16 ? 2 : r.depth == 32 ? 4 : 1; }

void _WriteHex(std::FILE* log, const char* name, const void* data, size_t rows, size_t rowBytes,
               int32_t stride) {
  std::fprintf(log, "%s", name);
  for (size_t y = 0; y < rows; ++y) {
    const auto* row = static_cast<const uint8_t*>(data) + y * size_t(stride);
    for (size_t i = 0; i < rowBytes; ++i) std::fprintf(log, "%s%02x", i ? "" : " ", row[i]);
  }
  std::fprintf(log, "\n");
}

void _Log(const FilterRecord& r, size_t rows, size_t rowBytes) {
  const char* path = std::getenv("AREAFILL_PROBE_LOG");
  if (!path) return;
  std::FILE* log = std::fopen(path, "w");
  if (!log) return;
  const Rect& a = r.filterRect;
  std::fprintf(log, "mode %d\nplanes %d\ndepth %d\n", r.imageMode, r.planes, int(r.depth));
  std::fprintf(log, "filterRect %d %d %d %d\n", a.top, a.left, a.bottom, a.right);
  std::fprintf(log, "imageSize %d %d\n", r.imageSize.v, r.imageSize.h);
  std::fprintf(log, "haveMask %d\nautoMask %d\n", r.haveMask, r.autoMask);
  std::fprintf(log, "foreColor %d %d %d\n", r.foreColor[0], r.foreColor[1], r.foreColor[2]);
  std::fprintf(log, "backColor %d %d %d\n", r.backColor[0], r.backColor[1], r.backColor[2]);
  _WriteHex(log, "in", r.inData, rows, rowBytes, r.inRowBytes);
  if (r.haveMask && r.maskData)
    _WriteHex(log, "mask", r.maskData, rows, size_t(a.right - a.left), r.maskRowBytes);
  std::fclose(log);
}

// Changes one sample as $AREAFILL_PROBE_OUT asks.
void _Change(uint8_t* sample, size_t bytes, char how, double amount) {
  if (bytes == 1) {
    *sample = uint8_t(how == 's' ? amount : *sample + amount);
  } else if (bytes == 2) {
    uint16_t v;
    std::memcpy(&v, sample, 2);
    v = uint16_t(how == 's' ? amount : v + amount);
    std::memcpy(sample, &v, 2);
  } else {
    float v;
    std::memcpy(&v, sample, 4);
    v = float(how == 's' ? amount : v + amount);
    std::memcpy(sample, &v, 4);
  }
}

OSErr _Start(FilterRecord* r) {
  const char* out = std::getenv("AREAFILL_PROBE_OUT");
  std::string how = out ? out : "";
  if (how.rfind("fail ", 0) == 0) return OSErr(std::atoi(how.c_str() + 5));
  r->inRect = r->outRect = r->filterRect;
  r->inLoPlane = r->outLoPlane = 0;
  r->inHiPlane = r->outHiPlane = int16_t(r->planes - 1);
  if (r->haveMask) r->maskRect = r->filterRect;
  if (!r->advanceState) return filterBadParameters;
  if (OSErr e = r->advanceState()) return e;

  const size_t bps = _BytesPerSample(*r);
  const size_t rows = size_t(r->filterRect.bottom - r->filterRect.top);
  const size_t rowBytes =
      size_t(r->filterRect.right - r->filterRect.left) * size_t(r->planes) * bps;
  _Log(*r, rows, rowBytes);
  const double amount = how.size() > 4 ? std::atof(how.c_str() + 4) : 0;
  for (size_t y = 0; y < rows; ++y) {
    const uint8_t* in = static_cast<const uint8_t*>(r->inData) + y * size_t(r->inRowBytes);
    uint8_t* o = static_cast<uint8_t*>(r->outData) + y * size_t(r->outRowBytes);
    std::memcpy(o, in, rowBytes);
    if (!how.empty())
      for (size_t i = 0; i < rowBytes; i += bps) _Change(o + i, bps, how[0], amount);
  }
  r->progressProc(1, 1);
  r->inRect = r->outRect = r->maskRect = Rect{0, 0, 0, 0};
  return noErr;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) void ProbeModuleMain(
    int16_t selector, FilterRecord* record, intptr_t* data, int16_t* result) __asm__("main");

extern "C" void ProbeModuleMain(int16_t selector, FilterRecord* record, intptr_t* data,
                                int16_t* result) {
  *result = selector == filterSelectorStart ? _Start(record) : OSErr(noErr);
}
