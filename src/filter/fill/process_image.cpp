// Fill choice, area statistics and the six simple fills, written once over the sample type:
// a depth's traits (_Depth8, _Depth16) carry everything in which 8-bit and 16-bit images differ.
#include "filter/fill/process_image.h"

#include <cstring>

#include "filter/fill/membrane_fill.h"
#include "filter/fill/user_choice.h"
#include "filter/run/progress_and_cancel.h"
#include "filter/util/module_resources.h"
#include "platform/memory.h"

namespace {

constexpr uint8_t kSelectedFrom = 128;  // mask bytes from here on select their pixel

struct _Depth8 {
  using Sample = uint8_t;
  static constexpr Sample kWhite = 255;
  static Sample Foreground(uint8_t byte) { return byte; }
  static float BlendEnd(uint8_t byte) { return float(byte); }
  static int16_t Swatch(double mean) { return int16_t(mean); }
  static int32_t Membrane(NamedImage* image, RunRecord* record) {
    return MembraneFill(image, record);
  }
};

// 16-bit samples run to 32768; the host's colour bytes are scaled by 128.5 (255 → 32767.5).
struct _Depth16 {
  using Sample = uint16_t;
  static constexpr Sample kWhite = 32768;
  static Sample Foreground(uint8_t byte) { return Sample(double(byte) * 128.5); }
  static float BlendEnd(uint8_t byte) { return float(byte) * 128.5f; }
  // The swatch takes 8-bit components: the mean ÷ 128.5.
  static int16_t Swatch(double mean) { return int16_t(mean * 0.007782101167315175); }
  static int32_t Membrane(NamedImage* image, RunRecord* record) {
    return MembraneFill16(image, record);
  }
};

// What every pass needs: the image, its geometry and the two row buffers.
struct _Pass {
  NamedImage* image;
  RunRecord* record;
  int32_t width;
  int32_t height;
  int32_t samples;   // per pixel in the image
  int32_t channels;  // colour positions filled: 1 for grey, 3 for colour
  void* row;         // samples × (width + 2) samples
  uint8_t* mask;     // width + 2 bytes
};

// True when none of the eight mask bytes at `mask` selects its pixel: each is below 128 (top bit
// clear), and adding 128 - kSelectedFrom to it carries none into its top bit.
inline bool _NoneOfEightSelected(const uint8_t* mask) {
  static_assert(kSelectedFrom >= 1 && kSelectedFrom <= 128, "the test adds 128 - kSelectedFrom");
  constexpr uint64_t kEveryByte = 0x0101010101010101u, kTopBits = kEveryByte * 0x80;
  uint64_t eight;
  std::memcpy(&eight, mask, 8);
  return ((eight | (eight + kEveryByte * (128 - kSelectedFrom))) & kTopBits) == 0;
}

// Progress first, then the cancel test; true when the user cancelled.
bool _Cancelled(RunRecord* record, int32_t done, int32_t total) {
  DoProgress(record, done, total);
  return CommandPeriod(record) != 0;
}

// Sums the samples of the selected pixels and gives their means; a grey sample counts for all
// three positions. Returns false when cancelled.
template <class D>
bool _MeasureArea(const _Pass& pass, double means[3]) {
  using Sample = typename D::Sample;
  double sums[3] = {0, 0, 0};
  double count = 0;
  auto* samples = static_cast<Sample*>(pass.row);
  NamedImage* selection = pass.record->selection;
  int32_t rowBytes = pass.samples * pass.width * int32_t(sizeof(Sample));
  for (int32_t y = 0; y < pass.height; ++y) {
    if (_Cancelled(pass.record, y, 2 * pass.height)) return false;
    if (selection) GetLine(selection, 0, y, pass.width, pass.mask);
    GetLine(pass.image, 0, y, rowBytes, samples);
    for (int32_t x = 0; x < pass.width; ++x) {
      // Most of a selection's mask is unselected: eight such bytes are passed over at once.
      if (selection && x + 8 <= pass.width && _NoneOfEightSelected(pass.mask + x)) {
        x += 7;
        continue;
      }
      if (selection && pass.mask[x] < kSelectedFrom) continue;
      const Sample* pixel = samples + x * pass.samples;
      if (pass.channels > 0)
        for (int c = 0; c < 3; ++c) sums[c] += pixel[c < pass.channels ? c : 0];
      count += 1;
    }
  }
  // A selection without a selected pixel has no mean: 0 is shown in the swatch, and the mean
  // fill then paints no pixel anyway. (1 ÷ 0 would be infinite and 0 × ∞ not a number, which
  // must never be converted to an integer.)
  double reciprocal = count > 0 ? 1.0 / count : 0.0;
  for (int c = 0; c < 3; ++c) means[c] = sums[c] * reciprocal;
  return true;
}

// Sets the selected pixels (every pixel without a selection) to `colour`. Without a selection
// the rows are written without being read. Returns false when cancelled.
template <class D>
bool _FillColour(const _Pass& pass, const typename D::Sample colour[3]) {
  using Sample = typename D::Sample;
  auto* samples = static_cast<Sample*>(pass.row);
  NamedImage* selection = pass.record->selection;
  int32_t rowBytes = pass.samples * pass.width * int32_t(sizeof(Sample));
  if (!selection) {
    for (int32_t x = 0; x < pass.width; ++x)
      for (int32_t c = 0; c < pass.channels; ++c) samples[x * pass.samples + c] = colour[c];
  }
  for (int32_t y = 0; y < pass.height; ++y) {
    if (_Cancelled(pass.record, pass.height + y, 2 * pass.height)) return false;
    if (selection) {
      GetLine(selection, 0, y, pass.width, pass.mask);
      GetLine(pass.image, 0, y, rowBytes, samples);
      for (int32_t x = 0; x < pass.width; ++x) {
        if (pass.mask[x] < kSelectedFrom) continue;
        for (int32_t c = 0; c < pass.channels; ++c) samples[x * pass.samples + c] = colour[c];
      }
    }
    PutLine(pass.image, 0, y, rowBytes, samples);
  }
  return true;
}

// One blended sample in single precision, truncated: t = 0 gives `fore`; t never reaches 1.
template <class D>
typename D::Sample _Blend(float t, float fore, float back) {
  return typename D::Sample((1.0f - t) * fore + t * back);
}

// Foreground at the left to background at the right, on every pixel of every row. Each row is
// the same, so it is built once. Returns false when cancelled.
template <class D>
bool _HorizontalBlend(const _Pass& pass, const float fore[3], const float back[3]) {
  using Sample = typename D::Sample;
  auto* samples = static_cast<Sample*>(pass.row);
  for (int32_t x = 0; x < pass.width; ++x) {
    float t = float(x) / float(pass.width);
    for (int32_t c = 0; c < pass.channels; ++c)
      samples[x * pass.samples + c] = _Blend<D>(t, fore[c], back[c]);
  }
  int32_t rowBytes = pass.samples * pass.width * int32_t(sizeof(Sample));
  for (int32_t y = 0; y < pass.height; ++y) {
    if (_Cancelled(pass.record, pass.height + y, 2 * pass.height)) return false;
    PutLine(pass.image, 0, y, rowBytes, samples);
  }
  return true;
}

// Foreground at the top to background at the bottom: each row one colour. Returns false when
// cancelled.
template <class D>
bool _VerticalBlend(const _Pass& pass, const float fore[3], const float back[3]) {
  using Sample = typename D::Sample;
  auto* samples = static_cast<Sample*>(pass.row);
  int32_t rowBytes = pass.samples * pass.width * int32_t(sizeof(Sample));
  for (int32_t y = 0; y < pass.height; ++y) {
    if (_Cancelled(pass.record, pass.height + y, 2 * pass.height)) return false;
    float t = float(y) / float(pass.height);
    Sample colour[3];
    for (int32_t c = 0; c < pass.channels; ++c) colour[c] = _Blend<D>(t, fore[c], back[c]);
    for (int32_t x = 0; x < pass.width; ++x)
      for (int32_t c = 0; c < pass.channels; ++c) samples[x * pass.samples + c] = colour[c];
    PutLine(pass.image, 0, y, rowBytes, samples);
  }
  return true;
}

// Carries out a simple fill (every choice but the membrane). Returns false when cancelled.
template <class D>
bool _SimpleFill(const _Pass& pass, int16_t choice, const double means[3]) {
  using Sample = typename D::Sample;
  const FilterColor& foreColor = pass.record->host->foreColor;
  const FilterColor& backColor = pass.record->host->backColor;
  float fore[3], back[3];
  Sample colour[3];
  for (int c = 0; c < 3; ++c) {
    fore[c] = D::BlendEnd(foreColor[c]);
    back[c] = D::BlendEnd(backColor[c]);
    switch (choice) {
      case kChoiceMean:
        colour[c] = Sample(means[c]);
        break;
      case kChoiceForeground:
        colour[c] = D::Foreground(foreColor[c]);
        break;
      case kChoiceWhite:
        colour[c] = D::kWhite;
        break;
      default:
        colour[c] = 0;
        break;
    }
  }
  if (choice == kChoiceHorizontalBlend) return _HorizontalBlend<D>(pass, fore, back);
  if (choice == kChoiceVerticalBlend) return _VerticalBlend<D>(pass, fore, back);
  return _FillColour<D>(pass, colour);
}

template <class D>
OSErr _ProcessImage(NamedImage* image, RunRecord* record, SPSettings* settings,
                    uint8_t skipDialog) {
  using Sample = typename D::Sample;
  int32_t samples = record->planes < 0 ? -record->planes : record->planes;
  _Pass pass = {image,   record, record->width, record->height, samples, samples < 3 ? samples : 3,
                nullptr, nullptr};
  Ptr row = NewPtrClear(Size(samples) * (pass.width + 2) * Size(sizeof(Sample)));
  Ptr mask = NewPtrClear(Size(pass.width) + 2);
  if (!row || !mask) {
    DisposePtr(row);
    DisposePtr(mask);
    return memFullErr;
  }
  pass.row = row;
  pass.mask = reinterpret_cast<uint8_t*>(mask);

  double means[3];
  bool done = _MeasureArea<D>(pass, means);
  int16_t choice = kChoiceForeground;
  if (done) {
    int32_t stored = GetSPInputSettingRadio(settings, 0);
    if (stored >= kFirstFillChoice && stored <= kLastFillChoice) choice = int16_t(stored);
    if (!skipDialog) {
      done = UserChoice(record, kFillChoiceDialogID, &choice, D::Swatch(means[0]),
                        D::Swatch(means[1]), D::Swatch(means[2])) == kChoiceOKItem;
    }
  }
  if (done) {
    SetSPInputSettingRadio(settings, 0, choice);
    SetFillChoicePref(record, float(choice));
    if (choice != kChoiceMembrane) done = _SimpleFill<D>(pass, choice, means);
  }
  DisposePtr(row);
  DisposePtr(mask);
  if (!done) return userCanceledErr;
  if (choice == kChoiceMembrane) return OSErr(D::Membrane(image, record));
  return noErr;
}

}  // namespace

OSErr ProcessImage(NamedImage* image, RunRecord* record, Handle parameters, SPSettings* settings,
                   uint8_t skipDialog) {
  return _ProcessImage<_Depth8>(image, record, settings, skipDialog);
}

OSErr ProcessImage16_48(NamedImage* image, RunRecord* record, Handle parameters,
                        SPSettings* settings, uint8_t skipDialog) {
  return _ProcessImage<_Depth16>(image, record, settings, skipDialog);
}
