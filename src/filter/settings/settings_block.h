// The settings block: the run's typed list of named settings (inputs, then outputs), each with
// a four-character key, a type code, a range and a value. The scripting exchange reads and
// writes it; the fill engine takes its fill choice from it.
#pragma once

#include "platform/mac_types.h"

struct RunRecord;

// Type codes of settings.
constexpr OSType kSPTypeLong = FourCC("long");
constexpr OSType kSPTypeFloat = FourCC("doub");  // stored as a 32-bit float
constexpr OSType kSPTypeBoolean = FourCC("bool");
constexpr OSType kSPTypeText = FourCC("Pth ");
constexpr OSType kSPUnitKey = FourCC("unCd");  // a "long" exchanged as an enumeration
constexpr OSType kSPUnitType = FourCC("UniT");

// The owner of the filter's block. Its one setting, the fill choice, is declared with the
// choices themselves (filter/host/fill_choices.h).
constexpr OSType kFilterSignature = FourCC("FilR");

// True for radio types: codes whose first two characters are "rB".
constexpr bool IsSPRadioType(OSType type) { return (type >> 16) == ((OSType('r') << 8) | 'B'); }

// One entry: six fields in order. `value` is wide enough to hold the address of a text
// setting's string on this platform; the other fields are 32 bits.
struct SPSetting {
  OSType key;
  OSType type;
  uint32_t used;
  uint32_t min;
  uint32_t max;
  uint64_t value;
};

// The header occupies the first two entry places.
struct SPHeader {
  uint32_t inputCount;
  uint32_t outputCount;
  OSType signature;
  uint32_t needsMaskImage;
  uint32_t skipWriteback;
};

struct SPSettings;  // an allocation of entry places; place 0 and 1 hold the SPHeader

SPSettings* _AllocateSPBlock(int32_t entryCount);
void _DisposeSPBlock(SPSettings* block);
void InitializeSPSettings(SPSettings* block, OSType signature, uint8_t needsMaskImage,
                          uint8_t skipWriteback);
uint32_t CountSPInputs(const SPSettings* block);
uint32_t CountSPOutputs(const SPSettings* block);
uint8_t SPNeedsMaskImage(const SPSettings* block);
uint8_t SPSkipWritebackStatus(const SPSettings* block);
OSType GetSPZELKSignature(const SPSettings* block);

// Direct access to an entry, for the scripting exchange.
SPSetting* GetSPInputSetting(SPSettings* block, uint32_t index);
SPSetting* GetSPOutputSetting(SPSettings* block, uint32_t index);

int32_t AddSPInputSettingLong(SPSettings* block, OSType key, int32_t min, int32_t max,
                              int32_t value);
int32_t AddSPInputSettingFloat(SPSettings* block, OSType key, float min, float max, float value);
int32_t AddSPInputSettingRadio(SPSettings* block, OSType key, OSType type, int32_t min, int32_t max,
                               int32_t value);
int32_t AddSPInputSettingBoolean(SPSettings* block, OSType key, uint8_t value);
int32_t AddSPInputSettingCString(SPSettings* block, OSType key, const char* string);
int32_t AddSPInputSettingPString(SPSettings* block, OSType key, ConstStr255Param string);
int32_t AddSPOutputSettingLong(SPSettings* block, OSType key, int32_t min, int32_t max,
                               int32_t value);
int32_t AddSPOutputSettingFloat(SPSettings* block, OSType key, float min, float max, float value);
int32_t AddSPOutputSettingRadio(SPSettings* block, OSType key, OSType type, int32_t min,
                                int32_t max, int32_t value);
int32_t AddSPOutputSettingBoolean(SPSettings* block, OSType key, uint8_t value);
int32_t AddSPOutputSettingCString(SPSettings* block, OSType key, const char* string);
int32_t AddSPOutputSettingPString(SPSettings* block, OSType key, ConstStr255Param string);

int32_t GetSPInputSettingLong(SPSettings* block, uint32_t index);
int32_t GetSPInputSettingRadio(SPSettings* block, uint32_t index);
float GetSPInputSettingFloat(SPSettings* block, uint32_t index);
uint8_t GetSPInputSettingBoolean(SPSettings* block, uint32_t index);
const char* GetSPInputSettingCString(SPSettings* block, uint32_t index);
void SetSPInputSettingLong(SPSettings* block, uint32_t index, int32_t value);
void SetSPInputSettingRadio(SPSettings* block, uint32_t index, int32_t value);
void SetSPInputSettingFloat(SPSettings* block, uint32_t index, float value);
void SetSPInputSettingBoolean(SPSettings* block, uint32_t index, uint8_t value);
void SetSPInputSettingCString(SPSettings* block, uint32_t index, const char* string);
void SetSPInputSettingPString(SPSettings* block, uint32_t index, ConstStr255Param string);

int32_t GetSPOutputSettingLong(SPSettings* block, uint32_t index);
int32_t GetSPOutputSettingRadio(SPSettings* block, uint32_t index);
float GetSPOutputSettingFloat(SPSettings* block, uint32_t index);
uint8_t GetSPOutputSettingBoolean(SPSettings* block, uint32_t index);
const char* GetSPOutputSettingCString(SPSettings* block, uint32_t index);
void SetSPOutputSettingLong(SPSettings* block, uint32_t index, int32_t value);
void SetSPOutputSettingRadio(SPSettings* block, uint32_t index, int32_t value);
void SetSPOutputSettingFloat(SPSettings* block, uint32_t index, float value);
void SetSPOutputSettingBoolean(SPSettings* block, uint32_t index, uint8_t value);
void SetSPOutputSettingCString(SPSettings* block, uint32_t index, const char* string);
void SetSPOutputSettingPString(SPSettings* block, uint32_t index, ConstStr255Param string);

// The filter's defaults: re-initialises the block with "FilR" and adds the one input "FilM"
// ("rB22", 3..9) whose value is the record's fillChoicePref truncated toward zero. Returns 0.
OSErr GetDefaultSettings(RunRecord* record, SPSettings* block);

// Byte-order hooks between the block and the host; identity on this platform.
inline uint32_t _ByteSwapLong(uint32_t value) { return value; }
inline float _ByteSwapFloat(float value) { return value; }
inline OSType _ByteSwapOSType(OSType value) { return value; }
