// Inputs the fuzz targets found, kept as tests: each failed once and must keep working.
#include <gtest/gtest.h>

#include "hostkit/descriptor_json.h"

namespace {

bool PrintableOneLine(const std::string& text) {
  for (unsigned char c : text)
    if (c < 0x20 || c == 0x7F) return false;
  return true;
}

// An action file's member names, types and codes reached the message as they were, so a file
// could put line breaks and terminal controls into the program's one-line error.
TEST(FuzzRegressions, ActionFileTextInMessagesIsEscaped) {
  const char* inputs[] = {
      R"({"vsn\\\\num\\\\\nos":[{"key":"FilM","typo":"enum","":"rB11","va;ue":10}]})",
      "{\"version\":1,\"items\":[{\"key\":\"FilM\",\"type\":\"en\\u001b[2Jum\",\"value\":1}]}",
      "{\"version\":1,\"items\":[{\"key\":\"0x1234567\\n\",\"type\":\"integer\",\"value\":1}]}",
      "{\"version\":1,\"items\":[],\"\xff\xfe\":1}",
  };
  for (const char* json : inputs) {
    hostkit::Descriptor descriptor;
    std::string message;
    EXPECT_FALSE(hostkit::DescriptorFromJson(json, &descriptor, &message));
    EXPECT_TRUE(PrintableOneLine(message)) << message;
    EXPECT_NE(message.find("descriptor JSON: "), std::string::npos) << message;
  }
  hostkit::Descriptor descriptor;
  std::string message;
  hostkit::DescriptorFromJson(inputs[0], &descriptor, &message);
  EXPECT_NE(message.find(R"(unknown member "vsn\\\\num\\\\\nos")"), std::string::npos) << message;
}

}  // namespace
