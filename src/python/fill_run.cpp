// The Python module's filter runs: the filter module loaded once per process, and one run
// through the host kit's host call.
#include "python/fill_run.h"

#include <dlfcn.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "hostkit/host_call.h"
#include "hostkit/host_rules.h"

#ifndef AREAFILL_INSTALLED_MODULE_PATH
#define AREAFILL_INSTALLED_MODULE_PATH "/usr/local/lib/areafill/areafill-filter.so"
#endif

namespace areafill_py {
namespace {

namespace fs = std::filesystem;

struct LoadedModule {
  bool tried = false;
  std::string path;
  std::string error;
  hostkit::FilterModule module;
};
std::mutex gModuleLock;
LoadedModule gModule;  // guarded by gModuleLock until loaded, then read only
// The environment's user switches, read once, when the module is first used.
hostkit::HostSettings gSettings;

// The folder of the shared object this code is in (the Python extension).
std::string _ExtensionFolder() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&_ExtensionFolder), &info) == 0 || !info.dli_fname) return ".";
  std::error_code ec;
  fs::path self = fs::weakly_canonical(info.dli_fname, ec);
  return (ec ? fs::path(info.dli_fname) : self).parent_path().string();
}

// Loads the module once; it stays loaded for the life of the process. It is looked for beside
// the extension, inside the package (the build tree, pip and `cmake --install` all put it
// there), then in the module folder that `cmake --install` fills for the program.
const LoadedModule& _Module() {
  std::lock_guard<std::mutex> lock(gModuleLock);
  if (!gModule.tried) {
    gModule.tried = true;
    gSettings = hostkit::HostSettingsFromEnvironment();
    const std::string here = _ExtensionFolder();
    gModule.path = hostkit::FirstExistingPath(
        {here + "/" + hostkit::kFilterModuleName, AREAFILL_INSTALLED_MODULE_PATH});
    if (!hostkit::LoadFilterModule(gModule.path, &gModule.module, &gModule.error))
      gModule.module = {};
  }
  return gModule;
}

// A fill without prefs= must not write into the user's folders: its preferences live in a
// folder of this process's own, areafill-py-PID-XXXXXX in the temporary folder, made private
// (0700) on first use and removed when the process ends. A process that was killed (a Dask
// worker) cannot remove its own: the next process to make one removes those of this user
// whose process is gone. "" when it cannot be made.
std::string gPrivateFolder;  // guarded by gModuleLock
constexpr char kPrivatePrefix[] = "areafill-py-";

void _RemovePrivateFolder() {
  std::error_code ec;
  if (!gPrivateFolder.empty()) fs::remove_all(gPrivateFolder, ec);
}

void _RemoveFoldersOfEndedProcesses(const fs::path& tmp) {
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(tmp, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(kPrivatePrefix, 0) != 0) continue;
    const long pid = std::strtol(name.c_str() + sizeof(kPrivatePrefix) - 1, nullptr, 10);
    struct stat st {};
    if (pid <= 0 || ::lstat(entry.path().c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_uid != ::getuid() || ::kill(pid_t(pid), 0) == 0 || errno != ESRCH)
      continue;
    fs::remove_all(entry.path(), ec);
  }
}

std::string _PrivatePrefsFolder() {
  std::lock_guard<std::mutex> lock(gModuleLock);
  if (gPrivateFolder.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    const std::string folder = tmp && tmp[0] == '/' ? tmp : "/tmp";
    _RemoveFoldersOfEndedProcesses(folder);
    std::string pattern = folder + "/" + kPrivatePrefix + std::to_string(::getpid()) + "-XXXXXX";
    if (::mkdtemp(pattern.data())) {
      gPrivateFolder = pattern;
      std::atexit(_RemovePrivateFolder);
    }
  }
  return gPrivateFolder;
}

FillOutcome _Outcome(FillStatus status, std::string message = {}) {
  return FillOutcome{status, std::move(message), {}};
}

}  // namespace

FillOutcome RunFill(hostkit::HostImage& image, FillRequest& request) {
  hostkit::HostCall call;
  call.run.foreground = request.foreground;
  call.run.background = request.background;
  if (!request.mask.empty() && !hostkit::SelectArea(&call.run, std::move(request.mask), image.width,
                                                    image.height, request.raw)) {
    return _Outcome(FillStatus::BadInput, "mask: selection is empty");
  }
  if (!request.prefsFolder.empty()) {
    std::string error;
    if (hostkit::ChoosePreferencesFolder(request.prefsFolder, &error).empty())
      return _Outcome(FillStatus::BadInput, "prefs: " + error);
  }
  const LoadedModule& loaded = _Module();
  if (!loaded.module.entry) return _Outcome(FillStatus::Failed, loaded.error);

  // The method is replayed as a recorded action, so the filter never shows its dialog.
  call.module = &loaded.module;
  call.choice.method = request.method;
  call.settings = gSettings;
  call.settings.preferencesFolder =
      request.prefsFolder.empty() ? _PrivatePrefsFolder() : request.prefsFolder;
  if (call.settings.preferencesFolder.empty())
    return _Outcome(FillStatus::Failed, "cannot make a private folder for the preferences");
  call.fillFloats = request.fillFloats;
  call.run.progress = request.progress;
  call.run.abort = request.cancel;
  const hostkit::HostCallOutcome outcome = hostkit::RunHostCall(image, call);
  switch (outcome.status) {
    case hostkit::HostCallStatus::kFilled: {
      FillOutcome filled = _Outcome(FillStatus::Filled);
      filled.warnings = outcome.warnings;
      return filled;
    }
    case hostkit::HostCallStatus::kCancelled:
      return _Outcome(FillStatus::Cancelled);
    case hostkit::HostCallStatus::kFailed:
      break;
  }
  return _Outcome(FillStatus::Failed, outcome.message);
}

std::string FilterModulePath(std::string* error) {
  const LoadedModule& loaded = _Module();
  *error = loaded.error;
  return loaded.module.entry ? loaded.path : std::string();
}

}  // namespace areafill_py
