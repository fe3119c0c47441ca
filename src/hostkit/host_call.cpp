// The one host call: settings to the module, scripting, the run, and its outcome in words.
#include "hostkit/host_call.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>

#include "hostkit/float_samples.h"
#include "hostkit/scripting_host.h"
#include "hostkit/status_text.h"
#include "platform/files.h"
#include "platform/host_settings.h"

namespace hostkit {

namespace {

// The module's platform layer (its Preferences folder, scratch file names, dialog backend) is
// one per process, so one run at a time per process.
std::mutex gRunLock;
thread_local bool tInRun = false;

// Marks this thread as running a fill for the length of a scope.
struct _RunMark {
  _RunMark() { tInRun = true; }
  ~_RunMark() { tInRun = false; }
};

// A whole non-negative number, or -1.
long long _Count(const char* text) {
  if (!text || !*text) return -1;
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(text, &end, 10);
  return (*end != 0 || errno != 0 || value < 0) ? -1 : value;
}

HostCallOutcome _Failed(std::string message) {
  HostCallOutcome outcome;
  outcome.status = HostCallStatus::kFailed;
  outcome.message = std::move(message);
  return outcome;
}

// A float image run through the 16-bit mode (float_samples.h); the host's masking is done here,
// in floats, against the original samples.
void _RunFloats(PluginEntryProc entry, HostImage& image, const RunOptions& options, intptr_t* data,
                RunReport* report, const RunOverrides& overrides) {
  Rect area = options.filterRect;
  if (area.bottom <= area.top || area.right <= area.left)
    area = Rect{0, 0, int16_t(image.height), int16_t(image.width)};
  const double scale = FloatScale(image, area);
  HostImage sixteen = FloatToSixteen(image, scale);
  RunOverrides unmasked = overrides;
  unmasked.applyMask = false;
  report->result = RunFilter(entry, sixteen, options, data, report, &unmasked);
  if (report->result != 0) return;
  HostImage result = SixteenToFloat(sixteen, image, area, scale);
  if (options.applyMask && !options.mask.empty()) ApplyHostMask(image, options.mask, area, &result);
  image = std::move(result);
}

// Collects the module's notices of files it could not make, write or store back.
struct _Notices {
  std::vector<std::pair<std::string, int16_t>> files;
  static void Take(void* context, const char* name, int32_t status) {
    static_cast<_Notices*>(context)->files.emplace_back(name ? name : "", int16_t(status));
  }
};

// One line for a file the module could not make, write or store back.
std::string _Warning(const std::string& folder, const std::string& name, int16_t status) {
  const std::string why = StatusName(status) + " (" + std::to_string(status) + ")";
  if (name == "ZELKpref")
    return "cannot store the preferences in " + folder + " (" + why +
           "); this run's method is not remembered";
  if (name == "SelectionImage")
    return "the selection could not be kept in a scratch file in " + folder + " (" + why +
           "), so the filter filled its whole area (the selection's bounding box) from the "
           "area's frame";
  return "scratch file " + name + " in " + folder + ": " + why + "; the result may be wrong";
}

// The filter's scratch files that a killed run left in `folder`: those of its names that no
// process holds (a live run keeps each locked from the moment it is made) are removed.
void _RemoveLeftScratchFiles(const std::string& folder) {
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return;
  for (const char* name : {"BackingStore", "AlphaImage", "SelectionImage", "TempImage"}) {
    const int fd = ::openat(dir, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
        ::flock(fd, LOCK_EX | LOCK_NB) == 0)
      ::unlinkat(dir, name, 0);
    ::close(fd);
  }
  ::close(dir);
}

}  // namespace

std::string ChoosePreferencesFolder(const std::string& requested, std::string* error) {
  const std::string folder = requested.empty() ? PlatformDefaultPreferencesFolder() : requested;
  if (folder.empty()) {
    *error = "no preferences folder: HOME and XDG_CONFIG_HOME are not set; pass --prefs DIR";
    return "";
  }
  if (const std::string problem = PlatformCheckPreferencesFolder(folder); !problem.empty()) {
    const bool others = problem.find("written by others") != std::string::npos;
    const bool owner = problem.find("another user") != std::string::npos;
    *error = "preferences folder " + folder + " " + problem +
             (others  ? "; make it private (chmod 700 it) or choose another"
              : owner ? "; choose a folder of your own"
                      : "");
    return "";
  }
  return folder;
}

HostSettings HostSettingsFromEnvironment() {
  HostSettings settings;
  if (const long long threads = _Count(std::getenv("AREAFILL_THREADS")); threads >= 1)
    settings.threads = threads > 64 ? 64 : int32_t(threads);
  if (const char* engine = std::getenv("AREAFILL_MEMBRANE"))
    settings.referenceMembrane = std::string(engine) == "reference";
  settings.scratchMemoryLimit = _Count(std::getenv("AREAFILL_TEMP_MEMORY"));
  settings.imageMemoryLimit = _Count(std::getenv("AREAFILL_IMAGE_MEMORY"));
  return settings;
}

HostCallOutcome RunHostCall(HostImage& image, const HostCall& call) {
  if (tInRun) return _Failed("a fill cannot start while another fill runs on the same thread");

  ScriptingHost scripting;
  const int16_t playInfo = call.choice.showDialog ? plugInDialogDisplay : plugInDialogDontDisplay;
  Descriptor play;
  if (call.choice.method) {
    play.Put(FillMethodDescriptorItem(*call.choice.method));
  } else if (call.choice.replay) {
    play = *call.choice.replay;
  }
  if (call.choice.method || call.choice.replay) {
    if (!scripting.SetPlay(play, playInfo)) return _Failed("out of memory");
  } else {
    scripting.descriptorParameters()->playInfo = playInfo;
  }
  const RunOptions& run = call.run;
  const RunOverrides suites{scripting.descriptorParameters(), scripting.handleProcs()};

  const HostSettings& s = call.settings;
  std::string error;
  const std::string folder = ChoosePreferencesFolder(s.preferencesFolder, &error);
  if (folder.empty()) return _Failed(error);
  _Notices notices;
  const AreaFillHostServices services{
      AREAFILL_HOST_SERVICES_VERSION,
      folder.c_str(),
      s.dialog,
      s.dialogHost,
      s.scratchMemoryLimit,
      s.threads,
      s.referenceMembrane ? kAreaFillMembraneReference : kAreaFillMembraneFast,
      &_Notices::Take,
      &notices};

  std::lock_guard<std::mutex> lock(gRunLock);
  _RunMark mark;
  _RemoveLeftScratchFiles(folder);
  if (call.module->setHostServices) call.module->setHostServices(&services);
  RunReport report;
  intptr_t data = 0;
  try {
    ScriptingHost::Activation active(scripting);
    if (call.fillFloats && image.depth == 32) {
      _RunFloats(call.module->entry, image, run, &data, &report, suites);
    } else {
      report.result = RunFilter(call.module->entry, image, run, &data, &report, &suites);
    }
  } catch (const std::bad_alloc&) {  // the host's copies of the image; the image is unchanged
    report.result = memFullErr;
    report.hostFailure = "out of memory";
  } catch (const PixelRowsError& failure) {
    report.result = ioErr;
    report.hostFailure = failure.what();
  }
  ReleasePluginData(&data);

  HostCallOutcome outcome;
  outcome.result = report.result;
  if (report.result == userCanceledErr) {
    outcome.status = HostCallStatus::kCancelled;
  } else if (report.result != 0) {
    outcome.status = HostCallStatus::kFailed;
    outcome.message = report.hostFailure.empty()
                          ? DescribeFailure(report.result, report.failedSelector)
                          : report.hostFailure;
  }
  if (outcome.status == HostCallStatus::kFilled)
    for (const auto& [name, status] : notices.files)
      outcome.warnings.push_back(_Warning(folder, name, status));
  outcome.recorded = scripting.TakeRecorded(&outcome.recording);
  if (outcome.recorded) outcome.ran = RecordedMethod(outcome.recording);
  return outcome;
}

}  // namespace hostkit
