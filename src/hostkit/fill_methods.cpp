// The fill methods by name and code, over the filter's table of fill choices.
#include "hostkit/fill_methods.h"

namespace hostkit {

const FillMethod* FillMethodByName(const std::string& name) {
  for (const FillMethod& method : FillMethods())
    if (name == method.name) return &method;
  return nullptr;
}

const FillMethod* FillMethodByChoice(int64_t choice) {
  for (const FillMethod& method : FillMethods())
    if (choice == method.choice) return &method;
  return nullptr;
}

std::string FillMethodNames() {
  std::string names;
  for (const FillMethod& method : FillMethods())
    names += (names.empty() ? "" : ", ") + std::string(method.name);
  return names;
}

DescriptorItem FillMethodDescriptorItem(const FillMethod& method) {
  return DescriptorItem::Enumerated(kFillChoiceKey, kFillChoiceType,
                                    DescriptorEnumID(method.choice));
}

std::string CheckReplayedChoice(const Descriptor& action) {
  const DescriptorItem* item = action.Find(kFillChoiceKey);
  if (!item) return "";
  std::string accepted;
  for (const FillMethod& method : FillMethods())
    accepted +=
        (accepted.empty() ? "" : ", ") + std::to_string(method.choice) + " (" + method.name + ")";
  if (item->kind != DescriptorItemKind::Enumerated || item->enumType != kFillChoiceType)
    return "fill choice must be an enumeration of type rB22 with one of " + accepted;
  if (!FillMethodByChoice(item->enumValue))
    return "fill choice " + std::to_string(item->enumValue) + " is not one of " + accepted;
  return "";
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
  return std::string("filled with ") + method->name + " (" + method->description + ")";
}

}  // namespace hostkit
