// Progress and cancel through the host's callbacks: the fill's part of the bar runs from one
// sixth to five sixths; a host without an abort test never cancels.
#include "filter/run/progress_and_cancel.h"

#include <gtest/gtest.h>

namespace {

int32_t gDone, gTotal;
void RecordProgress(int32_t done, int32_t total) { gDone = done, gTotal = total; }
Boolean AbortWithLowBit() { return Boolean(0x01); }

TEST(ProgressAndCancel, ReachTheHost) {
  FilterRecord host{};
  host.progressProc = RecordProgress;
  RunRecord run{};
  run.host = &host;
  DoProgress(&run, 0, 100);
  EXPECT_EQ(std::pair(gDone, gTotal), std::pair(100, 600));
  DoProgress(&run, 100, 100);
  EXPECT_EQ(std::pair(gDone, gTotal), std::pair(500, 600));
  EXPECT_EQ(CommandPeriod(&run), 0);
  host.abortProc = AbortWithLowBit;
  EXPECT_EQ(CommandPeriod(&run), 1);
}

}  // namespace
