// Progress of a run on stderr: a bar that redraws itself on a terminal, plain percentage lines
// (every 10%) elsewhere, or nothing, of the run's steady count (hostkit/steady_progress.h).
#pragma once

#include <cstdint>

#include "hostkit/steady_progress.h"

namespace areafill_cli {

enum class ProgressStyle { None, Bar, Lines };

class ProgressDisplay {
 public:
  explicit ProgressDisplay(ProgressStyle style) : style_(style) {}
  // done of total, as the filter reports it through progressProc.
  void Update(int32_t done, int32_t total) { Show(steady_.Count(done, total) / 10); }
  // Call once after the run: a run that `completed` shows 100%, whatever the filter reported
  // last (its final report is that of its last row, just short of the end).
  void Finish(bool completed);

 private:
  void Show(int percent);

  ProgressStyle style_;
  hostkit::SteadyProgress steady_;
  int lastPercent_ = -1;
  bool drawn_ = false;
};

}  // namespace areafill_cli
