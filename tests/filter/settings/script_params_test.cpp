// Reading settings from the host's descriptor and recording them, through the host kit's
// scripting services: play modes, ranges, types, text handles, and the descriptor's owner.
#include "filter/settings/script_params.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "hostkit/descriptor.h"
#include "hostkit/scripting_host.h"
#include "platform/memory.h"
#include "support/platform_fixture.h"

namespace {

using hostkit::Descriptor;
using hostkit::DescriptorItem;
using hostkit::ScriptingHost;

int gDisposeProcCalls = 0;
void CountingDispose(Handle h) {
  ++gDisposeProcCalls;
  DisposeHandle(h);
}
int32_t gSizeProcResult = -1;
int32_t FixedSize(Handle) { return gSizeProcResult; }

class ScriptParamsTest : public PlatformFixture {
 protected:
  void SetUp() override {
    PlatformFixture::SetUp();
    record_ = FilterRecord{};
    record_.descriptorParameters = host_.descriptorParameters();
    record_.handleProcs = host_.handleProcs();
    globals_ = Globals{};
    globals_.host = &record_;
    block_ = _AllocateSPBlock(22);
    ASSERT_NE(block_, nullptr);
    InitializeSPSettings(block_, FourCC("FilR"), 0, 0);
    gDisposeProcCalls = 0;
  }
  void TearDown() override {
    _DisposeSPBlock(block_);
    Descriptor unread;  // a replay the test left unread is released before the leak check
    host_.TakeRecorded(&unread);
    PlatformFixture::TearDown();
  }

  void Play(const Descriptor& descriptor, int16_t playInfo = plugInDialogDontDisplay) {
    ASSERT_TRUE(host_.SetPlay(descriptor, playInfo));
  }
  uint8_t Read() { return _ReadScriptParamFromPS(&globals_, block_); }
  Descriptor Write() {
    EXPECT_EQ(_WriteScriptParamToPS(&globals_, block_), noErr);
    Descriptor recorded;
    EXPECT_TRUE(host_.TakeRecorded(&recorded));
    return recorded;
  }
  PIDescriptorParameters* params() { return host_.descriptorParameters(); }

