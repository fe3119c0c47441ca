// Heap C strings: bounded copies and the marking of released blocks.
#include "filter/util/strings.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/memory.h"
#include "support/platform_fixture.h"

namespace {

using StringsTest = PlatformFixture;

struct CopyCase {
  const char* source;
  int32_t limit;
  const char* expected;  // null: the destination is not written
};

class DuplicateCStringTest : public StringsTest, public ::testing::WithParamInterface<CopyCase> {};

TEST_P(DuplicateCStringTest, CopiesAtMostLimitBytesEndingInNul) {
  char destination[16];
  std::memset(destination, '#', sizeof destination);
  DuplicateCString(GetParam().source, destination, GetParam().limit);
  if (!GetParam().expected) {
    EXPECT_EQ(destination[0], '#');
    return;
  }
  EXPECT_STREQ(destination, GetParam().expected);
  size_t written = std::strlen(GetParam().expected) + 1;
  EXPECT_EQ(destination[written], '#') << "nothing is written past the NUL";
}

INSTANTIATE_TEST_SUITE_P(
    Limits, DuplicateCStringTest,
    ::testing::Values(CopyCase{"abcdef", 4, "abc"}, CopyCase{"abcdef", 6, "abcde"},
                      CopyCase{"abcdef", 7, "abcdef"}, CopyCase{"abcdef", 12, "abcdef"},
                      CopyCase{"abcdef", 1, ""}, CopyCase{"abcdef", 0, nullptr},
                      CopyCase{"abcdef", -3, nullptr}, CopyCase{nullptr, 5, ""},
                      CopyCase{nullptr, 0, nullptr}));

TEST_F(StringsTest, NullDestinationIsLeftAlone) { DuplicateCString("abc", nullptr, 4); }

TEST_F(StringsTest, AllocatedStringsAreEmptyAndZeroFilled) {
  char* s = AllocateCString(514);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(GetPtrSize(s), 514);
  for (int i = 0; i < 514; ++i) ASSERT_EQ(s[i], 0) << i;
  DisposeCString(s);
  DisposeCString(nullptr);

  PlatformRefuseAllocations(0, 1);
  EXPECT_EQ(AllocateCString(514), nullptr);
}

}  // namespace
