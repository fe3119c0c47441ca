// The host's scripting services: descriptor handles, the read and write suites and the JSON
// form. (The recorded fill method is read back in the program's tests.)
#include "hostkit/descriptor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

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

TEST_F(DescriptorTest, HandleHoldsExactlyTheDescriptor) {
  PIDescriptorHandle handle = NewDescriptorHandle(EveryKind());
  Descriptor back;
  EXPECT_TRUE(ReadDescriptorHandle(handle, &back));
  EXPECT_EQ(back, EveryKind());
  // One byte short, one byte too many, or a bare header: not a descriptor.
  const Size size = GetHandleSize(handle);
  for (Size changed : {size - 1, size + 1, Size(4)}) {
    SetHandleSize(handle, changed);
    EXPECT_FALSE(ReadDescriptorHandle(handle, &back)) << changed;
    EXPECT_TRUE(back.items.empty());
  }
  DisposeHandle(handle);
  EXPECT_TRUE(ReadDescriptorHandle(nullptr, &back));
  PlatformRefuseAllocations(0, 1);
  EXPECT_EQ(NewDescriptorHandle(EveryKind()), nullptr);
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
  int32_t value = 0, flags = 0;
  EXPECT_EQ(r->getIntegerProc(token, &value), hostkit::kDescErrNoItem) << "before the first key";
  DescriptorKeyID key = 0;
  DescType type = 0;
  ASSERT_TRUE(r->getKeyProc(token, &key, &type, &flags));
  EXPECT_EQ(key, FourCC("intg"));
  EXPECT_EQ(type, hostkit::kDescTypeInteger);
  DescriptorEnumID e = 0;
  EXPECT_EQ(r->getEnumeratedProc(token, &e), hostkit::kDescErrWrongType);
  EXPECT_EQ(r->getIntegerProc(token, &value), noErr);
  EXPECT_EQ(value, -7);
  ASSERT_TRUE(r->getKeyProc(token, &key, &type, &flags));
  EXPECT_EQ(type, hostkit::kDescTypeText);
  Handle text = nullptr;
  ASSERT_EQ(r->getTextProc(token, &text), noErr);
  EXPECT_EQ(std::string(*text, size_t(GetHandleSize(text))), "abc") << "without a NUL";
  DisposeHandle(text);
  EXPECT_FALSE(r->getKeyProc(token, &key, &type, &flags));
  EXPECT_EQ(r->closeReadDescriptorProc(token), noErr);
  EXPECT_NE(r->closeReadDescriptorProc(token), noErr) << "a closed token is unknown";
  EXPECT_EQ(host.openTokens(), 0u);
  SetHandleSize(handle, 12);
  EXPECT_EQ(r->openReadDescriptorProc(handle, keys), nullptr) << "not a descriptor";
  DisposeHandle(handle);
}

TEST_F(DescriptorTest, WriterKeepsTheLastOfARepeatedKeyAndTextUpToItsNul) {
  ScriptingHost host;
  EXPECT_EQ(host.writeProcs()->openWriteDescriptorProc(), nullptr) << "no host is active";
  {
    ScriptingHost::Activation active(host);
    WriteDescriptorProcs* w = host.writeProcs();
    PIWriteDescriptor token = w->openWriteDescriptorProc();
    EXPECT_EQ(w->putIntegerProc(token, FourCC("aaaa"), 1), noErr);
    EXPECT_EQ(w->putBooleanProc(token, FourCC("bbbb"), 1), noErr);
    EXPECT_EQ(w->putIntegerProc(token, FourCC("aaaa"), 2), noErr);
    Handle text = NewHandleClear(8);
    std::memcpy(*text, "hi\0junk", 8);
    EXPECT_EQ(w->putTextProc(token, FourCC("cccc"), text), noErr);
    DisposeHandle(text);
    PIDescriptorHandle made = nullptr;
    ASSERT_EQ(w->closeWriteDescriptorProc(token, &made), noErr);
    Descriptor back, expected;
    ASSERT_TRUE(ReadDescriptorHandle(made, &back));
    DisposeHandle(made);
    expected.items = {DescriptorItem::Integer(FourCC("aaaa"), 2),
                      DescriptorItem::Boolean(FourCC("bbbb"), true),
                      DescriptorItem::Text(FourCC("cccc"), "hi")};
    EXPECT_EQ(back, expected);
    EXPECT_EQ(w->putIntegerProc(token, FourCC("aaaa"), 1), hostkit::kDescErrNoHost);
  }
  EXPECT_EQ(host.counts().writersOpened, 1);
}

TEST_F(DescriptorTest, JsonFormKeepsEveryItemAndRefusesTextThatIsNotUtf8) {
  std::string json, message;
  ASSERT_TRUE(DescriptorToJson(EveryKind(), &json, &message)) << message;
  Descriptor back;
  ASSERT_TRUE(DescriptorFromJson(json, &back, &message)) << message;
  EXPECT_EQ(back, EveryKind());
  EXPECT_NE(json.find("\"key\": \"0x01020304\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"value\": \"-inf\""), std::string::npos) << json;
  Descriptor one;
  one.items = {DescriptorItem::Text(FourCC("Path"), "\xff\xfe")};
  EXPECT_FALSE(DescriptorToJson(one, &json, &message));
  EXPECT_NE(message.find("UTF-8"), std::string::npos) << message;
}

TEST_F(DescriptorTest, BadJsonIsRefusedWithAOneLineMessage) {
  const std::pair<std::string, const char*> cases[] = {
      // the JSON, a piece of the message
      {R"({"version": 1, "items": [})", "parse error"},
      {R"({"items": []})", R"(missing "version")"},
      {R"({"version": 2, "items": []})", "unsupported descriptor version 2"},
      {R"({"version": 1, "items": [], "note": 1})", R"(unknown member "note")"},
      {R"({"version": 1, "items": {}})", "must be an array"},
      {R"({"key": "abcd", "type": "list", "value": 1})", R"(unknown type "list")"},
      {R"({"key": "abcd", "type": "enum", "enumtype": "rB22", "value": 1})", "unknown member"},
      {R"({"key": "abc", "type": "integer", "value": 1})", "four-character code"},
      {R"({"key": "0x1234567g", "type": "integer", "value": 1})", "bad hexadecimal"},
      {R"({"key": "abcd", "type": "integer", "value": 2147483648})", "out of range"},
      {R"({"key": "abcd", "type": "enum", "enumType": "rB22", "value": 18446744073709551615})",
       "out of range"},
      {R"({"key": "abcd", "type": "float", "value": "big"})", "expected a number"},
      {R"({"key": "abcd", "type": "boolean", "value": 1})", "true or false"},
      {R"({"key": "abcd", "type": "integer", "value": 1},)"
       R"({"key": "abcd", "type": "integer", "value": 2})",
       "item 1: duplicate key abcd"}};
  for (auto [json, says] : cases) {
    if (json.rfind(R"({"key")", 0) == 0) json = R"({"version": 1, "items": [)" + json + "]}";
    Descriptor out;
    out.items = {DescriptorItem::Integer(1, 1)};
    std::string message;
    EXPECT_FALSE(DescriptorFromJson(json, &out, &message)) << json;
    EXPECT_TRUE(out.items.empty()) << json;
    EXPECT_NE(message.find(says), std::string::npos) << json << ": " << message;
    EXPECT_EQ(message.find('\n'), std::string::npos) << message;
  }
}

}  // namespace
