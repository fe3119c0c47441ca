// The settings block: every Add, Get and Set operation on inputs and on outputs (placed after
// the inputs), the text settings' owned copies, and the filter's defaults.
#include "filter/settings/settings_block.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "filter/run/run_record.h"
#include "platform/memory.h"
#include "support/platform_fixture.h"

namespace {

// The operations of one side of the block, inputs or outputs.
struct Side {
  int32_t (*addLong)(SPSettings*, OSType, int32_t, int32_t, int32_t);
  int32_t (*addFloat)(SPSettings*, OSType, float, float, float);
  int32_t (*addRadio)(SPSettings*, OSType, OSType, int32_t, int32_t, int32_t);
  int32_t (*addBoolean)(SPSettings*, OSType, uint8_t);
  int32_t (*addCString)(SPSettings*, OSType, const char*);
  int32_t (*addPString)(SPSettings*, OSType, ConstStr255Param);
  SPSetting* (*entry)(SPSettings*, uint32_t);
  int32_t (*getLong)(SPSettings*, uint32_t);
  int32_t (*getRadio)(SPSettings*, uint32_t);
  float (*getFloat)(SPSettings*, uint32_t);
  uint8_t (*getBoolean)(SPSettings*, uint32_t);
  const char* (*getCString)(SPSettings*, uint32_t);
  void (*setLong)(SPSettings*, uint32_t, int32_t);
  void (*setRadio)(SPSettings*, uint32_t, int32_t);
  void (*setFloat)(SPSettings*, uint32_t, float);
  void (*setBoolean)(SPSettings*, uint32_t, uint8_t);
  void (*setCString)(SPSettings*, uint32_t, const char*);
  void (*setPString)(SPSettings*, uint32_t, ConstStr255Param);
};

#define SIDE(Kind)                                                                             \
  {                                                                                            \
    AddSP##Kind##SettingLong, AddSP##Kind##SettingFloat, AddSP##Kind##SettingRadio,            \
        AddSP##Kind##SettingBoolean, AddSP##Kind##SettingCString, AddSP##Kind##SettingPString, \
        GetSP##Kind##Setting, GetSP##Kind##SettingLong, GetSP##Kind##SettingRadio,             \
        GetSP##Kind##SettingFloat, GetSP##Kind##SettingBoolean, GetSP##Kind##SettingCString,   \
        SetSP##Kind##SettingLong, SetSP##Kind##SettingRadio, SetSP##Kind##SettingFloat,        \
        SetSP##Kind##SettingBoolean, SetSP##Kind##SettingCString, SetSP##Kind##SettingPString  \
  }
const Side kInputs = SIDE(Input), kOutputs = SIDE(Output);

uint32_t Bits(float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, 4);
  return bits;
}

using SettingsBlockTest = PlatformFixture;

