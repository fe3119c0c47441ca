// Progress and cancel through the host's callbacks.
#include "filter/run/progress_and_cancel.h"

#include <gtest/gtest.h>

namespace {

int32_t gDone, gTotal;
void RecordProgress(int32_t done, int32_t total) {
  gDone = done;
  gTotal = total;
}

TEST(DoProgressTest, MovesTheHostsBarFromOneSixthToFiveSixths) {
  FilterRecord host{};
  host.progressProc = RecordProgress;
  RunRecord run{};
  run.host = &host;
  DoProgress(&run, 0, 100);
  EXPECT_EQ(gDone, 100);
  EXPECT_EQ(gTotal, 600);
  DoProgress(&run, 100, 100);
  EXPECT_EQ(gDone, 500);
  EXPECT_EQ(gTotal, 600);
}

Boolean AbortWithHighBits() { return Boolean(0x01); }

TEST(CommandPeriodTest, ReportsTheHostsAbortTest) {
  FilterRecord host{};
  RunRecord run{};
  run.host = &host;
  EXPECT_EQ(CommandPeriod(&run), 0);  // a host without an abort test never cancels
  host.abortProc = AbortWithHighBits;
  EXPECT_EQ(CommandPeriod(&run), 1);
}

}  // namespace
