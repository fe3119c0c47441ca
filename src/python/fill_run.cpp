// The Python module's filter runs: loading the filter module and driving one run through the
// host kit, serialised by one lock per process.
#include "python/fill_run.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>

#include "hostkit/descriptor.h"
#include "hostkit/filter_host.h"
#include "hostkit/host_rules.h"
#include "hostkit/module_loader.h"
#include "hostkit/status_text.h"

#ifndef AREAFILL_INSTALLED_MODULE_PATH
#define AREAFILL_INSTALLED_MODULE_PATH "/usr/local/lib/areafill/areafill-filter.so"
#endif

namespace areafill_py {
namespace {

namespace fs = std::filesystem;

// One filter run at a time per process: concurrent runs would share the Preferences folder,
// its scratch files ("BackingStore", …) and AREAFILL_PREFS_DIR.
std::mutex gRunLock;

struct LoadedModule {
  bool tried = false;
  std::string path;
  std::string error;
  PluginEntryProc entry = nullptr;
};
LoadedModule gModule;  // guarded by gRunLock

// The folder of the shared object this code is in (the Python extension).
std::string _ExtensionFolder() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&_ExtensionFolder), &info) == 0 || !info.dli_fname) return ".";
  std::error_code ec;
  fs::path self = fs::weakly_canonical(info.dli_fname, ec);
  return (ec ? fs::path(info.dli_fname) : self).parent_path().string();
}

// Loads the module once; the handle stays open for the life of the process. Under gRunLock.
// It is looked for beside the extension (a self-contained install), then in the build tree's
// lib/ (the extension is built into <build>/python/), then in the module folder that
// `cmake --install` fills.
void _LoadModuleLocked() {
  if (gModule.tried) return;
  gModule.tried = true;
  const std::string here = _ExtensionFolder();
  gModule.path = hostkit::FirstExistingPath({here + "/" + hostkit::kFilterModuleName,
                                             here + "/../lib/" + hostkit::kFilterModuleName,
                                             AREAFILL_INSTALLED_MODULE_PATH});
  gModule.entry = hostkit::LoadFilterModule(gModule.path, &gModule.error);
}

// Points AREAFILL_PREFS_DIR at a folder for the length of a run and puts back what was there.
class PrefsFolderOverride {
 public:
  explicit PrefsFolderOverride(const std::string& folder) {
    if (folder.empty()) return;
    active_ = true;
    if (const char* old = std::getenv("AREAFILL_PREFS_DIR")) previous_ = old;
    ::setenv("AREAFILL_PREFS_DIR", folder.c_str(), 1);
  }
  ~PrefsFolderOverride() {
    if (!active_) return;
    if (previous_)
      ::setenv("AREAFILL_PREFS_DIR", previous_->c_str(), 1);
    else
      ::unsetenv("AREAFILL_PREFS_DIR");
  }
  PrefsFolderOverride(const PrefsFolderOverride&) = delete;
  PrefsFolderOverride& operator=(const PrefsFolderOverride&) = delete;

 private:
  bool active_ = false;
  std::optional<std::string> previous_;
};

FillOutcome _Outcome(FillStatus status, std::string message = {}) {
  return FillOutcome{status, std::move(message)};
}

}  // namespace

FillOutcome RunFill(hostkit::HostImage& image, FillRequest& request) {
  hostkit::RunOptions run;
  run.foreground = request.foreground;
  run.background = request.background;
  if (!request.mask.empty() &&
      !hostkit::SelectArea(&run, std::move(request.mask), image.width, image.height, request.raw)) {
    return _Outcome(FillStatus::BadInput, "mask: selection is empty");
  }
  if (!request.prefsFolder.empty()) {
    std::error_code ec;
    fs::create_directories(request.prefsFolder, ec);
    if (!fs::is_directory(request.prefsFolder, ec))
      return _Outcome(FillStatus::BadInput, "prefs: " + request.prefsFolder + " is not a folder");
  }

  // The method is replayed as a recorded action, so the filter never shows its dialog.
  hostkit::ScriptingHost scripting;
  hostkit::Descriptor play;
  play.Put(hostkit::FillMethodDescriptorItem(*request.method));
  if (!scripting.SetPlay(play, plugInDialogDontDisplay))
    return _Outcome(FillStatus::Failed, "out of memory");
  run.descriptorParameters = scripting.descriptorParameters();
  run.handleProcs = scripting.handleProcs();
  run.progress = request.progress;
  run.abort = request.cancel;

  std::lock_guard<std::mutex> lock(gRunLock);
  _LoadModuleLocked();
  if (!gModule.entry) return _Outcome(FillStatus::Failed, gModule.error);

  PrefsFolderOverride prefs(request.prefsFolder);
  hostkit::RunReport report;
  intptr_t data = 0;
  int16_t result;
  {
    hostkit::ScriptingHost::Activation active(scripting);
    result = hostkit::RunFilter(gModule.entry, image, run, &data, &report);
  }
  hostkit::ReleasePluginData(&data);
  if (result == userCanceledErr) return _Outcome(FillStatus::Cancelled);
  if (result != 0)
    return _Outcome(FillStatus::Failed, hostkit::DescribeFailure(result, report.failedSelector));
  return _Outcome(FillStatus::Filled);
}

std::string FilterModulePath(std::string* error) {
  std::lock_guard<std::mutex> lock(gRunLock);
  _LoadModuleLocked();
  *error = gModule.error;
  return gModule.entry ? gModule.path : std::string();
}

}  // namespace areafill_py
