// The fill step at both depths: the simple fills and the area's mean, the choice (stored,
// validated, or from the dialog on the scripted backend), progress, cancel and missing storage.
#include "filter/fill/process_image.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filter/util/module_resources.h"
#include "platform/dialog_backend.h"
#include "platform/memory.h"
#include "support/fill_runs.h"
#include "support/platform_fixture.h"

namespace {

using namespace fill_runs;

constexpr float kPrefSentinel = 42.0f;

int32_t Pattern(int x, int y, int c) { return 10 * x + 3 * y + c + 1; }

// A width × height picture of `planes` samples at `bits`, sample (x, y, c) = Pattern × scale;
// with mask rows ('#' 255, '+' 128, '-' 127, '.' 0), a selection.
Picture MakePicture(int w, int h, int planes, int bits, int32_t scale = 1,
                    const std::vector<std::string>& mask = {}) {
  Picture p{w, h, planes, bits, {}, {}};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < planes; ++c) p.v.push_back(Pattern(x, y, c) * scale);
  for (const std::string& row : mask)
    for (char m : row) p.mask.push_back(m == '#' ? 255 : m == '+' ? 128 : m == '-' ? 127 : 0);
  return p;
}

// The foreground is (195, 0, 255), the background (255, 255, 0).
class ProcessImageTest : public PlatformFixture {
 protected:
  void SetUp() override {
    PlatformFixture::SetUp();
    PlatformSetDialogBackend(PlatformScriptedDialogBackend());
    PlatformScriptReset();
    const uint8_t fore[3] = {195, 0, 255}, back[3] = {255, 255, 0};
    std::copy(fore, fore + 3, host_.foreColor);
    std::copy(back, back + 3, host_.backColor);
    settings_ = _AllocateSPBlock(3);
    InitializeSPSettings(settings_, kFilterSignature, 0, 0);
    AddSPInputSettingRadio(settings_, kFillChoiceKey, kFillChoiceType, 3, 9, kChoiceForeground);
  }
  void TearDown() override {
    _DisposeSPBlock(settings_);
    EXPECT_EQ(PlatformOpenDialogCount(), 0);
    PlatformScriptReset();
    PlatformSetDialogBackend(nullptr);
    PlatformFixture::TearDown();
  }
  // The fill step on the picture with `stored` as the settings' choice; pref_ takes the choice
  // it recorded in the run record. `refuse` >= 0 refuses that allocation of the step.
  OSErr Run(Picture& p, int32_t stored, uint8_t skipDialog, long cancelAt = 0, long refuse = -1) {
    SetSPInputSettingRadio(settings_, 0, stored);
    auto step = [&](NamedImage* image, RunRecord* record) -> int32_t {
      SetFillChoicePref(record, kPrefSentinel);
      if (refuse >= 0) PlatformRefuseAllocations(refuse, 1);
      const OSErr err = (p.bits == 8 ? ProcessImage : ProcessImage16_48)(image, record, nullptr,
                                                                         settings_, skipDialog);
      PlatformRefuseAllocations(0, 0);
      pref_ = GetFillChoicePref(record);
      return err;
    };
    return OSErr(RunStep(p, step, cancelAt, host_));
  }
  int32_t StoredChoice() { return GetSPInputSettingRadio(settings_, 0); }

  FilterRecord host_ = {};
  SPSettings* settings_ = nullptr;
  float pref_ = 0;
};

