#include "platform/memory.h"

#include <gtest/gtest.h>

#include "support/platform_fixture.h"

using MemoryTest = PlatformFixture;

TEST_F(MemoryTest, ClearedBlocksAreZeroAndRemembersTheirSize) {
  Ptr p = NewPtrClear(100);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(GetPtrSize(p), 100);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(p[i], 0);
  EXPECT_EQ(PlatformLiveBlocks(), baselineBlocks_ + 1);
  DisposePtr(p);
  DisposePtr(nullptr);
}

TEST_F(MemoryTest, RefusesTheChosenAllocationsThenRecovers) {
  PlatformRefuseAllocations(2, 1);
  Ptr a = NewPtr(8);
  Handle b = NewHandle(8);
  Ptr c = NewPtr(8);  // the third allocation is refused
  Ptr d = NewPtr(8);
  EXPECT_NE(a, nullptr);
  EXPECT_NE(b, nullptr);
  EXPECT_EQ(c, nullptr);
  EXPECT_NE(d, nullptr);
  DisposePtr(a);
  DisposeHandle(b);
  DisposePtr(d);
}

TEST_F(MemoryTest, TemporaryMemoryCapCountsLiveTemporaryBlocksOnly) {
  PlatformSetTempMemoryLimit(1000);
  OSErr err = noErr;
  Handle a = TempNewHandle(600, &err);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(err, noErr);
  Handle b = TempNewHandle(600, &err);
  EXPECT_EQ(b, nullptr);
  EXPECT_EQ(err, memFullErr);
  Handle plain = NewHandle(5000);  // ordinary handles are not capped
  EXPECT_NE(plain, nullptr);
  DisposeHandle(a);
  b = TempNewHandle(600, &err);
  EXPECT_NE(b, nullptr);
  DisposeHandle(b);
  DisposeHandle(plain);
}

TEST_F(MemoryTest, HandleResizeKeepsContents) {
  Handle h = NewHandle(4);
  ASSERT_NE(h, nullptr);
  BlockMoveData("abcd", *h, 4);
  SetHandleSize(h, 1000);
  ASSERT_EQ(MemError(), noErr);
  EXPECT_EQ(GetHandleSize(h), 1000);
  EXPECT_EQ(std::string(*h, 4), "abcd");
  DisposeHandle(h);
}
