// The program's run, from its options to its files.
#include "cli/program.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "cli/interrupts.h"
#include "cli/paths.h"
#include "cli/progress.h"
#include "hostkit/descriptor_json.h"
#include "hostkit/host_call.h"
#include "hostkit/host_rules.h"
#include "hostkit/status_text.h"
#include "imagefile/host_conversion.h"
#include "imagefile/image_io.h"
#include "imagefile/jpeg_io.h"
#include "imagefile/staged_file.h"

#ifndef AREAFILL_INSTALLED_MODULE_DIR
#define AREAFILL_INSTALLED_MODULE_DIR "../lib/areafill"
#endif

namespace areafill_cli {

namespace {

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

// Everything about the paths that can be told before a file is read: the outputs can be made,
// and the recorded action would replace none of the images.
void _CheckPaths(const Options& options) {
  if (std::string problem = CheckOutputPath(options.output, "OUTPUT"); !problem.empty())
    throw Failure{kExitBadInput, problem};
  if (options.record.empty()) return;
  if (std::string problem = CheckOutputPath(options.record, "--record"); !problem.empty())
    throw Failure{kExitBadInput, problem};
  const std::pair<const std::string*, const char*> images[] = {
      {&options.input, "INPUT"}, {&options.mask, "--mask"}, {&options.output, "OUTPUT"}};
  for (const auto& [path, what] : images)
    if (!path->empty() && SameFile(options.record, *path))
      throw Failure{kExitBadInput, "--record " + options.record + " is " + what +
                                       " too; the recorded action needs a file of its own"};
}

// The method, the replayed action or the dialog: how this run's fill is chosen.
hostkit::MethodChoice _Choose(const Options& options, hostkit::Descriptor* replay) {
  hostkit::MethodChoice choice;
  if (!options.method.empty()) {
    choice.method = hostkit::FillMethodByName(options.method);
  } else if (!options.replay.empty()) {
    std::string json, message;
    if (!ReadActionFile(options.replay, &json, &message)) throw Failure{kExitBadInput, message};
    if (!hostkit::DescriptorFromJson(json, replay, &message))
      throw Failure{kExitBadInput, options.replay + ": " + message};
    if (std::string problem = hostkit::CheckReplayedChoice(*replay); !problem.empty())
      throw Failure{kExitBadInput, options.replay + ": " + problem};
    choice.replay = replay;
  }
  // Without a method or an action, a user at a terminal is asked.
  const bool interactive = ::isatty(STDIN_FILENO) && ::isatty(STDERR_FILENO);
  choice.showDialog = options.dialog || (!choice.method && !choice.replay && interactive);
  return choice;
}

// The outputs of a run, written beside their destinations and put in place together, after the
// last chance to cancel: all of them, or none.
void _WriteOutputs(const Options& options, const imagefile::FileImage& result,
                   const hostkit::HostCallOutcome& outcome) {
  std::string error;
  imagefile::StagedFile image, record;
  std::vector<imagefile::StagedFile*> staged = {&image};
  if (!options.record.empty()) {
    std::string json;
    if (!outcome.recorded) throw Failure{kExitFilterFailed, "the filter recorded no action"};
    if (!hostkit::DescriptorToJson(outcome.recording, &json, &error))
      throw Failure{kExitFilterFailed, options.record + ": " + error};
    if (record.Open(options.record) != 0)
      throw Failure{kExitBadInput, options.record + ": cannot write"};
    RemoveOnSecondInterrupt(1, record.temporaryPath());
    if (record.Write(json.data(), json.size()) != 0)
      throw Failure{kExitBadInput, options.record + ": cannot write"};
    staged.push_back(&record);
  }
  if (!imagefile::CanWrite(result, options.output, &error)) throw Failure{kExitBadInput, error};
  if (const int failure = image.Open(options.output))
    throw Failure{kExitBadInput,
                  options.output + ": cannot create the file: " + std::strerror(failure)};
  RemoveOnSecondInterrupt(0, image.temporaryPath());  // while it is written, too
  if (!imagefile::StageImage(options.output, result, &image, &error))
    throw Failure{kExitBadInput, error};
  {
    HeldInterrupts held;
    if (Interrupted()) throw Failure{kExitCancelled, "cancelled"};
    const int failure = imagefile::CommitTogether(staged);
    RemoveOnSecondInterrupt(0, nullptr);
    RemoveOnSecondInterrupt(1, nullptr);
    if (failure != 0)
      throw Failure{kExitBadInput, options.output + ": cannot put the output in place (" +
                                       std::strerror(failure) + ")"};
  }
}

int _Run(const Options& options) {
  // Everything that can be checked before the filter runs is checked first.
  hostkit::HostCall call;
  if (!hostkit::ParseHexColour(options.fg, &call.run.foreground))
    throw Failure{kExitBadInput, "--fg: expected a colour like #1a2b3c, got '" + options.fg + "'"};
  if (!hostkit::ParseHexColour(options.bg, &call.run.background))
    throw Failure{kExitBadInput, "--bg: expected a colour like #1a2b3c, got '" + options.bg + "'"};
  if (!options.method.empty() && !hostkit::FillMethodByName(options.method))
    throw Failure{kExitBadInput,
                  "--method: unknown method '" + options.method + "' (see --list-methods)"};
  _CheckPaths(options);
  hostkit::Descriptor replay;
  call.choice = _Choose(options, &replay);

  // The preferences folder also takes the rows of images too large for the memory the run may
  // give them (AREAFILL_IMAGE_MEMORY, else a share of the machine's and the process's limits).
  std::string error;
  call.settings = hostkit::HostSettingsFromEnvironment();
  call.settings.preferencesFolder = hostkit::ChoosePreferencesFolder(options.prefs, &error);
  if (call.settings.preferencesFolder.empty()) throw Failure{kExitBadInput, error};
  hostkit::SetPixelRowsSpill(call.settings.preferencesFolder,
                             call.settings.imageMemoryLimit >= 0
                                 ? call.settings.imageMemoryLimit
                                 : hostkit::DefaultPixelRowsBudget());

  imagefile::FileImage file;
  if (!imagefile::ReadImage(options.input, &file, &error, options.page - 1))
    throw Failure{kExitBadInput, error};
  if (!imagefile::CanWrite(file, options.output, &error)) throw Failure{kExitBadInput, error};
  std::vector<std::string> notices;  // what reading changed, shown as warnings at the end
  for (const std::string& notice : file.notices) notices.push_back(options.input + ": " + notice);
  if (!options.mask.empty()) {
    std::vector<uint8_t> mask;
    if (!imagefile::ReadMask(options.mask, file.width, file.height, &mask, &error, &notices,
                             file.metadata.orientation, options.maskOrientation == "stored"))
      throw Failure{kExitBadInput, error};
    if (!hostkit::SelectArea(&call.run, std::move(mask), file.width, file.height, options.raw))
      throw Failure{kExitBadInput, options.mask + ": selection is empty"};
  }
  hostkit::HostImage image;
  if (!imagefile::ToHostImage(file, &image, &error)) throw Failure{kExitFilterFailed, error};

  call.fillFloats = options.floats != "pass";
  call.settings.dialog = call.choice.showDialog ? kAreaFillDialogTerminal : kAreaFillDialogHeadless;

  hostkit::FilterModule module;
  if (!hostkit::LoadFilterModule(options.plugin.empty() ? _DefaultModulePath() : options.plugin,
                                 &module, &error))
    throw Failure{kExitFilterFailed, error};
  call.module = &module;

  ProgressDisplay progress(options.quiet             ? ProgressStyle::None
                           : ::isatty(STDERR_FILENO) ? ProgressStyle::Bar
                                                     : ProgressStyle::Lines);
  call.run.progress = [&progress](int32_t done, int32_t total) { progress.Update(done, total); };
  call.run.abort = [] { return Interrupted(); };
  if (Interrupted()) throw Failure{kExitCancelled, "cancelled"};

  const hostkit::HostCallOutcome outcome = hostkit::RunHostCall(image, call);
  progress.Finish(outcome.status == hostkit::HostCallStatus::kFilled);
  if (outcome.status == hostkit::HostCallStatus::kCancelled || Interrupted())
    throw Failure{kExitCancelled, "cancelled"};
  if (outcome.status == hostkit::HostCallStatus::kFailed)
    throw Failure{kExitFilterFailed, outcome.message};

  imagefile::FileImage result;
  if (!imagefile::FromHostImage(image, file, &result, &error))
    throw Failure{kExitFilterFailed, error};
  result.jpegQuality = options.quality;
  _WriteOutputs(options, result, outcome);
  // Warnings are never silenced: --quiet hides progress and the summary only.
  std::vector<std::string> warnings = notices;
  for (const std::string& left : imagefile::LeftOutOf(result, options.output))
    warnings.push_back(options.output + ": " + left);
  for (const std::string& lossy :
       imagefile::JpegWriteWarnings(result, options.output, options.qualityAsked))
    warnings.push_back(lossy);
  warnings.insert(warnings.end(), outcome.warnings.begin(), outcome.warnings.end());
  // The filter itself leaves 32-bit images as they came; only the float rule fills them.
  const bool unfilled = image.depth == 32 && !call.fillFloats;
  if (unfilled) warnings.push_back("32-bit float image written back unfilled (--float pass)");
  for (const std::string& warning : warnings)
    std::fprintf(stderr, "areafill: warning: %s\n", hostkit::OneLine(warning).c_str());
  if (!options.quiet) {
    const std::string ran = unfilled           ? "no fill"
                            : outcome.recorded ? hostkit::DescribeRecordedMethod(outcome.recording)
                                               : "filled";
    std::fprintf(stderr, "areafill: %s; wrote %s\n", ran.c_str(),
                 hostkit::OneLine(options.output).c_str());
  }
  return kExitOk;
}

}  // namespace

int RunProgram(const Options& options) {
  try {
    return _Run(options);
  } catch (const Failure& failure) {
    std::fprintf(stderr, "areafill: %s\n", hostkit::OneLine(failure.message).c_str());
    return failure.code;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "areafill: out of memory\n");
    return kExitFilterFailed;
  } catch (const hostkit::PixelRowsError& failure) {
    std::fprintf(stderr, "areafill: %s\n", hostkit::OneLine(failure.what()).c_str());
    return kExitFilterFailed;
  }
}

}  // namespace areafill_cli
