// Finding and loading the filter module (areafill-filter.so), the way every host program does:
// from a list of likely places, then through dlopen, keeping it loaded for the process's life.
#pragma once

#include <string>
#include <vector>

#include "filter/host/filter_record.h"

namespace hostkit {

// The file name of the filter module.
inline constexpr const char kFilterModuleName[] = "areafill-filter.so";

// The folder of the running program's executable (from /proc/self/exe), or "." when it cannot
// be told.
std::string ProgramFolder();

// The first of `candidates` that exists, made canonical; the first candidate when none exists
// (so that the error names where the module was expected); "" for an empty list.
std::string FirstExistingPath(const std::vector<std::string>& candidates);

// Loads the module at `path` (a name without a slash is taken relative to the current folder,
// not searched for) and returns its entry point `main`. The module stays loaded. Returns null
// with a one-line *error when it cannot be loaded or has no entry point.
PluginEntryProc LoadFilterModule(const std::string& path, std::string* error);

}  // namespace hostkit
