// A stand-in filter module for the program's tests: its start selector fails with the status
// that $AREAFILL_PROBE_STATUS holds, so that the program's report of a failing filter is seen.
#include <cstdlib>

#include "filter/host/filter_record.h"

extern "C" __attribute__((visibility("default"))) void ProbeModuleMain(
    int16_t selector, FilterRecord* record, intptr_t* data, int16_t* result) __asm__("main");

extern "C" void ProbeModuleMain(int16_t selector, FilterRecord*, intptr_t*, int16_t* result) {
  const char* status = std::getenv("AREAFILL_PROBE_STATUS");
  *result = int16_t(selector == filterSelectorStart && status ? std::atoi(status) : noErr);
}
