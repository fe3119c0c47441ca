// The run driver: one step of a run per delivery of data from the host. It reads the filter
// area row by row into scratch images (colour to "BackingStore", extra planes to "AlphaImage",
// the mask to "SelectionImage"), runs the fill once, and writes the rows back in the host's mode.
#include <cstring>

#include "filter/color/color_convert.h"
#include "filter/entry/entry.h"
#include "filter/entry/image_modes.h"
#include "filter/entry/preferences.h"
#include "filter/fill/process_image.h"
#include "filter/image/named_image.h"
#include "filter/settings/script_params.h"
#include "filter/settings/settings_block.h"
#include "platform/memory.h"

namespace {

constexpr int32_t kSettingsEntryPlaces = 22;
constexpr OSType kUndefinedSignature = FourCC("udef");
constexpr int kPrefsDefaultOffset = 8;
constexpr int kPrefsDefaultFractionOffset = 12;
constexpr float kPrefsDefault = 6.0f;
constexpr uint32_t kPrefsDefaultFractionBits = 0x3C638E39;  // 1 ÷ 72 as a float
constexpr double kSixteenBitToByte = 0.007782101167315175;  // 1 ÷ 128.5: 32768 becomes 255

// What the driver derives from the host block at the start of every call.
struct RunShape {
  int32_t b;  // bytes per sample
  int32_t width;
  int32_t height;
  int32_t planes;  // samples per pixel delivered by the host
  int32_t c;       // colour planes
  int32_t e;       // extra planes
  int32_t w;       // colour planes of the working image (CMYK is held as RGB)
  int32_t r;       // row of the current request
  bool cmyk;
  bool lab;
  bool multichannel;
};

// False when the host hands over an image the driver cannot run (an unhandled mode, or fewer
// planes than the mode has colour planes).
bool _DeriveShape(const Globals* globals, RunShape* shape) {
  const FilterRecord* host = globals->host;
  shape->b = globals->depth / 8;
  shape->width = host->filterRect.right - host->filterRect.left;
  shape->height = host->filterRect.bottom - host->filterRect.top;
  shape->planes = host->planes;
  _RunMode mode = _ImageModeInfo(host->imageMode, shape->planes);
  shape->c = mode.colourPlanes;
  shape->cmyk = mode.cmyk;
  shape->lab = mode.lab;
  shape->multichannel = mode.multichannel;
  shape->e = shape->planes - shape->c;
  shape->w = shape->cmyk ? 3 : shape->c;
  shape->r = host->outRect.top - host->filterRect.top;
  return shape->c > 0 && shape->e >= 0;
}

void _RequestRow(Globals* globals, int32_t k, bool withMask) {
  FilterRecord* host = globals->host;
  Rect row = host->filterRect;
  row.top = int16_t(host->filterRect.top + k);
  row.bottom = int16_t(row.top + 1);
  host->inRect = row;
  host->outRect = row;
  if (withMask && globals->useMask) host->maskRect = row;
}

void _RequestNothing(FilterRecord* host) {
  host->inRect = Rect{0, 0, 0, 0};
  host->outRect = Rect{0, 0, 0, 0};
}

void _ReleaseImages(Globals* globals) {
  if (globals->image) TossImage(globals->image);
  if (globals->alphaImage) TossAlphaImage(globals->alphaImage);
  if (globals->selectionImage) TossSelectionImage(globals->selectionImage);
  globals->image = nullptr;
  globals->alphaImage = nullptr;
  globals->selectionImage = nullptr;
}

void _ReportProgress(Globals* globals, int32_t done, int32_t total) {
  if (globals->host->progressProc) globals->host->progressProc(done, total);
}

// The first row's scratch images. Returns 0, or the status of MakeImage or MakeAlphaImage.
OSErr _MakeRunImages(Globals* globals, const RunShape& s) {
  OSErr err = MakeImage(int16_t(s.width), int16_t(s.height), int16_t(s.b * s.w), &globals->image);
  if (err != noErr) return err;
  if (s.e > 0) {
    err = MakeAlphaImage(int16_t(s.width), int16_t(s.height), int16_t(s.b * s.e),
                         &globals->alphaImage);
    if (err != noErr) {
      globals->useMask = 0;
      return err;
    }
  }
  if (globals->useMask) {
    // Without a copy of the mask the run goes on as if the host had none.
    if (MakeSelectionImage(int16_t(s.width), int16_t(s.height), 1, &globals->selectionImage) !=
        noErr) {
      TossSelectionImage(globals->selectionImage);
      globals->selectionImage = nullptr;
      globals->useMask = 0;
    }
  }
  return noErr;
}

// Moves the extra planes of the delivered row to rowBuffer and packs the colour samples to the
// front of the row; fully transparent pixels get white colour samples.
void _SplitRow(Globals* globals, const RunShape& s, uint8_t* row) {
  const int32_t b = s.b;
  uint8_t* extras = reinterpret_cast<uint8_t*>(globals->rowBuffer);
  for (int32_t x = 0; x < s.width; ++x)
    std::memcpy(extras + size_t(x * s.e) * b, row + size_t(x * s.planes + s.c) * b,
                size_t(s.e * b));
  PutLine(globals->alphaImage, 0, s.r, s.width * s.e * b, extras);

  static const uint8_t kZero[4] = {0, 0, 0, 0};
  uint8_t white[4];
  if (b == 1) {
    white[0] = 255;
  } else if (b == 2) {
    uint16_t v = 32768;
    std::memcpy(white, &v, 2);
  } else {
    float v = 1.0f;
    std::memcpy(white, &v, 4);
  }
  for (int32_t x = 0; x < s.width; ++x) {
    const uint8_t* firstExtra = row + size_t(x * s.planes + s.c) * b;
    bool transparent = std::memcmp(firstExtra, kZero, size_t(b)) == 0;
    if (b == 4) {
      float v;
      std::memcpy(&v, firstExtra, 4);
      transparent = v == 0.0f;  // negative zero counts as zero too
    }
    for (int32_t k = 0; k < s.c; ++k) {
      uint8_t* dst = row + size_t(x * s.c + k) * b;
      if (transparent)
        std::memcpy(dst, white, size_t(b));
      else
        std::memmove(dst, row + size_t(x * s.planes + k) * b, size_t(b));
    }
    if (transparent) globals->transparentSeen = 1;
  }
}

void _ConvertToRGB(const RunShape& s, void* row) {
  if (s.lab) {
    if (s.b == 1)
      _ConvertLAB8toRGB24(row, s.width);
    else
      _ConvertLAB16toRGB48(row, s.width);
  } else if (s.cmyk) {
    if (s.b == 1)
      _ConvertCMYK8toRGB24(row, s.width);
    else
      _ConvertCMYK16toRGB48(row, s.width);
  }
}

void _ConvertFromRGB(const RunShape& s, void* row) {
  if (s.lab) {
    if (s.b == 1)
      _ConvertRGB24toLAB8(row, s.width);
    else
      _ConvertRGB48toLAB16(row, s.width);
  } else if (s.cmyk) {
    if (s.b == 1)
      _ConvertRGB24toCMYK8(row, s.width);
    else
      _ConvertRGB48toCMYK16(row, s.width);
  }
}

// The bitwise AND of `count` bytes, eight at a time in a 64-bit word (the mask's rows are read
// in full for every run, so this runs once per byte of the selection).
uint8_t _AndOfBytes(const uint8_t* bytes, int32_t count) {
  uint64_t words = ~uint64_t(0);
  int32_t x = 0;
  for (; x + 8 <= count; x += 8) {
    uint64_t eight;
    std::memcpy(&eight, bytes + x, 8);
    words &= eight;
  }
  uint8_t all = 0xFF;
  for (int32_t k = 0; k < 8; ++k) all &= uint8_t(words >> (8 * k));
  for (; x < count; ++x) all &= bytes[x];
  return all;
}

OSErr _ReadPhase(Globals* globals, const RunShape& s) {
  FilterRecord* host = globals->host;
  if (!globals->image) {
    OSErr err = _MakeRunImages(globals, s);
    if (err != noErr) {
      // The run cannot go on: release what was made so far.
      _ReleaseImages(globals);
      globals->phase = kPhaseDone;
      globals->result = err;
      return err;
    }
  }
  auto* row = static_cast<uint8_t*>(host->inData);
  if (s.e > 0) _SplitRow(globals, s, row);
  if (s.b == 4) {
    auto* samples = reinterpret_cast<float*>(row);
    for (int32_t i = 0; i < s.width * s.c; ++i) samples[i] = samples[i] * 255.0f;
  }
  _ConvertToRGB(s, row);
  PutLine(globals->image, 0, s.r, s.width * s.w * s.b, row);
  if (globals->useMask) {
    const auto* mask = static_cast<const uint8_t*>(host->maskData);
    PutLine(globals->selectionImage, 0, s.r, s.width, mask);
    globals->maskAnd &= _AndOfBytes(mask, s.width);
  }
  _ReportProgress(globals, s.r, 6 * s.height);
  if (s.r + 1 < s.height) {
    _RequestRow(globals, s.r + 1, true);
  } else {
    globals->phase = kPhaseFill;
    _RequestRow(globals, 0, true);
  }
  return globals->result;
}

// Makes the selection from the first extra plane: opaque pixels selected, transparent ones not.
// Returns the image to use, or null when it cannot be made (the run then fills without one).
NamedImage* _SelectionFromAlpha(Globals* globals, const RunShape& s) {
  if (s.b == 1 && s.e == 1) return globals->alphaImage;
  // A mask copy that was dropped is released before its replacement is made.
  if (globals->selectionImage) TossSelectionImage(globals->selectionImage);
  globals->selectionImage = nullptr;
  NamedImageHeader header;
  GetImageData(globals->alphaImage, &header);
  if (MakeSelectionImage(header.width, header.height, 1, &globals->selectionImage) != noErr) {
    TossSelectionImage(globals->selectionImage);
    globals->selectionImage = nullptr;
    return nullptr;
  }
  auto* buffer = reinterpret_cast<uint8_t*>(globals->rowBuffer);
  for (int32_t y = 0; y < header.height; ++y) {
    GetLine(globals->alphaImage, 0, y, s.width * s.e * s.b, buffer);
    // Byte x is written at or before the place sample x*e was read from.
    for (int32_t x = 0; x < s.width; ++x) {
      if (s.b == 1) {
        buffer[x] = buffer[x * s.e];
      } else {
        uint16_t v;
        std::memcpy(&v, buffer + size_t(x * s.e) * 2, 2);
        buffer[x] = uint8_t(int32_t(double(v) * kSixteenBitToByte));
      }
    }
    PutLine(globals->selectionImage, 0, y, s.width, buffer);
  }
  return globals->selectionImage;
}

OSErr _FillPhase(Globals* globals, const RunShape& s) {
  RunRecord record{};
  record.width = int16_t(s.width);
  record.height = int16_t(s.height);
  record.planes = int16_t(s.w);
  record.host = globals->host;
  record.selection = nullptr;
  if (globals->useMask && (globals->maskAnd & 0x80) == 0)
    record.selection = globals->selectionImage;
  if (!record.selection && globals->alphaImage && globals->transparentSeen && s.b != 4)
    record.selection = _SelectionFromAlpha(globals, s);

  int16_t prefsRef = 0;
  LoadPreferences(&record, &prefsRef);

  SPSettings* block = _AllocateSPBlock(kSettingsEntryPlaces);
  if (block) {
    InitializeSPSettings(block, kUndefinedSignature, 0, 0);
    GetDefaultSettings(&record, block);
  }

  float stored;
  std::memcpy(&stored, record.prefsBlock + kPrefsDefaultOffset, sizeof stored);
  if (stored == 0.0f) {
    std::memcpy(record.prefsBlock + kPrefsDefaultOffset, &kPrefsDefault, sizeof kPrefsDefault);
    std::memcpy(record.prefsBlock + kPrefsDefaultFractionOffset, &kPrefsDefaultFractionBits, 4);
  }

  if (!block) {
    // Without a settings block there is no fill choice to make: the run ends short of memory.
    globals->phase = kPhaseDone;
    globals->result = memFullErr;
  } else {
    uint8_t skipDialog = _ReadScriptParamFromPS(globals, block);
    GetParameters(globals->image, &record, &globals->paramHandle, block, skipDialog);
    OSErr status = noErr;
    if (!s.multichannel && s.b == 1)
      status = ProcessImage(globals->image, &record, globals->paramHandle, block, skipDialog);
    else if (!s.multichannel && s.b == 2)
      status = ProcessImage16_48(globals->image, &record, globals->paramHandle, block, skipDialog);
    if (status != noErr) {
      globals->phase = kPhaseDone;
      globals->result = status;
    }
    _WriteScriptParamToPS(globals, block);
  }

  _DestroyTWBuffer();
  if (block) _DisposeSPBlock(block);
  StorePreferences(&record, &prefsRef);

  if (globals->phase == kPhaseFill) {
    globals->phase = kPhaseWrite;
    return globals->result;
  }
  _ReleaseImages(globals);
  return globals->result;
}

OSErr _WritePhase(Globals* globals, const RunShape& s) {
  FilterRecord* host = globals->host;
  auto* row = static_cast<uint8_t*>(host->outData);
  GetLine(globals->image, 0, s.r, s.width * s.w * s.b, row);
  _ConvertFromRGB(s, row);
  if (s.b == 4) {
    auto* samples = reinterpret_cast<float*>(row);
    for (int32_t i = 0; i < s.width * s.c; ++i)
      samples[i] = float(double(samples[i]) * (1.0 / 255.0));
  }
  if (s.e > 0) {
    auto* extras = reinterpret_cast<uint8_t*>(globals->rowBuffer);
    GetLine(globals->alphaImage, 0, s.r, s.width * s.e * s.b, extras);
    // From the last pixel backwards, so that nothing is overwritten before it has moved.
    const size_t b = size_t(s.b);
    for (int32_t x = s.width - 1; x >= 0; --x) {
      for (int32_t k = s.e - 1; k >= 0; --k)
        std::memcpy(row + size_t(x * s.planes + s.c + k) * b, extras + size_t(x * s.e + k) * b, b);
      for (int32_t k = s.c - 1; k >= 0; --k)
        std::memmove(row + size_t(x * s.planes + k) * b, row + size_t(x * s.c + k) * b, b);
    }
  }
  _ReportProgress(globals, 5 * s.height + s.r, 6 * s.height);
  if (s.r + 1 < s.height) {
    _RequestRow(globals, s.r + 1, false);
    return globals->result;
  }
  globals->phase = kPhaseDone;
  _ReleaseImages(globals);
  _RequestNothing(host);
  host->maskRect = Rect{0, 0, 0, 0};
  return globals->result;
}

}  // namespace

OSErr DoContinue(Globals* globals) {
  RunShape shape;
  bool runnable = _DeriveShape(globals, &shape);
  switch (globals->phase) {
    case kPhaseIdle:
      _RequestNothing(globals->host);
      return globals->result;
    case kPhaseRead:
    case kPhaseFill:
    case kPhaseWrite:
      // Start turns such images away; a host that calls continue regardless gets the same.
      if (!runnable) return filterBadParameters;
      if (globals->phase == kPhaseRead) return _ReadPhase(globals, shape);
      if (globals->phase == kPhaseFill) return _FillPhase(globals, shape);
      return _WritePhase(globals, shape);
    case kPhaseDone:
      _ReleaseImages(globals);
      _RequestNothing(globals->host);
      return globals->result;
    default:
      return globals->result;
  }
}
