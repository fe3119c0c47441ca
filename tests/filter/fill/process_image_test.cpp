// The fill step at both depths: statistics, the choice (stored, validated, or from the dialog
// on the scripted backend), the six simple fills, progress, cancel and allocation failures.
#include "filter/fill/process_image.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "filter/util/module_resources.h"
#include "platform/dialog_backend.h"
#include "platform/memory.h"
#include "support/platform_fixture.h"

namespace {

// The host's callbacks carry no context: they report to file-static state.
std::vector<int32_t> gProgress;  // the fill's own `done` figures, recovered from the host's
int gAbortTests = 0;
int gCancelAt = 0;  // the abort test that answers yes (1-based); 0: none

void LogProgress(int32_t done, int32_t total) { gProgress.push_back((done - total / 6) / 4); }
Boolean LogAbort() { return ++gAbortTests == gCancelAt; }

constexpr float kPrefSentinel = 42.0f;

class ProcessImageTest : public PlatformFixture {
 protected:
  void SetUp() override {
    PlatformFixture::SetUp();
    PlatformSetDialogBackend(PlatformScriptedDialogBackend());
    PlatformScriptReset();
    gProgress.clear();
    gAbortTests = gCancelAt = 0;
    host_.progressProc = LogProgress;
    host_.abortProc = LogAbort;
    const uint8_t fore[4] = {10, 200, 255, 0}, back[4] = {250, 5, 0, 0};
    std::copy(fore, fore + 4, host_.foreColor);
    std::copy(back, back + 4, host_.backColor);
    record_ = std::make_unique<RunRecord>();
    record_->host = &host_;
    SetFillChoicePref(record_.get(), kPrefSentinel);
    settings_ = _AllocateSPBlock(3);
    InitializeSPSettings(settings_, kFilterSignature, 0, 0);
    AddSPInputSettingRadio(settings_, kFillChoiceKey, kFillChoiceType, 3, 9, kChoiceForeground);
  }
  void TearDown() override {
    if (image_) TossImage(image_);
    if (selection_) TossSelectionImage(selection_);
    _DisposeSPBlock(settings_);
    EXPECT_EQ(PlatformOpenDialogCount(), 0);
    PlatformScriptReset();
    PlatformSetDialogBackend(nullptr);
    PlatformFixture::TearDown();
  }

  // A width × height image of `planes` samples per pixel at `depth` bits, sample (x, y, c)
  // = value(x, y, c).
  template <class F>
  void MakePicture(int16_t width, int16_t height, int16_t planes, int depth, F value) {
    depth_ = depth;
    record_->width = width;
    record_->height = height;
    record_->planes = planes;
    ASSERT_EQ(MakeImage(width, height, int16_t(planes * depth / 8), &image_), noErr);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        for (int c = 0; c < planes; ++c) Set(x, y, c, value(x, y, c));
  }
  // Mask rows: '#' 255, '+' 128 (selected), '-' 127, '.' 0 (not selected).
  void MakeMask(const std::vector<std::string>& rows) {
    ASSERT_EQ(MakeSelectionImage(record_->width, record_->height, 1, &selection_), noErr);
    record_->selection = selection_;
    for (size_t y = 0; y < rows.size(); ++y) {
      std::vector<uint8_t> bytes;
      for (char m : rows[y]) bytes.push_back(m == '#' ? 255 : m == '+' ? 128 : m == '-' ? 127 : 0);
      PutLine(selection_, 0, int32_t(y), int32_t(bytes.size()), bytes.data());
    }
  }
  bool Selected(int x, int y) {
    if (!selection_) return true;
    uint8_t m;
    GetLine(selection_, x, y, 1, &m);
    return m >= 128;
  }
  int32_t At(int x, int y, int c) {
    int bytes = depth_ / 8, offset = (x * record_->planes + c) * bytes;
    uint16_t v = 0;
    uint8_t b = 0;
    if (bytes == 2)
      GetLine(image_, offset, y, 2, &v);
    else
      GetLine(image_, offset, y, 1, &b);
    return bytes == 2 ? v : b;
  }
  void Set(int x, int y, int c, int32_t value) {
    int bytes = depth_ / 8, offset = (x * record_->planes + c) * bytes;
    uint16_t v = uint16_t(value);
    uint8_t b = uint8_t(value);
    if (bytes == 2)
      PutLine(image_, offset, y, 2, &v);
    else
      PutLine(image_, offset, y, 1, &b);
  }
  std::vector<int32_t> All() {
    std::vector<int32_t> all;
    for (int y = 0; y < record_->height; ++y)
      for (int x = 0; x < record_->width; ++x)
        for (int c = 0; c < record_->planes; ++c) all.push_back(At(x, y, c));
    return all;
  }
  OSErr Run(int32_t stored, uint8_t skipDialog) {
    SetSPInputSettingRadio(settings_, 0, stored);
    return depth_ == 8 ? ProcessImage(image_, record_.get(), nullptr, settings_, skipDialog)
                       : ProcessImage16_48(image_, record_.get(), nullptr, settings_, skipDialog);
  }
  int32_t StoredChoice() { return GetSPInputSettingRadio(settings_, 0); }
  // The swatch's colour as the dialog painted it, from the closed dialog's snapshot.
  RGBColor Swatch() {
    const DialogSnapshot& s = PlatformLastDialogSnapshot();
    EXPECT_TRUE(s.valid);
    return s.valid ? s.Pixel(300, 60) : RGBColor{1, 1, 1};  // inside item 10
  }

