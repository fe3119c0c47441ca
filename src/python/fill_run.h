// One fill as the Python module performs it: the filter module loaded once per process with
// dlopen (the same areafill-filter.so the command-line host runs), the selection, the method
// replayed through scripting with no dialog, the Preferences folder, and the run itself.
// Nothing here knows Python: the bindings wrap progress and cancel in plain callbacks.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "hostkit/fill_methods.h"
#include "hostkit/host_image.h"

namespace areafill_py {

struct FillRequest {
  const hostkit::FillMethod* method = nullptr;  // never null
  std::array<uint8_t, 3> foreground = {0, 0, 0};
  std::array<uint8_t, 3> background = {255, 255, 255};
  // One byte per pixel of the image, or empty for no selection (the whole image is filled
  // from its outer ring, or from its alpha plane as the filter decides).
  std::vector<uint8_t> mask;
  bool raw = false;         // write the filter's rows unmasked
  bool fillFloats = true;   // float images filled through the 16-bit mode (hostkit::HostCall)
  std::string prefsFolder;  // empty: a private folder of this process, removed at its end
  // Called on the calling thread; either may be empty.
  std::function<void(int32_t done, int32_t total)> progress;
  std::function<bool()> cancel;
};

enum class FillStatus { Filled, BadInput, Cancelled, Failed };

struct FillOutcome {
  FillStatus status = FillStatus::Filled;
  std::string message;  // for BadInput and Failed: one line, as the command-line host says it
  std::vector<std::string> warnings;  // for Filled: what went wrong without failing the run
};

// Fills `image` (host scale, as hostkit::StoredToHost makes it) as `request` asks. On Filled
// `image` holds the result; otherwise it is unchanged. BadInput: an empty selection ("mask:
// selection is empty") or a prefs path that is not a folder; Failed: the filter module cannot be
// loaded or the filter failed ("filter failed while running: out of memory (-108)"); Cancelled: the
// cancel callback said so. Runs are serialised within the process (the host call does so).
FillOutcome RunFill(hostkit::HostImage& image, FillRequest& request);

// The path of the filter module this process runs: beside the Python extension, in the
// package, or the program's installed module folder. Empty, with
// `*error` set, when it cannot be loaded.
std::string FilterModulePath(std::string* error);

}  // namespace areafill_py
