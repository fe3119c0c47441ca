// The fill methods as hosts offer them (the command line's --method, the Python module's
// method=, GIMP's method argument): the filter's one table of fill choices, looked up by name
// and by code, and the descriptor item that replays a choice.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "filter/host/fill_choices.h"
#include "hostkit/descriptor.h"

namespace hostkit {

using FillMethod = FillChoiceInfo;

// Every method, in fill-choice order (membrane first).
inline std::span<const FillMethod> FillMethods() { return kFillChoices; }

// Null for an unknown name or choice.
const FillMethod* FillMethodByName(const std::string& name);
const FillMethod* FillMethodByChoice(int64_t choice);

// "membrane, mean, foreground, black, white, hblend, vblend": the names, for messages.
std::string FillMethodNames();

// The descriptor item that replays `method`: "FilM", an enumeration of type "rB22".
DescriptorItem FillMethodDescriptorItem(const FillMethod& method);

// "" when `action` replays a fill choice the filter takes (3 to 9, an enumeration of type
// "rB22") or none; else one line naming what it holds and what is accepted, for example
// "fill choice 10 is not one of 3 (membrane), 4 (mean), …, 9 (vblend)". The filter itself would
// ignore such a value and run its remembered choice without a word.
std::string CheckReplayedChoice(const Descriptor& action);

// The method that the filter recorded in `recorded`, or null when it recorded no usable one.
const FillMethod* RecordedMethod(const Descriptor& recorded);

// "filled with membrane (…)" and so on, from what the filter recorded; "fill choice N" for
// other choices, "fill choice unknown" when nothing usable was recorded.
std::string DescribeRecordedMethod(const Descriptor& recorded);

}  // namespace hostkit