  FilterRecord host_ = {};
  std::unique_ptr<RunRecord> record_;
  SPSettings* settings_ = nullptr;
  NamedImage* image_ = nullptr;
  NamedImage* selection_ = nullptr;
  int depth_ = 8;
};

int32_t Pattern(int x, int y, int c) { return 10 * x + 3 * y + c + 1; }

const std::vector<std::string> kMask = {"#+-.", ".##.", "...."};

struct ColourCase {
  const char* name;
  int depth;
  int16_t planes;
  FillChoice choice;
  bool withSelection;
  int32_t colour[3];
};

class ColourFillTest : public ProcessImageTest, public ::testing::WithParamInterface<ColourCase> {};

TEST_P(ColourFillTest, PaintsTheSelectedPixelsOnly) {
  const ColourCase& c = GetParam();
  int32_t scale = c.depth == 16 ? 100 : 1;
  MakePicture(4, 3, c.planes, c.depth,
              [&](int x, int y, int s) { return Pattern(x, y, s) * scale; });
  if (c.withSelection) MakeMask(kMask);
  ASSERT_EQ(Run(c.choice, 1), noErr);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x)
      for (int s = 0; s < c.planes; ++s)
        EXPECT_EQ(At(x, y, s), Selected(x, y) ? c.colour[s] : Pattern(x, y, s) * scale)
            << x << "," << y << " sample " << s;
  EXPECT_EQ(StoredChoice(), c.choice);
  EXPECT_EQ(GetFillChoicePref(record_.get()), float(c.choice));
}

INSTANTIATE_TEST_SUITE_P(
    Fills, ColourFillTest,
    ::testing::Values(
        ColourCase{"Black8", 8, 3, kChoiceBlack, true, {0, 0, 0}},
        ColourCase{"White8", 8, 3, kChoiceWhite, true, {255, 255, 255}},
        ColourCase{"White16IsFullIntensity", 16, 3, kChoiceWhite, true, {32768, 32768, 32768}},
        ColourCase{"Foreground8", 8, 3, kChoiceForeground, true, {10, 200, 255}},
        // 255 × 128.5 = 32767.5, truncated: a white foreground is not white.
        ColourCase{"Foreground16", 16, 3, kChoiceForeground, true, {1285, 25700, 32767}},
        ColourCase{"GreyTakesTheFirstByte", 8, 1, kChoiceForeground, true, {10}},
        ColourCase{"Grey16WholeArea", 16, 1, kChoiceForeground, false, {1285}},
        ColourCase{"White8WholeArea", 8, 3, kChoiceWhite, false, {255, 255, 255}},
        ColourCase{"Black16WholeArea", 16, 3, kChoiceBlack, false, {0, 0, 0}}),
    [](const auto& p) { return std::string(p.param.name); });

struct MeanCase {
  int depth;
  int32_t high, low;  // nine pixels of `high`, one of `low`
  int32_t filled;     // the mean, truncated
  uint16_t swatch;    // the swatch's 16-bit component
};

class MeanTest : public ProcessImageTest, public ::testing::WithParamInterface<MeanCase> {};

