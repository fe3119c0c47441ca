// Ctrl-C, SIGTERM and SIGHUP for the program: the first asks the run to stop (the filter polls
// Interrupted() through abortProc, and no output is put in place after it); a second ends the
// program at once, removing the temporary files of the outputs it was writing.
#pragma once

namespace areafill_cli {

// Installs the handlers (and ignores SIGXFSZ, so that a file-size limit is a write error).
// Exit status after a signal: 130.
void CatchInterrupts();

// True once a signal came.
bool Interrupted();

// Registers the temporary file `path` (its characters must stay where they are until it is
// unregistered) in slot 0 or 1, for the handler to unlink on a second signal; null unregisters.
void RemoveOnSecondInterrupt(int slot, const char* path);

// Holds the signals back for its lifetime (while outputs are put in place), so that a run never
// ends between two renames; a signal that came meanwhile is handled when it ends.
class HeldInterrupts {
 public:
  HeldInterrupts();
  ~HeldInterrupts();
  HeldInterrupts(const HeldInterrupts&) = delete;
  HeldInterrupts& operator=(const HeldInterrupts&) = delete;

 private:
  unsigned long saved_[16];
};

}  // namespace areafill_cli
