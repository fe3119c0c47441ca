// One steady count for a run's progress bar. The filter reports progress stage by stage, each
// with a total of its own (the rows read, the fill's steps, the rows written), and a stage may
// start its count below where the stage before ended. A host shows one bar: this turns the
// filter's reports into a count of kSteadyTotal that never goes back and reaches kSteadyTotal
// only when the run has ended well.
#pragma once

#include <cstdint>

namespace hostkit {

inline constexpr int32_t kSteadyTotal = 1000;

class SteadyProgress {
 public:
  // The count for the filter's report `done` of `total`: its share of kSteadyTotal, at least
  // the count before, at most kSteadyTotal - 1 (the run has not ended yet).
  int32_t Count(int32_t done, int32_t total) {
    if (total > 0 && done > 0) {
      int64_t share = int64_t(done) * kSteadyTotal / total;
      if (share > kSteadyTotal - 1) share = kSteadyTotal - 1;
      if (share > count_) count_ = int32_t(share);
    }
    return count_;
  }
  int32_t count() const { return count_; }

 private:
  int32_t count_ = 0;
};

}  // namespace hostkit
