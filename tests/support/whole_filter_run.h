// Whole filter runs in-process, shared by the reliability tests and the fuzz targets: small
// deterministic images and selections, and one call that runs the filter through the host kit
// with a replayed fill choice (or the headless dialog's remembered one) and its scripting host.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "hostkit/descriptor.h"
#include "hostkit/filter_host.h"

namespace whole_run {

// A w × h image of `planes` samples at `depth` bits in `mode`, from a fixed formula.
hostkit::HostImage PatternImage(int w, int h, int planes, int depth, int16_t mode);

// A disc of selected pixels (255) centred in a w × h mask.
std::vector<uint8_t> DiscMask(int w, int h, double radius);

// Runs the filter once on `image`, replaying `play` without the dialog, or with no `play`
// showing the headless dialog (the remembered choice). `arm`, when given, is called just before
// the run, after the host's own set-up, so that the faults it arms hit the run. What the run
// recorded goes to *recorded (empty when nothing was) and what the host saw to *report, each when
// given; the plug-in's globals are released after the run. Returns the run's result (-108 when
// the replay cannot be set up).
int16_t RunPlayed(hostkit::HostImage& image, const hostkit::RunOptions& options,
                  const hostkit::Descriptor* play, hostkit::Descriptor* recorded = nullptr,
                  const std::function<void()>& arm = nullptr, hostkit::RunReport* report = nullptr);

// RunPlayed with fill choice `method` replayed, or with the headless dialog when it is 0.
int16_t RunOnce(hostkit::HostImage& image, const hostkit::RunOptions& options, int method,
                const std::function<void()>& arm = nullptr, hostkit::RunReport* report = nullptr);

}  // namespace whole_run
