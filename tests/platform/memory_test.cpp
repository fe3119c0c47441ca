// The platform's memory: cleared and resized blocks, and the controls that make allocations
// fail on purpose (the chosen allocations, and a cap on temporary memory).
#include "platform/memory.h"

#include <gtest/gtest.h>

#include "support/platform_fixture.h"

using MemoryTest = PlatformFixture;

TEST_F(MemoryTest, BlocksAreClearedAndResizedWithTheirContents) {
  Ptr p = NewPtrClear(100);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(GetPtrSize(p), 100);
  EXPECT_EQ(std::string(p, 100), std::string(100, '\0'));
  EXPECT_EQ(PlatformLiveBlocks(), baselineBlocks_ + 1);
  DisposePtr(p);
  Handle h = NewHandle(4);
  BlockMoveData("abcd", *h, 4);
  SetHandleSize(h, 1000);
  EXPECT_EQ(MemError(), noErr);
  EXPECT_EQ(GetHandleSize(h), 1000);
  EXPECT_EQ(std::string(*h, 4), "abcd");
  DisposeHandle(h);
}

TEST_F(MemoryTest, RefusesTheChosenAllocationsThenRecovers) {
  PlatformRefuseAllocations(2, 1);  // after two, one is refused
  Ptr a = NewPtr(8);
  Handle b = NewHandle(8);
  EXPECT_TRUE(a && b);
  EXPECT_EQ(NewPtr(8), nullptr);
  Ptr d = NewPtr(8);
  EXPECT_NE(d, nullptr);
  DisposePtr(a);
  DisposeHandle(b);
  DisposePtr(d);
}

TEST_F(MemoryTest, TemporaryMemoryCapCountsLiveTemporaryBlocksOnly) {
  PlatformSetTempMemoryLimit(1000);
  OSErr err = noErr;
  Handle a = TempNewHandle(600, &err);
  EXPECT_TRUE(a && err == noErr);
  EXPECT_EQ(TempNewHandle(600, &err), nullptr);
  EXPECT_EQ(err, memFullErr);
  Handle plain = NewHandle(5000);  // ordinary handles are not capped
  EXPECT_NE(plain, nullptr);
  DisposeHandle(a);
  Handle b = TempNewHandle(600, &err);
  EXPECT_NE(b, nullptr);
  DisposeHandle(b);
  DisposeHandle(plain);
}
