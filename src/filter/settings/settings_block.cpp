// The settings block: one zero-filled allocation of entry places, the header in the first two,
// then the inputs, then the outputs. Text settings own a heap copy of their string.
#include "filter/settings/settings_block.h"

#include <cstring>

#include "filter/host/fill_choices.h"
#include "filter/run/run_record.h"
#include "platform/memory.h"

static_assert(sizeof(SPHeader) <= 2 * sizeof(SPSetting), "the header must fit two entry places");
static_assert(sizeof(SPSetting::value) >= sizeof(void*), "a text value holds an address");

namespace {

constexpr uint32_t kHeaderPlaces = 2;

SPHeader* _Header(SPSettings* block) { return reinterpret_cast<SPHeader*>(block); }
const SPHeader* _Header(const SPSettings* block) {
  return reinterpret_cast<const SPHeader*>(block);
}

SPSetting* _Place(SPSettings* block, uint32_t place) {
  return reinterpret_cast<SPSetting*>(block) + place;
}

SPSetting* _InputPlace(SPSettings* block, uint32_t index) {
  return _Place(block, kHeaderPlaces + index);
}

SPSetting* _OutputPlace(SPSettings* block, uint32_t index) {
  return _Place(block, kHeaderPlaces + _Header(block)->inputCount + index);
}

char* _TextOf(const SPSetting* setting) {
  return reinterpret_cast<char*>(static_cast<uintptr_t>(setting->value));
}

// A place holds a string copy of ours when an Add wrote it as a text setting.
bool _OwnsText(const SPSetting* setting) {
  return setting->used == 1 && setting->type == kSPTypeText && setting->value != 0;
}

void _ReleaseText(SPSetting* setting) {
  if (_OwnsText(setting)) DisposePtr(_TextOf(setting));
  setting->value = 0;
}

// A new zero-filled copy of `count` characters followed by a NUL, or null when memory is short.
// A failed copy is not reported: no Add or Set operation returns a status, so the setting simply
// holds no text, which readers already handle as the empty case.
char* _CopyText(const char* characters, size_t count) {
  char* copy = NewPtrClear(Size(count + 1));
  if (copy && count > 0) std::memcpy(copy, characters, count);
  return copy;
}

void _StoreText(SPSetting* setting, char* copy) {
  setting->value = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(copy));
}

// Writes a new setting into `setting`. An earlier text setting left at this place (a block that
// was re-initialised and is being filled again) gives its copy back first, so nothing leaks.
void _Fill(SPSetting* setting, OSType key, OSType type, uint32_t min, uint32_t max,
           uint64_t value) {
  _ReleaseText(setting);
  setting->key = key;
  setting->type = type;
  setting->used = 1;
  setting->min = min;
  setting->max = max;
  setting->value = value;
}

void _FillText(SPSetting* setting, OSType key, char* copy) {
  uint32_t keptMax = setting->max;  // a text setting leaves `max` as it was
  _Fill(setting, key, kSPTypeText, 0, keptMax, 0);
  _StoreText(setting, copy);
}

char* _CopyCString(const char* string) {
  return string ? _CopyText(string, std::strlen(string)) : nullptr;
}

char* _CopyPString(ConstStr255Param string) {
  return string ? _CopyText(reinterpret_cast<const char*>(string + 1), string[0]) : nullptr;
}

uint32_t _FloatBits(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

float _BitsFloat(uint64_t value) {
  uint32_t bits = static_cast<uint32_t>(value);
  float result;
  std::memcpy(&result, &bits, sizeof result);
  return result;
}

// Appends at the next input place and returns the new input's index.
SPSetting* _NextInput(SPSettings* block, int32_t* index) {
  SPHeader* header = _Header(block);
  *index = int32_t(header->inputCount);
  return _InputPlace(block, header->inputCount++);
}

SPSetting* _NextOutput(SPSettings* block, int32_t* index) {
  SPHeader* header = _Header(block);
  *index = int32_t(header->outputCount);
  return _OutputPlace(block, header->outputCount++);
}

void _SetText(SPSetting* setting, char* copy) {
  _ReleaseText(setting);
  _StoreText(setting, copy);
}

}  // namespace

// ---- The block as a whole ----

SPSettings* _AllocateSPBlock(int32_t entryCount) {
  if (entryCount < 0) return nullptr;
  return reinterpret_cast<SPSettings*>(NewPtrClear(Size(entryCount) * Size(sizeof(SPSetting))));
}

