// The cancel test through the host's abort callback: its low byte is the answer, and a host
// without an abort test never cancels. (The progress bar's scale is checked where the fill and
// the run driver report it.)
#include "filter/run/progress_and_cancel.h"

#include <gtest/gtest.h>

namespace {

Boolean AbortWithLowBit() { return Boolean(0x01); }

TEST(ProgressAndCancel, CancelComesFromTheHostsAbortTest) {
  FilterRecord host{};
  RunRecord run{};
  EXPECT_EQ(CommandPeriod(&run), 0);
  run.host = &host;
  EXPECT_EQ(CommandPeriod(&run), 0);
  host.abortProc = AbortWithLowBit;
  EXPECT_EQ(CommandPeriod(&run), 1);
}

}  // namespace
