// Whole filter runs for the reliability tests: small deterministic images in every mode the
// driver handles, one call that runs the filter in-process with a chosen fill (replayed, or
// from the remembered choice with the headless dialog), and the sweep switch that turns the
// quick sampling of the normal suite into the exhaustive sweep of `make reliability`.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "hostkit/filter_host.h"

namespace reliability {

// A w × h image of `planes` samples at `depth` bits in `mode`, from a fixed formula.
hostkit::HostImage PatternImage(int w, int h, int planes, int depth, int16_t mode);

// A disc of selected pixels (255) centred in a w × h mask.
std::vector<uint8_t> DiscMask(int w, int h, double radius);

// Runs the filter on `image`. `method` 3..9 is replayed without the dialog; 0 shows the
// headless dialog, which takes the remembered choice. `arm`, when given, is called just before
// the run starts and after the host's own set-up (so that faults it arms hit the run). The
// plug-in's globals are released after the run. Returns the run's result.
int16_t RunOnce(hostkit::HostImage& image, const hostkit::RunOptions& options, int method,
                const std::function<void()>& arm = nullptr);

// True when the environment asks for every fault point ($AREAFILL_EXHAUSTIVE=1).
bool Exhaustive();

// The points of a sweep of `count` points: all of them when exhaustive or when `count` is at
// most `quickLimit`; else `quickLimit` points spread evenly, the first and last included.
std::vector<long> SweepPoints(long count, long quickLimit);

// Prints "fault-points <sweep>: tried N, survived N" for the reliability report.
void ReportSweep(const std::string& sweep, long tried, long survived);

}  // namespace reliability
