// Fuzz target: recorded actions. Any text is parsed as descriptor JSON; what parses must write
// back and parse to the same JSON, and replaying it through a whole filter run must succeed,
// record a fill choice in range, and leave nothing allocated or open. A refusal is one line.
#include <cstdlib>
#include <string>

#include "filter/host/fill_choices.h"
#include "fuzz_support.h"
#include "hostkit/descriptor_json.h"
#include "support/whole_filter_run.h"

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
    hostkit::HostImage image = whole_run::PatternImage(6, 5, 1, 8, plugInModeGrayScale);
    hostkit::RunOptions options;
    options.mask = whole_run::DiscMask(6, 5, 1);
    hostkit::Descriptor recorded;
    if (whole_run::RunPlayed(image, options, &descriptor, &recorded) != 0) std::abort();
    const hostkit::DescriptorItem* choice = recorded.Find(kFillChoiceKey);
    if (!choice || choice->enumValue < DescriptorEnumID(kFirstFillChoice) ||
        choice->enumValue > DescriptorEnumID(kLastFillChoice))
      std::abort();
  }
  fuzz::CheckNothingLeft("replay");
  return 0;
}
