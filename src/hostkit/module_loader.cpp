// Loading the filter module: where hosts look for it, and dlopen with the module's symbols kept
// to itself (RTLD_LOCAL), so that its own copy of the platform layer never meets the host's.
#include "hostkit/module_loader.h"

#include <dlfcn.h>

#include <filesystem>

namespace hostkit {

namespace fs = std::filesystem;

std::string ProgramFolder() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string(".") : exe.parent_path().string();
}

std::string FirstExistingPath(const std::vector<std::string>& candidates) {
  std::error_code ec;
  for (const std::string& candidate : candidates) {
    if (!fs::exists(candidate, ec)) continue;
    fs::path canonical = fs::weakly_canonical(candidate, ec);
    return ec ? candidate : canonical.string();
  }
  return candidates.empty() ? std::string() : candidates.front();
}

bool LoadFilterModule(const std::string& path, FilterModule* module, std::string* error) {
  const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    *error = "cannot load the filter module: " + std::string(dlerror());
    return false;
  }
  void* entry = dlsym(handle, "main");
  if (!entry) {
    *error = path + ": not a filter module (no entry point)";
    dlclose(handle);
    return false;
  }
  module->entry = reinterpret_cast<PluginEntryProc>(entry);
  module->setHostServices =
      reinterpret_cast<AreaFillSetHostServicesProc>(dlsym(handle, AREAFILL_HOST_SERVICES_SYMBOL));
  return true;
}

}  // namespace hostkit
