// areafill: the command-line host. It loads the filter module, hands it an image file and a
// selection, shows progress, lets Ctrl-C cancel, and writes the filled image.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/progress.h"
#include "hostkit/descriptor.h"
#include "hostkit/descriptor_json.h"
#include "hostkit/fill_methods.h"
#include "hostkit/filter_host.h"
#include "hostkit/host_rules.h"
#include "hostkit/module_loader.h"
#include "hostkit/status_text.h"
#include "imagefile/host_conversion.h"
#include "imagefile/image_io.h"
#include "imagefile/staged_file.h"

#ifndef AREAFILL_VERSION
#define AREAFILL_VERSION "0.0.0"
#endif
#ifndef AREAFILL_INSTALLED_MODULE_DIR
#define AREAFILL_INSTALLED_MODULE_DIR "../lib/areafill"
#endif

namespace {

namespace fs = std::filesystem;
using imagefile::FileImage;

enum ExitCode { kExitOk = 0, kExitBadInput = 1, kExitFilterFailed = 3, kExitCancelled = 130 };

std::atomic<bool> gInterrupted{false};

extern "C" void OnInterrupt(int) { gInterrupted.store(true); }

// From here on Ctrl-C (or SIGTERM) asks the filter to stop, through abortProc. The handler is
// reset after the first signal, so a second Ctrl-C ends a program that does not stop at once.
void CatchInterrupts() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  action.sa_flags = SA_RESETHAND | SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

struct Options {
  std::string input;
  std::string output;
  std::string mask;
  std::string method;
  std::string fg = "#000000";
  std::string bg = "#ffffff";
  bool raw = false;
  std::string prefs;
  bool quiet = false;
  bool dialog = false;
  std::string record;
  std::string replay;
  std::string plugin;
};

// A failure that ends the program with a one-line message.
struct Failure {
  int code;
  std::string message;
};

bool ParseColour(const std::string& text, std::array<uint8_t, 3>* rgb) {
  if (text.size() != 7 || text[0] != '#') return false;
  for (int i = 0; i < 3; ++i) {
    unsigned value = 0;
    for (int k = 1 + 2 * i; k < 3 + 2 * i; ++k) {
      char c = text[size_t(k)];
      int digit = std::isdigit(uint8_t(c)) ? c - '0'
                  : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                  : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                           : -1;
      if (digit < 0) return false;
      value = value * 16 + unsigned(digit);
    }
    (*rgb)[size_t(i)] = uint8_t(value);
  }
  return true;
}

// The module beside the program: where `cmake --install` puts it, or in the build tree's lib.
std::string DefaultPluginPath() {
  const std::string dir = hostkit::ProgramFolder();
  return hostkit::FirstExistingPath(
      {dir + "/" AREAFILL_INSTALLED_MODULE_DIR "/" + hostkit::kFilterModuleName,
       dir + "/../lib/" + hostkit::kFilterModuleName});
}

bool ReadTextFile(const std::string& path, std::string* text) {
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
bool CanCreate(const std::string& path, std::string* error) {
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

// A text file written beside its destination (imagefile::StagedFile) and put in place later
// (Commit), so that a run that fails after writing it leaves the destination as it was.
// Removed unless committed.
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

// One line per method: name, choice and label.
void PrintMethods(std::FILE* out) {
  for (const hostkit::FillMethod& method : hostkit::FillMethods())
    std::fprintf(out, "%-11s %d  %s\n", method.name, method.choice, method.label);
}

bool Interactive() { return ::isatty(STDIN_FILENO) && ::isatty(STDERR_FILENO); }

// Sets up scripting for the run: the method or the replayed action, and whether the dialog
// shows. Returns a failure for an unreadable action file.
std::optional<Failure> PrepareScripting(const Options& options, hostkit::ScriptingHost* scripting) {
  hostkit::Descriptor play;
  bool haveDescriptor = false;
  if (!options.method.empty()) {
    play.Put(hostkit::FillMethodDescriptorItem(*hostkit::FillMethodByName(options.method)));
    haveDescriptor = true;
  } else if (!options.replay.empty()) {
    std::string json, message;
    if (!ReadTextFile(options.replay, &json))
      return Failure{kExitBadInput, options.replay + ": cannot read the recorded action"};
    if (!hostkit::DescriptorFromJson(json, &play, &message))
      return Failure{kExitBadInput, options.replay + ": " + message};
    haveDescriptor = true;
  }
  bool showDialog = options.dialog || (!haveDescriptor && Interactive());
  int16_t playInfo = showDialog ? plugInDialogDisplay : plugInDialogDontDisplay;
  // The module sees only its environment: it shows its dialog on the terminal when asked.
  ::setenv("AREAFILL_DIALOG", showDialog ? "terminal" : "none", 1);
  if (haveDescriptor) {
    if (!scripting->SetPlay(play, playInfo)) return Failure{kExitFilterFailed, "out of memory"};
  } else {
    scripting->descriptorParameters()->playInfo = playInfo;
  }
  return std::nullopt;
}

int Run(const Options& options) {
  CatchInterrupts();
  // Everything that can be checked before the filter runs is checked first.
  std::array<uint8_t, 3> foreground{}, background{};
  if (!ParseColour(options.fg, &foreground))
    throw Failure{kExitBadInput, "--fg: expected a colour like #1a2b3c, got '" + options.fg + "'"};
  if (!ParseColour(options.bg, &background))
    throw Failure{kExitBadInput, "--bg: expected a colour like #1a2b3c, got '" + options.bg + "'"};
  if (!options.method.empty() && !hostkit::FillMethodByName(options.method))
    throw Failure{kExitBadInput,
                  "--method: unknown method '" + options.method + "' (see --list-methods)"};

  std::string error;
  FileImage file;
  if (!imagefile::ReadImage(options.input, &file, &error)) throw Failure{kExitBadInput, error};
  if (!imagefile::CanWrite(file, options.output, &error)) throw Failure{kExitBadInput, error};
  if (!options.record.empty() && !CanCreate(options.record, &error))
    throw Failure{kExitBadInput, error};

  hostkit::RunOptions run;
  run.foreground = foreground;
  run.background = background;
  if (!options.mask.empty()) {
    std::vector<uint8_t> mask;
    if (!imagefile::ReadMask(options.mask, file.width, file.height, &mask, &error))
      throw Failure{kExitBadInput, error};
    if (!hostkit::SelectArea(&run, std::move(mask), file.width, file.height, options.raw))
      throw Failure{kExitBadInput, options.mask + ": selection is empty"};
  }

  hostkit::HostImage image;
  if (!imagefile::ToHostImage(file, &image, &error)) throw Failure{kExitBadInput, error};

  hostkit::ScriptingHost scripting;
  if (auto failure = PrepareScripting(options, &scripting)) throw *failure;
  run.descriptorParameters = scripting.descriptorParameters();
  run.handleProcs = scripting.handleProcs();

  if (!options.prefs.empty()) {
    std::error_code ec;
    fs::create_directories(options.prefs, ec);
    if (!fs::is_directory(options.prefs, ec))
      throw Failure{kExitBadInput, "--prefs: " + options.prefs + " is not a folder"};
    ::setenv("AREAFILL_PREFS_DIR", options.prefs.c_str(), 1);
  }

  PluginEntryProc entry = hostkit::LoadFilterModule(
      options.plugin.empty() ? DefaultPluginPath() : options.plugin, &error);
  if (!entry) throw Failure{kExitFilterFailed, error};

  areafill_cli::ProgressDisplay progress(options.quiet ? areafill_cli::ProgressStyle::None
                                         : ::isatty(STDERR_FILENO)
                                             ? areafill_cli::ProgressStyle::Bar
                                             : areafill_cli::ProgressStyle::Lines);
  run.progress = [&progress](int32_t done, int32_t total) { progress.Update(done, total); };
  run.abort = [] { return gInterrupted.load(); };
  if (gInterrupted.load()) throw Failure{kExitCancelled, "cancelled"};

  hostkit::RunReport report;
  intptr_t data = 0;
  int16_t result;
  {
    hostkit::ScriptingHost::Activation active(scripting);
    result = hostkit::RunFilter(entry, image, run, &data, &report);
  }
  hostkit::ReleasePluginData(&data);
  progress.Finish(result == 0);

  if (result == userCanceledErr || gInterrupted.load()) throw Failure{kExitCancelled, "cancelled"};
  if (result != 0)
    throw Failure{kExitFilterFailed, hostkit::DescribeFailure(result, report.failedSelector)};

  hostkit::Descriptor recorded;
  bool haveRecord = scripting.TakeRecorded(&recorded);

  // The recorded action is written first and put in place after OUTPUT, so that a failure
  // of either leaves neither.
  StagedTextFile record;
  if (!options.record.empty()) {
    std::string json;
    if (!haveRecord) throw Failure{kExitFilterFailed, "the filter recorded no action"};
    if (!hostkit::DescriptorToJson(recorded, &json, &error))
      throw Failure{kExitFilterFailed, options.record + ": " + error};
    if (!record.Write(options.record, json, &error)) throw Failure{kExitBadInput, error};
  }

  FileImage result_file;
  if (!imagefile::FromHostImage(image, file, &result_file, &error))
    throw Failure{kExitFilterFailed, error};
  if (gInterrupted.load()) throw Failure{kExitCancelled, "cancelled"};
  if (!imagefile::WriteImage(options.output, result_file, &error))
    throw Failure{kExitBadInput, error};
  if (!options.record.empty() && !record.Commit(&error)) throw Failure{kExitBadInput, error};
  if (!options.quiet) {
    // The filter fills 8- and 16-bit images; 32-bit ones go back as they came.
    std::string ran = image.depth == 32 ? "no fill (32-bit images are written back as they are)"
                      : haveRecord      ? hostkit::DescribeRecordedMethod(recorded)
                                        : "filled";
    std::fprintf(stderr, "areafill: %s; wrote %s\n", ran.c_str(), options.output.c_str());
  }
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  CLI::App app{"areafill: fill the selected area of an image from the pixels around it.\n"};
  app.set_version_flag("--version", std::string("areafill ") + AREAFILL_VERSION);
  bool listMethods = false;
  app.add_flag("--list-methods", listMethods, "List the fill methods and exit");
  app.add_option("INPUT", options.input, "Image to fill (PNG or TIFF)")->type_name("FILE");
  app.add_option("-o,--output", options.output,
                 "Where to write the result; .png, .tif or .tiff picks the format")
      ->type_name("FILE");
  app.add_option("--mask", options.mask,
                 "Selection: 8- or 16-bit grey PNG/TIFF the size of INPUT (white = selected). "
                 "Without it the whole image is filled from its outer ring")
      ->type_name("FILE");
  app.add_option("--method", options.method, "Fill method (skips the dialog); see --list-methods")
      ->type_name("NAME");
  app.add_option("--fg", options.fg, "Foreground colour (default #000000)")->type_name("#rrggbb");
  app.add_option("--bg", options.bg, "Background colour (default #ffffff)")->type_name("#rrggbb");
  app.add_flag("--raw", options.raw,
               "Write the filter's rows as they are, without masking by MASK");
  app.add_option("--prefs", options.prefs,
                 "Preferences folder (preferences file and scratch files)")
      ->type_name("DIR");
  app.add_flag("-q,--quiet", options.quiet, "No progress and no summary");
  app.add_flag("--dialog", options.dialog,
               "Show the choice dialog even when replaying or not on a terminal");
  app.add_option("--record", options.record, "Write the recorded action (JSON) to FILE")
      ->type_name("FILE");
  app.add_option("--replay", options.replay, "Replay a recorded action (JSON) from FILE")
      ->type_name("FILE");
  app.add_option("--plugin", options.plugin, "Filter module to load instead of the built-in one")
      ->type_name("PATH");
  app.footer(
      "Examples:\n"
      "  areafill photo.png --mask hole.png -o filled.png\n"
      "  areafill scan.tif --mask dust.png --method mean --quiet -o cleaned.tif\n\n"
      "Without --method or --replay the choice dialog appears on a terminal; elsewhere the\n"
      "method of the last run (remembered in the preferences folder) is used.\n"
      "Exit status: 0 done, 1 bad usage or input, 3 the filter failed, 130 cancelled.");

  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "areafill: %s\n", e.what());
    return kExitBadInput;
  }
  if (listMethods) {
    PrintMethods(stdout);
    return kExitOk;
  }
  if (options.input.empty() || options.output.empty()) {
    std::fprintf(
        stderr, "areafill: %s\n",
        options.input.empty() ? "missing INPUT (see --help)" : "missing -o OUTPUT (see --help)");
    return kExitBadInput;
  }
  if (!options.method.empty() && !options.replay.empty()) {
    std::fprintf(stderr, "areafill: --method and --replay cannot be used together\n");
    return kExitBadInput;
  }
  try {
    return Run(options);
  } catch (const Failure& failure) {
    std::fprintf(stderr, "areafill: %s\n", failure.message.c_str());
    return failure.code;
  }
}
