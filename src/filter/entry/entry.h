// The module's entry point and its selector handlers.
#pragma once

#include "filter/run/run_record.h"

// The entry point. The module exports it as the C symbol `main`; in-process hosts and tests
// call it by this name. The outcome is the code stored through `result`.
extern "C" void AreaFillMain(int16_t selector, FilterRecord* filterRecord, intptr_t* data,
                             int16_t* result);

// Start selector: sets up the run and, when the host offers advance-state, runs it whole.
// Returns 0, -108 when the row buffer cannot be had, -128 when the host withdraws
// advance-state, or the first non-zero code of advanceState or DoContinue.
OSErr DoStart(Globals* globals);

// The run driver: one step of the run per delivery of data.
OSErr DoContinue(Globals* globals);

// Makes the run's 2-byte parameters handle (word 0) and stores it through `handle`.
// Only the third argument is used. Returns 0.
OSErr GetParameters(NamedImage* image, RunRecord* record, Handle* handle, void* settings,
                    uint8_t skipDialog);
