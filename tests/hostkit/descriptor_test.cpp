// The host's scripting services: descriptor handles, the read and write suites, the JSON form,
// and a recording replayed through JSON into the filter's settings.
#include "hostkit/descriptor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "filter/settings/script_params.h"
#include "hostkit/descriptor_json.h"
#include "hostkit/scripting_host.h"
#include "platform/memory.h"
#include "support/platform_fixture.h"

namespace {

using hostkit::Descriptor;
using hostkit::DescriptorItem;
using hostkit::ScriptingHost;

using DescriptorTest = PlatformFixture;

Descriptor EveryKind() {
  Descriptor d;
  d.items = {DescriptorItem::Enumerated(FourCC("FilM"), FourCC("rB22"), 3),
             DescriptorItem::Integer(FourCC("Amnt"), INT32_MIN),
             DescriptorItem::Float(FourCC("Rads"), 0.1),
             DescriptorItem::Float(FourCC("NaN "), std::numeric_limits<double>::quiet_NaN()),
             DescriptorItem::Float(FourCC("Inf "), -std::numeric_limits<double>::infinity()),
             DescriptorItem::Boolean(FourCC("Invr"), true),
             DescriptorItem::Text(FourCC("Path"), std::string("a\0b \xc3\xa9", 6)),
             DescriptorItem::Enumerated(0x01020304u, 0xFFFFFFFFu, 0xFFFFFFFFu)};
  return d;
}

TEST_F(DescriptorTest, HandleHoldsTheDescriptor) {
  Descriptor d = EveryKind();
  PIDescriptorHandle handle = NewDescriptorHandle(d);
  ASSERT_NE(handle, nullptr);
  Descriptor back;
  EXPECT_TRUE(ReadDescriptorHandle(handle, &back));
  EXPECT_EQ(back, d);

  // Cut short by one byte, or carrying one byte too many: not a descriptor.
  Size size = GetHandleSize(handle);
  for (Size changed : {size - 1, size + 1, Size(4)}) {
    SetHandleSize(handle, changed);
    EXPECT_FALSE(ReadDescriptorHandle(handle, &back)) << changed;
    EXPECT_TRUE(back.items.empty());
  }
  DisposeHandle(handle);
  EXPECT_TRUE(ReadDescriptorHandle(nullptr, &back));
  EXPECT_TRUE(back.items.empty());

  PlatformRefuseAllocations(0, 1);
  EXPECT_EQ(NewDescriptorHandle(d), nullptr);
}

TEST_F(DescriptorTest, ReaderWalksTheItemsAndChecksTheirKind) {
  ScriptingHost host;
  ScriptingHost::Activation active(host);
  ReadDescriptorProcs* r = host.readProcs();
  Descriptor d;
  d.items = {DescriptorItem::Integer(FourCC("intg"), -7),
             DescriptorItem::Text(FourCC("text"), "abc")};
  PIDescriptorHandle handle = NewDescriptorHandle(d);
  DescriptorKeyID keys[] = {FourCC("intg"), FourCC("text"), 0};
  PIReadDescriptor token = r->openReadDescriptorProc(handle, keys);
  ASSERT_NE(token, nullptr);
  EXPECT_EQ(host.requestedKeys(), (std::vector<DescriptorKeyID>{FourCC("intg"), FourCC("text")}));

  int32_t value = 0;
  EXPECT_EQ(r->getIntegerProc(token, &value), hostkit::kDescErrNoItem);
  DescriptorKeyID key = 0;
  DescType type = 0;
  int32_t flags = -1;
  ASSERT_TRUE(r->getKeyProc(token, &key, &type, &flags));
  EXPECT_EQ(key, FourCC("intg"));
  EXPECT_EQ(type, hostkit::kDescTypeInteger);
  EXPECT_EQ(r->getIntegerProc(token, &value), noErr);
  EXPECT_EQ(value, -7);
  DescriptorEnumID e = 0;
  EXPECT_EQ(r->getEnumeratedProc(token, &e), hostkit::kDescErrWrongType);

  ASSERT_TRUE(r->getKeyProc(token, &key, &type, &flags));
  EXPECT_EQ(type, hostkit::kDescTypeText);
  Handle text = nullptr;
  ASSERT_EQ(r->getTextProc(token, &text), noErr);
  EXPECT_EQ(GetHandleSize(text), 3) << "the text's bytes, without a NUL";
  EXPECT_EQ(std::string(*text, 3), "abc");
  DisposeHandle(text);
  EXPECT_FALSE(r->getKeyProc(token, &key, &type, &flags));

  EXPECT_EQ(host.openTokens(), 1u);
  EXPECT_EQ(r->closeReadDescriptorProc(token), noErr);
  EXPECT_NE(r->closeReadDescriptorProc(token), noErr) << "a closed token is unknown";
  EXPECT_EQ(host.openTokens(), 0u);
  DisposeHandle(handle);

  Handle garbage = NewHandleClear(12);
  EXPECT_EQ(r->openReadDescriptorProc(garbage, keys), nullptr);
  DisposeHandle(garbage);
}

TEST_F(DescriptorTest, WriterReplacesARepeatedKeyAndHandsOutANewHandle) {
  ScriptingHost host;
  ScriptingHost::Activation active(host);
  WriteDescriptorProcs* w = host.writeProcs();
  PIWriteDescriptor token = w->openWriteDescriptorProc();
  ASSERT_NE(token, nullptr);
  EXPECT_EQ(w->putIntegerProc(token, FourCC("aaaa"), 1), noErr);
  EXPECT_EQ(w->putBooleanProc(token, FourCC("bbbb"), 1), noErr);
  EXPECT_EQ(w->putIntegerProc(token, FourCC("aaaa"), 2), noErr);
  Handle text = NewHandleClear(8);
  std::memcpy(*text, "hi\0junk", 8);
  EXPECT_EQ(w->putTextProc(token, FourCC("cccc"), text), noErr);
  DisposeHandle(text);
  PIDescriptorHandle made = nullptr;
  ASSERT_EQ(w->closeWriteDescriptorProc(token, &made), noErr);
  Descriptor back;
  ASSERT_TRUE(ReadDescriptorHandle(made, &back));
  DisposeHandle(made);
  Descriptor expected;
  expected.items = {DescriptorItem::Integer(FourCC("aaaa"), 2),
                    DescriptorItem::Boolean(FourCC("bbbb"), true),
                    DescriptorItem::Text(FourCC("cccc"), "hi")};
  EXPECT_EQ(back, expected);
  EXPECT_EQ(w->putIntegerProc(token, FourCC("aaaa"), 1), hostkit::kDescErrNoHost);
}

TEST_F(DescriptorTest, SuitesAnswerOnlyTheActiveHost) {
  ScriptingHost outer;
  ScriptingHost inner;
  EXPECT_EQ(outer.writeProcs()->openWriteDescriptorProc(), nullptr) << "no host is active";
  ScriptingHost::Activation a(outer);
  {
    ScriptingHost::Activation b(inner);
    PIWriteDescriptor token = inner.writeProcs()->openWriteDescriptorProc();
    EXPECT_EQ(inner.counts().writersOpened, 1);
    PIDescriptorHandle made = nullptr;
    inner.writeProcs()->closeWriteDescriptorProc(token, &made);
    DisposeHandle(made);
  }
  outer.writeProcs()->openWriteDescriptorProc();
  EXPECT_EQ(outer.counts().writersOpened, 1) << "the outer host is active again";
  EXPECT_EQ(outer.openTokens(), 1u);  // released with the host
}

// ---- JSON ----

TEST_F(DescriptorTest, JsonRoundTripKeepsEveryItem) {
  std::string json, message;
  ASSERT_TRUE(DescriptorToJson(EveryKind(), &json, &message)) << message;
  Descriptor back;
  ASSERT_TRUE(DescriptorFromJson(json, &back, &message)) << message;
  EXPECT_EQ(back, EveryKind());
  EXPECT_NE(json.find("\"key\": \"0x01020304\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"value\": \"nan\""), std::string::npos) << json;
}

TEST_F(DescriptorTest, JsonFormIsStable) {
  Descriptor d;
  d.items = {DescriptorItem::Enumerated(FourCC("FilM"), FourCC("rB22"), 3)};
  std::string json, message;
  ASSERT_TRUE(DescriptorToJson(d, &json, &message));
  EXPECT_EQ(json,
            "{\n  \"version\": 1,\n  \"items\": [\n    {\n      \"key\": \"FilM\",\n"
            "      \"type\": \"enum\",\n      \"enumType\": \"rB22\",\n      \"value\": 3\n"
            "    }\n  ]\n}\n");
}

TEST_F(DescriptorTest, TextThatIsNotUtf8CannotBeWritten) {
  Descriptor d;
  d.items = {DescriptorItem::Text(FourCC("Path"), "\xff\xfe")};
  std::string json, message;
  EXPECT_FALSE(DescriptorToJson(d, &json, &message));
  EXPECT_NE(message.find("UTF-8"), std::string::npos) << message;
}

struct BadJson {
  const char* name;
  const char* json;
  const char* says;  // a piece of the message
};

class BadJsonTest : public DescriptorTest, public ::testing::WithParamInterface<BadJson> {};

TEST_P(BadJsonTest, IsRefusedWithAOneLineMessage) {
  Descriptor out;
  out.items = {DescriptorItem::Integer(1, 1)};
  std::string message;
  EXPECT_FALSE(DescriptorFromJson(GetParam().json, &out, &message));
  EXPECT_TRUE(out.items.empty());
  EXPECT_NE(message.find(GetParam().says), std::string::npos) << message;
  EXPECT_EQ(message.find('\n'), std::string::npos) << message;
}

#define ITEM(body) "{\"version\": 1, \"items\": [" body "]}"

INSTANTIATE_TEST_SUITE_P(
    Faults, BadJsonTest,
    ::testing::Values(
        BadJson{"Syntax", "{\"version\": 1, \"items\": [}", "parse error"},
        BadJson{"NotObject", "[]", "expected an object"},
        BadJson{"NoVersion", "{\"items\": []}", "missing \"version\""},
        BadJson{"NewerVersion", "{\"version\": 2, \"items\": []}",
                "unsupported descriptor version 2"},
        BadJson{"ZeroVersion", "{\"version\": 0, \"items\": []}", "unsupported"},
        BadJson{"ExtraMember", "{\"version\": 1, \"items\": [], \"note\": 1}",
                "unknown member \"note\""},
        BadJson{"ItemsNotArray", "{\"version\": 1, \"items\": {}}", "must be an array"},
        BadJson{"UnknownType", ITEM("{\"key\": \"abcd\", \"type\": \"list\", \"value\": 1}"),
                "unknown type \"list\""},
        BadJson{
            "Misspelt",
            ITEM("{\"key\": \"abcd\", \"type\": \"enum\", \"enumtype\": \"rB22\", \"value\": 1}"),
            "unknown member \"enumtype\""},
        BadJson{"ShortKey", ITEM("{\"key\": \"abc\", \"type\": \"integer\", \"value\": 1}"),
                "four-character code"},
        BadJson{"BadHex", ITEM("{\"key\": \"0x1234567g\", \"type\": \"integer\", \"value\": 1}"),
                "bad hexadecimal"},
        BadJson{"IntegerTooBig",
                ITEM("{\"key\": \"abcd\", \"type\": \"integer\", \"value\": 2147483648}"),
                "out of range"},
        BadJson{"IntegerFraction",
                ITEM("{\"key\": \"abcd\", \"type\": \"integer\", \"value\": 1.5}"), "whole number"},
        BadJson{
            "EnumNegative",
            ITEM("{\"key\": \"abcd\", \"type\": \"enum\", \"enumType\": \"rB22\", \"value\": -1}"),
            "out of range"},
        BadJson{"EnumHuge",
                ITEM("{\"key\": \"abcd\", \"type\": \"enum\", \"enumType\": \"rB22\", \"value\": "
                     "18446744073709551615}"),
                "out of range"},
        BadJson{"FloatWord", ITEM("{\"key\": \"abcd\", \"type\": \"float\", \"value\": \"big\"}"),
                "expected a number"},
        BadJson{"BooleanNumber", ITEM("{\"key\": \"abcd\", \"type\": \"boolean\", \"value\": 1}"),
                "true or false"},
        BadJson{"Duplicate",
                ITEM("{\"key\": \"abcd\", \"type\": \"integer\", \"value\": 1},"
                     "{\"key\": \"abcd\", \"type\": \"integer\", \"value\": 2}"),
                "item 1: duplicate key abcd"}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

#undef ITEM

// ---- A recording replayed ----

// Records a block through one host, keeps the recording as JSON, and replays it through another
// host into a block holding only defaults: every setting comes back.
TEST_F(DescriptorTest, RecordingReplayedThroughJsonGivesTheSameSettings) {
  auto fill = [](SPSettings* block, bool recorded) {
    InitializeSPSettings(block, FourCC("FilR"), 0, 0);
    AddSPInputSettingRadio(block, FourCC("FilM"), FourCC("rB22"), 3, 9, recorded ? 8 : 5);
    AddSPInputSettingBoolean(block, FourCC("Invr"), recorded ? 1 : 0);
    AddSPInputSettingFloat(block, FourCC("Rads"), 0.0f, 10.0f, recorded ? 2.7f : 1.0f);
    AddSPInputSettingLong(block, FourCC("Amnt"), -100, 100, recorded ? -42 : 0);
    AddSPInputSettingLong(block, FourCC("unCd"), 0, 5, recorded ? 4 : 0);
    AddSPInputSettingCString(block, FourCC("Path"), recorded ? "/tmp/résumé.tsv" : "");
  };
  FilterRecord filterRecord{};
  Globals globals{};
  globals.host = &filterRecord;

  SPSettings* original = _AllocateSPBlock(22);
  fill(original, true);
  std::string json, message;
  {
    ScriptingHost recorder;
    ScriptingHost::Activation active(recorder);
    filterRecord.descriptorParameters = recorder.descriptorParameters();
    filterRecord.handleProcs = recorder.handleProcs();
    ASSERT_EQ(_WriteScriptParamToPS(&globals, original), noErr);
    Descriptor recorded;
    ASSERT_TRUE(recorder.TakeRecorded(&recorded));
    ASSERT_TRUE(DescriptorToJson(recorded, &json, &message)) << message;
  }

  SPSettings* replayed = _AllocateSPBlock(22);
  fill(replayed, false);
  {
    ScriptingHost player;
    ScriptingHost::Activation active(player);
    filterRecord.descriptorParameters = player.descriptorParameters();
    filterRecord.handleProcs = player.handleProcs();
    Descriptor stored;
    ASSERT_TRUE(DescriptorFromJson(json, &stored, &message)) << message;
    ASSERT_TRUE(player.SetPlay(stored, plugInDialogDontDisplay));
    EXPECT_EQ(_ReadScriptParamFromPS(&globals, replayed), 1);
  }

  EXPECT_EQ(GetSPInputSettingRadio(replayed, 0), 8);
  EXPECT_EQ(GetSPInputSettingBoolean(replayed, 1), 1);
  EXPECT_EQ(GetSPInputSettingFloat(replayed, 2), 2.7f);
  EXPECT_EQ(GetSPInputSettingLong(replayed, 3), -42);
  EXPECT_EQ(GetSPInputSettingLong(replayed, 4), 4);
  EXPECT_STREQ(GetSPInputSettingCString(replayed, 5), "/tmp/résumé.tsv");
  _DisposeSPBlock(original);
  _DisposeSPBlock(replayed);
}

}  // namespace
