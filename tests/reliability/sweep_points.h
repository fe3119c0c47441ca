// The fault points a reliability sweep tries: every one under `make reliability`
// ($AREAFILL_EXHAUSTIVE=1), an even sample in the normal suite; and the line each sweep prints
// for the figures of docs/reliability.md.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace reliability {

inline bool Exhaustive() {
  const char* value = std::getenv("AREAFILL_EXHAUSTIVE");
  return value && std::strcmp(value, "1") == 0;
}

// 0..count-1 when exhaustive or when `count` is at most `quickLimit`; else `quickLimit` points
// spread evenly, the first and last included.
inline std::vector<long> SweepPoints(long count, long quickLimit) {
  std::vector<long> points;
  const bool all = Exhaustive() || count <= quickLimit;
  for (long i = 0; i < (all ? count : quickLimit); ++i)
    points.push_back(all ? i : i * (count - 1) / (quickLimit - 1));
  return points;
}

// "fault-points <sweep>: tried N, survived N", read by scripts/reliability.sh.
inline void ReportSweep(const std::string& sweep, long tried, long survived) {
  std::printf("fault-points %s: tried %ld, survived %ld\n", sweep.c_str(), tried, survived);
  std::fflush(stdout);
}

}  // namespace reliability
