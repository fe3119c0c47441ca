// Fuzz target: recorded actions. Any text is parsed as descriptor JSON; what parses must write
// back and parse to the same JSON, and replaying it through a whole filter run must succeed,
// record a fill choice in range, and leave nothing allocated or open.
#include <cstdlib>
#include <string>

#include "filter/entry/entry.h"
#include "filter/host/fill_choices.h"
#include "filter/settings/settings_block.h"
#include "fuzz_support.h"
#include "hostkit/descriptor.h"
#include "hostkit/descriptor_json.h"
#include "hostkit/filter_host.h"
#include "hostkit/scripting_host.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string json(reinterpret_cast<const char*>(data), size);
  hostkit::Descriptor descriptor;
  std::string message;
  if (!hostkit::DescriptorFromJson(json, &descriptor, &message)) {
    if (message.empty() || !fuzz::IsOneLine(message) || !descriptor.items.empty()) std::abort();
    return 0;
  }
  std::string written, again;
  hostkit::Descriptor reread;
  if (!hostkit::DescriptorToJson(descriptor, &written, &message)) return 0;  // not UTF-8 text
  if (!hostkit::DescriptorFromJson(written, &reread, &message) ||
      !hostkit::DescriptorToJson(reread, &again, &message) || again != written)
    std::abort();

  fuzz::FreshPreferencesFolder();
  fuzz::NoteBaseline();
  {
    hostkit::HostImage image = hostkit::HostImage::Make(6, 5, 1, 8, plugInModeGrayScale);
    for (size_t i = 0; i < image.pixels.size(); ++i) image.pixels[i] = uint8_t(i * 37);
    hostkit::RunOptions options;
    options.mask.assign(30, 0);
    options.mask[14] = options.mask[15] = 255;
    hostkit::ScriptingHost scripting;
    if (!scripting.SetPlay(descriptor, plugInDialogDontDisplay)) std::abort();
    options.descriptorParameters = scripting.descriptorParameters();
    options.handleProcs = scripting.handleProcs();
    intptr_t globals = 0;
    int16_t result;
    {
      hostkit::ScriptingHost::Activation active(scripting);
      result = hostkit::RunFilter(AreaFillMain, image, options, &globals);
    }
    hostkit::ReleasePluginData(&globals);
    if (result != 0) std::abort();
    hostkit::Descriptor recorded;
    if (!scripting.TakeRecorded(&recorded)) std::abort();
    const hostkit::DescriptorItem* choice = recorded.Find(kFillChoiceKey);
    if (!choice || choice->enumValue < DescriptorEnumID(kFirstFillChoice) ||
        choice->enumValue > DescriptorEnumID(kLastFillChoice))
      std::abort();
  }
  fuzz::CheckNothingLeft("replay");
  return 0;
}
