// The program's signal handling, with only async-signal-safe calls in the handler.
#include "cli/interrupts.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>

namespace areafill_cli {

namespace {

std::atomic<bool> gInterrupted{false};
std::atomic<const char*> gTemporary[2] = {nullptr, nullptr};
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void _OnSignal(int) {
  if (!gInterrupted.exchange(true)) return;
  for (auto& temporary : gTemporary)
    if (const char* path = temporary.load()) unlink(path);
  _exit(130);
}

sigset_t _Set() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : kSignals) sigaddset(&set, signal);
  return set;
}

}  // namespace

void CatchInterrupts() {
  struct sigaction action {};
  action.sa_handler = _OnSignal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int signal : kSignals) sigaction(signal, &action, nullptr);
  // A file grown past the size the process may write fails its write (EFBIG) and is reported,
  // instead of ending the program.
  std::signal(SIGXFSZ, SIG_IGN);
}

bool Interrupted() { return gInterrupted.load(); }

void RemoveOnSecondInterrupt(int slot, const char* path) { gTemporary[slot].store(path); }

HeldInterrupts::HeldInterrupts() {
  static_assert(sizeof(saved_) >= sizeof(sigset_t));
  const sigset_t set = _Set();
  sigprocmask(SIG_BLOCK, &set, reinterpret_cast<sigset_t*>(saved_));
}

HeldInterrupts::~HeldInterrupts() {
  sigprocmask(SIG_SETMASK, reinterpret_cast<sigset_t*>(saved_), nullptr);
}

}  // namespace areafill_cli
