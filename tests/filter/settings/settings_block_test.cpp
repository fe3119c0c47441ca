// The settings block: entry places, counts, typed values, owned text copies and the filter's
// defaults.
#include "filter/settings/settings_block.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <memory>

#include "filter/run/run_record.h"
#include "platform/memory.h"
#include "support/platform_fixture.h"

namespace {

class SettingsBlockTest : public PlatformFixture {
 protected:
  void SetUp() override {
    PlatformFixture::SetUp();
    block_ = _AllocateSPBlock(22);
    ASSERT_NE(block_, nullptr);
    InitializeSPSettings(block_, FourCC("test"), 0, 0);
  }
  void TearDown() override {
    _DisposeSPBlock(block_);
    PlatformFixture::TearDown();
  }

  // Entry place `place` of the block, counting the header's two places.
  const SPSetting* Place(int place) const {
    return reinterpret_cast<const SPSetting*>(block_) + place;
  }

  SPSettings* block_ = nullptr;
};

TEST_F(SettingsBlockTest, BlockIsZeroFilledAndSizedInEntryPlaces) {
  SPSettings* other = _AllocateSPBlock(5);
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(GetPtrSize(reinterpret_cast<Ptr>(other)), Size(5 * sizeof(SPSetting)));
  const auto* bytes = reinterpret_cast<const uint8_t*>(other);
  for (size_t i = 0; i < 5 * sizeof(SPSetting); ++i) ASSERT_EQ(bytes[i], 0) << i;
  _DisposeSPBlock(other);

  PlatformRefuseAllocations(0, 1);
  EXPECT_EQ(_AllocateSPBlock(22), nullptr);
}

TEST_F(SettingsBlockTest, InitializeSetsHeaderAndForgetsEarlierSettings) {
  AddSPInputSettingLong(block_, FourCC("aaaa"), 0, 10, 4);
  AddSPOutputSettingLong(block_, FourCC("bbbb"), 0, 10, 4);
  InitializeSPSettings(block_, FourCC("FilR"), 1, 1);
  EXPECT_EQ(CountSPInputs(block_), 0u);
  EXPECT_EQ(CountSPOutputs(block_), 0u);
  EXPECT_EQ(GetSPZELKSignature(block_), FourCC("FilR"));
  EXPECT_EQ(SPNeedsMaskImage(block_), 1);
  EXPECT_EQ(SPSkipWritebackStatus(block_), 1);
  // The next input goes to place 2 again, over the forgotten one.
  EXPECT_EQ(AddSPInputSettingBoolean(block_, FourCC("cccc"), 1), 0);
  EXPECT_EQ(Place(2)->key, FourCC("cccc"));
}

TEST_F(SettingsBlockTest, OutputsFollowTheInputs) {
  EXPECT_EQ(AddSPInputSettingLong(block_, FourCC("in_0"), 0, 9, 1), 0);
  EXPECT_EQ(AddSPInputSettingFloat(block_, FourCC("in_1"), 0, 1, 0.5f), 1);
  EXPECT_EQ(AddSPInputSettingBoolean(block_, FourCC("in_2"), 1), 2);
  EXPECT_EQ(AddSPOutputSettingLong(block_, FourCC("ou_0"), -5, 5, -3), 0);
  EXPECT_EQ(AddSPOutputSettingRadio(block_, FourCC("ou_1"), FourCC("rB12"), 1, 4, 2), 1);
  EXPECT_EQ(CountSPInputs(block_), 3u);
  EXPECT_EQ(CountSPOutputs(block_), 2u);
  EXPECT_EQ(Place(5)->key, FourCC("ou_0"));
  EXPECT_EQ(Place(6)->key, FourCC("ou_1"));
  EXPECT_EQ(GetSPOutputSetting(block_, 0), Place(5));
  EXPECT_EQ(GetSPInputSetting(block_, 2), Place(4));
  EXPECT_EQ(GetSPOutputSettingLong(block_, 0), -3);
  EXPECT_EQ(GetSPOutputSettingRadio(block_, 1), 2);
  SetSPOutputSettingLong(block_, 0, 4);
  EXPECT_EQ(GetSPOutputSettingLong(block_, 0), 4);
  EXPECT_EQ(GetSPInputSettingLong(block_, 0), 1);
}

TEST_F(SettingsBlockTest, AddWritesTypeRangeAndUsed) {
  AddSPInputSettingLong(block_, FourCC("long"), -7, 70, -1);
  AddSPInputSettingFloat(block_, FourCC("flot"), -1.5f, 2.25f, 0.75f);
  AddSPInputSettingRadio(block_, FourCC("FilM"), FourCC("rB22"), 3, 9, 6);
  AddSPInputSettingBoolean(block_, FourCC("bool"), 1);

  const SPSetting* l = Place(2);
  EXPECT_EQ(l->type, kSPTypeLong);
  EXPECT_EQ(l->used, 1u);
  EXPECT_EQ(int32_t(l->min), -7);
  EXPECT_EQ(int32_t(l->max), 70);
  EXPECT_EQ(GetSPInputSettingLong(block_, 0), -1);

  const SPSetting* f = Place(3);
  EXPECT_EQ(f->type, kSPTypeFloat);
  float min, max;
  std::memcpy(&min, &f->min, 4);
  std::memcpy(&max, &f->max, 4);
  EXPECT_EQ(min, -1.5f);
  EXPECT_EQ(max, 2.25f);
  EXPECT_EQ(GetSPInputSettingFloat(block_, 1), 0.75f);
  SetSPInputSettingFloat(block_, 1, -0.125f);
  EXPECT_EQ(GetSPInputSettingFloat(block_, 1), -0.125f);

  EXPECT_EQ(Place(4)->type, FourCC("rB22"));
  EXPECT_TRUE(IsSPRadioType(Place(4)->type));
  EXPECT_FALSE(IsSPRadioType(FourCC("rb22")));
  EXPECT_EQ(GetSPInputSettingRadio(block_, 2), 6);

  const SPSetting* b = Place(5);
  EXPECT_EQ(b->type, kSPTypeBoolean);
  EXPECT_EQ(b->min, 0u);
  EXPECT_EQ(b->max, 1u);
  EXPECT_EQ(GetSPInputSettingBoolean(block_, 3), 1);
  SetSPInputSettingBoolean(block_, 3, 0);
  EXPECT_EQ(GetSPInputSettingBoolean(block_, 3), 0);
  SetSPInputSettingBoolean(block_, 3, 7);  // any non-zero value reads as 1
  EXPECT_EQ(GetSPInputSettingBoolean(block_, 3), 1);
}

TEST_F(SettingsBlockTest, TextSettingsOwnTheirCopies) {
  char source[] = "first";
  long before = PlatformLiveBlocks();
  AddSPInputSettingCString(block_, FourCC("Path"), source);
  EXPECT_EQ(PlatformLiveBlocks(), before + 1);
  source[0] = 'X';  // the block holds its own copy
  EXPECT_STREQ(GetSPInputSettingCString(block_, 0), "first");
  EXPECT_EQ(Place(2)->type, kSPTypeText);
  EXPECT_EQ(Place(2)->min, 0u);

  SetSPInputSettingCString(block_, 0, "second, longer");
  EXPECT_EQ(PlatformLiveBlocks(), before + 1) << "the old copy is released when replaced";
  EXPECT_STREQ(GetSPInputSettingCString(block_, 0), "second, longer");

  SetSPInputSettingCString(block_, 0, nullptr);
  EXPECT_EQ(PlatformLiveBlocks(), before);
  EXPECT_EQ(GetSPInputSettingCString(block_, 0), nullptr);

  SetSPInputSettingPString(block_, 0, PString("").get());
  ASSERT_NE(GetSPInputSettingCString(block_, 0), nullptr) << "an empty Pascal string is not null";
  EXPECT_STREQ(GetSPInputSettingCString(block_, 0), "");

  // The length byte counts the characters; nothing after them is copied.
  const unsigned char pascal[] =
      "\x03"
      "abcdef";
  AddSPOutputSettingPString(block_, FourCC("outP"), pascal);
  EXPECT_STREQ(GetSPOutputSettingCString(block_, 0), "abc");
  SetSPOutputSettingCString(block_, 0, "x");
  EXPECT_STREQ(GetSPOutputSettingCString(block_, 0), "x");
  AddSPOutputSettingCString(block_, FourCC("none"), nullptr);
  EXPECT_EQ(GetSPOutputSettingCString(block_, 1), nullptr);
}

TEST_F(SettingsBlockTest, TextSettingLeavesMaxAsItWas) {
  AddSPInputSettingLong(block_, FourCC("aaaa"), 0, 77, 1);
  InitializeSPSettings(block_, FourCC("test"), 0, 0);
  AddSPInputSettingCString(block_, FourCC("Path"), "p");
  EXPECT_EQ(Place(2)->max, 77u);
}

// Disposing releases every text copy, also those of settings that a re-initialisation no longer
// counts, and an Add over a forgotten text setting releases its copy (the fixture checks that no
// block is left).
TEST_F(SettingsBlockTest, DisposeAndOverwriteReleaseTextCopies) {
  AddSPInputSettingCString(block_, FourCC("aaaa"), "one");
  AddSPInputSettingCString(block_, FourCC("bbbb"), "two");
  AddSPOutputSettingPString(block_, FourCC("cccc"), PString("three").get());
  InitializeSPSettings(block_, FourCC("test"), 0, 0);
  long before = PlatformLiveBlocks();
  AddSPInputSettingLong(block_, FourCC("dddd"), 0, 1, 0);  // over "one"
  EXPECT_EQ(PlatformLiveBlocks(), before - 1);
}

TEST_F(SettingsBlockTest, FailedTextCopyLeavesNoText) {
  PlatformRefuseAllocations(0, 1);
  AddSPInputSettingCString(block_, FourCC("Path"), "lost");
  PlatformRefuseAllocations(0, 0);
  EXPECT_EQ(CountSPInputs(block_), 1u);
  EXPECT_EQ(GetSPInputSettingCString(block_, 0), nullptr);
}

struct DefaultCase {
  float stored;
  int32_t expected;
};

class DefaultSettingsTest : public SettingsBlockTest,
                            public ::testing::WithParamInterface<DefaultCase> {};

TEST_P(DefaultSettingsTest, FillChoiceDefaultIsTheStoredChoiceTruncated) {
  auto record = std::make_unique<RunRecord>();
  std::memset(record.get(), 0, sizeof(RunRecord));
  SetFillChoicePref(record.get(), GetParam().stored);
  AddSPInputSettingLong(block_, FourCC("old!"), 0, 1, 0);
  AddSPOutputSettingLong(block_, FourCC("old!"), 0, 1, 0);

  EXPECT_EQ(GetDefaultSettings(record.get(), block_), noErr);
  EXPECT_EQ(GetSPZELKSignature(block_), FourCC("FilR"));
  EXPECT_EQ(SPNeedsMaskImage(block_), 0);
  EXPECT_EQ(SPSkipWritebackStatus(block_), 0);
  ASSERT_EQ(CountSPInputs(block_), 1u);
  EXPECT_EQ(CountSPOutputs(block_), 0u);
  const SPSetting* s = Place(2);
  EXPECT_EQ(s->key, FourCC("FilM"));
  EXPECT_EQ(s->type, FourCC("rB22"));
  EXPECT_EQ(s->used, 1u);
  EXPECT_EQ(s->min, 3u);
  EXPECT_EQ(s->max, 9u);
  EXPECT_EQ(GetSPInputSettingRadio(block_, 0), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    StoredChoices, DefaultSettingsTest,
    ::testing::Values(DefaultCase{5.9f, 5}, DefaultCase{0.0f, 0}, DefaultCase{9.0f, 9},
                      DefaultCase{-2.7f, -2}, DefaultCase{3e9f, 0},
                      DefaultCase{std::numeric_limits<float>::quiet_NaN(), 0}));

}  // namespace
