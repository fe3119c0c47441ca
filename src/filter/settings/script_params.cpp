// Moves the settings block's values into and out of the host's scripting descriptors, and
// decides from the host's play mode whether the dialog is skipped on replay.
#include "filter/settings/script_params.h"

#include <cstring>

#include "filter/util/strings.h"
#include "platform/memory.h"

namespace {

// Room for the keys of 29 inputs and the terminating 0 code.
constexpr uint32_t kMaxListedKeys = 29;
constexpr int16_t kMinHandleProcs = 4;

PIDescriptorParameters* _DescriptorParameters(Globals* globals) {
  return globals && globals->host ? globals->host->descriptorParameters : nullptr;
}

HandleProcs* _HandleProcs(Globals* globals) {
  return globals && globals->host ? globals->host->handleProcs : nullptr;
}

bool _HandleProcsUsable(const HandleProcs* procs) {
  return procs && procs->handleProcsVersion == kCurrentHandleProcsVersion &&
         procs->numHandleProcs >= kMinHandleProcs && procs->newProc && procs->disposeProc &&
         procs->getSizeProc && procs->setSizeProc;
}

// Releases the host's descriptor, through the host's own handle services when they are usable.
void _ReleaseDescriptor(PIDescriptorParameters* params, HandleProcs* procs) {
  if (params->descriptor) {
    if (_HandleProcsUsable(procs))
      procs->disposeProc(params->descriptor);
    else
      DisposeHandle(params->descriptor);
  }
  params->descriptor = nullptr;
}

bool _IsUnitSetting(const SPSetting* setting) {
  return setting->type == kSPTypeLong && setting->key == kSPUnitKey;
}

float _AsFloat(uint32_t bits) {
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// The text handle's characters up to its first NUL, never beyond the handle's size: the host's
// text need not carry a NUL. The handle is released with DisposeHandle in every case.
void _ReadText(SPSettings* block, uint32_t index, Handle text, HandleProcs* procs) {
  if (!text) return;
  int32_t size =
      _HandleProcsUsable(procs) ? procs->getSizeProc(text) : int32_t(GetHandleSize(text));
  if (size < 0) size = 0;
  const char* characters = *text;
  int32_t length = 0;
  while (length < size && characters[length] != 0) ++length;
  char* copy = AllocateCString(length + 1);
  if (copy) {  // no memory for the copy: the setting keeps its text
    if (length > 0) std::memcpy(copy, characters, size_t(length));
    SetSPInputSettingCString(block, index, copy);
    DisposeCString(copy);
  }
  DisposeHandle(text);
}

// Reads the current item into input `index` according to the input's type; a value that the
// host cannot give in that type (a non-zero status) or that lies outside the range is ignored.
void _ReadItem(ReadDescriptorProcs* suite, PIReadDescriptor token, SPSettings* block,
               uint32_t index, HandleProcs* procs) {
  SPSetting* setting = GetSPInputSetting(block, index);
  OSType type = setting->type;
  if (type == kSPTypeBoolean) {
    Boolean value = 0;
    if (suite->getBooleanProc && suite->getBooleanProc(token, &value) == noErr)
      SetSPInputSettingBoolean(block, index, value ? 1 : 0);
  } else if (type == kSPTypeFloat) {
    double value = 0;
    if (!suite->getFloatProc || suite->getFloatProc(token, &value) != noErr) return;
    float narrowed = _ByteSwapFloat(float(value));
    if (narrowed >= _AsFloat(setting->min) && narrowed <= _AsFloat(setting->max))
      SetSPInputSettingFloat(block, index, narrowed);
  } else if (_IsUnitSetting(setting) || IsSPRadioType(type)) {
    DescriptorEnumID value = 0;
    if (!suite->getEnumeratedProc || suite->getEnumeratedProc(token, &value) != noErr) return;
    value = _ByteSwapLong(value);
    if (setting->min <= value && value <= setting->max)
      SetSPInputSettingRadio(block, index, int32_t(value));
  } else if (type == kSPTypeLong) {
    int32_t value = 0;
    if (!suite->getIntegerProc || suite->getIntegerProc(token, &value) != noErr) return;
    value = int32_t(_ByteSwapLong(uint32_t(value)));
    if (int32_t(setting->min) <= value && value <= int32_t(setting->max))
      SetSPInputSettingLong(block, index, value);
  } else if (type == kSPTypeText) {
    Handle text = nullptr;
    OSErr err = suite->getTextProc ? suite->getTextProc(token, &text) : OSErr(paramErr);
    if (err == noErr) _ReadText(block, index, text, procs);
  }
}

// Puts one setting as an item of the writer, under the setting's own key.
void _PutItem(WriteDescriptorProcs* suite, PIWriteDescriptor token, const SPSetting* setting) {
  DescriptorKeyID key = _ByteSwapOSType(setting->key);
  OSType type = setting->type;
  uint32_t value = uint32_t(setting->value);
  if (type == kSPTypeBoolean) {
    if (suite->putBooleanProc) suite->putBooleanProc(token, key, value ? 1 : 0);
  } else if (type == kSPTypeFloat) {
    double widened = _ByteSwapFloat(_AsFloat(value));
    if (suite->putFloatProc) suite->putFloatProc(token, key, &widened);
  } else if (_IsUnitSetting(setting)) {
    if (suite->putEnumeratedProc)
      suite->putEnumeratedProc(token, _ByteSwapOSType(kSPUnitKey), _ByteSwapOSType(kSPUnitType),
                               _ByteSwapLong(value));
  } else if (type == kSPTypeLong) {
    if (suite->putIntegerProc) suite->putIntegerProc(token, key, int32_t(_ByteSwapLong(value)));
  } else if (type == kSPTypeText) {
    // No handle, no item: the host must not record a text that was never written.
    Handle text = NewHandleClear(kScriptTextHandleBytes);
    if (!text) return;
    const char* string = reinterpret_cast<const char*>(static_cast<uintptr_t>(setting->value));
    DuplicateCString(string, *text, kScriptTextHandleBytes);
    if (suite->putTextProc) suite->putTextProc(token, key, text);
    DisposeHandle(text);
  } else {  // radio choices and any other type travel as enumerations of their own type
    if (suite->putEnumeratedProc)
      suite->putEnumeratedProc(token, key, _ByteSwapOSType(type), _ByteSwapLong(value));
  }
}

}  // namespace

uint8_t HostDescriptorAvailable(PIDescriptorParameters* params, uint8_t* newerOut) {
  if (newerOut) *newerOut = 0;
  if (!params) return 0;
  if (params->descriptorParametersVersion < kCurrentDescriptorParametersVersion) return 0;
  if (params->descriptorParametersVersion > kCurrentDescriptorParametersVersion) {
    if (newerOut) *newerOut = 1;
    return 0;
  }
  const ReadDescriptorProcs* reader = params->readDescriptorProcs;
  const WriteDescriptorProcs* writer = params->writeDescriptorProcs;
  if (!reader || !writer) return 0;
  if (reader->readDescriptorProcsVersion < kCurrentReadDescriptorProcsVersion ||
      reader->numReadDescriptorProcs < kCurrentReadDescriptorProcsCount)
    return 0;
  if (writer->writeDescriptorProcsVersion < kCurrentWriteDescriptorProcsVersion ||
      writer->numWriteDescriptorProcs < kCurrentWriteDescriptorProcsCount)
    return 0;
  return 1;
}

uint8_t HostPlayDialog(PIDescriptorParameters* params) {
  return params && params->playInfo == plugInDialogDisplay ? 1 : 0;
}

OSErr HostCloseReader(PIDescriptorParameters* params, HandleProcs* procs, PIReadDescriptor* token) {
  ReadDescriptorProcs* suite = params->readDescriptorProcs;
  OSErr err = suite && suite->closeReadDescriptorProc ? suite->closeReadDescriptorProc(*token)
                                                      : OSErr(noErr);
  _ReleaseDescriptor(params, procs);
  *token = nullptr;
  return err;
}

OSErr HostCloseWriter(PIDescriptorParameters* params, HandleProcs* procs,
                      PIWriteDescriptor* token) {
  _ReleaseDescriptor(params, procs);
  PIDescriptorHandle recorded = nullptr;
  WriteDescriptorProcs* suite = params->writeDescriptorProcs;
  if (suite && suite->closeWriteDescriptorProc) suite->closeWriteDescriptorProc(*token, &recorded);
  params->descriptor = recorded;
  params->recordInfo = plugInDialogOptional;
  *token = nullptr;
  return noErr;
}

uint8_t _ReadScriptParamFromPS(Globals* globals, SPSettings* block) {
  PIDescriptorParameters* params = _DescriptorParameters(globals);
  uint32_t inputs = CountSPInputs(block);
  if (inputs == 0) return HostDescriptorAvailable(params, nullptr) && !HostPlayDialog(params);

  // The host is told which keys to expect. A block with more than 29 inputs lists only the
  // first 29, but items are still matched against every input.
  DescriptorKeyID keys[kMaxListedKeys + 1] = {};
  uint32_t listed = inputs < kMaxListedKeys ? inputs : kMaxListedKeys;
  for (uint32_t i = 0; i < listed; ++i) keys[i] = _ByteSwapOSType(GetSPInputSetting(block, i)->key);

  if (!HostDescriptorAvailable(params, nullptr)) return 0;

  ReadDescriptorProcs* suite = params->readDescriptorProcs;
  PIReadDescriptor token = suite->openReadDescriptorProc
                               ? suite->openReadDescriptorProc(params->descriptor, keys)
                               : nullptr;
  if (token) {
    HandleProcs* procs = _HandleProcs(globals);
    DescriptorKeyID key = 0;
    DescType type = 0;
    int32_t flags = 0;
    while (suite->getKeyProc && suite->getKeyProc(token, &key, &type, &flags)) {
      key = _ByteSwapOSType(key);
      for (uint32_t i = 0; i < inputs; ++i)
        if (GetSPInputSetting(block, i)->key == key) _ReadItem(suite, token, block, i, procs);
    }
    HostCloseReader(params, procs, &token);
  }
  return HostPlayDialog(params) ? 0 : 1;
}

OSErr _WriteScriptParamToPS(Globals* globals, SPSettings* block) {
  uint32_t inputs = CountSPInputs(block);
  uint32_t outputs = CountSPOutputs(block);
  if (inputs == 0 && outputs == 0) return noErr;
  PIDescriptorParameters* params = _DescriptorParameters(globals);
  if (!HostDescriptorAvailable(params, nullptr)) return noErr;

  WriteDescriptorProcs* suite = params->writeDescriptorProcs;
  PIWriteDescriptor token =
      suite->openWriteDescriptorProc ? suite->openWriteDescriptorProc() : nullptr;
  if (!token) return noErr;
  for (uint32_t i = 0; i < inputs; ++i) _PutItem(suite, token, GetSPInputSetting(block, i));
  for (uint32_t j = 0; j < outputs; ++j) _PutItem(suite, token, GetSPOutputSetting(block, j));
  HostCloseWriter(params, _HandleProcs(globals), &token);
  return noErr;
}
