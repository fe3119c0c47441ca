// What the program checks of the paths it is given before anything runs: outputs that can be
// made and would not replace something else, a recorded action that is not one of the images,
// and an action file that is a small regular file.
#pragma once

#include <string>

namespace areafill_cli {

// The largest recorded action the program reads: a real one is a few hundred bytes.
inline constexpr long long kMaxActionBytes = 1 << 20;

// "" when a file can be put at `path` (named `what` in messages): its folder exists and the path
// is not a folder, nor something that exists and is not a regular file (a fifo or a device
// would be replaced by a file, not written to). Else one line saying what is wrong.
std::string CheckOutputPath(const std::string& path, const std::string& what);

// True when `a` and `b` name the same file: the same file when it exists (compared by identity,
// not by name), else the same place.
bool SameFile(const std::string& a, const std::string& b);

// Reads the recorded action at `path`: a regular file of at most kMaxActionBytes. Returns false
// with *error set to one line otherwise.
bool ReadActionFile(const std::string& path, std::string* text, std::string* error);

}  // namespace areafill_cli
