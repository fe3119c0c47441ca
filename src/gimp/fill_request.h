// One fill of a drawable's area as the plug-in hands it to the host call: the samples, the
// selection, GIMP's colours and the method. OK builds its host call from it, and so does the
// preview, in a worker process of its own (the plug-in's program started with --preview-worker),
// so that the preview's pixels come from the very call that OK makes, while the filter's dialog
// keeps the plug-in's own run busy.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "hostkit/host_call.h"
#include "hostkit/stored_samples.h"

namespace areafill_gimp {

struct FillRequest {
  hostkit::StoredLayout layout;
  // layout.ByteCount() bytes, as DrawableArea holds them: what a preview's worker fills
  // (PrepareFillCall does not read them).
  std::vector<uint8_t> samples;
  std::vector<uint8_t> mask;  // as DrawableArea holds it: one byte per pixel, or empty
  std::array<uint8_t, 3> foreground = {0, 0, 0}, background = {255, 255, 255};
  int32_t choice = 0;  // 3..9, or 0 for the dialog's or the filter's choice
};

// The host call for `request` with `module` (which must outlive it): the selection as the
// filter's area, the colours, the method, the settings from the environment, floats filled by
// the float rule. Returns false when the selection leaves the filter nothing to fill.
bool PrepareFillCall(const FillRequest& request, const hostkit::FilterModule* module,
                     hostkit::HostCall* call);

// The program that runs previews: "--preview-worker" as its only argument.
inline constexpr char kPreviewWorkerFlag[] = "--preview-worker";

// Writes `request` to the file descriptor `fd`; false when the pipe fails.
bool WriteFillRequest(int fd, const FillRequest& request);

// What the worker writes back, record by record: 'P' and a 32-bit progress count out of
// hostkit::kSteadyTotal; then 'R' and layout.ByteCount() bytes of filled samples, or 'F', a
// 32-bit length and a message (the run failed or was cancelled).
inline constexpr char kRecordProgress = 'P', kRecordResult = 'R', kRecordFailed = 'F';

// The worker's main: reads one request from standard input, fills it through the host call
// (headless, with private preferences, so that a preview never changes the filter's remembered
// choice), writes the records to standard output. SIGTERM, or the plug-in's end, cancels the
// run through the host call's abort test (which the filter consults between its steps). Returns
// the process's exit status.
int RunPreviewWorker(const std::string& modulePath);

}  // namespace areafill_gimp
