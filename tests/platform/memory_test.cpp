// The platform's memory: cleared and resized blocks, and the controls that make allocations
// fail on purpose (the chosen allocations, and a cap on temporary memory).
#include "platform/memory.h"

#include <gtest/gtest.h>

#include "support/platform_fixture.h"

using MemoryTest = PlatformFixture;

TEST_F(MemoryTest, BlocksAreClearedAndResizedWithTheirContentsUnlessARefusalIsChosen) {
  PlatformRefuseAllocations(2, 1);  // after two, one is refused
  Ptr p = NewPtrClear(100);
  Handle h = NewHandle(4);
  EXPECT_EQ(NewPtr(8), nullptr);
  EXPECT_EQ(PlatformLiveBlocks(), baselineBlocks_ + 2);
  EXPECT_EQ(std::string(p, size_t(GetPtrSize(p))), std::string(100, '\0'));
  BlockMoveData("abcd", *h, 4);
  SetHandleSize(h, 1000);  // the allocations after the refused one succeed
  EXPECT_EQ(MemError(), noErr);
  EXPECT_EQ(GetHandleSize(h), 1000);
  EXPECT_EQ(std::string(*h, 4), "abcd");
  DisposePtr(p);
  DisposeHandle(h);
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
