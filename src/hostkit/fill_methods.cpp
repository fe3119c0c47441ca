// The table of fill methods shared by the hosts.
#include "hostkit/fill_methods.h"

namespace hostkit {

namespace {

constexpr FillMethod kMethods[] = {
    {"membrane", 3, "membrane fill: a smooth surface stretched over the selection's edge"},
    {"mean", 4, "the mean colour of the selected area"},
    {"foreground", 5, "the foreground colour"},
    {"black", 6, "solid black"},
    {"white", 7, "solid white"},
    {"hblend", 8, "horizontal blend from the foreground (left) to the background (right)"},
    {"vblend", 9, "vertical blend from the foreground (top) to the background (bottom)"},
};

constexpr DescriptorKeyID kFillChoiceKey = FourCC("FilM");
constexpr DescType kFillChoiceType = FourCC("rB22");

}  // namespace

std::span<const FillMethod> FillMethods() { return kMethods; }

const FillMethod* FillMethodByName(const std::string& name) {
  for (const FillMethod& method : kMethods)
    if (name == method.name) return &method;
  return nullptr;
}

const FillMethod* FillMethodByChoice(int64_t choice) {
  for (const FillMethod& method : kMethods)
    if (choice == method.choice) return &method;
  return nullptr;
}

DescriptorItem FillMethodDescriptorItem(const FillMethod& method) {
  return DescriptorItem::Enumerated(kFillChoiceKey, kFillChoiceType,
                                    DescriptorEnumID(method.choice));
}

const FillMethod* RecordedMethod(const Descriptor& recorded) {
  const DescriptorItem* item = recorded.Find(kFillChoiceKey);
  if (!item || item->kind != DescriptorItemKind::Enumerated) return nullptr;
  return FillMethodByChoice(item->enumValue);
}

std::string DescribeRecordedMethod(const Descriptor& recorded) {
  const DescriptorItem* item = recorded.Find(kFillChoiceKey);
  if (!item || item->kind != DescriptorItemKind::Enumerated) return "fill choice unknown";
  const FillMethod* method = FillMethodByChoice(item->enumValue);
  if (!method) return "fill choice " + std::to_string(item->enumValue);
  return std::string("filled with ") + method->name + " (" + method->label + ")";
}

}  // namespace hostkit
