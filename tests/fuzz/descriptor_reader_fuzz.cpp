// Fuzz target: the filter's exchange with a hostile scripting host. The input drives every
// answer of the host: the descriptor parameters' version and play mode, which suites and
// callbacks exist, the keys and types of the items, the values (any float bits, integers and
// enumerations out of range, text handles of any length without a NUL) and the statuses.
// Whatever the host says, every input setting must stay within its range, the writer must put
// one item per setting, and nothing may stay allocated.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "filter/host/fill_choices.h"
#include "filter/run/run_record.h"
#include "filter/settings/script_params.h"
#include "filter/settings/settings_block.h"
#include "fuzz_support.h"
#include "platform/memory.h"

namespace {

FuzzedDataProvider* gHost = nullptr;  // the current input, answering for the host
int gItemsLeft = 0;
int gPuts = 0;
char gToken = 0;  // the address stands for a reader or writer token

constexpr OSType kKeys[] = {kFillChoiceKey, FourCC("Lng "), kSPUnitKey,     FourCC("Flt "),
                            FourCC("Bool"), FourCC("Text"), FourCC("Rad2"), FourCC("none")};

OSErr Status() {
  return gHost->ConsumeBool() ? OSErr(noErr) : OSErr(gHost->ConsumeIntegral<int16_t>());
}
// `usual`, or any value the input gives.
int16_t Usually(int16_t usual) {
  return gHost->ConsumeBool() ? usual : gHost->ConsumeIntegral<int16_t>();
}

template <typename T>
OSErr Get(PIReadDescriptor, T* value) {
  *value = gHost->ConsumeIntegral<T>();
  return Status();
}
template <typename... Args>
OSErr Put(PIWriteDescriptor, DescriptorKeyID, Args...) {
  return ++gPuts, Status();
}
void* Token() { return gHost->ConsumeBool() ? &gToken : nullptr; }

template <typename T>
T MaybeNull(T proc) {
  return gHost->ConsumeIntegralInRange(0, 15) == 0 ? nullptr : proc;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider host(data, size);
  gHost = &host;
  gItemsLeft = 64;
  gPuts = 0;
  fuzz::NoteBaseline();

  ReadDescriptorProcs reader{};
  reader.readDescriptorProcsVersion = Usually(0);
  reader.numReadDescriptorProcs = Usually(18);
  reader.openReadDescriptorProc = MaybeNull(+[](PIDescriptorHandle, DescriptorKeyIDArray) {
    return static_cast<PIReadDescriptor>(Token());
  });
  reader.closeReadDescriptorProc = MaybeNull(+[](PIReadDescriptor) { return Status(); });
  reader.getKeyProc = MaybeNull(
      +[](PIReadDescriptor, DescriptorKeyID* key, DescType* type, int32_t* flags) -> Boolean {
        if (gItemsLeft-- <= 0 || gHost->remaining_bytes() == 0) return 0;
        *key = gHost->ConsumeBool() ? gHost->PickValueInArray(kKeys)
                                    : gHost->ConsumeIntegral<uint32_t>();
        *type = gHost->ConsumeIntegral<uint32_t>();
        *flags = gHost->ConsumeIntegral<int32_t>();
        return 1;
      });
  reader.getIntegerProc = MaybeNull(Get<int32_t>);
  reader.getFloatProc = MaybeNull(+[](PIReadDescriptor, double* value) {  // any bits
    const uint64_t bits = gHost->ConsumeIntegral<uint64_t>();
    std::memcpy(value, &bits, sizeof bits);
    return Status();
  });
  reader.getBooleanProc = MaybeNull(Get<Boolean>);
  reader.getTextProc = MaybeNull(+[](PIReadDescriptor, Handle* text) {
    *text = nullptr;  // or a host that says yes and hands nothing
    if (!gHost->ConsumeBool()) {
      const std::string bytes = gHost->ConsumeRandomLengthString(2000);
      *text = NewHandle(Size(bytes.size()));
      if (*text && !bytes.empty()) std::memcpy(**text, bytes.data(), bytes.size());
    }
    const OSErr err = Status();
    if (err != noErr && *text) DisposeHandle(*text), *text = nullptr;  // a failing host keeps it
    return err;
  });
  reader.getEnumeratedProc = MaybeNull(Get<DescriptorEnumID>);
  WriteDescriptorProcs writer{};
  writer.writeDescriptorProcsVersion = Usually(0);
  writer.numWriteDescriptorProcs = Usually(16);
  writer.openWriteDescriptorProc =
      MaybeNull(+[] { return static_cast<PIWriteDescriptor>(Token()); });
  writer.closeWriteDescriptorProc = MaybeNull(+[](PIWriteDescriptor, PIDescriptorHandle* recorded) {
    *recorded = gHost->ConsumeBool() ? NewHandle(4) : nullptr;
    return Status();
  });
  writer.putIntegerProc = MaybeNull(Put<int32_t>);
  writer.putFloatProc = MaybeNull(Put<const double*>);
  writer.putBooleanProc = MaybeNull(Put<Boolean>);
  writer.putTextProc = MaybeNull(+[](PIWriteDescriptor, DescriptorKeyID, Handle text) {
    if (!text || GetHandleSize(text) != kScriptTextHandleBytes) std::abort();
    return ++gPuts, Status();
  });
  writer.putEnumeratedProc = MaybeNull(Put<DescType, DescriptorEnumID>);
  HandleProcs handles{};
  handles.handleProcsVersion = Usually(1);
  handles.numHandleProcs = Usually(8);
  handles.newProc = MaybeNull(+[](int32_t bytes) { return NewHandle(bytes); });
  handles.disposeProc = MaybeNull(+[](Handle h) { DisposeHandle(h); });
  handles.getSizeProc = MaybeNull(+[](Handle h) { return int32_t(GetHandleSize(h)); });
  handles.setSizeProc = MaybeNull(+[](Handle h, int32_t bytes) {
    SetHandleSize(h, bytes);
    return MemError();
  });

  PIDescriptorParameters params{};
  params.descriptorParametersVersion = Usually(0);
  params.playInfo = host.ConsumeIntegral<int16_t>();
  params.recordInfo = host.ConsumeIntegral<int16_t>();
  params.descriptor = host.ConsumeBool() ? NewHandle(host.ConsumeIntegralInRange(0, 64)) : nullptr;
  params.readDescriptorProcs = host.ConsumeIntegralInRange(0, 15) ? &reader : nullptr;
  params.writeDescriptorProcs = host.ConsumeIntegralInRange(0, 15) ? &writer : nullptr;

  FilterRecord record{};
  record.descriptorParameters = host.ConsumeIntegralInRange(0, 15) ? &params : nullptr;
  record.handleProcs = host.ConsumeIntegralInRange(0, 7) ? &handles : nullptr;
  Globals globals{};
  globals.host = &record;

  // One input of every kind the exchange knows, and outputs for the writer.
  SPSettings* block = _AllocateSPBlock(22);
  if (!block) std::abort();
  InitializeSPSettings(block, kFilterSignature, 0, 0);
  AddSPInputSettingRadio(block, kFillChoiceKey, kFillChoiceType, kFirstFillChoice, kLastFillChoice,
                         5);
  AddSPInputSettingLong(block, FourCC("Lng "), -5, 5, 1);
  AddSPInputSettingLong(block, kSPUnitKey, 0, 3, 2);
  AddSPInputSettingFloat(block, FourCC("Flt "), -1.0f, 1.0f, 0.5f);
  AddSPInputSettingBoolean(block, FourCC("Bool"), 1);
  AddSPInputSettingCString(block, FourCC("Text"), "recorded");
  AddSPInputSettingRadio(block, FourCC("Rad2"), FourCC("rB05"), -5, 5, 2);
  AddSPOutputSettingLong(block, FourCC("Out1"), 0, 10, 4);
  AddSPOutputSettingCString(block, FourCC("Out2"), "out");

  uint8_t skip = _ReadScriptParamFromPS(&globals, block);
  if (skip > 1) std::abort();
  int32_t choice = GetSPInputSettingRadio(block, 0);
  int32_t whole = GetSPInputSettingLong(block, 1);
  uint32_t unit = uint32_t(GetSPInputSettingLong(block, 2));
  float real = GetSPInputSettingFloat(block, 3);
  uint32_t radio = uint32_t(GetSPInputSettingRadio(block, 6));
  if (choice < kFirstFillChoice || choice > kLastFillChoice || whole < -5 || whole > 5 ||
      unit > 3 || std::isnan(real) || real < -1.0f || real > 1.0f ||
      GetSPInputSettingBoolean(block, 4) > 1 || !GetSPInputSettingCString(block, 5))
    std::abort();
  // Enumerations compare as unsigned, so the range -5..5 (0xFFFFFFFB..5) takes no value.
  if (radio != 2) std::abort();

  gPuts = 0;
  _WriteScriptParamToPS(&globals, block);
  if (gPuts > 9) std::abort();
  _DisposeSPBlock(block);

  // The host's descriptor is the host's: released here as a host would after the run.
  if (params.descriptor) DisposeHandle(params.descriptor);
  fuzz::CheckNothingLeft("descriptor exchange");
  gHost = nullptr;
  return 0;
}
