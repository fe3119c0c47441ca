// The GIMP procedure's run modes: which choice reaches the filter, and whether its dialog shows.
#include "gimp/run_plan.h"

#include <gtest/gtest.h>

#include <cstring>

#include "filter/host/filter_record.h"

namespace {

using namespace areafill_gimp;

constexpr int32_t kInteractive = int32_t(RunMode::kInteractive);
constexpr int32_t kNonInteractive = int32_t(RunMode::kNonInteractive);
constexpr int32_t kWithLast = int32_t(RunMode::kWithLastValues);

struct PlanCase {
  const char* name;
  int32_t runMode;
  int32_t method;
  std::optional<int32_t> last;
  bool showDialog;
  int32_t replay;
};

class PlanRunTest : public ::testing::TestWithParam<PlanCase> {};

TEST_P(PlanRunTest, ChoosesTheReplayAndTheDialog) {
  const PlanCase& c = GetParam();
  const RunPlan plan = PlanRun(c.runMode, c.method, c.last);
  ASSERT_TRUE(plan.ok) << plan.error;
  EXPECT_EQ(plan.showDialog, c.showDialog);
  EXPECT_EQ(plan.replayChoice, c.replay);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, PlanRunTest,
    ::testing::Values(
        // The dialog opens on the method asked for, else on the last choice of the session.
        PlanCase{"InteractiveOpensOnTheLastChoice", kInteractive, 0, 6, true, 6},
        PlanCase{"InteractiveOpensOnTheMethodGiven", kInteractive, 8, 6, true, 8},
        PlanCase{"InteractiveFirstRunReplaysNothing", kInteractive, 0, std::nullopt, true, 0},
        PlanCase{"ScriptReplaysItsMethod", kNonInteractive, 3, 6, false, 3},
        // A script's 0 is the filter's own remembered choice, not this session's.
        PlanCase{"ScriptWithZeroReplaysNothing", kNonInteractive, 0, 6, false, 0},
        PlanCase{"RepeatReplaysTheLastChoice", kWithLast, 0, 7, false, 7},
        PlanCase{"RepeatIgnoresTheMethodArgument", kWithLast, 42, 7, false, 7},
        PlanCase{"RepeatWithoutLastReplaysNothing", kWithLast, 0, std::nullopt, false, 0}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(PlanRun, RefusesMethodsOutsideTheTableAndUnknownModes) {
  for (int32_t method : {1, 2, 10, -3}) {
    for (int32_t mode : {kInteractive, kNonInteractive}) {
      const RunPlan plan = PlanRun(mode, method, 5);
      EXPECT_FALSE(plan.ok) << "method " << method << ", mode " << mode;
      EXPECT_NE(plan.error.find("method " + std::to_string(method)), std::string::npos);
    }
  }
  const RunPlan plan = PlanRun(3, 0, std::nullopt);
  EXPECT_FALSE(plan.ok);
  EXPECT_EQ(plan.error, "unknown run mode 3");
}

TEST(LastValues, RoundTripAndRejectWhatIsNotOurs) {
  const LastValues values = EncodeLastValues(9);
  EXPECT_EQ(DecodeLastValues(&values, sizeof values), 9);
  EXPECT_EQ(DecodeLastValues(nullptr, 0), std::nullopt);
  EXPECT_EQ(DecodeLastValues(&values, sizeof values - 1), std::nullopt) << "another size";
  LastValues newer = values;
  newer.version = kLastValuesVersion + 1;
  EXPECT_EQ(DecodeLastValues(&newer, sizeof newer), std::nullopt) << "another version";
  const LastValues noChoice = EncodeLastValues(2);
  EXPECT_EQ(DecodeLastValues(&noChoice, sizeof noChoice), std::nullopt);
}

}  // namespace
