// The entry point's own work: the globals kept in the host's data word, the parameters handle,
// and selectors it does not know.
#include "filter/entry/entry.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/memory.h"
#include "support/platform_fixture.h"

namespace {

class EntryTest : public PlatformFixture {
 protected:
  void TearDown() override {
    if (data_) DisposeHandle(reinterpret_cast<Handle>(data_));
    PlatformFixture::TearDown();
  }
  int16_t Call(int16_t selector, FilterRecord* record) {
    int16_t result = 12345;
    AreaFillMain(selector, record, &data_, &result);
    return result;
  }
  Globals& Stored() { return *reinterpret_cast<Globals*>(*reinterpret_cast<Handle>(data_)); }

  intptr_t data_ = 0;
};

// Without memory for the globals the data word stays empty for the next call to try again.
TEST_F(EntryTest, GlobalsAreMadeOnceTheyCanBe) {
  FilterRecord record{};
  PlatformRefuseAllocations(0, 1);
  EXPECT_EQ(Call(filterSelectorPrepare, &record), memFullErr);
  EXPECT_EQ(data_, 0);
  record.bufferSpace = 77;
  EXPECT_EQ(Call(filterSelectorPrepare, &record), 0);
  EXPECT_EQ(record.bufferSpace, 0);
  EXPECT_EQ(Stored().host, &record);
}

// Made once with its second word 1; an existing first word is left alone; no memory: -108.
TEST_F(EntryTest, ParametersHandleIsMadeOnceAndItsSecondWordSet) {
  FilterRecord record{};
  PlatformRefuseAllocations(1, 1);  // the globals, then the handle
  EXPECT_EQ(Call(filterSelectorParameters, &record), memFullErr);
  EXPECT_EQ(record.parameters, nullptr);
  EXPECT_EQ(Stored().result, memFullErr);
  ASSERT_EQ(Call(filterSelectorParameters, &record), 0);
  auto* words = reinterpret_cast<int16_t*>(*record.parameters);
  EXPECT_EQ(GetHandleSize(record.parameters), 4);
  EXPECT_EQ(words[1], 1);
  words[0] = 7;
  words[1] = 9;
  Handle same = record.parameters;
  EXPECT_EQ(Call(filterSelectorParameters, &record), 0);
  EXPECT_EQ(record.parameters, same);
  EXPECT_EQ(words[0], 7);
  EXPECT_EQ(words[1], 1);
  DisposeHandle(record.parameters);
}

TEST_F(EntryTest, UnknownSelectorsChangeOnlyHostAndResult) {
  FilterRecord record{}, other{};
  Call(filterSelectorAbout, &record);
  const Globals before = Stored();
  for (int16_t selector : {int16_t(6), int16_t(-1), int16_t(200)}) {
    EXPECT_EQ(Call(selector, &other), filterBadParameters);
    Globals after = Stored();
    EXPECT_EQ(after.result, filterBadParameters);
    EXPECT_EQ(after.host, &other);
    after.result = before.result;
    after.host = before.host;
    EXPECT_EQ(std::memcmp(&after, &before, sizeof(Globals)), 0);
  }
}

}  // namespace
