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
