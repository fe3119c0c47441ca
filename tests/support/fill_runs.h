// Runs of the fill steps for the tests: a picture held in the test (samples and an optional
// selection mask) goes through scratch images into a fill step (the membrane engines, or any
// other) and back, and what the host saw (progress reports, abort tests, their thread) is logged.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "filter/fill/membrane_fill.h"
#include "platform/files.h"
#include "platform/memory.h"

namespace fill_runs {

struct Picture {
  int w, h, n, bits;
  std::vector<int32_t> v;     // n samples per pixel, row by row
  std::vector<uint8_t> mask;  // one byte per pixel; empty: no selection

  int32_t& at(int x, int y, int s = 0) { return v[(size_t(y) * w + x) * n + s]; }
  int32_t at(int x, int y, int s = 0) const { return v[(size_t(y) * w + x) * n + s]; }
  bool Selected(int x, int y) const {
    if (x < 0 || y < 0 || x >= w || y >= h) return false;
    return mask.empty() || mask[size_t(y) * w + x] >= 128;
  }
};

// What the host saw: each progress report as (done, total) and, in `calls`, 'P' for a report and
// 'A' for an abort test, in order.
struct HostLog {
  std::vector<int32_t> progress;
  std::string calls;
  long abortTests = 0;
  long cancelAt = 0;  // the abort test that answers yes (1-based); 0: none
  bool offThread = false;
  std::thread::id caller;
};
inline HostLog gLog;

inline void LogProgress(int32_t done, int32_t total) {
  gLog.progress.insert(gLog.progress.end(), {done, total});
  gLog.calls += 'P';
  gLog.offThread |= std::this_thread::get_id() != gLog.caller;
}

inline Boolean LogAbort() {
  gLog.calls += 'A';
  gLog.offThread |= std::this_thread::get_id() != gLog.caller;
  return ++gLog.abortTests == gLog.cancelAt;
}

// Runs `step` on the picture's scratch images with a record of the picture's size and selection
// and a copy of `host` whose progress and abort callbacks log to gLog (the abort test answers yes
// at `cancelAt`); the picture takes the result. Expects the step to leave no block allocated.
inline int32_t RunStep(Picture& p, const std::function<int32_t(NamedImage*, RunRecord*)>& step,
                       long cancelAt = 0, const FilterRecord& host = {}) {
  const int bytes = p.bits / 8;
  const size_t rowSamples = size_t(p.w) * size_t(p.n);
  std::vector<uint8_t> row8(rowSamples);
  std::vector<uint16_t> row16(rowSamples);
  void* row = bytes == 1 ? static_cast<void*>(row8.data()) : row16.data();
  NamedImage* image = nullptr;
  NamedImage* selection = nullptr;
  EXPECT_EQ(MakeImage(int16_t(p.w), int16_t(p.h), int16_t(p.n * bytes), &image), noErr);
  for (int y = 0; y < p.h; ++y) {
    for (size_t i = 0; i < rowSamples; ++i)
      row8[i] = uint8_t(row16[i] = uint16_t(p.v[y * rowSamples + i]));
    PutLine(image, 0, y, int32_t(rowSamples) * bytes, row);
  }
  if (!p.mask.empty()) {
    EXPECT_EQ(MakeSelectionImage(int16_t(p.w), int16_t(p.h), 1, &selection), noErr);
    for (int y = 0; y < p.h; ++y) PutLine(selection, 0, y, p.w, &p.mask[size_t(y) * p.w]);
  }
  static FilterRecord record;
  record = host;
  record.progressProc = LogProgress;
  record.abortProc = LogAbort;
  RunRecord run = {};
  run.width = int16_t(p.w);
  run.height = int16_t(p.h);
  run.planes = int16_t(p.n);
  run.host = &record;
  run.selection = selection;
  gLog = HostLog{};
  gLog.cancelAt = cancelAt;
  gLog.caller = std::this_thread::get_id();
  const long blocks = PlatformLiveBlocks();
  const int32_t status = step(image, &run);
  EXPECT_EQ(PlatformLiveBlocks(), blocks) << "the step left blocks allocated";
  for (int y = 0; y < p.h; ++y) {
    GetLine(image, 0, y, int32_t(rowSamples) * bytes, row);
    for (size_t i = 0; i < rowSamples; ++i)
      p.v[y * rowSamples + i] = bytes == 1 ? row8[i] : row16[i];
  }
  TossImage(image);
  if (selection) TossSelectionImage(selection);
  return status;
}

enum Engine { kReference, kFast, kChosen };  // kChosen: MembraneFill, as the host's settings say

// Runs a membrane engine on the picture. `arm`, when given, runs just before the engine (to
// refuse allocations or file opens; both are allowed again afterwards); *allocations receives
// the blocks the engine asked for.
inline int32_t RunEngine(Picture& p, Engine engine, int32_t threads = 1, long cancelAt = 0,
                         const std::function<void()>& arm = {}, long* allocations = nullptr) {
  return RunStep(
      p,
      [&](NamedImage* image, RunRecord* record) {
        const bool deep = p.bits == 16;
        const long before = PlatformAllocationCount();
        if (arm) arm();
        const int32_t status =
            engine == kReference
                ? (deep ? _MembraneFillReference16 : _MembraneFillReference8)(image, record)
            : engine == kFast
                ? (deep ? _MembraneFillFast16 : _MembraneFillFast8)(image, record, threads)
                : (deep ? MembraneFill16 : MembraneFill)(image, record);
        PlatformRefuseAllocations(0, 0);
        PlatformRefuseOpens(false);
        if (allocations) *allocations = PlatformAllocationCount() - before;
        return status;
      },
      cancelAt);
}

}  // namespace fill_runs
