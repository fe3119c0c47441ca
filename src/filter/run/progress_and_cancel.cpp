// Progress and cancel through the host's callbacks, for the fill engine.
#include "filter/run/progress_and_cancel.h"

void DoProgress(RunRecord* record, int32_t done, int32_t total) {
  FilterRecord* host = record->host;
  if (host && host->progressProc) host->progressProc(total + 4 * done, 6 * total);
}

uint8_t CommandPeriod(RunRecord* record) {
  FilterRecord* host = record->host;
  if (!host || !host->abortProc) return 0;
  return uint8_t(host->abortProc());
}