// Releases the text copies of every place of the allocation together with the block, including
// places that a re-initialisation no longer counts: whoever disposes a block must not have to
// walk it first. A place that was given a number through a Set operation after being added as
// text is a caller's error (the Set operations do not check types).
void _DisposeSPBlock(SPSettings* block) {
  if (!block) return;
  Size places = GetPtrSize(reinterpret_cast<Ptr>(block)) / Size(sizeof(SPSetting));
  for (Size place = kHeaderPlaces; place < places; ++place)
    _ReleaseText(_Place(block, uint32_t(place)));
  DisposePtr(reinterpret_cast<Ptr>(block));
}

void InitializeSPSettings(SPSettings* block, OSType signature, uint8_t needsMaskImage,
                          uint8_t skipWriteback) {
  SPHeader* header = _Header(block);
  header->inputCount = 0;
  header->outputCount = 0;
  header->signature = signature;
  header->needsMaskImage = needsMaskImage ? 1 : 0;
  header->skipWriteback = skipWriteback ? 1 : 0;
}

uint32_t CountSPInputs(const SPSettings* block) { return _Header(block)->inputCount; }
uint32_t CountSPOutputs(const SPSettings* block) { return _Header(block)->outputCount; }
uint8_t SPNeedsMaskImage(const SPSettings* block) { return _Header(block)->needsMaskImage ? 1 : 0; }
uint8_t SPSkipWritebackStatus(const SPSettings* block) {
  return _Header(block)->skipWriteback ? 1 : 0;
}
OSType GetSPZELKSignature(const SPSettings* block) { return _Header(block)->signature; }

SPSetting* GetSPInputSetting(SPSettings* block, uint32_t index) {
  return _InputPlace(block, index);
}
SPSetting* GetSPOutputSetting(SPSettings* block, uint32_t index) {
  return _OutputPlace(block, index);
}

// ---- Adding settings ----

int32_t AddSPInputSettingLong(SPSettings* block, OSType key, int32_t min, int32_t max,
                              int32_t value) {
  int32_t index;
  _Fill(_NextInput(block, &index), key, kSPTypeLong, uint32_t(min), uint32_t(max), uint32_t(value));
  return index;
}

int32_t AddSPInputSettingFloat(SPSettings* block, OSType key, float min, float max, float value) {
  int32_t index;
  _Fill(_NextInput(block, &index), key, kSPTypeFloat, _FloatBits(min), _FloatBits(max),
        _FloatBits(value));
  return index;
}

int32_t AddSPInputSettingRadio(SPSettings* block, OSType key, OSType type, int32_t min, int32_t max,
                               int32_t value) {
  int32_t index;
  _Fill(_NextInput(block, &index), key, type, uint32_t(min), uint32_t(max), uint32_t(value));
  return index;
}

int32_t AddSPInputSettingBoolean(SPSettings* block, OSType key, uint8_t value) {
  int32_t index;
  _Fill(_NextInput(block, &index), key, kSPTypeBoolean, 0, 1, value);
  return index;
}

int32_t AddSPInputSettingCString(SPSettings* block, OSType key, const char* string) {
  int32_t index;
  _FillText(_NextInput(block, &index), key, _CopyCString(string));
  return index;
}

int32_t AddSPInputSettingPString(SPSettings* block, OSType key, ConstStr255Param string) {
  int32_t index;
  _FillText(_NextInput(block, &index), key, _CopyPString(string));
  return index;
}

int32_t AddSPOutputSettingLong(SPSettings* block, OSType key, int32_t min, int32_t max,
                               int32_t value) {
  int32_t index;
  _Fill(_NextOutput(block, &index), key, kSPTypeLong, uint32_t(min), uint32_t(max),
        uint32_t(value));
  return index;
}

int32_t AddSPOutputSettingFloat(SPSettings* block, OSType key, float min, float max, float value) {
  int32_t index;
  _Fill(_NextOutput(block, &index), key, kSPTypeFloat, _FloatBits(min), _FloatBits(max),
        _FloatBits(value));
  return index;
}

int32_t AddSPOutputSettingRadio(SPSettings* block, OSType key, OSType type, int32_t min,
                                int32_t max, int32_t value) {
  int32_t index;
  _Fill(_NextOutput(block, &index), key, type, uint32_t(min), uint32_t(max), uint32_t(value));
  return index;
}

int32_t AddSPOutputSettingBoolean(SPSettings* block, OSType key, uint8_t value) {
  int32_t index;
  _Fill(_NextOutput(block, &index), key, kSPTypeBoolean, 0, 1, value);
  return index;
}

int32_t AddSPOutputSettingCString(SPSettings* block, OSType key, const char* string) {
  int32_t index;
  _FillText(_NextOutput(block, &index), key, _CopyCString(string));
  return index;
}

