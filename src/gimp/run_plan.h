// How one call of the GIMP procedure becomes a filter run: from GIMP's run mode, the method
// argument and the values of the last run, whether the dialog shows, which choice is replayed
// to the filter as its scripting descriptor. Nothing
// here calls GIMP, so it is tested on its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace areafill_gimp {

// GIMP's run modes, numbered as GimpRunMode numbers them.
enum class RunMode : int32_t { kInteractive = 0, kNonInteractive = 1, kWithLastValues = 2 };

// The method argument that asks for the dialog (interactive) or the filter's remembered choice
// (scripts); 3 to 9 name a fill choice.
inline constexpr int32_t kMethodAsk = 0;

// What the plug-in keeps between runs in GIMP's per-session data: the last choice that ran.
struct LastValues {
  int32_t version;
  int32_t choice;
};
inline constexpr int32_t kLastValuesVersion = 1;

LastValues EncodeLastValues(int32_t choice);
// The choice stored in `bytes` (as gimp_get_data gives them), or nothing when they are absent,
// of another size or version, or hold no fill choice.
std::optional<int32_t> DecodeLastValues(const void* bytes, size_t size);

struct RunPlan {
  bool ok = false;
  std::string error;         // when !ok: what is wrong with the call, for the caller
  bool showDialog = false;   // the module shows its dialog through the host backend
  int32_t replayChoice = 0;  // 3..9: handed to the filter as the descriptor; 0: none
};

// The plan for a call with `runMode` (a GimpRunMode number), the `method` argument and the
// choice of the last run (if any):
// - interactive: the dialog shows, opening on `method` when it names a choice, else on the
//   last run's choice (without either, on the filter's remembered one);
// - non-interactive: `method` is replayed and the dialog never shows; kMethodAsk replays
//   nothing, so the filter takes the choice it remembers from its last run anywhere;
// - with last values ("Repeat"): the last run's choice is replayed without a dialog (the
//   filter's remembered one when this session has none); `method` is not looked at.
// A method other than kMethodAsk and 3..9, or an unknown run mode, gives !ok.
RunPlan PlanRun(int32_t runMode, int32_t method, std::optional<int32_t> lastChoice);

}  // namespace areafill_gimp
