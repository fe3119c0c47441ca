// The program's run, from its options to its files.
#include "cli/program.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/progress.h"
#include "hostkit/descriptor_json.h"
#include "hostkit/host_call.h"
#include "hostkit/host_rules.h"
#include "imagefile/host_conversion.h"
#include "imagefile/image_io.h"
#include "imagefile/staged_file.h"

#ifndef AREAFILL_INSTALLED_MODULE_DIR
#define AREAFILL_INSTALLED_MODULE_DIR "../lib/areafill"
#endif

namespace areafill_cli {

namespace {

namespace fs = std::filesystem;

std::atomic<bool> gInterrupted{false};

extern "C" void _OnInterrupt(int) { gInterrupted.store(true); }

// From here on Ctrl-C (or SIGTERM) asks the filter to stop, through abortProc. The handler is
// reset after the first signal, so a second Ctrl-C ends a program that does not stop at once.
void _CatchInterrupts() {
  struct sigaction action {};
  action.sa_handler = _OnInterrupt;
  action.sa_flags = SA_RESETHAND | SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

// A failure that ends the program with a one-line message.
struct Failure {
  int code;
  std::string message;
};

// The module beside the program: where `cmake --install` puts it, or in the build tree's lib.
std::string _DefaultModulePath() {
  const std::string dir = hostkit::ProgramFolder();
  return hostkit::FirstExistingPath(
      {dir + "/" AREAFILL_INSTALLED_MODULE_DIR "/" + hostkit::kFilterModuleName,
       dir + "/../lib/" + hostkit::kFilterModuleName});
}

bool _ReadTextFile(const std::string& path, std::string* text) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) return false;  // a folder opens, but reads as nothing
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  *text = buffer.str();
  return !in.bad();
}

// Says whether a file can be made at `path`: its folder exists and `path` is not a folder.
bool _CanCreate(const std::string& path, std::string* error) {
  std::error_code ec;
  const fs::path target(path);
  if (fs::is_directory(target, ec)) {
    *error = path + ": is a folder, not a file name";
    return false;
  }
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  if (!fs::is_directory(folder, ec)) {
    *error = path + ": the folder " + folder.string() + " does not exist";
    return false;
  }
  return true;
}

// The recorded action, staged beside its destination and put in place later (Commit), so that
// a run that fails after writing it leaves the destination as it was.
class StagedTextFile {
 public:
  bool Write(const std::string& path, const std::string& text, std::string* error) {
    if (file_.Open(path) != 0 || file_.Write(text.data(), text.size()) != 0 ||
        file_.Finish() != 0) {
      *error = path + ": cannot write";
      return false;
    }
    return true;
  }

  bool Commit(std::string* error) {
    if (const int failure = file_.Commit()) {
      *error = file_.path() + ": cannot write (" + std::strerror(failure) + ")";
      return false;
    }
    return true;
  }

