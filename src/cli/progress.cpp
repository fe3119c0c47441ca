// The program's progress display.
#include "cli/progress.h"

#include <cstdio>

namespace areafill_cli {

void ProgressDisplay::Show(int percent) {
  if (style_ == ProgressStyle::None || percent <= lastPercent_) return;
  if (style_ == ProgressStyle::Lines && lastPercent_ >= 0 && percent / 10 == lastPercent_ / 10)
    return;
  if (style_ == ProgressStyle::Bar) {
    constexpr int kWidth = 40;
    char bar[kWidth + 1];
    int filled = percent * kWidth / 100;
    for (int i = 0; i < kWidth; ++i) bar[i] = i < filled ? '#' : '.';
    bar[kWidth] = 0;
    // The bar is a line of its own with the cursor waiting below it, so that whatever else
    // appears on the terminal meanwhile (the filter's dialog, which erases itself when done)
    // starts on a fresh line; each redraw goes back up one line to the bar.
    std::fprintf(stderr, "%s[%s] %3d%%\n", drawn_ ? "\x1b[1F\x1b[2K" : "", bar, percent);
    std::fflush(stderr);
    drawn_ = true;
  } else {
    std::fprintf(stderr, "areafill: %d%%\n", percent / 10 * 10);
  }
  lastPercent_ = percent;
}

void ProgressDisplay::Finish(bool completed) {
  if (style_ != ProgressStyle::None && completed && lastPercent_ < 100) Show(100);
}

}  // namespace areafill_cli
