// The two services through which the fill engine talks to the host during a run: progress
// reports and the cancel test, both through the host block that the run record points at.
#pragma once

#include "filter/run/run_record.h"

// Reports a fill stage's progress: done of total moves the host's bar from 1/6 to 5/6 (the
// host is told total + 4 × done of 6 × total). Nothing happens without a host or progressProc.
void DoProgress(RunRecord* record, int32_t done, int32_t total);

// Non-zero when the user asked to cancel: the low byte of the host's abort test. 0 without a
// host or abortProc.
uint8_t CommandPeriod(RunRecord* record);