TEST_P(MeanTest, MeanIsTruncatedForTheFillAndTheSwatch) {
  const MeanCase& c = GetParam();
  MakePicture(5, 2, 1, c.depth,
              [&](int x, int y, int) { return x == 4 && y == 1 ? c.low : c.high; });
  ASSERT_EQ(Run(kChoiceMean, 0), noErr);  // the dialog's OK keeps the stored choice
  EXPECT_EQ(At(0, 0, 0), c.filled);
  EXPECT_EQ(At(4, 1, 0), c.filled);
  RGBColor swatch = Swatch();
  EXPECT_EQ(swatch.red, c.swatch);
  EXPECT_EQ(swatch.green, c.swatch) << "a grey swatch for a grey image";
  EXPECT_EQ(swatch.blue, c.swatch);
}

INSTANTIATE_TEST_SUITE_P(
    Depths, MeanTest,
    ::testing::Values(MeanCase{8, 128, 127, 127, 127 * 256},           // 127.9
                      MeanCase{16, 32767, 32761, 32766, 254 * 256},    // 32766.4 ÷ 128.5 = 254.99
                      MeanCase{16, 32768, 32768, 32768, 255 * 256}));  // 255.0039

TEST_F(ProcessImageTest, ColourMeanCoversSelectedPixelsOnly) {
  MakePicture(4, 3, 3, 8, Pattern);
  MakeMask(kMask);
  ASSERT_EQ(Run(kChoiceMean, 0), noErr);
  // Selected: (0,0) (1,0) (1,1) (2,1); red 1, 11, 14, 24: mean 12.5.
  EXPECT_EQ(At(0, 0, 0), 12);
  EXPECT_EQ(At(2, 1, 1), 13);
  EXPECT_EQ(At(2, 0, 0), Pattern(2, 0, 0)) << "mask byte 127 is not selected";
  RGBColor swatch = Swatch();
  EXPECT_EQ(swatch.red, 12 * 256);
  EXPECT_EQ(swatch.blue, 14 * 256);
  // Item 10 is (34, 256)-(94, 344): painted from its top row to the row above its bottom.
  const DialogSnapshot& s = PlatformLastDialogSnapshot();
  EXPECT_EQ(s.Pixel(256, 34).red, 12 * 256);
  EXPECT_EQ(s.Pixel(343, 93).red, 12 * 256);
  EXPECT_EQ(s.Pixel(300, 94).red, 0xFFFF);
  EXPECT_EQ(s.Pixel(255, 60).red, 0xFFFF);
}

TEST_F(ProcessImageTest, EmptySelectionHasABlackSwatchAndFillsNothing) {
  MakePicture(4, 3, 3, 8, Pattern);
  MakeMask({"-...", "....", "...."});
  std::vector<int32_t> before = All();
  ASSERT_EQ(Run(kChoiceMean, 0), noErr);
  EXPECT_EQ(All(), before);
  RGBColor swatch = Swatch();
  EXPECT_EQ(swatch.red + swatch.green + swatch.blue, 0);
}

struct BlendCase {
  const char* name;
  int depth;
  int16_t planes;
  FillChoice choice;
  int16_t width, height;
  std::vector<int32_t> first, second, third;  // samples 0, 1, 2 along the blend
};

class BlendTest : public ProcessImageTest, public ::testing::WithParamInterface<BlendCase> {};

