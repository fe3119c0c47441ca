// The fill methods by the names hosts offer them (the command line's --method, the Python
// module's method=), with their fill-choice numbers and the descriptor that replays them.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "hostkit/descriptor.h"

namespace hostkit {

struct FillMethod {
  const char* name;   // as a host's user types it
  int32_t choice;     // the filter's fill choice, 3..9
  const char* label;  // what it does
};

// Every method, in fill-choice order (membrane first).
std::span<const FillMethod> FillMethods();

// Null for an unknown name or choice.
const FillMethod* FillMethodByName(const std::string& name);
const FillMethod* FillMethodByChoice(int64_t choice);

// The descriptor item that replays `method`: "FilM", an enumeration of type "rB22".
DescriptorItem FillMethodDescriptorItem(const FillMethod& method);

// The method that the filter recorded in `recorded`, or null when it recorded no usable one.
const FillMethod* RecordedMethod(const Descriptor& recorded);

// "filled with membrane (…)" and so on, from what the filter recorded; "fill choice N" for
// other choices, "fill choice unknown" when nothing usable was recorded.
std::string DescribeRecordedMethod(const Descriptor& recorded);

}  // namespace hostkit
