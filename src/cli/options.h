// The program's command line: its options, their parsing (CLI11) and the checks that need no
// file, so that a mistake is reported before anything is read.
#pragma once

#include <optional>
#include <string>

namespace areafill_cli {

// Exit statuses, as --help and the README state them.
enum ExitCode { kExitOk = 0, kExitBadInput = 1, kExitFilterFailed = 3, kExitCancelled = 130 };

struct Options {
  std::string input;
  std::string output;
  std::string mask;
  std::string method;
  std::string fg = "#000000";
  std::string bg = "#ffffff";
  bool raw = false;
  int quality = 95;           // of a JPEG written from a non-JPEG input
  bool qualityAsked = false;  // --quality was given
  std::string prefs;
  bool quiet = false;
  bool dialog = false;
  std::string record;
  std::string replay;
  std::string plugin;
  // 32-bit float images: "fill" hands them to the filter on its 16-bit scale (values above 1
  // kept), "pass" hands them over as they are, which the filter writes back unfilled.
  std::string floats = "fill";
  // "displayed": the mask covers INPUT as its orientation tag shows it; "stored": as stored.
  std::string maskOrientation = "displayed";
  int page = 1;  // the TIFF page to fill, from 1
};

// Parses the command line into *options. Returns nothing when the program is to run, or the
// exit status when it is done already: after --help, --version or --list-methods (printed on
// stdout), or after a usage error (one line on stderr).
std::optional<int> ParseCommandLine(int argc, char** argv, Options* options);

}  // namespace areafill_cli