TEST_P(BlendTest, BlendsInSinglePrecisionAndNeverReachTheBackground) {
  const BlendCase& c = GetParam();
  const uint8_t fore[3] = {0, 255, 195}, back[3] = {255, 0, 255};
  std::copy(fore, fore + 3, host_.foreColor);
  std::copy(back, back + 3, host_.backColor);
  MakePicture(c.width, c.height, c.planes, c.depth, Pattern);
  MakeMask(std::vector<std::string>(size_t(c.height), std::string(size_t(c.width), '.')));
  ASSERT_EQ(Run(c.choice, 1), noErr);
  for (int y = 0; y < c.height; ++y) {
    for (int x = 0; x < c.width; ++x) {
      size_t at = size_t(c.choice == kChoiceHorizontalBlend ? x : y);
      EXPECT_EQ(At(x, y, 0), c.first[at]) << "unselected pixels are blended too: " << x << "," << y;
      if (c.planes == 3) {
        EXPECT_EQ(At(x, y, 1), c.second[at]) << x << "," << y;
        EXPECT_EQ(At(x, y, 2), c.third[at]) << x << "," << y;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Blends, BlendTest,
    ::testing::Values(
        BlendCase{"Horizontal8",
                  8,
                  3,
                  kChoiceHorizontalBlend,
                  4,
                  2,
                  {0, 63, 127, 191},
                  {255, 191, 127, 63},
                  {195, 210, 225, 240}},
        BlendCase{"Horizontal16",
                  16,
                  3,
                  kChoiceHorizontalBlend,
                  4,
                  2,
                  {0, 8191, 16383, 24575},
                  {32767, 24575, 16383, 8191},
                  {25057, 26985, 28912, 30840}},
        BlendCase{"HorizontalGrey", 8, 1, kChoiceHorizontalBlend, 4, 1, {0, 63, 127, 191}, {}, {}},
        // In single precision (1 − 1/3) × 255 is 169.99998 and (1 − 1/3) × 195 + 1/3 × 255
        // is 214.99998; double precision would give 170 and 215.
        BlendCase{"Vertical8",
                  8,
                  3,
                  kChoiceVerticalBlend,
                  2,
                  3,
                  {0, 85, 170},
                  {255, 169, 84},
                  {195, 214, 235}},
        BlendCase{"Vertical16",
                  16,
                  3,
                  kChoiceVerticalBlend,
                  2,
                  3,
                  {0, 10922, 21845},
                  {32767, 21844, 10922},
                  {25057, 27627, 30197}},
        BlendCase{"OnePixelWide", 8, 3, kChoiceHorizontalBlend, 1, 2, {0}, {255}, {195}},
        BlendCase{"OneRowHigh", 16, 3, kChoiceVerticalBlend, 3, 1, {0}, {32767}, {25057}}),
    [](const auto& p) { return std::string(p.param.name); });

class ChoiceValidationTest : public ProcessImageTest,
                             public ::testing::WithParamInterface<int32_t> {};

TEST_P(ChoiceValidationTest, StoredChoiceOutsideTheRangeRunsTheForeground) {
  MakePicture(2, 2, 3, 8, Pattern);
  ASSERT_EQ(Run(GetParam(), 1), noErr);
  EXPECT_EQ(At(1, 1, 1), 200);
  EXPECT_EQ(StoredChoice(), kChoiceForeground);
  EXPECT_EQ(GetFillChoicePref(record_.get()), 5.0f);
  EXPECT_FALSE(PlatformLastDialogSnapshot().valid) << "no dialog was shown";
}

INSTANTIATE_TEST_SUITE_P(Stored, ChoiceValidationTest, ::testing::Values(0, 2, 10, -1, 1000));

TEST_F(ProcessImageTest, DialogOpensOnTheValidatedChoice) {
  MakePicture(2, 2, 3, 8, Pattern);
  ASSERT_EQ(Run(10, 0), noErr);
  const DialogSnapshot& s = PlatformLastDialogSnapshot();
  ASSERT_TRUE(s.valid);
  EXPECT_EQ(s.controlValues[kChoiceForeground - 1], 1);
  EXPECT_EQ(StoredChoice(), kChoiceForeground);
}

TEST_F(ProcessImageTest, OkKeepsAnUntouchedChoice) {
  MakePicture(2, 2, 3, 8, Pattern);
  ASSERT_EQ(Run(kChoiceBlack, 0), noErr);
  EXPECT_EQ(At(0, 0, 0), 0);
  EXPECT_EQ(StoredChoice(), kChoiceBlack);
  const DialogSnapshot& s = PlatformLastDialogSnapshot();
  ASSERT_TRUE(s.valid);
  for (int item = kChoiceFirstRadioItem; item <= kChoiceLastRadioItem; ++item)
    EXPECT_EQ(s.controlValues[size_t(item - 1)], item == kChoiceBlack ? 1 : 0) << item;
  EXPECT_EQ(s.defaultItem, kChoiceOKItem);
  EXPECT_EQ(s.cancelItem, kChoiceCancelItem);
}

TEST_F(ProcessImageTest, RadioPickedInTheDialogIsRunAndRecorded) {
  MakePicture(4, 1, 3, 8, Pattern);
  PlatformScriptClickItem(kChoiceWhite);
  PlatformScriptClickItem(kChoiceHorizontalBlend);
  PlatformScriptKey(kReturnCharCode);
  ASSERT_EQ(Run(kChoiceBlack, 0), noErr);
  EXPECT_EQ(At(1, 0, 0), 70);  // ¾ of the foreground's red 10, ¼ of the background's 250
  EXPECT_EQ(StoredChoice(), kChoiceHorizontalBlend);
  EXPECT_EQ(GetFillChoicePref(record_.get()), 8.0f);
  const DialogSnapshot& s = PlatformLastDialogSnapshot();
  EXPECT_EQ(s.controlValues[kChoiceBlack - 1] + s.controlValues[kChoiceWhite - 1], 0);
  EXPECT_EQ(s.controlValues[kChoiceHorizontalBlend - 1], 1);
}

class CancelTest : public ProcessImageTest, public ::testing::WithParamInterface<bool> {};

TEST_P(CancelTest, CancelInTheDialogChangesNothing) {
  MakePicture(3, 2, 3, 16, Pattern);
  std::vector<int32_t> before = All();
  PlatformScriptClickItem(kChoiceWhite);
  if (GetParam())
    PlatformScriptClickItem(kChoiceCancelItem);
  else
    PlatformScriptKey(kEscapeCharCode);
  EXPECT_EQ(Run(kChoiceBlack, 0), userCanceledErr);
  EXPECT_EQ(All(), before);
  EXPECT_EQ(StoredChoice(), kChoiceBlack);
  EXPECT_EQ(GetFillChoicePref(record_.get()), kPrefSentinel);
}

INSTANTIATE_TEST_SUITE_P(ButtonOrEscape, CancelTest, ::testing::Bool());

TEST_F(ProcessImageTest, ProgressCountsTheStatisticsThenTheFillOutOfTwiceTheHeight) {
  MakePicture(2, 3, 3, 8, Pattern);
  ASSERT_EQ(Run(kChoiceVerticalBlend, 1), noErr);
  EXPECT_EQ(gProgress, (std::vector<int32_t>{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(gAbortTests, 6);
}

TEST_F(ProcessImageTest, CancelDuringTheStatisticsStoresNothing) {
  MakePicture(2, 3, 3, 8, Pattern);
  std::vector<int32_t> before = All();
  gCancelAt = 2;
  EXPECT_EQ(Run(kChoiceBlack, 1), userCanceledErr);
  EXPECT_EQ(All(), before);
  EXPECT_EQ(GetFillChoicePref(record_.get()), kPrefSentinel);
}

TEST_F(ProcessImageTest, CancelDuringTheFillKeepsTheRowsAlreadyWritten) {
  MakePicture(2, 3, 1, 8, Pattern);
  MakeMask({"##", "##", "##"});
  gCancelAt = 5;  // three statistics rows, fill row 0, then row 1
  EXPECT_EQ(Run(kChoiceBlack, 1), userCanceledErr);
  EXPECT_EQ(At(1, 0, 0), 0);
  EXPECT_EQ(At(1, 1, 0), Pattern(1, 1, 0));
  EXPECT_EQ(StoredChoice(), kChoiceBlack) << "the choice was recorded before the fill";
}

TEST_F(ProcessImageTest, MembraneStatusIsPassedOn) {
  MakePicture(4, 4, 3, 16, Pattern);
  gCancelAt = 5;  // the first test of the membrane fill
  EXPECT_EQ(Run(kChoiceMembrane, 1), userCanceledErr);
  EXPECT_EQ(StoredChoice(), kChoiceMembrane);
  EXPECT_EQ(GetFillChoicePref(record_.get()), 3.0f);
}

class AllocationTest : public ProcessImageTest, public ::testing::WithParamInterface<long> {};

TEST_P(AllocationTest, RefusedBufferGivesMemFullAndLeavesNothingBehind) {
  MakePicture(3, 2, 3, 8, Pattern);
  PlatformRefuseAllocations(GetParam(), 1);
  EXPECT_EQ(Run(kChoiceBlack, 1), memFullErr);
  PlatformRefuseAllocations(0, 0);
  EXPECT_EQ(GetFillChoicePref(record_.get()), kPrefSentinel);
}

INSTANTIATE_TEST_SUITE_P(RowOrMask, AllocationTest, ::testing::Values(0L, 1L));

}  // namespace
