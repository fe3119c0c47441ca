// The run modes of the GIMP procedure turned into the filter's scripting inputs.
#include "gimp/run_plan.h"

#include <cstring>

#include "filter/host/filter_record.h"
#include "hostkit/fill_methods.h"

namespace areafill_gimp {

LastValues EncodeLastValues(int32_t choice) { return LastValues{kLastValuesVersion, choice}; }

std::optional<int32_t> DecodeLastValues(const void* bytes, size_t size) {
  if (!bytes || size != sizeof(LastValues)) return std::nullopt;
  LastValues values;
  std::memcpy(&values, bytes, sizeof values);
  if (values.version != kLastValuesVersion || !hostkit::FillMethodByChoice(values.choice))
    return std::nullopt;
  return values.choice;
}

RunPlan PlanRun(int32_t runMode, int32_t method, std::optional<int32_t> lastChoice) {
  RunPlan plan;
  const bool namesChoice = hostkit::FillMethodByChoice(method) != nullptr;
  if (runMode != int32_t(RunMode::kWithLastValues) && method != kMethodAsk && !namesChoice) {
    plan.error = "method " + std::to_string(method) +
                 " is not one of 0 (ask, or the last choice) and 3 to 9 (a fill choice)";
    return plan;
  }
  switch (RunMode(runMode)) {
    case RunMode::kInteractive:
      plan.showDialog = true;
      plan.replayChoice = namesChoice ? method : lastChoice.value_or(0);
      break;
    case RunMode::kNonInteractive:
      plan.replayChoice = namesChoice ? method : 0;
      break;
    case RunMode::kWithLastValues:
      plan.replayChoice = lastChoice.value_or(0);
      break;
    default:
      plan.error = "unknown run mode " + std::to_string(runMode);
      return plan;
  }
  plan.ok = true;
  return plan;
}

}  // namespace areafill_gimp
