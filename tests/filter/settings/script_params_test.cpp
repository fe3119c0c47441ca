// Settings read from the host's descriptor and recorded to it, through the host kit's scripting
// services: each setting type's mapping and range, the play modes, the host's text handles,
// which services are usable, and who releases the descriptor.
#include "filter/settings/script_params.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

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
int32_t FixedSize(Handle) { return 3; }

const OSType kFilM = FourCC("FilM"), kRB22 = FourCC("rB22");

class ScriptParamsTest : public PlatformFixture {
 protected:
  void SetUp() override {
    PlatformFixture::SetUp();
    record_.descriptorParameters = host_.descriptorParameters();
    record_.handleProcs = host_.handleProcs();
    globals_.host = &record_;
    block_ = _AllocateSPBlock(32);
    InitializeSPSettings(block_, FourCC("FilR"), 0, 0);
    gDisposeProcCalls = 0;
  }
  void TearDown() override {
    _DisposeSPBlock(block_);
    Descriptor unread;  // a replay the test left unread is released before the leak check
    host_.TakeRecorded(&unread);
    PlatformFixture::TearDown();
  }
  void Play(std::vector<DescriptorItem> items, int16_t playInfo = plugInDialogDontDisplay) {
    Descriptor descriptor;
    descriptor.items = std::move(items);
    ASSERT_TRUE(host_.SetPlay(descriptor, playInfo));
  }
  uint8_t Read() { return _ReadScriptParamFromPS(&globals_, block_); }
  Descriptor Write() {
    EXPECT_EQ(_WriteScriptParamToPS(&globals_, block_), noErr);
    Descriptor recorded;
    EXPECT_EQ(host_.openTokens(), 0u);
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

// Radio choices and "unCd" take enumerations compared as unsigned numbers, other longs integers
// compared signed; doubles are narrowed to floats and range-checked; booleans take booleans;
// texts replace the text; other types are not read; inputs sharing a key all read the item. The
// values are read in every play mode; only a host asking for the dialog gets it.
TEST_F(ScriptParamsTest, EachTypeIsReadWithinItsRangeInEveryPlayMode) {
  struct Case {
    OSType type;
    const char* key;
    int32_t min, max;
    char item;  // 'e'numerated (of the setting's type), 'i'nteger, 'f'loat, 'b'oolean, 't'ext
    double value, expected;  // the item's value; the setting's after reading (default 5)
  };
  const OSType kL = kSPTypeLong, kD = kSPTypeFloat, kB = kSPTypeBoolean;
  // clang-format off
  const Case cases[] = {
      {kRB22, "FilM", 3, 9, 'e', 7, 7}, {kRB22, "min3", 3, 9, 'e', 3, 3},
      {kRB22, "max9", 3, 9, 'e', 9, 9}, {kRB22, "low2", 3, 9, 'e', 2, 5},
      {kRB22, "hi10", 3, 9, 'e', 10, 5}, {kRB22, "huge", 3, 9, 'e', 0xFFFFFFF0u, 5},
      {kRB22, "int7", 3, 9, 'i', 7, 5},
      {FourCC("rB01"), "radi", -5, 5, 'e', 0, 5},  // 0 lies below 0xFFFFFFFB
      {kL, "long", -5, 5, 'i', 0, 0}, {kL, "pcnt", 0, 100, 'i', -1, 5},
      {kL, "unCd", 0, 9, 'u', 3, 3}, {kL, "unit", 0, 9, 'u', 3, 5},
      {kD, "fl_0", 0, 9, 'f', 0.1, double(0.1f)}, {kD, "fl_1", 0, 9, 'f', NAN, 5},
      {kD, "fl_2", 0, 9, 'f', 9.0000001, 9}, {kD, "fl_3", 0, 9, 'f', 9.01, 5},
      {kB, "bo_0", 0, 1, 'b', 0, 0}, {kB, "bo_1", 0, 1, 't', 0, 1},
      {FourCC("xyzw"), "othr", 0, 9, 'e', 2, 5},
      {kL, "same", 0, 9, 'i', 8, 8}, {kL, "same", 0, 7, 0, 0, 5}};
  // clang-format on
  host_.handleProcs()->disposeProc = &CountingDispose;  // the services are usable
  for (int16_t playInfo : {plugInDialogDontDisplay, plugInDialogDisplay, plugInDialogSilent}) {
    InitializeSPSettings(block_, FourCC("FilR"), 0, 0);
    std::vector<DescriptorItem> items;
    std::vector<DescriptorKeyID> keys;
    for (const Case& c : cases) {
      const OSType key = OSType(c.key[0]) << 24 | OSType(c.key[1]) << 16 | c.key[2] << 8 | c.key[3];
      if (c.type == kD) AddSPInputSettingFloat(block_, key, float(c.min), float(c.max), 5.0f);
      if (c.type == kB) AddSPInputSettingBoolean(block_, key, 1);
      if (c.type == kL) AddSPInputSettingLong(block_, key, c.min, c.max, 5);
      if (IsSPRadioType(c.type) || c.type == FourCC("xyzw"))
        AddSPInputSettingRadio(block_, key, c.type, c.min, c.max, 5);
      keys.push_back(key);
      const DescriptorEnumID e = std::isnan(c.value) ? 0 : DescriptorEnumID(int64_t(c.value));
      if (c.item == 'e') items.push_back(DescriptorItem::Enumerated(key, c.type, e));
      if (c.item == 'u') items.push_back(DescriptorItem::Enumerated(key, kSPUnitType, e));
      if (c.item == 'i') items.push_back(DescriptorItem::Integer(key, int32_t(c.value)));
      if (c.item == 'f') items.push_back(DescriptorItem::Float(key, c.value));
      if (c.item == 'b') items.push_back(DescriptorItem::Boolean(key, c.value != 0));
      if (c.item == 't') items.push_back(DescriptorItem::Text(key, "no"));
    }
    AddSPInputSettingCString(block_, FourCC("Path"), "old");
    items.push_back(DescriptorItem::Text(FourCC("Path"), "/tmp/new path"));
    keys.push_back(FourCC("Path"));
    Play(items, playInfo);
    const int closed = host_.counts().readersClosed;
    EXPECT_EQ(Read(), playInfo == plugInDialogDisplay ? 0 : 1);
    for (uint32_t i = 0; i < std::size(cases); ++i) {
      const OSType type = cases[i].type;
      EXPECT_EQ(type == kD   ? GetSPInputSettingFloat(block_, i)
                : type == kB ? GetSPInputSettingBoolean(block_, i)
                             : GetSPInputSettingLong(block_, i),
                cases[i].expected)
          << cases[i].key;
    }
    EXPECT_STREQ(GetSPInputSettingCString(block_, uint32_t(std::size(cases))), "/tmp/new path");
    EXPECT_EQ(params()->descriptor, nullptr) << "the reader releases the descriptor";
    EXPECT_EQ(host_.counts().readersClosed, closed + 1);
    EXPECT_EQ(gDisposeProcCalls, closed + 1);
    EXPECT_EQ(host_.requestedKeys(), keys);
  }
}

// Without inputs only the dialog question is answered (nothing is opened or released); without
// a descriptor the defaults stay and a replay still skips the dialog. A text without NUL stops
// at the handle's size: the host's getSizeProc while the handle services are usable.
TEST_F(ScriptParamsTest, BlocksWithoutInputsReplaysWithoutDescriptorAndTextsWithoutNul) {
  Play({DescriptorItem::Enumerated(kFilM, kRB22, 7)}, plugInDialogDisplay);
  EXPECT_EQ(Read(), 0);
  params()->playInfo = plugInDialogSilent;
  EXPECT_EQ(Read(), 1);
  EXPECT_EQ(host_.counts().readersOpened, 0);
  AddSPInputSettingCString(block_, FourCC("Path"), "default");
  Descriptor unread;
  EXPECT_TRUE(host_.TakeRecorded(&unread)) << "the descriptor was left alone";
  EXPECT_EQ(Read(), 1);
  EXPECT_STREQ(GetSPInputSettingCString(block_, 0), "default");
  for (auto [text, expected] : {std::pair{std::string("in\0side", 7), "in"},
                                {std::string("abcdefgh"), "abc"},
                                {std::string("abcdefgh"), "abcdefgh"}}) {
    Play({DescriptorItem::Text(FourCC("Path"), text)});
    Read();
    EXPECT_STREQ(GetSPInputSettingCString(block_, 0), expected);
    host_.handleProcs()->getSizeProc = &FixedSize;                        // 3
    if (expected[0] == 'a') host_.handleProcs()->handleProcsVersion = 2;  // unusable
  }
}

// Usable: a version-0 record with both suites, each of version 0 or later and long enough (18
// read and 16 write procs); a newer record is flagged. Else defaults stay, nothing is written
// and the dialog is shown.
TEST_F(ScriptParamsTest, UnusableServicesKeepDefaultsAndShowTheDialog) {
  const std::function<void(ScriptingHost&)> spoils[] = {
      [](ScriptingHost& h) { h.descriptorParameters()->descriptorParametersVersion = 1; },
      [](ScriptingHost& h) { h.descriptorParameters()->descriptorParametersVersion = -1; },
      [](ScriptingHost& h) { h.descriptorParameters()->readDescriptorProcs = nullptr; },
      [](ScriptingHost& h) { h.descriptorParameters()->writeDescriptorProcs = nullptr; },
      [](ScriptingHost& h) { h.readProcs()->numReadDescriptorProcs = 17; },
      [](ScriptingHost& h) { h.writeProcs()->numWriteDescriptorProcs = 15; },
      [](ScriptingHost& h) { h.readProcs()->readDescriptorProcsVersion = -1; },
      [](ScriptingHost& h) { h.writeProcs()->writeDescriptorProcsVersion = -1; }};
  for (size_t i = 0; i < std::size(spoils); ++i) {
    ScriptingHost other;
    spoils[i](other);
    uint8_t newer = 7;
    EXPECT_EQ(HostDescriptorAvailable(other.descriptorParameters(), &newer), 0) << i;
    EXPECT_EQ(newer, i == 0 ? 1 : 0) << i;
  }
  host_.readProcs()->readDescriptorProcsVersion = 3;
  host_.readProcs()->numReadDescriptorProcs = 40;
  host_.writeProcs()->writeDescriptorProcsVersion = 2;
  host_.writeProcs()->numWriteDescriptorProcs = 30;
  uint8_t newer = 7;
  EXPECT_EQ(HostDescriptorAvailable(params(), &newer), 1);
  EXPECT_EQ(newer, 0);
  EXPECT_EQ(HostDescriptorAvailable(nullptr, nullptr), 0);
  spoils[4](host_);
  AddSPInputSettingRadio(block_, kFilM, kRB22, 3, 9, 5);
  Play({DescriptorItem::Enumerated(kFilM, kRB22, 7)});
  EXPECT_EQ(Read(), 0);
  EXPECT_EQ(GetSPInputSettingRadio(block_, 0), 5);
  EXPECT_EQ(_WriteScriptParamToPS(&globals_, block_), noErr);
  EXPECT_EQ(host_.counts().readersOpened + host_.counts().writersOpened, 0);
}

// Inputs, then outputs, each by its type; text cut to 513 characters, a null text as empty; a
// text whose handle cannot be made is left out; a block without settings calls nothing. The
// old descriptor is released through the host's disposeProc while the handle services are
// usable (else DisposeHandle), the new one stored and the dialog marked optional.
TEST_F(ScriptParamsTest, EverySettingIsRecordedByItsType) {
  EXPECT_EQ(_WriteScriptParamToPS(&globals_, block_), noErr);
  EXPECT_EQ(host_.counts().writersOpened, 0);
  AddSPInputSettingRadio(block_, kFilM, kRB22, 3, 9, 8);
  AddSPInputSettingBoolean(block_, FourCC("bool"), 1);
  AddSPInputSettingFloat(block_, FourCC("flot"), 0, 1, 0.1f);
  AddSPInputSettingLong(block_, FourCC("long"), -9, 9, -4);
  AddSPInputSettingLong(block_, kSPUnitKey, 0, 9, 2);
  AddSPInputSettingCString(block_, FourCC("Path"), std::string(600, 'q').c_str());
  AddSPInputSettingCString(block_, FourCC("Null"), nullptr);
  AddSPInputSettingRadio(block_, FourCC("othr"), FourCC("xyzw"), 0, 9, 6);
  AddSPOutputSettingLong(block_, FourCC("outL"), 0, 9, 9);
  Descriptor expected;
  expected.items = {DescriptorItem::Enumerated(kFilM, kRB22, 8),
                    DescriptorItem::Boolean(FourCC("bool"), true),
                    DescriptorItem::Float(FourCC("flot"), double(0.1f)),
                    DescriptorItem::Integer(FourCC("long"), -4),
                    DescriptorItem::Enumerated(kSPUnitKey, kSPUnitType, 2),
                    DescriptorItem::Text(FourCC("Path"), std::string(513, 'q')),
                    DescriptorItem::Text(FourCC("Null"), ""),
                    DescriptorItem::Enumerated(FourCC("othr"), FourCC("xyzw"), 6),
                    DescriptorItem::Integer(FourCC("outL"), 9)};
  host_.handleProcs()->disposeProc = &CountingDispose;
  for (int16_t procs : {6, 3}) {
    host_.handleProcs()->numHandleProcs = procs;
    Play({});
    params()->recordInfo = plugInDialogRequired;
    EXPECT_EQ(Write(), expected);
    EXPECT_EQ(gDisposeProcCalls, 1) << "through the host's procs only while they are usable";
    EXPECT_EQ(params()->recordInfo, plugInDialogOptional);
  }
  PlatformRefuseAllocations(0, 1);  // the first text handle
  expected.items.erase(expected.items.begin() + 5);
  EXPECT_EQ(Write(), expected);
  InitializeSPSettings(block_, FourCC("FilR"), 0, 0);
  AddSPOutputSettingBoolean(block_, FourCC("done"), 1);
  expected.items = {DescriptorItem::Boolean(FourCC("done"), true)};
  EXPECT_EQ(Write(), expected);
  PIReadDescriptor stale = reinterpret_cast<PIReadDescriptor>(&record_);
  EXPECT_NE(HostCloseReader(params(), host_.handleProcs(), &stale), noErr);
  EXPECT_EQ(stale, nullptr);
}

}  // namespace