int32_t AddSPOutputSettingPString(SPSettings* block, OSType key, ConstStr255Param string) {
  int32_t index;
  _FillText(_NextOutput(block, &index), key, _CopyPString(string));
  return index;
}

// ---- Values of inputs ----

int32_t GetSPInputSettingLong(SPSettings* block, uint32_t index) {
  return int32_t(uint32_t(_InputPlace(block, index)->value));
}
int32_t GetSPInputSettingRadio(SPSettings* block, uint32_t index) {
  return int32_t(uint32_t(_InputPlace(block, index)->value));
}
float GetSPInputSettingFloat(SPSettings* block, uint32_t index) {
  return _BitsFloat(_InputPlace(block, index)->value);
}
uint8_t GetSPInputSettingBoolean(SPSettings* block, uint32_t index) {
  return _InputPlace(block, index)->value != 0 ? 1 : 0;
}
const char* GetSPInputSettingCString(SPSettings* block, uint32_t index) {
  return _TextOf(_InputPlace(block, index));
}
void SetSPInputSettingLong(SPSettings* block, uint32_t index, int32_t value) {
  _InputPlace(block, index)->value = uint32_t(value);
}
void SetSPInputSettingRadio(SPSettings* block, uint32_t index, int32_t value) {
  _InputPlace(block, index)->value = uint32_t(value);
}
void SetSPInputSettingFloat(SPSettings* block, uint32_t index, float value) {
  _InputPlace(block, index)->value = _FloatBits(value);
}
void SetSPInputSettingBoolean(SPSettings* block, uint32_t index, uint8_t value) {
  _InputPlace(block, index)->value = value;
}
void SetSPInputSettingCString(SPSettings* block, uint32_t index, const char* string) {
  _SetText(_InputPlace(block, index), _CopyCString(string));
}
void SetSPInputSettingPString(SPSettings* block, uint32_t index, ConstStr255Param string) {
  _SetText(_InputPlace(block, index), _CopyPString(string));
}

// ---- Values of outputs ----

int32_t GetSPOutputSettingLong(SPSettings* block, uint32_t index) {
  return int32_t(uint32_t(_OutputPlace(block, index)->value));
}
int32_t GetSPOutputSettingRadio(SPSettings* block, uint32_t index) {
  return int32_t(uint32_t(_OutputPlace(block, index)->value));
}
float GetSPOutputSettingFloat(SPSettings* block, uint32_t index) {
  return _BitsFloat(_OutputPlace(block, index)->value);
}
uint8_t GetSPOutputSettingBoolean(SPSettings* block, uint32_t index) {
  return _OutputPlace(block, index)->value != 0 ? 1 : 0;
}
const char* GetSPOutputSettingCString(SPSettings* block, uint32_t index) {
  return _TextOf(_OutputPlace(block, index));
}
void SetSPOutputSettingLong(SPSettings* block, uint32_t index, int32_t value) {
  _OutputPlace(block, index)->value = uint32_t(value);
}
void SetSPOutputSettingRadio(SPSettings* block, uint32_t index, int32_t value) {
  _OutputPlace(block, index)->value = uint32_t(value);
}
void SetSPOutputSettingFloat(SPSettings* block, uint32_t index, float value) {
  _OutputPlace(block, index)->value = _FloatBits(value);
}
void SetSPOutputSettingBoolean(SPSettings* block, uint32_t index, uint8_t value) {
  _OutputPlace(block, index)->value = value;
}
void SetSPOutputSettingCString(SPSettings* block, uint32_t index, const char* string) {
  _SetText(_OutputPlace(block, index), _CopyCString(string));
}
void SetSPOutputSettingPString(SPSettings* block, uint32_t index, ConstStr255Param string) {
  _SetText(_OutputPlace(block, index), _CopyPString(string));
}

// ---- The filter's defaults ----

// The stored choice comes from a file that anything may have written: a value that no 32-bit
// integer can hold (NaN, infinities, huge numbers) becomes 0, "no previous choice", instead of
// an undefined conversion. The fill engine replaces any value outside 3..9 by its own default.
OSErr GetDefaultSettings(RunRecord* record, SPSettings* block) {
  float stored = GetFillChoicePref(record);
  int32_t choice = 0;
  if (stored > -2147483648.0f && stored < 2147483648.0f) choice = int32_t(stored);
  InitializeSPSettings(block, kFilterSignature, 0, 0);
  AddSPInputSettingRadio(block, kFillChoiceKey, kFillChoiceType, kFirstFillChoice, kLastFillChoice,
                         choice);
  return noErr;
}
