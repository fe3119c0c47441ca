// A filter run as a host performs it. The run's state lives in one HostRun record; the
// interface's callbacks carry no context, so the record of the run in progress on this thread
// is reached through one thread-local pointer, set for the length of each selector call.
#include "hostkit/filter_host.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "filter/host/image_modes.h"
#include "platform/memory.h"

namespace hostkit {
namespace {

// A buffer handed to the plug-in: `bytes` of `buffer` (0: none handed out). The buffer keeps
// its size from one step to the next, so a row of the same width needs no new block and no
// zeros that the copy would overwrite at once.
struct Delivery {
  Rect rect = {0, 0, 0, 0};
  int16_t loPlane = 0;
  int16_t hiPlane = -1;
  std::vector<uint8_t> buffer;
  size_t bytes = 0;

  // Hands out `rect`'s planes lo..hi, `n` bytes; the buffer grows when it must.
  void Refit(const Rect& r, int16_t lo, int16_t hi, size_t n) {
    rect = r;
    loPlane = lo;
    hiPlane = hi;
    bytes = n;
    if (buffer.size() < n) buffer.resize(n);
  }
  uint8_t* Handed() { return bytes != 0 ? buffer.data() : nullptr; }
};

struct HostRun {
  const RunOptions* options = nullptr;
  const HostImage* original = nullptr;
  // The filtered rows: those of the filter area only (`bandTop` is the first), whole rows, so
  // that a small selection in a large image costs a copy of its rows, not of the image.
  HostImage output;
  int32_t bandTop = 0;
  FilterRecord record{};
  Delivery in, out, mask;
  int advanceStateCalls = 0;
  int continueCalls = 0;
  OSErr advanceError = noErr;
  std::string hostFailure;  // why the host could not deliver or take rows
};

thread_local HostRun* tCurrent = nullptr;

bool IsEmpty(const Rect& r) { return r.bottom <= r.top || r.right <= r.left; }

// `r` limited to the image; an empty rectangle when nothing is left.
Rect Clip(const Rect& r, const HostImage& image) {
  Rect c = {std::max<int16_t>(r.top, 0), std::max<int16_t>(r.left, 0),
            int16_t(std::min<int32_t>(r.bottom, image.height)),
            int16_t(std::min<int32_t>(r.right, image.width))};
  if (IsEmpty(c)) return Rect{0, 0, 0, 0};
  return c;
}

size_t RowBytesOf(const Rect& rect, int16_t lo, int16_t hi, size_t bytesPerSample) {
  const int planes = hi - lo + 1;
  if (IsEmpty(rect) || planes <= 0) return 0;
  return size_t(rect.right - rect.left) * size_t(planes) * bytesPerSample;
}

size_t DeliveryRowBytes(const Delivery& d, size_t bytesPerSample) {
  return RowBytesOf(d.rect, d.loPlane, d.hiPlane, bytesPerSample);
}

// Copies planes lo..hi of `rect` between an image whose first row is row `top` of the whole
// and a packed buffer.
void CopyRect(HostImage& image, Delivery& d, bool toBuffer, int32_t top = 0) {
  size_t bps = image.BytesPerSample();
  size_t rowBytes = DeliveryRowBytes(d, bps);
  if (rowBytes == 0) return;
  int planes = d.hiPlane - d.loPlane + 1;
  const size_t sampleRun = size_t(planes) * bps, pixelBytes = image.PixelBytes();
  for (int y = d.rect.top; y < d.rect.bottom; ++y) {
    uint8_t* b = d.buffer.data() + size_t(y - d.rect.top) * rowBytes;
    // Read through the const view, so that rows on disk are not written back for nothing.
    uint8_t* row =
        toBuffer ? const_cast<uint8_t*>(std::as_const(image).Row(y - top)) : image.Row(y - top);
    uint8_t* px = row + size_t(d.rect.left) * pixelBytes + size_t(d.loPlane) * bps;
    if (sampleRun == pixelBytes) {  // every plane: the row's pixels lie packed alike
      std::memcpy(toBuffer ? b : px, toBuffer ? px : b, rowBytes);
      continue;
    }
    for (int x = d.rect.left; x < d.rect.right; ++x, px += pixelBytes, b += sampleRun) {
      if (toBuffer)
        std::memcpy(b, px, sampleRun);
      else
        std::memcpy(px, b, sampleRun);
    }
  }
}

// Takes the output buffer handed out last (for the rectangle it was handed out for).
void TakeOutput(HostRun& run) {
  if (run.out.bytes != 0) CopyRect(run.output, run.out, false, run.bandTop);
  run.out.Refit(Rect{0, 0, 0, 0}, 0, -1, 0);
}

void _DeliverMask(HostRun& run);

// Fills inData, outData and maskData for the plug-in's current requests.
void Deliver(HostRun& run) {
  FilterRecord& rec = run.record;
  HostImage& source = const_cast<HostImage&>(*run.original);
  size_t bps = source.BytesPerSample();

  int16_t maxPlane = int16_t(source.planes - 1);
  const Rect inRect = Clip(rec.inRect, source);
  const int16_t inLo = std::max<int16_t>(rec.inLoPlane, 0),
                inHi = std::min(rec.inHiPlane, maxPlane);
  run.in.Refit(inRect, inLo, inHi,
               RowBytesOf(inRect, inLo, inHi, bps) * size_t(inRect.bottom - inRect.top));
  CopyRect(source, run.in, true);
  rec.inData = run.in.Handed();
  rec.inRowBytes = int32_t(DeliveryRowBytes(run.in, bps));

  // Output is taken in the filter area's rows only, as a host that masks by the area does.
  Rect outRect = Clip(rec.outRect, source);
  outRect.top = std::max<int16_t>(outRect.top, rec.filterRect.top);
  outRect.bottom = std::min<int16_t>(outRect.bottom, rec.filterRect.bottom);
  if (IsEmpty(outRect)) outRect = Rect{0, 0, 0, 0};
  const int16_t outLo = std::max<int16_t>(rec.outLoPlane, 0),
                outHi = std::min(rec.outHiPlane, maxPlane);
  if (!IsEmpty(outRect) && outRect.bottom - outRect.top == 1 && outLo == 0 && outHi == maxPlane) {
    // One row of every plane: the filtered row itself, which holds the pixels as they stand and
    // takes what the plug-in writes, with nothing to copy either way. It stays good until the
    // next exchange, the only time the host moves to another row of it.
    run.out.Refit(outRect, outLo, outHi, 0);
    rec.outData =
        run.output.Row(outRect.top - run.bandTop) + size_t(outRect.left) * source.PixelBytes();
    rec.outRowBytes = int32_t(run.output.RowBytes());
  } else {
    run.out.Refit(outRect, outLo, outHi,
                  RowBytesOf(outRect, outLo, outHi, bps) * size_t(outRect.bottom - outRect.top));
    CopyRect(run.output, run.out, true, run.bandTop);  // pre-filled with the pixels as they stand
    rec.outData = run.out.Handed();
    rec.outRowBytes = int32_t(DeliveryRowBytes(run.out, bps));
  }
  _DeliverMask(run);
}

// Fills maskData for the plug-in's current mask request.
void _DeliverMask(HostRun& run) {
  FilterRecord& rec = run.record;
  const HostImage& source = *run.original;

  rec.maskData = nullptr;
  rec.maskRowBytes = 0;
  if (rec.haveMask) {
    Rect m = Clip(rec.maskRect, source);
    const int32_t w = m.right - m.left;
    run.mask.Refit(m, 0, 0, size_t(w) * size_t(m.bottom - m.top));
    for (int y = m.top; y < m.bottom; ++y)
      std::memcpy(run.mask.buffer.data() + size_t(y - m.top) * size_t(w),
                  run.options->mask.data() + size_t(y) * size_t(source.width) + m.left, size_t(w));
    rec.maskData = run.mask.Handed();
    rec.maskRowBytes = w;
  }
}

// Exchanges the rows of one step; the host's own failures (no memory, a temporary file of rows
// that cannot be read or written) become the step's status, since they must not unwind through
// the plug-in.
OSErr Exchange(HostRun& run, bool deliver = true) {
  try {
    TakeOutput(run);
    if (deliver) Deliver(run);
    return noErr;
  } catch (const std::bad_alloc&) {
    run.hostFailure = "out of memory";
    return memFullErr;
  } catch (const std::exception& failure) {
    run.hostFailure = failure.what();
    return ioErr;
  }
}

OSErr AdvanceStateCallback() {
  HostRun& run = *tCurrent;
  ++run.advanceStateCalls;
  if (const OSErr err = Exchange(run); err != noErr) return err;
  if (run.options->withdrawAdvanceStateAfter >= 0 &&
      run.advanceStateCalls >= run.options->withdrawAdvanceStateAfter)
    run.record.advanceState = nullptr;
  return noErr;
}

void ProgressCallback(int32_t done, int32_t total) {
  if (tCurrent && tCurrent->options->progress) tCurrent->options->progress(done, total);
}

Boolean AbortCallback() {
  return tCurrent && tCurrent->options->abort && tCurrent->options->abort() ? 1 : 0;
}

struct CurrentRun {
  explicit CurrentRun(HostRun* run) : saved(tCurrent) { tCurrent = run; }
  ~CurrentRun() { tCurrent = saved; }
  HostRun* saved;
};

int16_t Call(PluginEntryProc entry, HostRun& run, int16_t selector, intptr_t* data) {
  CurrentRun current(&run);
  int16_t result = 0;
  entry(selector, &run.record, data, &result);
  return result;
}

}  // namespace

namespace {

// A filtered sample f and the original o blended by mask byte m, rounded to nearest: m = 0
// gives o and m = 255 gives f exactly.
template <class Sample>
inline Sample _Blend(Sample f, Sample o, int m) {
  return Sample((int64_t(f) * m + int64_t(o) * (255 - m) + 127) / 255);
}

// One row of ApplyHostMask at 8 or 16 bits: the same integer blend, with the two ends of the
// mask taken directly (mask 0 gives the original sample, 255 the filter's, exactly), a run of
// unselected pixels copied in one go where the pixels hold nothing but colour.
template <class Sample>
void _BlendRow(const uint8_t* original, uint8_t* output, const uint8_t* mask, int32_t pixels,
               size_t pixelBytes, int colour) {
  const size_t colourBytes = size_t(colour) * sizeof(Sample);
  for (int32_t x = 0; x < pixels; ++x, original += pixelBytes, output += pixelBytes) {
    const int m = mask[x];
    if (m == 255) continue;
    if (m == 0) {
      int32_t run = 1;
      while (x + run < pixels && mask[x + run] == 0) ++run;
      if (colourBytes == pixelBytes) {
        std::memcpy(output, original, size_t(run) * pixelBytes);
      } else {
        for (int32_t i = 0; i < run; ++i)
          for (size_t b = 0; b < colourBytes; ++b)
            output[size_t(i) * pixelBytes + b] = original[size_t(i) * pixelBytes + b];
      }
      x += run - 1;
      original += size_t(run - 1) * pixelBytes;
      output += size_t(run - 1) * pixelBytes;
      continue;
    }
    for (int p = 0; p < colour; ++p) {
      Sample f, o;
      std::memcpy(&f, output + p * sizeof(Sample), sizeof(Sample));
      std::memcpy(&o, original + p * sizeof(Sample), sizeof(Sample));
      const Sample v = _Blend(f, o, m);
      std::memcpy(output + p * sizeof(Sample), &v, sizeof(Sample));
    }
  }
}

// One row of the host's masking: the colour samples of columns [area.left, area.right) of the
// filtered row `output` blended with the original row by the mask row (one byte per pixel of
// the whole row).
void _MaskRow(const HostImage& original, const uint8_t* originalRow, const uint8_t* maskRow,
              const Rect& area, uint8_t* output) {
  const int colour = ColourPlanesOf(original.imageMode, original.planes);
  const size_t pixelBytes = original.PixelBytes(), skip = size_t(area.left) * pixelBytes;
  const int32_t pixels = area.right - area.left;
  if (original.depth == 8) {
    _BlendRow<uint8_t>(originalRow + skip, output + skip, maskRow + area.left, pixels, pixelBytes,
                       colour);
  } else if (original.depth == 16) {
    _BlendRow<uint16_t>(originalRow + skip, output + skip, maskRow + area.left, pixels, pixelBytes,
                        colour);
  } else {
    // Floats: in double, so a sample the filter left as it was comes back exactly.
    for (int32_t x = area.left; x < area.right; ++x) {
      const double mf = maskRow[x] / 255.0;
      for (int p = 0; p < colour; ++p) {
        const size_t at = size_t(x) * pixelBytes + size_t(p) * 4;
        float f, o;
        std::memcpy(&f, output + at, 4);
        std::memcpy(&o, originalRow + at, 4);
        const float v = float(double(f) * mf + double(o) * (1.0 - mf));
        std::memcpy(output + at, &v, 4);
      }
    }
  }
}

inline bool _EightZeros(const uint8_t* bytes) {
  uint64_t eight;
  std::memcpy(&eight, bytes, 8);
  return eight == 0;
}

// The filtered row `filtered` taken into the image's row `row`, which holds the original pixels,
// blended by the mask row within [area.left, area.right) as _MaskRow blends it: an unselected
// run is left as it stands and a selected run copied in one go, so a small selection costs
// little more than its own pixels. Only for pixels of colour samples alone, at 8 or 16 bits.
template <class Sample>
void _TakeMaskedRow(uint8_t* row, const uint8_t* filtered, const uint8_t* mask, const Rect& area,
                    size_t pixelBytes, size_t rowBytes) {
  const size_t left = size_t(area.left) * pixelBytes, right = size_t(area.right) * pixelBytes;
  std::memcpy(row, filtered, left);
  std::memcpy(row + right, filtered + right, rowBytes - right);
  for (int32_t x = area.left; x < area.right;) {
    const uint8_t m = mask[x];
    int32_t run = 1;
    if (m == 0)  // most of a mask of small holes: passed over eight bytes at a time
      while (x + run + 8 <= area.right && _EightZeros(mask + x + run)) run += 8;
    while (x + run < area.right && mask[x + run] == m) ++run;
    const size_t at = size_t(x) * pixelBytes, bytes = size_t(run) * pixelBytes;
    if (m == 255) {
      std::memcpy(row + at, filtered + at, bytes);
    } else if (m != 0) {
      for (size_t b = 0; b < bytes; b += sizeof(Sample)) {
        Sample f, o;
        std::memcpy(&f, filtered + at + b, sizeof(Sample));
        std::memcpy(&o, row + at + b, sizeof(Sample));
        const Sample v = _Blend(f, o, m);
        std::memcpy(row + at + b, &v, sizeof(Sample));
      }
    }
    x += run;
  }
}

}  // namespace

void ApplyHostMask(const HostImage& original, const std::vector<uint8_t>& mask, const Rect& area,
                   HostImage* output) {
  for (int32_t y = area.top; y < area.bottom; ++y)
    _MaskRow(original, original.Row(y), mask.data() + size_t(y) * size_t(original.width), area,
             output->Row(y));
}

int16_t RunFilter(PluginEntryProc entry, HostImage& image, const RunOptions& options,
                  intptr_t* data, RunReport* report, const RunOverrides* overrides) {
  HostRun run;
  run.options = &options;
  run.original = &image;

  FilterRecord& rec = run.record;
  rec.abortProc = AbortCallback;
  rec.progressProc = ProgressCallback;
  rec.parameters = nullptr;
  rec.imageSize = Point{int16_t(image.height), int16_t(image.width)};
  rec.planes = image.planes;
  rec.filterRect = options.filterRect;
  if (IsEmpty(rec.filterRect))
    rec.filterRect = Rect{0, 0, int16_t(image.height), int16_t(image.width)};
  const Rect band = Clip(rec.filterRect, image);
  run.bandTop = band.top;
  run.output = HostImage::Make(image.width, band.bottom - band.top, image.planes, image.depth,
                               image.imageMode);
  for (int32_t y = band.top; y < band.bottom; ++y)
    std::memcpy(run.output.Row(y - band.top), std::as_const(image).Row(y), image.RowBytes());
  for (int i = 0; i < 3; ++i) {
    rec.foreColor[i] = rec.foreground[i] = options.foreground[size_t(i)];
    rec.backColor[i] = rec.background[i] = options.background[size_t(i)];
  }
  rec.maxSpace = 0x7fffffff;
  rec.haveMask = options.mask.empty() ? 0 : 1;
  rec.autoMask = 1;
  rec.hostSig = FourCC("AFhk");
  rec.imageMode = image.imageMode;
  rec.advanceState = options.advanceState ? AdvanceStateCallback : nullptr;
  rec.processEvent = options.processEvent;
  rec.handleProcs = overrides ? overrides->handleProcs : options.handleProcs;
  rec.descriptorParameters =
      overrides ? overrides->descriptorParameters : options.descriptorParameters;
  rec.depth = image.depth;

  int16_t result = 0;
  int16_t failed = -1;
  auto step = [&](int16_t selector) {
    if (result != 0) return;
    result = Call(entry, run, selector, data);
    if (result != 0) failed = selector;
  };

  if (options.askParameters) step(filterSelectorParameters);
  step(filterSelectorPrepare);
  step(filterSelectorStart);
  // A host without advance-state delivers each request and calls continue until the plug-in
  // requests nothing more. A generous bound stops a plug-in that never finishes.
  if (!options.advanceState) {
    const long limit = 16L * (image.height + 2) + 64;
    while (result == 0 && !(IsEmpty(rec.inRect) && IsEmpty(rec.outRect))) {
      if (run.continueCalls >= limit) {
        result = filterBadParameters;
        failed = filterSelectorContinue;
        break;
      }
      if (const OSErr err = Exchange(run); err != noErr) {
        result = err;
        failed = filterSelectorContinue;
        break;
      }
      ++run.continueCalls;
      step(filterSelectorContinue);
    }
  }
  if (result == 0) result = Exchange(run, false);  // the last rows handed out

  // Finish is called whatever happened, so the plug-in can release what it holds.
  int16_t finish = Call(entry, run, filterSelectorFinish, data);
  if (result == 0 && finish != 0) {
    result = finish;
    failed = filterSelectorFinish;
  }

  if (report) {
    report->result = result;
    report->failedSelector = failed;
    report->advanceStateCalls = run.advanceStateCalls;
    report->continueCalls = run.continueCalls;
    report->hostFailure = run.hostFailure;
    report->parameters.clear();
    if (rec.parameters)
      report->parameters.assign(*rec.parameters, *rec.parameters + GetHandleSize(rec.parameters));
  }
  if (rec.parameters) DisposeHandle(rec.parameters);

  // The filtered rows, masked, replace the image's: on disk a failure to read or write them
  // throws midway, when the image is the caller's to drop.
  if (result == 0) {
    const bool mask = options.applyMask && (!overrides || overrides->applyMask) && rec.haveMask;
    const bool colourOnly =
        size_t(ColourPlanesOf(image.imageMode, image.planes)) == size_t(image.planes);
    if (mask && colourOnly && (image.depth == 8 || image.depth == 16)) {
      for (int32_t y = band.top; y < band.bottom; ++y) {
        const uint8_t* maskRow = options.mask.data() + size_t(y) * size_t(image.width);
        const uint8_t* filtered = std::as_const(run.output).Row(y - band.top);
        if (image.depth == 8)
          _TakeMaskedRow<uint8_t>(image.Row(y), filtered, maskRow, band, image.PixelBytes(),
                                  image.RowBytes());
        else
          _TakeMaskedRow<uint16_t>(image.Row(y), filtered, maskRow, band, image.PixelBytes(),
                                   image.RowBytes());
      }
      return result;
    }
    for (int32_t y = band.top; y < band.bottom; ++y) {
      uint8_t* filtered = run.output.Row(y - band.top);
      if (mask)
        _MaskRow(image, image.Row(y), options.mask.data() + size_t(y) * size_t(image.width), band,
                 filtered);
      std::memcpy(image.Row(y), filtered, image.RowBytes());
    }
  }
  return result;
}

int16_t CallSelector(PluginEntryProc entry, int16_t selector, intptr_t* data) {
  HostRun run;
  RunOptions options;
  run.options = &options;
  return Call(entry, run, selector, data);
}

void ReleasePluginData(intptr_t* data) {
  if (*data) DisposeHandle(reinterpret_cast<Handle>(*data));
  *data = 0;
}

}  // namespace hostkit
