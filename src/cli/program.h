// One run of the program: the input and its mask read, the filter run through the host call,
// the result and the recorded action written, and every failure turned into a one-line message
// and an exit status.
#pragma once

#include "cli/options.h"

namespace areafill_cli {

// Runs the program as `options` say. Returns the exit status; a failure has been reported on
// stderr as one line, and nothing was written.
int RunProgram(const Options& options);

}  // namespace areafill_cli
