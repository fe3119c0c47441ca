// The host half of the filter plug-in protocol, shared by every host (tests, the command-line
// host, the GIMP adapter): it builds a FilterRecord over a HostImage, calls the selectors in a
// run's order, answers advance-state by delivering the requested rows and taking the output,
// or, for a host without advance-state, calls the continue selector itself.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "filter/host/filter_record.h"
#include "hostkit/host_image.h"

namespace hostkit {

struct RunOptions {
  // The filter area; an all-zero rectangle means the whole image.
  Rect filterRect = {0, 0, 0, 0};
  // The host's selection: one byte per pixel of the whole image, or empty for no mask.
  std::vector<uint8_t> mask;
  // Confine the written result to the mask as the host's automatic masking does:
  // out = (filtered × m + original × (255 − m) + 127) ÷ 255 for the colour samples of the
  // filter area (float images: filtered × m/255 + original × (1 − m/255)).
  bool applyMask = false;

  std::array<uint8_t, 3> foreground = {0, 0, 0};
  std::array<uint8_t, 3> background = {255, 255, 255};

  // Offer the advance-state service; without it the host calls the continue selector.
  bool advanceState = true;
  // For tests: withdraw advance-state after this many calls of it (negative: never).
  int withdrawAdvanceStateAfter = -1;
  // Call the parameters selector before prepare.
  bool askParameters = true;

  // Progress reports and the cancel test, on the calling thread.
  std::function<void(int32_t done, int32_t total)> progress;
  std::function<bool()> abort;

  // Scripting and events, owned by the caller (null: the host has none).
  PIDescriptorParameters* descriptorParameters = nullptr;
  HandleProcs* handleProcs = nullptr;
  ProcessEventProc processEvent = nullptr;
};

struct RunReport {
  int16_t result = 0;           // the first non-zero selector result, or 0
  int16_t failedSelector = -1;  // the selector that returned it
  int advanceStateCalls = 0;
  int continueCalls = 0;
  // Why the host itself failed the run (rows it could not deliver or take), or "".
  std::string hostFailure;
  // The plug-in's parameters handle after the run (owned by the platform; released by the run).
  std::vector<uint8_t> parameters;
};

// Runs one filter run over `image` through `entry`: parameters (when asked), prepare, start,
// continue as needed, finish. On success the filtered pixels are stored into `image`; on any
// failure `image` is left exactly as it was. `data` is the plug-in's data word, kept by the
// caller between runs (0 before the first). Returns the run's result code.
// `overrides`, when given, replace some of the options without a copy of them and their mask,
// for a host that makes its scripting suites for each run or masks the output itself.
struct RunOverrides {
  PIDescriptorParameters* descriptorParameters = nullptr;
  HandleProcs* handleProcs = nullptr;
  bool applyMask = true;  // and the options ask for it
};
int16_t RunFilter(PluginEntryProc entry, HostImage& image, const RunOptions& options,
                  intptr_t* data, RunReport* report = nullptr,
                  const RunOverrides* overrides = nullptr);

// The host's masking of filter output: within `area`, every colour sample of `*output` becomes
// (filtered × m + original × (255 − m) + 127) ÷ 255 with m the pixel's byte of `mask` (one per
// pixel of the whole image); float samples filtered × m/255 + original × (1 − m/255) in double,
// so that m = 0 gives the original and m = 255 the filtered value exactly.
void ApplyHostMask(const HostImage& original, const std::vector<uint8_t>& mask, const Rect& area,
                   HostImage* output);

// Calls one selector outside a run (for example about), with a minimal parameter block.
int16_t CallSelector(PluginEntryProc entry, int16_t selector, intptr_t* data);

// Releases the plug-in's globals handle kept in the data word (the host unloading the module).
void ReleasePluginData(intptr_t* data);

}  // namespace hostkit
