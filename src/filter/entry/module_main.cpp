// The module's exported entry point. Only the shared module carries the symbol `main`, so the
// static filter library can be linked into programs that have their own main().
#include "filter/entry/entry.h"

extern "C" __attribute__((visibility("default"))) void AreaFillModuleMain(
    int16_t selector, FilterRecord* filterRecord, intptr_t* data, int16_t* result) __asm__("main");

extern "C" void AreaFillModuleMain(int16_t selector, FilterRecord* filterRecord, intptr_t* data,
                                   int16_t* result) {
  AreaFillMain(selector, filterRecord, data, result);
}
