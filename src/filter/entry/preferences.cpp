// The shared preferences file. Layout, 53,248 bytes: prefsBlock bytes 0-1023, then 48 slots of
// 1024 bytes each holding one string from the slot's first byte, then prefsBlock bytes
// 1024-4095. No failure of this file is reported or stops a run.
#include "filter/entry/preferences.h"

#include <cstring>

#include "filter/util/strings.h"
#include "platform/files.h"

namespace {

const unsigned char kPrefsFileName[] =
    "\x08"
    "ZELKpref";
constexpr OSType kPrefsCreator = FourCC("CREA");
constexpr OSType kPrefsType = FourCC("TYPE");

constexpr long kBlockHeadBytes = 1024;
constexpr long kBlockTailBytes = kPrefsBlockBytes - kBlockHeadBytes;

bool _FindPrefsFolder(int16_t* vRefNum, long* dirID) {
  return FindFolder(kOnSystemDisk, kPreferencesFolderType, kDontCreateFolder, vRefNum, dirID) ==
         noErr;
}

// Reads slot `slot` into record->prefStrings[slot]. A slot that cannot be positioned or read in
// whole, or that holds an empty string, leaves its entry as it was. A slot string longer than a
// string buffer is cut as DuplicateCString cuts it: its first 513 characters are kept.
void _LoadSlot(RunRecord* record, int16_t refNum, int slot) {
  if (SetFPos(refNum, fsFromStart, kPrefsSlotBytes * (slot + 1)) != noErr) return;
  char buffer[kPrefsSlotBytes] = {};
  long count = kPrefsSlotBytes;
  if (FSRead(refNum, &count, buffer) != noErr || buffer[0] == 0) return;
  DisposeCString(record->prefStrings[slot]);
  record->prefStrings[slot] = AllocateCString(kPrefStringBytes);
  DuplicateCString(buffer, record->prefStrings[slot], kPrefStringBytes);
}

// Opens a fresh file in place of any old one: delete, create, open.
int16_t _CreatePrefsFile() {
  int16_t vRefNum = 0;
  long dirID = 0;
  if (!_FindPrefsFolder(&vRefNum, &dirID)) return 0;
  HDelete(vRefNum, dirID, kPrefsFileName);
  HCreate(vRefNum, dirID, kPrefsFileName, kPrefsCreator, kPrefsType);
  int16_t refNum = 0;
  if (HOpenDF(vRefNum, dirID, kPrefsFileName, fsRdWrPerm, &refNum) != noErr) return 0;
  return refNum;
}

void _ReleaseStrings(RunRecord* record) {
  for (int i = 0; i < kPrefStringCount; ++i) {
    DisposeCString(record->prefStrings[i]);
    record->prefStrings[i] = nullptr;
  }
}

}  // namespace

void LoadPreferences(RunRecord* record, int16_t* refNum) {
  *refNum = 0;
  int16_t vRefNum = 0;
  long dirID = 0;
  if (!_FindPrefsFolder(&vRefNum, &dirID)) return;
  if (HOpenDF(vRefNum, dirID, kPrefsFileName, fsRdWrPerm, refNum) != noErr) {
    *refNum = 0;
    return;
  }
  long count = kBlockHeadBytes;
  FSRead(*refNum, &count, record->prefsBlock);
  if (count == kBlockHeadBytes)
    for (int slot = 0; slot < kPrefStringCount; ++slot) _LoadSlot(record, *refNum, slot);
  // From the current mark: byte 50,176 after a whole slot 47, else the end of a short file.
  count = kBlockTailBytes;
  FSRead(*refNum, &count, record->prefsBlock + kBlockHeadBytes);
}

void StorePreferences(RunRecord* record, int16_t* refNum) {
  if (*refNum == 0) *refNum = _CreatePrefsFile();
  if (*refNum == 0) {
    _ReleaseStrings(record);
    return;
  }
  SetFPos(*refNum, fsFromStart, 0);
  long count = kBlockHeadBytes;
  FSWrite(*refNum, &count, record->prefsBlock);
  if (count < kBlockHeadBytes) {
    static const char kZeros[kBlockHeadBytes] = {};
    long missing = kBlockHeadBytes - count;
    FSWrite(*refNum, &missing, kZeros);
  }

  // One buffer for every slot: only its first 514 bytes change, so what follows a string's NUL
  // may be left from an earlier slot; readers stop at the NUL.
  char buffer[kPrefsSlotBytes] = {};
  for (int slot = 0; slot < kPrefStringCount; ++slot) {
    buffer[0] = 0;
    if (char* string = record->prefStrings[slot]) {
      DuplicateCString(string, buffer, kPrefStringBytes);
      DisposeCString(string);
      record->prefStrings[slot] = nullptr;
    }
    buffer[kPrefStringBytes - 1] = 0;
    count = kPrefsSlotBytes;
    FSWrite(*refNum, &count, buffer);
  }

  count = kBlockTailBytes;
  FSWrite(*refNum, &count, record->prefsBlock + kBlockHeadBytes);
  FSClose(*refNum);
  *refNum = 0;
}
