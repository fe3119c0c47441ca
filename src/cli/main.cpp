// areafill: the command-line host. It loads the filter module, hands it an image file and a
// selection, shows progress, lets Ctrl-C cancel, and writes the filled image.
#include "cli/interrupts.h"
#include "cli/options.h"
#include "cli/program.h"

int main(int argc, char** argv) {
  // First of all, so that a signal at any moment of a run ends it cleanly.
  areafill_cli::CatchInterrupts();
  areafill_cli::Options options;
  if (std::optional<int> done = areafill_cli::ParseCommandLine(argc, argv, &options)) return *done;
  return areafill_cli::RunProgram(options);
}
