// The entry point's own work: the parameters handle it makes for the host, and selectors it
// does not know, which change nothing but the host and the result kept in the globals.
#include "filter/entry/entry.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/memory.h"
#include "support/platform_fixture.h"

namespace {

using EntryTest = PlatformFixture;

TEST_F(EntryTest, ParametersHandleAndUnknownSelectors) {
  FilterRecord record{}, other{};
  intptr_t data = 0;
  int16_t result = 0;
  AreaFillMain(filterSelectorParameters, &record, &data, &result);
  ASSERT_EQ(result, 0);
  auto* words = reinterpret_cast<int16_t*>(*record.parameters);
  EXPECT_EQ(GetHandleSize(record.parameters), 4);
  words[0] = 7;  // an existing handle is kept, its first word too; the second is set to 1
  words[1] = 9;
  Handle same = record.parameters;
  AreaFillMain(filterSelectorParameters, &record, &data, &result);
  EXPECT_EQ(record.parameters, same);
  EXPECT_EQ(std::vector<int16_t>(words, words + 2), std::vector<int16_t>({7, 1}));
  const Globals before = *reinterpret_cast<Globals*>(*reinterpret_cast<Handle>(data));
  for (int16_t selector : {int16_t(6), int16_t(-1), int16_t(200)}) {
    AreaFillMain(selector, &other, &data, &result);
    EXPECT_EQ(result, filterBadParameters);
    Globals after = *reinterpret_cast<Globals*>(*reinterpret_cast<Handle>(data));
    EXPECT_EQ(after.result, filterBadParameters);
    EXPECT_EQ(after.host, &other);
    after.result = before.result;
    after.host = before.host;
    EXPECT_EQ(std::memcmp(&after, &before, sizeof(Globals)), 0);
  }
  DisposeHandle(record.parameters);
  DisposeHandle(reinterpret_cast<Handle>(data));
}

}  // namespace
