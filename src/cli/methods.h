// The fill methods by the names the command line uses, and their fill-choice numbers.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "hostkit/descriptor.h"

namespace areafill_cli {

struct Method {
  const char* name;   // as typed after --method
  int32_t choice;     // the filter's fill choice, 3..9
  const char* label;  // what it does
};

// Null for an unknown name or choice.
const Method* MethodByName(const std::string& name);
const Method* MethodByChoice(int64_t choice);

// The descriptor item that replays `method`: "FilM", an enumeration of type "rB22".
hostkit::DescriptorItem MethodDescriptorItem(const Method& method);

// "membrane fill" and so on, from what the filter recorded; "fill choice N" for others.
std::string DescribeRecordedMethod(const hostkit::Descriptor& recorded);

// One line per method: name, choice and label.
void PrintMethods(std::FILE* out);

}  // namespace areafill_cli
