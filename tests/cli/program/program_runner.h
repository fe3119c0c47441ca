// Runs the built areafill program as a child process for the tests: in its own session with no
// terminal (so no dialog can wait for a key), stdin from /dev/null, HOME and the configuration
// folder pointed into the test's folder, or on a pseudo-terminal for the dialog's tests.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "image_files.h"

using Environment = std::vector<std::pair<std::string, std::string>>;

struct ProgramResult {
  int exitCode = -1;  // -1 when the program did not exit normally
  int signal = 0;     // the signal that ended it, or 0
  std::string out;    // stdout (on a terminal: everything it wrote there)
  std::string err;    // stderr
};

// A program started and not yet waited for; its stdout and stderr go to files in `folder`.
class ChildProgram {
 public:
  ChildProgram(const std::vector<std::string>& args, const Environment& env,
               const std::string& folder);
  ~ChildProgram();
  // True once stderr holds `text`; false when `seconds` pass or the child ends first.
  bool WaitForError(const std::string& text, double seconds);
  void Signal(int signal);
  // Waits up to `seconds` for the end (then kills it and reports signal 9).
  ProgramResult Wait(double seconds);

 private:
  pid_t pid_ = -1;
  std::string outPath_, errPath_;
};

// The fixture: a temporary folder per test and the program run inside it.
class ProgramTest : public TempFolderTest {
 protected:
  void SetUp() override;
  // Runs areafill with `args`, adding --prefs <folder>/prefs unless `args` name a --prefs.
  ProgramResult Run(std::vector<std::string> args, const Environment& env = {});
  // Runs areafill through the stand-in module, which logs to PathOf("probe.log") and answers
  // as `out` says (see probe_module.cpp).
  ProgramResult RunProbe(std::vector<std::string> args, const std::string& out = "");
  // The arguments Run passes, with the program first.
  std::vector<std::string> Command(std::vector<std::string> args) const;
  // The environment every child gets: this process's, less anything that could point the
  // program at the user's folders, plus `extra`.
  Environment ChildEnvironment(const Environment& extra) const;

  std::string PrefsPath() const { return PathOf("prefs"); }
};

// A run on a pseudo-terminal: `talk` gets the output so far and a function that types keys; it
// returns true once it has nothing more to type. Everything the program wrote ends up in `out`.
using TerminalTalk = std::function<bool(const std::string& screen,
                                        const std::function<void(const std::string&)>& type)>;
ProgramResult RunOnTerminal(const std::vector<std::string>& args, const Environment& env,
                            const TerminalTalk& talk, double seconds);

// The log the stand-in module wrote: "key value..." lines.
struct ProbeLog {
  std::vector<std::pair<std::string, std::string>> lines;
  std::string Get(const std::string& key) const;
  std::vector<uint8_t> Bytes(const std::string& key) const;  // a hex line as bytes
};
ProbeLog ReadProbeLog(const std::string& path);
