#include "cli/methods.h"

namespace areafill_cli {

namespace {

constexpr Method kMethods[] = {
    {"membrane", 3, "membrane fill: a smooth surface stretched over the selection's edge"},
    {"mean", 4, "the mean colour of the selected area"},
    {"foreground", 5, "the foreground colour (--fg)"},
    {"black", 6, "black"},
    {"white", 7, "white"},
    {"hblend", 8, "horizontal blend from the foreground (left) to the background (right)"},
    {"vblend", 9, "vertical blend from the foreground (top) to the background (bottom)"},
};

constexpr DescriptorKeyID kFillChoiceKey = FourCC("FilM");
constexpr DescType kFillChoiceType = FourCC("rB22");

}  // namespace

const Method* MethodByName(const std::string& name) {
  for (const Method& method : kMethods)
    if (name == method.name) return &method;
  return nullptr;
}

const Method* MethodByChoice(int64_t choice) {
  for (const Method& method : kMethods)
    if (choice == method.choice) return &method;
  return nullptr;
}

hostkit::DescriptorItem MethodDescriptorItem(const Method& method) {
  return hostkit::DescriptorItem::Enumerated(kFillChoiceKey, kFillChoiceType,
                                             DescriptorEnumID(method.choice));
}

std::string DescribeRecordedMethod(const hostkit::Descriptor& recorded) {
  const hostkit::DescriptorItem* item = recorded.Find(kFillChoiceKey);
  if (!item || item->kind != hostkit::DescriptorItemKind::Enumerated) return "fill choice unknown";
  const Method* method = MethodByChoice(item->enumValue);
  if (!method) return "fill choice " + std::to_string(item->enumValue);
  return std::string("filled with ") + method->name + " (" + method->label + ")";
}

void PrintMethods(std::FILE* out) {
  for (const Method& method : kMethods)
    std::fprintf(out, "%-11s %d  %s\n", method.name, method.choice, method.label);
}

}  // namespace areafill_cli
