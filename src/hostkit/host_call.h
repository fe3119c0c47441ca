// The one call through which every host runs the filter: "run this method (or ask the user, or
// replay a recorded action) on this image with these options". It hands the module the host's
// settings, sets up scripting, runs the filter through the host kit, releases the plug-in's
// data and turns the outcome into a status, a one-line message and what the filter recorded.
// Hosts keep only what is theirs: arguments and files, arrays, GIMP drawables.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hostkit/descriptor.h"
#include "hostkit/fill_methods.h"
#include "hostkit/filter_host.h"
#include "hostkit/host_image.h"
#include "hostkit/module_loader.h"
#include "platform/host_services.h"

namespace hostkit {

// What a host tells the module's platform layer (see platform/host_services.h).
struct HostSettings {
  std::string preferencesFolder;  // "": the user's own
  int32_t dialog = kAreaFillDialogHeadless;
  const AreaFillDialogHost* dialogHost = nullptr;  // for kAreaFillDialogHost
  long long scratchMemoryLimit = -1;               // bytes; negative: no cap
  // Bytes of the host's own copies of the image kept in memory (the rest go to disk, see
  // pixel_rows.h); negative: the host's default. Not the module's: the host applies it.
  long long imageMemoryLimit = -1;
  int32_t threads = 0;  // 0: one per processor
  bool referenceMembrane = false;
};

// The settings that the environment's documented user switches ask for, read once when a host
// starts: AREAFILL_THREADS (a count), AREAFILL_MEMBRANE ("reference"), AREAFILL_TEMP_MEMORY
// (bytes of scratch memory; 0 puts every scratch image on disk) and AREAFILL_IMAGE_MEMORY (bytes
// of the host's copies of the image in memory; 0 puts them all on disk). Values that are not
// numbers are ignored.
HostSettings HostSettingsFromEnvironment();

// The Preferences folder a run uses: `requested` when given, else the user's own (by the XDG
// rules); it is made, private, when it is missing. Returns "" with *error set to one line when
// there is no folder or it may not be used, for example "preferences folder /tmp/p belongs to
// another user (uid 1001); choose a folder of your own". A folder that others may write could
// hold their links to your files, so it is refused too.
std::string ChoosePreferencesFolder(const std::string& requested, std::string* error);

// How the run's fill method is chosen.
struct MethodChoice {
  // A method to run; null: the replayed action's, else the one the filter remembers.
  const FillMethod* method = nullptr;
  // A recorded action to replay (used when `method` is null and `replay` is set).
  const Descriptor* replay = nullptr;
  // Show the filter's dialog (with the method or action preselected), through the host's
  // dialog backend; otherwise the run goes without one.
  bool showDialog = false;
};

struct HostCall {
  const FilterModule* module = nullptr;
  MethodChoice choice;
  RunOptions run;  // the area, the selection, the colours, progress and cancel
  HostSettings settings;
  // 32-bit images: filled through the filter's 16-bit mode by the float rule (float_samples.h)
  // when set; otherwise handed over as they are, which the filter writes back unfilled.
  bool fillFloats = false;
};

enum class HostCallStatus { kFilled, kCancelled, kFailed };

struct HostCallOutcome {
  HostCallStatus status = HostCallStatus::kFilled;
  int16_t result = 0;  // the run's status code
  // One line for kFailed, e.g. "filter failed while running: out of memory (-108)".
  std::string message;
  bool recorded = false;
  Descriptor recording;             // what the filter recorded for scripting, when `recorded`
  const FillMethod* ran = nullptr;  // the method it recorded, or null
  // What went wrong on the way without failing the run, one line each (a selection that could
  // not be kept, preferences that could not be stored), for the host to show as warnings.
  std::vector<std::string> warnings;
};

// Runs one fill of `image` (host scale) as `call` says. On kFilled `image` holds the result;
// otherwise it is unchanged. Runs are serialised within a process (the module's platform layer
// is process-wide); a call from inside a run on the same thread (a progress callback calling
// back) fails at once instead of waiting for itself.
HostCallOutcome RunHostCall(HostImage& image, const HostCall& call);

}  // namespace hostkit
