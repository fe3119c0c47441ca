#include "filter/entry/entry.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/memory.h"
#include "support/platform_fixture.h"

namespace {

class EntryTest : public PlatformFixture {
 protected:
  void TearDown() override {
    if (data) DisposeHandle(reinterpret_cast<Handle>(data));
    PlatformFixture::TearDown();
  }
  int16_t Call(int16_t selector) {
    int16_t result = 12345;
    AreaFillMain(selector, &record, &data, &result);
    return result;
  }
  Globals& StoredGlobals() { return *reinterpret_cast<Globals*>(*reinterpret_cast<Handle>(data)); }

  FilterRecord record{};
  intptr_t data = 0;
};

TEST_F(EntryTest, FirstCallMakesTheGlobalsAndAboutDoesNothing) {
  EXPECT_EQ(Call(filterSelectorAbout), 0);
  ASSERT_NE(data, 0);
  EXPECT_EQ(GetHandleSize(reinterpret_cast<Handle>(data)), Size(sizeof(Globals)));
  EXPECT_EQ(StoredGlobals().phase, kPhaseIdle);
  EXPECT_EQ(StoredGlobals().image, nullptr);
  EXPECT_EQ(StoredGlobals().host, &record);
}

TEST_F(EntryTest, NoMemoryForTheGlobalsLeavesTheDataWordForTheNextCall) {
  PlatformRefuseAllocations(0, 1);
  EXPECT_EQ(Call(filterSelectorPrepare), memFullErr);
  EXPECT_EQ(data, 0);
  record.bufferSpace = 77;
  EXPECT_EQ(Call(filterSelectorPrepare), 0);
  EXPECT_EQ(record.bufferSpace, 0);
}

TEST_F(EntryTest, ParametersHandleIsMadeOnceAndItsSecondWordSet) {
  EXPECT_EQ(Call(filterSelectorParameters), 0);
  ASSERT_NE(record.parameters, nullptr);
  auto* words = reinterpret_cast<int16_t*>(*record.parameters);
  EXPECT_EQ(GetHandleSize(record.parameters), 4);
  EXPECT_EQ(words[0], 50);
  EXPECT_EQ(words[1], 1);

  words[0] = 7;
  words[1] = 9;
  Handle same = record.parameters;
  EXPECT_EQ(Call(filterSelectorParameters), 0);
  EXPECT_EQ(record.parameters, same);
  EXPECT_EQ(words[0], 7);  // an existing first word is left alone
  EXPECT_EQ(words[1], 1);
  DisposeHandle(record.parameters);
}

TEST_F(EntryTest, NoMemoryForTheParametersHandle) {
  Call(filterSelectorAbout);
  PlatformRefuseAllocations(0, 1);
  EXPECT_EQ(Call(filterSelectorParameters), memFullErr);
  EXPECT_EQ(record.parameters, nullptr);
  EXPECT_EQ(StoredGlobals().result, memFullErr);
}

TEST_F(EntryTest, UnknownSelectorsChangeOnlyHostAndResult) {
  Call(filterSelectorAbout);
  Globals before = StoredGlobals();
  FilterRecord other{};
  for (int16_t selector : {int16_t(6), int16_t(-1), int16_t(200)}) {
    int16_t result = 0;
    AreaFillMain(selector, &other, &data, &result);
    EXPECT_EQ(result, filterBadParameters);
    Globals after = StoredGlobals();
    EXPECT_EQ(after.result, filterBadParameters);
    EXPECT_EQ(after.host, &other);
    after.result = before.result;
    after.host = before.host;
    EXPECT_EQ(std::memcmp(&after, &before, sizeof(Globals)), 0);
  }
}

TEST_F(EntryTest, GetParametersMakesAZeroWord) {
  Handle h = nullptr;
  EXPECT_EQ(GetParameters(nullptr, nullptr, &h, nullptr, 0), 0);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(GetHandleSize(h), 2);
  EXPECT_EQ(*reinterpret_cast<int16_t*>(*h), 0);
  DisposeHandle(h);
}

}  // namespace