// Colour fills paint the selected pixels (mask byte 128 or more), or all without a selection:
// 16-bit white is 32768 and the host's colour bytes are scaled by 128.5, truncated; grey takes
// the first byte; a stored choice outside 3..9 runs the foreground. Blends paint every pixel, in
// single precision ((1 − 1/3) × 255 is 169.99998), and never reach the background.
TEST_F(ProcessImageTest, FillsAsTheChoiceSays) {
  struct Case {
    int bits, planes, choice, width, height;
    bool masked;
    std::vector<std::vector<int32_t>> values;  // for every pixel, or along a blend
  };
  const int32_t kH = kChoiceHorizontalBlend, kV = kChoiceVerticalBlend;
  // clang-format off
  const Case cases[] = {
      {8, 3, kChoiceBlack, 4, 3, true, {{0, 0, 0}}},
      {8, 3, kChoiceWhite, 4, 3, true, {{255, 255, 255}}},
      {16, 3, kChoiceWhite, 4, 3, true, {{32768, 32768, 32768}}},
      {8, 3, kChoiceForeground, 4, 3, true, {{195, 0, 255}}},
      {16, 3, kChoiceForeground, 4, 3, true, {{25057, 0, 32767}}},
      {8, 1, kChoiceForeground, 4, 3, true, {{195}}},
      {16, 1, kChoiceForeground, 4, 3, false, {{25057}}},
      {16, 3, kChoiceBlack, 4, 3, false, {{0, 0, 0}}},
      {8, 3, 0, 2, 2, false, {{195, 0, 255}}}, {8, 3, 2, 2, 2, false, {{195, 0, 255}}},
      {8, 3, 10, 2, 2, false, {{195, 0, 255}}}, {8, 3, -1, 2, 2, false, {{195, 0, 255}}},
      {8, 3, kH, 4, 2, true, {{195, 0, 255}, {210, 63, 191}, {225, 127, 127}, {240, 191, 63}}},
      {16, 3, kH, 4, 2, true, {{25057, 0, 32767}, {26985, 8191, 24575}, {28912, 16383, 16383}, {30840, 24575, 8191}}},
      {8, 1, kH, 4, 1, true, {{195}, {210}, {225}, {240}}},
      {8, 3, kV, 2, 3, true, {{195, 0, 255}, {214, 85, 169}, {235, 170, 84}}},
      {16, 3, kV, 2, 3, true, {{25057, 0, 32767}, {27627, 10922, 21844}, {30197, 21845, 10922}}},
      {8, 3, kH, 1, 2, true, {{195, 0, 255}}}, {16, 3, kV, 3, 1, true, {{25057, 0, 32767}}},
  };
  // clang-format on
  for (const Case& c : cases) {
    const bool blend = c.choice == kH || c.choice == kV;
    std::vector<std::string> mask;
    if (c.masked && blend) mask.assign(size_t(c.height), std::string(size_t(c.width), '.'));
    if (c.masked && !blend) mask = {"#+-.", ".##.", "...."};
    Picture p = MakePicture(c.width, c.height, c.planes, c.bits, c.bits == 16 ? 100 : 1, mask);
    const Picture before = p;
    ASSERT_EQ(Run(p, c.choice, 1), noErr);
    for (int y = 0; y < c.height; ++y)
      for (int x = 0; x < c.width; ++x)
        for (int s = 0; s < c.planes; ++s)
          EXPECT_EQ(p.at(x, y, s), blend || p.Selected(x, y)
                                       ? c.values[size_t(!blend           ? 0
                                                         : c.choice == kH ? x
                                                                          : y)][size_t(s)]
                                       : before.at(x, y, s))
              << c.bits << "-bit choice " << c.choice << " at " << x << "," << y << "," << s;
    const int32_t choice = c.choice >= 3 && c.choice <= 9 ? c.choice : kChoiceForeground;
    EXPECT_EQ(StoredChoice(), choice);
    EXPECT_EQ(pref_, float(choice));
  }
  EXPECT_FALSE(PlatformLastDialogSnapshot().valid) << "no dialog was shown";
}

// The mean of the selected pixels, truncated, fills them and is shown, divided by 128.5 at 16
// bits, in the dialog's swatch (grey for a grey image, black for an empty selection, which fills
// nothing).
TEST_F(ProcessImageTest, MeanIsTruncatedForTheFillAndTheSwatch) {
  struct Case {
    int bits, planes, high, low;  // grey: nine pixels of `high`, one of `low`; 0: the pattern
    std::vector<std::string> mask;
    std::vector<int32_t> filled;  // per plane; empty: nothing changes
    int swatch[3];                // the swatch's colour, in 256ths
  };
  // 127.9; 32766.4 ÷ 128.5 = 254.99; 255.0039; selected (0,0) (1,0) (1,1) (2,1): red 12.5.
  // clang-format off
  const Case cases[] = {{8, 1, 128, 127, {}, {127}, {127, 127, 127}},
                        {16, 1, 32767, 32761, {}, {32766}, {254, 254, 254}},
                        {16, 1, 32768, 32768, {}, {32768}, {255, 255, 255}},
                        {8, 3, 0, 0, {"#+-..", ".##.."}, {12, 13, 14}, {12, 13, 14}},
                        {8, 3, 0, 0, {"-....", "....."}, {}, {0, 0, 0}}};
  // clang-format on
  for (const Case& c : cases) {
    Picture p = MakePicture(5, 2, c.planes, c.bits, 1, c.mask);
    for (int i = 0; c.high != 0 && i < 10; ++i) p.v[size_t(i)] = i == 9 ? c.low : c.high;
    const Picture before = p;
    ASSERT_EQ(Run(p, kChoiceMean, 0), noErr);  // the dialog's OK keeps the stored choice
    for (int i = 0; i < 10 * c.planes; ++i)
      EXPECT_EQ(p.v[size_t(i)], !c.filled.empty() && p.Selected(i / c.planes % 5, i / c.planes / 5)
                                    ? c.filled[size_t(i % c.planes)]
                                    : before.v[size_t(i)]);
    const RGBColor swatch = PlatformLastDialogSnapshot().Pixel(300, 60);  // inside item 10
    EXPECT_EQ(std::vector<int>({swatch.red, swatch.green, swatch.blue}),
              std::vector<int>({c.swatch[0] * 256, c.swatch[1] * 256, c.swatch[2] * 256}));
  }
}