  ScriptingHost host_;
  ScriptingHost::Activation active_{host_};
  FilterRecord record_{};
  Globals globals_{};
  SPSettings* block_ = nullptr;
};

const OSType kFilM = FourCC("FilM");
const OSType kRB22 = FourCC("rB22");

// ---- Play modes ----

class PlayInfoTest : public ScriptParamsTest, public ::testing::WithParamInterface<int16_t> {};

TEST_P(PlayInfoTest, ValuesAreReadAndOnlyDisplayShowsTheDialog) {
  AddSPInputSettingRadio(block_, kFilM, kRB22, 3, 9, 5);
  Play({{DescriptorItem::Enumerated(kFilM, kRB22, 7)}}, GetParam());
  uint8_t skip = Read();
  EXPECT_EQ(skip, GetParam() == plugInDialogDisplay ? 0 : 1);
  EXPECT_EQ(GetSPInputSettingRadio(block_, 0), 7);
  EXPECT_EQ(params()->descriptor, nullptr) << "the reader releases the descriptor";
  EXPECT_EQ(host_.counts().readersClosed, 1);
  EXPECT_EQ(host_.requestedKeys(), std::vector<DescriptorKeyID>{kFilM});
}

INSTANTIATE_TEST_SUITE_P(Modes, PlayInfoTest,
                         ::testing::Values(plugInDialogDontDisplay, plugInDialogDisplay,
                                           plugInDialogSilent));

TEST_F(ScriptParamsTest, BlockWithoutInputsOnlyAnswersTheDialogQuestion) {
  Play({{DescriptorItem::Enumerated(kFilM, kRB22, 7)}}, plugInDialogSilent);
  EXPECT_EQ(Read(), 1);
  params()->playInfo = plugInDialogDisplay;
  EXPECT_EQ(Read(), 0);
  EXPECT_EQ(host_.counts().readersOpened, 0);
  EXPECT_NE(params()->descriptor, nullptr) << "nothing was read, nothing released";
  record_.descriptorParameters = nullptr;
  params()->playInfo = plugInDialogSilent;
  EXPECT_EQ(Read(), 0);
}

TEST_F(ScriptParamsTest, EmptyReplayStillSkipsTheDialog) {
  AddSPInputSettingRadio(block_, kFilM, kRB22, 3, 9, 5);
  params()->playInfo = plugInDialogDontDisplay;  // no descriptor at all
  EXPECT_EQ(Read(), 1);
  EXPECT_EQ(GetSPInputSettingRadio(block_, 0), 5);
}

// ---- Ranges and types ----

struct RangeCase {
  const char* name;
  DescriptorItem item;
  int32_t expected;  // the setting's value after reading; 5 is the default
};

class FillChoiceRangeTest : public ScriptParamsTest,
                            public ::testing::WithParamInterface<RangeCase> {};

TEST_P(FillChoiceRangeTest, OnlyEnumerationsWithinThreeToNineAreTaken) {
  AddSPInputSettingRadio(block_, kFilM, kRB22, 3, 9, 5);
  Play({{GetParam().item}});
  Read();
  EXPECT_EQ(GetSPInputSettingRadio(block_, 0), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, FillChoiceRangeTest,
    ::testing::Values(RangeCase{"Three", DescriptorItem::Enumerated(kFilM, kRB22, 3), 3},
                      RangeCase{"Nine", DescriptorItem::Enumerated(kFilM, kRB22, 9), 9},
                      RangeCase{"Two", DescriptorItem::Enumerated(kFilM, kRB22, 2), 5},
                      RangeCase{"Ten", DescriptorItem::Enumerated(kFilM, kRB22, 10), 5},
                      RangeCase{"Huge", DescriptorItem::Enumerated(kFilM, kRB22, 0xFFFFFFF0u), 5},
                      RangeCase{"IntegerNotEnum", DescriptorItem::Integer(kFilM, 7), 5},
                      RangeCase{"OtherKey", DescriptorItem::Enumerated(FourCC("FilX"), kRB22, 7),
                                5}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(ScriptParamsTest, EnumerationsCompareUnsignedIntegersSigned) {
  AddSPInputSettingRadio(block_, FourCC("radi"), FourCC("rB01"), -5, 5, 1);
  AddSPInputSettingLong(block_, FourCC("long"), -5, 5, 1);
  AddSPInputSettingLong(block_, FourCC("pcnt"), 0, 100, 50);
  AddSPInputSettingLong(block_, kSPUnitKey, 0, 4, 1);
  AddSPInputSettingLong(block_, FourCC("unit"), 0, 4, 1);  // a "long" by another key
  Play({{DescriptorItem::Enumerated(FourCC("radi"), FourCC("rB01"), 0),
         DescriptorItem::Integer(FourCC("long"), 0), DescriptorItem::Integer(FourCC("pcnt"), -1),
         DescriptorItem::Enumerated(kSPUnitKey, FourCC("UniT"), 3),
         DescriptorItem::Enumerated(FourCC("unit"), FourCC("UniT"), 3)}});
  Read();
  EXPECT_EQ(GetSPInputSettingRadio(block_, 0), 1) << "0 lies outside 0xFFFFFFFB..5 unsigned";
  EXPECT_EQ(GetSPInputSettingLong(block_, 1), 0);
  EXPECT_EQ(GetSPInputSettingLong(block_, 2), 50) << "-1 is outside 0..100";
  EXPECT_EQ(GetSPInputSettingLong(block_, 3), 3) << "\"unCd\" is read as an enumeration";
  EXPECT_EQ(GetSPInputSettingLong(block_, 4), 1) << "other keys want an integer";
}

TEST_F(ScriptParamsTest, FloatsAreNarrowedAndRangeChecked) {
  AddSPInputSettingFloat(block_, FourCC("fl_0"), 0.0f, 1.0f, 0.5f);
  AddSPInputSettingFloat(block_, FourCC("fl_1"), 0.0f, 1.0f, 0.5f);
  AddSPInputSettingFloat(block_, FourCC("fl_2"), 0.0f, 1.0f, 0.5f);
  AddSPInputSettingFloat(block_, FourCC("fl_3"), 0.0f, 1.0f, 0.5f);
  Play({{DescriptorItem::Float(FourCC("fl_0"), 0.1),
         DescriptorItem::Float(FourCC("fl_1"), std::numeric_limits<double>::quiet_NaN()),
         DescriptorItem::Float(FourCC("fl_2"), 1.00000001),  // narrows to 1.0f
         DescriptorItem::Float(FourCC("fl_3"), 1.01)}});
  Read();
  EXPECT_EQ(GetSPInputSettingFloat(block_, 0), 0.1f);
  EXPECT_EQ(GetSPInputSettingFloat(block_, 1), 0.5f);
  EXPECT_EQ(GetSPInputSettingFloat(block_, 2), 1.0f);
  EXPECT_EQ(GetSPInputSettingFloat(block_, 3), 0.5f);
}

TEST_F(ScriptParamsTest, BooleansTextsAndUnknownTypes) {
  AddSPInputSettingBoolean(block_, FourCC("bo_0"), 0);
  AddSPInputSettingBoolean(block_, FourCC("bo_1"), 1);
  AddSPInputSettingCString(block_, FourCC("Path"), "old");
  AddSPInputSettingRadio(block_, FourCC("othr"), FourCC("xyzw"), 0, 9, 4);
  Play({{DescriptorItem::Boolean(FourCC("bo_0"), true), DescriptorItem::Text(FourCC("bo_1"), "no"),
         DescriptorItem::Text(FourCC("Path"), "/tmp/new path"),
         DescriptorItem::Enumerated(FourCC("othr"), FourCC("xyzw"), 2)}});
  Read();
  EXPECT_EQ(GetSPInputSettingBoolean(block_, 0), 1);
  EXPECT_EQ(GetSPInputSettingBoolean(block_, 1), 1) << "a text is no boolean";
  EXPECT_STREQ(GetSPInputSettingCString(block_, 2), "/tmp/new path");
  EXPECT_EQ(GetSPInputSettingRadio(block_, 3), 4) << "types that are not radios are not read";
  EXPECT_EQ(host_.counts().itemsRead, 2);
}

TEST_F(ScriptParamsTest, InputsSharingAKeyAllReadTheItem) {
  AddSPInputSettingLong(block_, FourCC("same"), 0, 10, 1);
  AddSPInputSettingLong(block_, FourCC("same"), 0, 5, 1);
  Play({{DescriptorItem::Integer(FourCC("same"), 8)}});
  Read();
  EXPECT_EQ(GetSPInputSettingLong(block_, 0), 8);
  EXPECT_EQ(GetSPInputSettingLong(block_, 1), 1);
}

// The host's text carries no NUL: the copy stops at the handle's size, which the host's
// getSizeProc gives when the handle services are usable and GetHandleSize otherwise.
TEST_F(ScriptParamsTest, TextWithoutNulStopsAtTheHandleSize) {
  AddSPInputSettingCString(block_, FourCC("Path"), nullptr);
  Play({{DescriptorItem::Text(FourCC("Path"), "abcdefgh")}});
  Read();
  EXPECT_STREQ(GetSPInputSettingCString(block_, 0), "abcdefgh");

  gSizeProcResult = 3;
  host_.handleProcs()->getSizeProc = &FixedSize;
  Play({{DescriptorItem::Text(FourCC("Path"), "abcdefgh")}});
  Read();
  EXPECT_STREQ(GetSPInputSettingCString(block_, 0), "abc") << "the host's size is used";

  host_.handleProcs()->handleProcsVersion = 2;  // services unusable: the platform's size
  Play({{DescriptorItem::Text(FourCC("Path"), "xy")}});
  Read();
  EXPECT_STREQ(GetSPInputSettingCString(block_, 0), "xy");

  Play({{DescriptorItem::Text(FourCC("Path"), std::string("in\0side", 7))}});
  Read();
  EXPECT_STREQ(GetSPInputSettingCString(block_, 0), "in");
}

// ---- Usable services ----

struct AvailabilityCase {
  const char* name;
  void (*spoil)(ScriptingHost&);
  uint8_t newer;
};

class AvailabilityTest : public ScriptParamsTest,
                         public ::testing::WithParamInterface<AvailabilityCase> {};

TEST_P(AvailabilityTest, UnusableServicesKeepDefaultsAndShowTheDialog) {
  GetParam().spoil(host_);
  uint8_t newer = 7;
  EXPECT_EQ(HostDescriptorAvailable(params(), &newer), 0);
  EXPECT_EQ(newer, GetParam().newer);

  AddSPInputSettingRadio(block_, kFilM, kRB22, 3, 9, 5);
  Play({{DescriptorItem::Enumerated(kFilM, kRB22, 7)}});
  EXPECT_EQ(Read(), 0);
  EXPECT_EQ(GetSPInputSettingRadio(block_, 0), 5);
  EXPECT_EQ(_WriteScriptParamToPS(&globals_, block_), noErr);
  EXPECT_EQ(host_.counts().readersOpened + host_.counts().writersOpened, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Spoilt, AvailabilityTest,
    ::testing::Values(
        AvailabilityCase{
            "OlderRecord",
            [](ScriptingHost& h) { h.descriptorParameters()->descriptorParametersVersion = -1; },
            0},
        AvailabilityCase{
            "NewerRecord",
            [](ScriptingHost& h) { h.descriptorParameters()->descriptorParametersVersion = 1; }, 1},
        AvailabilityCase{
            "NoReadSuite",
            [](ScriptingHost& h) { h.descriptorParameters()->readDescriptorProcs = nullptr; }, 0},
        AvailabilityCase{
            "NoWriteSuite",
            [](ScriptingHost& h) { h.descriptorParameters()->writeDescriptorProcs = nullptr; }, 0},
        AvailabilityCase{"ShortReadSuite",
                         [](ScriptingHost& h) { h.readProcs()->numReadDescriptorProcs = 17; }, 0},
        AvailabilityCase{"ShortWriteSuite",
                         [](ScriptingHost& h) { h.writeProcs()->numWriteDescriptorProcs = 15; }, 0},
        AvailabilityCase{"NegativeReadVersion",
                         [](ScriptingHost& h) { h.readProcs()->readDescriptorProcsVersion = -1; },
                         0},
        AvailabilityCase{"NegativeWriteVersion",
                         [](ScriptingHost& h) { h.writeProcs()->writeDescriptorProcsVersion = -1; },
                         0}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(ScriptParamsTest, LaterSuiteVersionsAndLongerSuitesAreUsable) {
  host_.readProcs()->readDescriptorProcsVersion = 3;
  host_.readProcs()->numReadDescriptorProcs = 40;
  host_.writeProcs()->writeDescriptorProcsVersion = 2;
  host_.writeProcs()->numWriteDescriptorProcs = 30;
  uint8_t newer = 7;
  EXPECT_EQ(HostDescriptorAvailable(params(), &newer), 1);
  EXPECT_EQ(newer, 0);
  EXPECT_EQ(HostDescriptorAvailable(nullptr, &newer), 0);
  EXPECT_EQ(HostDescriptorAvailable(params(), nullptr), 1);
}

// ---- The descriptor's owner ----

TEST_F(ScriptParamsTest, DescriptorIsReleasedThroughUsableHandleServicesOnly) {
  host_.handleProcs()->disposeProc = &CountingDispose;
  AddSPInputSettingRadio(block_, kFilM, kRB22, 3, 9, 5);
  Play({{DescriptorItem::Enumerated(kFilM, kRB22, 7)}});
  Read();
  EXPECT_EQ(gDisposeProcCalls, 1);

  host_.handleProcs()->numHandleProcs = 3;
  Play({{DescriptorItem::Enumerated(kFilM, kRB22, 7)}});
  Read();
  EXPECT_EQ(gDisposeProcCalls, 1) << "DisposeHandle, not the host's procs";
  EXPECT_EQ(params()->descriptor, nullptr);

  // The writer releases the old descriptor the same way before storing the new one.
  host_.handleProcs()->numHandleProcs = 6;
  Play({{DescriptorItem::Enumerated(kFilM, kRB22, 4)}});
  params()->recordInfo = plugInDialogRequired;
  EXPECT_EQ(_WriteScriptParamToPS(&globals_, block_), noErr);
  EXPECT_EQ(gDisposeProcCalls, 2);
  EXPECT_EQ(params()->recordInfo, plugInDialogOptional);
  EXPECT_NE(params()->descriptor, nullptr);
  EXPECT_EQ(host_.openTokens(), 0u);
}

TEST_F(ScriptParamsTest, CloseOperationsZeroTheTokenAndReportTheHostsClose) {
  PIReadDescriptor reader = host_.readProcs()->openReadDescriptorProc(nullptr, nullptr);
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(HostCloseReader(params(), host_.handleProcs(), &reader), noErr);
  EXPECT_EQ(reader, nullptr);
  PIReadDescriptor stale = reinterpret_cast<PIReadDescriptor>(&record_);
  EXPECT_NE(HostCloseReader(params(), host_.handleProcs(), &stale), noErr);
  EXPECT_EQ(stale, nullptr);

  PIWriteDescriptor writer = host_.writeProcs()->openWriteDescriptorProc();
  ASSERT_NE(writer, nullptr);
  EXPECT_EQ(HostCloseWriter(params(), host_.handleProcs(), &writer), noErr);
  EXPECT_EQ(writer, nullptr);
  Descriptor recorded;
  EXPECT_TRUE(host_.TakeRecorded(&recorded));
  EXPECT_TRUE(recorded.items.empty());
}

// ---- Recording ----

TEST_F(ScriptParamsTest, EverySettingIsRecordedByItsType) {
  AddSPInputSettingRadio(block_, kFilM, kRB22, 3, 9, 8);
  AddSPInputSettingBoolean(block_, FourCC("bool"), 1);
  AddSPInputSettingFloat(block_, FourCC("flot"), 0, 1, 0.1f);
  AddSPInputSettingLong(block_, FourCC("long"), -9, 9, -4);
  AddSPInputSettingLong(block_, kSPUnitKey, 0, 9, 2);
  AddSPInputSettingCString(block_, FourCC("Path"), "/tmp/a b");
  AddSPInputSettingCString(block_, FourCC("Null"), nullptr);
  AddSPInputSettingRadio(block_, FourCC("othr"), FourCC("xyzw"), 0, 9, 6);
  AddSPOutputSettingLong(block_, FourCC("outL"), 0, 9, 9);

  Descriptor recorded = Write();
  Descriptor expected;
  expected.items = {DescriptorItem::Enumerated(kFilM, kRB22, 8),
                    DescriptorItem::Boolean(FourCC("bool"), true),
                    DescriptorItem::Float(FourCC("flot"), double(0.1f)),
                    DescriptorItem::Integer(FourCC("long"), -4),
                    DescriptorItem::Enumerated(kSPUnitKey, FourCC("UniT"), 2),
                    DescriptorItem::Text(FourCC("Path"), "/tmp/a b"),
                    DescriptorItem::Text(FourCC("Null"), ""),
                    DescriptorItem::Enumerated(FourCC("othr"), FourCC("xyzw"), 6),
                    DescriptorItem::Integer(FourCC("outL"), 9)};
  EXPECT_EQ(recorded, expected);
}

TEST_F(ScriptParamsTest, LongTextIsRecordedCutTo513Characters) {
  std::string long_text(600, 'q');
  AddSPInputSettingCString(block_, FourCC("Path"), long_text.c_str());
  Descriptor recorded = Write();
  ASSERT_EQ(recorded.items.size(), 1u);
  EXPECT_EQ(recorded.items[0].text, std::string(513, 'q'));
}

TEST_F(ScriptParamsTest, TextThatCannotBeHandedOverIsNotRecorded) {
  AddSPInputSettingCString(block_, FourCC("Path"), "text");
  AddSPInputSettingBoolean(block_, FourCC("bool"), 1);
  PlatformRefuseAllocations(0, 1);  // the text handle
  Descriptor recorded = Write();
  ASSERT_EQ(recorded.items.size(), 1u);
  EXPECT_EQ(recorded.items[0].key, FourCC("bool"));
}

TEST_F(ScriptParamsTest, OutputsAloneAreRecordedAndAnEmptyBlockCallsNothing) {
  EXPECT_EQ(_WriteScriptParamToPS(&globals_, block_), noErr);
  EXPECT_EQ(host_.counts().writersOpened, 0);
  EXPECT_EQ(params()->descriptor, nullptr);

  AddSPOutputSettingBoolean(block_, FourCC("done"), 1);
  Descriptor recorded = Write();
  EXPECT_EQ(host_.counts().writersOpened, 1);
  ASSERT_EQ(recorded.items.size(), 1u);
  EXPECT_EQ(recorded.items[0], DescriptorItem::Boolean(FourCC("done"), true));
}

}  // namespace
