// The GIMP procedure's run modes: which choice reaches the filter, whether its dialog shows,
// which calls are refused, and the last run's choice kept in GIMP's session data.
#include "gimp/run_plan.h"

#include <gtest/gtest.h>

namespace {

using namespace areafill_gimp;

constexpr int32_t kInteractive = 0, kScript = 1, kRepeat = 2;  // GIMP's run modes
constexpr std::optional<int32_t> kNone;

TEST(PlanRun, ChoosesTheReplayAndTheDialog) {
  struct Case {
    int32_t runMode, method;
    std::optional<int32_t> last;
    bool showDialog;
    int32_t replay;
  } cases[] = {
      // The dialog opens on the method asked for, else on the last choice of the session.
      {kInteractive, 0, 6, true, 6},
      {kInteractive, 8, 6, true, 8},
      {kInteractive, 0, kNone, true, 0},
      // A script's 0 is the filter's own remembered choice, not this session's.
      {kScript, 3, 6, false, 3},
      {kScript, 0, 6, false, 0},
      // "Repeat" replays the session's last choice, whatever the method argument says.
      {kRepeat, 0, 7, false, 7},
      {kRepeat, 42, 7, false, 7},
      {kRepeat, 0, kNone, false, 0},
  };
  for (const Case& c : cases) {
    const RunPlan plan = PlanRun(c.runMode, c.method, c.last);
    SCOPED_TRACE(::testing::Message() << "mode " << c.runMode << ", method " << c.method);
    ASSERT_TRUE(plan.ok) << plan.error;
    EXPECT_EQ(plan.showDialog, c.showDialog);
    EXPECT_EQ(plan.replayChoice, c.replay);
  }
}

TEST(PlanRun, RefusesMethodsOutsideTheTableAndUnknownModes) {
  for (int32_t method : {1, 2, 10, -3})
    for (int32_t mode : {kInteractive, kScript}) {
      const RunPlan plan = PlanRun(mode, method, 5);
      EXPECT_FALSE(plan.ok) << "method " << method << ", mode " << mode;
      EXPECT_NE(plan.error.find("method " + std::to_string(method)), std::string::npos);
    }
  const RunPlan plan = PlanRun(3, 0, kNone);
  EXPECT_FALSE(plan.ok);
  EXPECT_EQ(plan.error, "unknown run mode 3");
}

TEST(LastValues, RoundTripAndRejectWhatIsNotOurs) {
  const LastValues values = EncodeLastValues(9), noChoice = EncodeLastValues(2);
  LastValues newer = values;
  newer.version = kLastValuesVersion + 1;
  EXPECT_EQ(DecodeLastValues(&values, sizeof values), 9);
  EXPECT_EQ(DecodeLastValues(nullptr, 0), kNone);
  EXPECT_EQ(DecodeLastValues(&values, sizeof values - 1), kNone) << "another size";
  EXPECT_EQ(DecodeLastValues(&newer, sizeof newer), kNone) << "another version";
  EXPECT_EQ(DecodeLastValues(&noChoice, sizeof noChoice), kNone);
}

}  // namespace