 private:
  imagefile::StagedFile file_;
};

// The method, the replayed action or the dialog: how this run's fill is chosen.
hostkit::MethodChoice _Choose(const Options& options, hostkit::Descriptor* replay) {
  hostkit::MethodChoice choice;
  if (!options.method.empty()) {
    choice.method = hostkit::FillMethodByName(options.method);
  } else if (!options.replay.empty()) {
    std::string json, message;
    if (!_ReadTextFile(options.replay, &json))
      throw Failure{kExitBadInput, options.replay + ": cannot read the recorded action"};
    if (!hostkit::DescriptorFromJson(json, replay, &message))
      throw Failure{kExitBadInput, options.replay + ": " + message};
    choice.replay = replay;
  }
  // Without a method or an action, a user at a terminal is asked.
  const bool interactive = ::isatty(STDIN_FILENO) && ::isatty(STDERR_FILENO);
  choice.showDialog = options.dialog || (!choice.method && !choice.replay && interactive);
  return choice;
}

int _Run(const Options& options) {
  _CatchInterrupts();
  // Everything that can be checked before the filter runs is checked first.
  hostkit::HostCall call;
  if (!hostkit::ParseHexColour(options.fg, &call.run.foreground))
    throw Failure{kExitBadInput, "--fg: expected a colour like #1a2b3c, got '" + options.fg + "'"};
  if (!hostkit::ParseHexColour(options.bg, &call.run.background))
    throw Failure{kExitBadInput, "--bg: expected a colour like #1a2b3c, got '" + options.bg + "'"};
  if (!options.method.empty() && !hostkit::FillMethodByName(options.method))
    throw Failure{kExitBadInput,
                  "--method: unknown method '" + options.method + "' (see --list-methods)"};

  std::string error;
  imagefile::FileImage file;
  if (!imagefile::ReadImage(options.input, &file, &error)) throw Failure{kExitBadInput, error};
  if (!imagefile::CanWrite(file, options.output, &error)) throw Failure{kExitBadInput, error};
  if (!options.record.empty() && !_CanCreate(options.record, &error))
    throw Failure{kExitBadInput, error};

  if (!options.mask.empty()) {
    std::vector<uint8_t> mask;
    if (!imagefile::ReadMask(options.mask, file.width, file.height, &mask, &error))
      throw Failure{kExitBadInput, error};
    if (!hostkit::SelectArea(&call.run, std::move(mask), file.width, file.height, options.raw))
      throw Failure{kExitBadInput, options.mask + ": selection is empty"};
  }

  hostkit::HostImage image;
  if (!imagefile::ToHostImage(file, &image, &error)) throw Failure{kExitBadInput, error};

  hostkit::Descriptor replay;
  call.choice = _Choose(options, &replay);
  call.settings = hostkit::HostSettingsFromEnvironment();
  call.settings.dialog = call.choice.showDialog ? kAreaFillDialogTerminal : kAreaFillDialogHeadless;
  call.settings.preferencesFolder = hostkit::ChoosePreferencesFolder(options.prefs, &error);
  if (call.settings.preferencesFolder.empty()) throw Failure{kExitBadInput, error};

  hostkit::FilterModule module;
  if (!hostkit::LoadFilterModule(options.plugin.empty() ? _DefaultModulePath() : options.plugin,
                                 &module, &error))
    throw Failure{kExitFilterFailed, error};
  call.module = &module;

  ProgressDisplay progress(options.quiet             ? ProgressStyle::None
                           : ::isatty(STDERR_FILENO) ? ProgressStyle::Bar
                                                     : ProgressStyle::Lines);
  call.run.progress = [&progress](int32_t done, int32_t total) { progress.Update(done, total); };
  call.run.abort = [] { return gInterrupted.load(); };
  if (gInterrupted.load()) throw Failure{kExitCancelled, "cancelled"};

  const hostkit::HostCallOutcome outcome = hostkit::RunHostCall(image, call);
  progress.Finish(outcome.status == hostkit::HostCallStatus::kFilled);
  if (outcome.status == hostkit::HostCallStatus::kCancelled || gInterrupted.load())
    throw Failure{kExitCancelled, "cancelled"};
  if (outcome.status == hostkit::HostCallStatus::kFailed)
    throw Failure{kExitFilterFailed, outcome.message};
  // Warnings are never silenced: --quiet hides progress and the summary only.
  for (const std::string& warning : outcome.warnings)
    std::fprintf(stderr, "areafill: warning: %s\n", warning.c_str());

  // The recorded action is written first and put in place after OUTPUT, so that a failure
  // of either leaves neither.
  StagedTextFile record;
  if (!options.record.empty()) {
    std::string json;
    if (!outcome.recorded) throw Failure{kExitFilterFailed, "the filter recorded no action"};
    if (!hostkit::DescriptorToJson(outcome.recording, &json, &error))
      throw Failure{kExitFilterFailed, options.record + ": " + error};
    if (!record.Write(options.record, json, &error)) throw Failure{kExitBadInput, error};
  }

  imagefile::FileImage result;
  if (!imagefile::FromHostImage(image, file, &result, &error))
    throw Failure{kExitFilterFailed, error};
  if (gInterrupted.load()) throw Failure{kExitCancelled, "cancelled"};
  if (!imagefile::WriteImage(options.output, result, &error)) throw Failure{kExitBadInput, error};
  if (!options.record.empty() && !record.Commit(&error)) throw Failure{kExitBadInput, error};
  if (!options.quiet) {
    // The filter fills 8- and 16-bit images; 32-bit ones go back as they came.
    const std::string ran = image.depth == 32
                                ? "no fill (32-bit images are written back as they are)"
                            : outcome.recorded ? hostkit::DescribeRecordedMethod(outcome.recording)
                                               : "filled";
    std::fprintf(stderr, "areafill: %s; wrote %s\n", ran.c_str(), options.output.c_str());
  }
  return kExitOk;
}

}  // namespace

int RunProgram(const Options& options) {
  try {
    return _Run(options);
  } catch (const Failure& failure) {
    std::fprintf(stderr, "areafill: %s\n", failure.message.c_str());
    return failure.code;
  }
}

}  // namespace areafill_cli
