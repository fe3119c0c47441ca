// The plug-in's state between calls (Globals) and the per-run record handed to the fill engine
// (RunRecord), with the phases of a run and the fill choice kept in the shared preferences.
// The host services that take the record are in host_services.h.
#pragma once

#include <cstring>

#include "filter/host/filter_record.h"

struct NamedImage;  // a scratch image (filter/image/named_image.h); the records hold addresses

// Phases of a run (Globals.phase).
enum : int16_t {
  kPhaseIdle = 0,
  kPhaseRead = 1,
  kPhaseFill = 2,
  kPhaseWrite = 3,
  kPhaseDone = 4,
};

struct Globals {
  int16_t phase;               // kPhaseIdle .. kPhaseDone
  int16_t result;              // result of the current call
  NamedImage* image;           // "BackingStore", or null
  Handle paramHandle;          // made by GetParameters for the run, or null
  FilterRecord* host;          // the parameter block of the current call
  Ptr rowBuffer;               // one row of all planes plus one byte per pixel
  NamedImage* alphaImage;      // "AlphaImage" of the extra planes, or null
  NamedImage* selectionImage;  // "SelectionImage" of the host's mask, or null
  uint8_t useMask;             // the host has a mask and the run keeps a copy
  uint8_t maskAnd;             // AND of every mask byte read so far
  int16_t depth;               // bits per sample of the run: 8, 16 or 32
  uint8_t transparentSeen;     // some pixel's first extra plane was 0
};

constexpr int kPrefsBlockBytes = 4096;
constexpr int kPrefStringCount = 48;
constexpr int kFillChoicePrefOffset = 524;

struct RunRecord {
  int16_t width;
  int16_t height;
  int16_t planes;  // colour samples per pixel of the working image; readers take |planes|
  FilterRecord* host;
  NamedImage* selection;  // null: the whole area is filtered
  uint8_t prefsBlock[kPrefsBlockBytes];
  char* prefStrings[kPrefStringCount];
};

// fillChoicePref: the float at byte 524 of the preferences block, the last run's fill choice.
inline float GetFillChoicePref(const RunRecord* record) {
  float value;
  std::memcpy(&value, record->prefsBlock + kFillChoicePrefOffset, sizeof value);
  return value;
}
inline void SetFillChoicePref(RunRecord* record, float value) {
  std::memcpy(record->prefsBlock + kFillChoicePrefOffset, &value, sizeof value);
}
