#include "cli/progress.h"

#include <cstdio>

namespace areafill_cli {

void ProgressDisplay::Update(int32_t done, int32_t total) {
  if (style_ == ProgressStyle::None || total <= 0) return;
  int percent = int(int64_t(done) * 100 / total);
  if (percent < 0) percent = 0;
  if (percent > 100) percent = 100;
  // The fill's own stages restart their figures within the middle of the bar; a bar that
  // never moves backwards is what a person expects to see.
  if (percent < lastPercent_) return;
  if (style_ == ProgressStyle::Bar) {
    if (percent == lastPercent_) return;
    constexpr int kWidth = 40;
    char bar[kWidth + 1];
    int filled = percent * kWidth / 100;
    for (int i = 0; i < kWidth; ++i) bar[i] = i < filled ? '#' : '.';
    bar[kWidth] = 0;
    std::fprintf(stderr, "\r[%s] %3d%%", bar, percent);
    std::fflush(stderr);
    drawn_ = true;
  } else {
    if (percent / 10 == lastPercent_ / 10 && lastPercent_ >= 0) return;
    std::fprintf(stderr, "areafill: %d%%\n", percent / 10 * 10);
  }
  lastPercent_ = percent;
}

void ProgressDisplay::Finish() {
  if (style_ == ProgressStyle::Bar && drawn_) std::fprintf(stderr, "\n");
  drawn_ = false;
}

}  // namespace areafill_cli
