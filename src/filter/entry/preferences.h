// The shared preferences file "ZELKpref" in the Preferences folder: a 4096-byte block of raw
// values and 48 strings, loaded at the start of the fill step and stored at its end.
#pragma once

#include "filter/run/run_record.h"

constexpr long kPrefsFileBytes = 53248;
constexpr long kPrefsSlotBytes = 1024;
constexpr int32_t kPrefStringBytes = 514;

// Opens "ZELKpref" with read/write permission and reads it into record->prefsBlock and
// record->prefStrings (the block is expected zeroed and the strings null). The file stays open
// and *refNum holds its reference number; it is 0 when the file could not be opened, and the
// record is then left as it was. Write permission is exclusive: another process that wants the
// file waits until StorePreferences closes it. Nothing is reported.
void LoadPreferences(RunRecord* record, int16_t* refNum);

// Writes record->prefsBlock and record->prefStrings to the file opened by LoadPreferences, or,
// when *refNum is 0, to a new "ZELKpref" (any old one is deleted first), then closes it and sets
// *refNum to 0. Every string is released and its entry set to null, also when the file cannot
// be written. A longer existing file keeps its bytes beyond the layout. Nothing is reported.
void StorePreferences(RunRecord* record, int16_t* refNum);
