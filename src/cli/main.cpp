// areafill: the command-line host. It loads the filter module, hands it an image file and a
// selection, shows progress, lets Ctrl-C cancel, and writes the filled image.
#include "cli/options.h"
#include "cli/program.h"

int main(int argc, char** argv) {
  areafill_cli::Options options;
  if (std::optional<int> done = areafill_cli::ParseCommandLine(argc, argv, &options)) return *done;
  return areafill_cli::RunProgram(options);
}