// OK keeps the stored (validated) choice with its radio on; a radio picked is run and recorded;
// Cancel or Escape leaves the image, the stored choice and the preference as they were.
TEST_F(ProcessImageTest, DialogRunsTheChoiceLeftOn) {
  struct Case {
    int32_t stored;
    std::vector<int16_t> clicks;
    uint8_t key;
    OSErr status;
    int32_t choice, red;  // the choice stored after, the red of pixel (1, 0)
  };
  // clang-format off
  const Case cases[] = {
      {kChoiceBlack, {}, 0, noErr, kChoiceBlack, 0},
      {10, {}, 0, noErr, kChoiceForeground, 195},
      {kChoiceBlack, {kChoiceWhite, kChoiceHorizontalBlend}, kReturnCharCode, noErr, kChoiceHorizontalBlend, 210},
      {kChoiceBlack, {kChoiceWhite, kChoiceCancelItem}, 0, userCanceledErr, kChoiceBlack, 11},
      {kChoiceBlack, {kChoiceWhite}, kEscapeCharCode, userCanceledErr, kChoiceBlack, 11}};
  // clang-format on
  for (const Case& c : cases) {
    Picture p = MakePicture(4, 1, 3, 8);
    for (int16_t item : c.clicks) PlatformScriptClickItem(item);
    if (c.key) PlatformScriptKey(c.key);
    EXPECT_EQ(Run(p, c.stored, 0), c.status) << c.stored;
    EXPECT_EQ(p.at(1, 0), c.red) << c.stored;
    EXPECT_EQ(StoredChoice(), c.status ? c.stored : c.choice);
    EXPECT_EQ(pref_, c.status ? kPrefSentinel : float(c.choice));
    const DialogSnapshot& s = PlatformLastDialogSnapshot();
    ASSERT_TRUE(s.valid);
    EXPECT_EQ(s.defaultItem, kChoiceOKItem);
    EXPECT_EQ(s.cancelItem, kChoiceCancelItem);
    for (int item = kChoiceFirstRadioItem; !c.status && item <= kChoiceLastRadioItem; ++item)
      EXPECT_EQ(s.controlValues[size_t(item - 1)], item == c.choice ? 1 : 0) << item;
  }
}

// Progress counts the statistics, then the fill, out of twice the height. Cancelled in the
// statistics nothing is stored; in the fill the choice is stored and the rows written stay
// written; the membrane fill's status is passed on.
TEST_F(ProcessImageTest, ProgressAndCancel) {
  Picture p = MakePicture(2, 3, 1, 8, 1, {"##", "##", "##"});
  const Picture before = p;
  ASSERT_EQ(Run(p, kChoiceVerticalBlend, 1), noErr);
  std::vector<int32_t> done;
  for (size_t i = 0; i < gLog.progress.size(); i += 2)
    done.push_back((gLog.progress[i] - gLog.progress[i + 1] / 6) / 4);
  EXPECT_EQ(done, (std::vector<int32_t>{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(gLog.calls, "PAPAPAPAPAPA");
  p = before;
  EXPECT_EQ(Run(p, kChoiceBlack, 1, 2), userCanceledErr);
  EXPECT_TRUE(p.v == before.v);
  EXPECT_EQ(pref_, kPrefSentinel);
  EXPECT_EQ(Run(p, kChoiceBlack, 1, 5), userCanceledErr);  // statistics, fill row 0, row 1
  EXPECT_EQ(std::vector<int32_t>(p.v.begin(), p.v.begin() + 4),
            (std::vector<int32_t>{0, 0, 4, 14}));
  EXPECT_EQ(pref_, float(kChoiceBlack)) << "the choice was recorded before the fill";
  EXPECT_EQ(Run(p, kChoiceMembrane, 1, 4), userCanceledErr);  // the membrane fill's first test
  EXPECT_EQ(pref_, float(kChoiceMembrane));
  for (long refused : {0L, 1L}) {  // the row buffer, the mask row
    EXPECT_EQ(Run(p, kChoiceBlack, 1, 0, refused), memFullErr);
    EXPECT_EQ(pref_, kPrefSentinel);
  }
}

}  // namespace
