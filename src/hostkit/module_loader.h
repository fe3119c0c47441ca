// Finding and loading the filter module (areafill-filter.so), the way every host program does:
// from a list of likely places, then through dlopen, keeping it loaded for the process's life.
#pragma once

#include <string>
#include <vector>

#include "filter/host/filter_record.h"
#include "platform/host_services.h"

namespace hostkit {

// The file name of the filter module.
inline constexpr const char kFilterModuleName[] = "areafill-filter.so";

// The folder of the running program's executable (from /proc/self/exe), or "." when it cannot
// be told.
std::string ProgramFolder();

// The first of `candidates` that exists, made canonical; the first candidate when none exists
// (so that the error names where the module was expected); "" for an empty list.
std::string FirstExistingPath(const std::vector<std::string>& candidates);

// A loaded filter module: its entry point `main`, and the call through which a host hands the
// module's platform layer its settings (null for a module without one).
struct FilterModule {
  PluginEntryProc entry = nullptr;
  AreaFillSetHostServicesProc setHostServices = nullptr;
};

// Loads the module at `path` (a name without a slash is taken relative to the current folder,
// not searched for). The module stays loaded for the process's life. Returns false with a
// one-line *error when it cannot be loaded or has no entry point.
bool LoadFilterModule(const std::string& path, FilterModule* module, std::string* error);

}  // namespace hostkit