TEST_F(SettingsBlockTest, EveryOperationOnInputsAndOutputs) {
  for (const Side* side : {&kInputs, &kOutputs}) {
    const bool outputs = side == &kOutputs;
    SPSettings* block = _AllocateSPBlock(12);
    InitializeSPSettings(block, FourCC("FilR"), 1, 0);
    if (outputs) AddSPInputSettingLong(block, FourCC("in_0"), 0, 9, 1);  // outputs follow it
    char text[] = "first";
    const long blocks = PlatformLiveBlocks();
    EXPECT_EQ(side->addLong(block, FourCC("long"), -7, 70, -1), 0);
    EXPECT_EQ(side->addFloat(block, FourCC("doub"), -1.5f, 2.25f, 0.75f), 1);
    EXPECT_EQ(side->addRadio(block, FourCC("FilM"), FourCC("rB22"), 3, 9, 6), 2);
    EXPECT_EQ(side->addBoolean(block, FourCC("bool"), 1), 3);
    EXPECT_EQ(side->addCString(block, FourCC("Pth1"), text), 4);
    EXPECT_EQ(side->addPString(block, FourCC("Pth2"), PString("abc").get()), 5);
    EXPECT_EQ(side->addCString(block, FourCC("none"), nullptr), 6);
    EXPECT_EQ(PlatformLiveBlocks(), blocks + 2) << "one copy per text";
    text[0] = 'X';  // the block holds its own copy
    EXPECT_EQ(CountSPInputs(block), outputs ? 1u : 7u);
    EXPECT_EQ(CountSPOutputs(block), outputs ? 7u : 0u);
    EXPECT_TRUE(IsSPRadioType(FourCC("rB01")) && !IsSPRadioType(FourCC("rb22")) &&
                !IsSPRadioType(FourCC("xB22")) && !IsSPRadioType(kSPTypeLong));
    // The settings follow the two header places, outputs after the inputs; ranges as stored.
    const SPSetting* e = side->entry(block, 1);
    EXPECT_EQ(e, reinterpret_cast<SPSetting*>(block) + 3 + (outputs ? 1 : 0));
    EXPECT_EQ(std::vector<uint32_t>({e->key, e->type, e->used, e->min, e->max}),
              std::vector<uint32_t>({FourCC("doub"), kSPTypeFloat, 1, Bits(-1.5f), Bits(2.25f)}));
    EXPECT_EQ(side->getLong(block, 0), -1);
    EXPECT_EQ(side->getFloat(block, 1), 0.75f);
    EXPECT_EQ(side->getRadio(block, 2), 6);
    EXPECT_EQ(side->getBoolean(block, 3), 1);
    EXPECT_STREQ(side->getCString(block, 4), "first");
    EXPECT_STREQ(side->getCString(block, 5), "abc");
    EXPECT_EQ(side->getCString(block, 6), nullptr);
    side->setLong(block, 0, 4);
    side->setFloat(block, 1, -0.125f);
    side->setRadio(block, 2, 8);
    side->setBoolean(block, 3, 0);
    EXPECT_EQ(
        std::vector<double>({double(side->getLong(block, 0)), side->getFloat(block, 1),
                             double(side->getRadio(block, 2)), double(side->getBoolean(block, 3))}),
        std::vector<double>({4, -0.125, 8, 0}));
    side->setBoolean(block, 3, 7);  // any non-zero value reads as 1
    EXPECT_EQ(side->getBoolean(block, 3), 1);
    side->setCString(block, 4, "second, longer");   // the old copy is released
    side->setPString(block, 5, PString("").get());  // an empty Pascal string is not null
    const unsigned char pascal[] = "\x02xyz";       // the length byte counts the characters
    side->setPString(block, 6, pascal);
    EXPECT_EQ(PlatformLiveBlocks(), blocks + 3);
    EXPECT_STREQ(side->getCString(block, 4), "second, longer");
    EXPECT_STREQ(side->getCString(block, 5), "");
    EXPECT_STREQ(side->getCString(block, 6), "xy");
    side->setCString(block, 4, nullptr);
    EXPECT_EQ(side->getCString(block, 4), nullptr);
    EXPECT_EQ(PlatformLiveBlocks(), blocks + 2);
    EXPECT_EQ(GetSPInputSettingLong(block, 0), outputs ? 1 : 4) << "the input stays";
    // A copy that cannot be made leaves no text; the setting is added all the same.
    PlatformRefuseAllocations(0, 1);
    EXPECT_EQ(side->addCString(block, FourCC("lost"), "lost"), 7);
    PlatformRefuseAllocations(0, 0);
    EXPECT_EQ(side->getCString(block, 7), nullptr);
    // After a new start nothing is counted; a text setting leaves max as it was.
    InitializeSPSettings(block, FourCC("udef"), 0, 1);
    EXPECT_EQ(std::vector<uint32_t>({CountSPInputs(block), CountSPOutputs(block),
                                     GetSPZELKSignature(block), SPNeedsMaskImage(block),
                                     SPSkipWritebackStatus(block)}),
              std::vector<uint32_t>({0, 0, FourCC("udef"), 0, 1}));
    AddSPInputSettingLong(block, FourCC("long"), 0, 77, 1);
    InitializeSPSettings(block, FourCC("udef"), 0, 0);
    AddSPInputSettingCString(block, FourCC("Path"), "p");
    EXPECT_EQ(GetSPInputSetting(block, 0)->max, 77u);
    _DisposeSPBlock(block);  // releases the block and every text copy (the fixture checks)
  }
}

// The filter's one setting: "FilM", a radio choice "rB22" of 3 to 9, defaulting to the stored
// choice truncated toward zero (0 for a value no integer holds).
TEST_F(SettingsBlockTest, DefaultsHoldTheStoredFillChoice) {
  for (auto [stored, expected] :
       {std::pair{5.9f, 5}, {0.0f, 0}, {9.0f, 9}, {-2.7f, -2}, {3e9f, 0}, {std::nanf(""), 0}}) {
    SPSettings* block = _AllocateSPBlock(22);
    AddSPInputSettingLong(block, FourCC("old!"), 0, 1, 0);
    AddSPOutputSettingLong(block, FourCC("old!"), 0, 1, 0);
    RunRecord record{};
    SetFillChoicePref(&record, stored);
    EXPECT_EQ(GetDefaultSettings(&record, block), noErr);
    EXPECT_EQ(std::vector<uint32_t>({CountSPInputs(block), CountSPOutputs(block),
                                     GetSPZELKSignature(block), SPNeedsMaskImage(block),
                                     SPSkipWritebackStatus(block)}),
              std::vector<uint32_t>({1, 0, FourCC("FilR"), 0, 0}));
    const SPSetting* s = GetSPInputSetting(block, 0);
    EXPECT_EQ(std::vector<uint32_t>({s->key, s->type, s->used, s->min, s->max}),
              std::vector<uint32_t>({FourCC("FilM"), FourCC("rB22"), 1, 3, 9}));
    EXPECT_EQ(GetSPInputSettingRadio(block, 0), expected) << stored;
    _DisposeSPBlock(block);
  }
  PlatformRefuseAllocations(0, 1);
  EXPECT_EQ(_AllocateSPBlock(22), nullptr);
}

}  // namespace
