// A throw-away GIMP for tests: a temporary folder holding a GIMP profile with the plug-in
// installed by the install script, a home folder and the filter's Preferences folder, so that
// no run touches the user's own GIMP or preferences. GIMP is limited to the plug-ins the tests
// use (Script-Fu, PNG and ours), which keeps a fresh profile's start to seconds.
#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "imagefile/image_io.h"

namespace gimp_test {

namespace fs = std::filesystem;

struct Session {
  fs::path root;     // everything below is inside it
  fs::path profile;  // GIMP2_DIRECTORY
  fs::path prefs;    // AREAFILL_PREFS_DIR
  fs::path work;     // the tests' images
};

// The first of the programs that is not on PATH, or "".
std::string MissingProgram(const std::vector<std::string>& programs);

// Makes a session under the system's temporary folder and installs the plug-in into its
// profile. Returns "" or what went wrong.
std::string MakeSession(Session* session);

// Removes the session's folder, unless $AREAFILL_KEEP_GIMP_TEST names a reason to keep it.
void RemoveSession(const Session& session);

// Runs `command` through the shell with the session's environment (HOME, the XDG folders,
// GIMP2_DIRECTORY, AREAFILL_PREFS_DIR, and no display unless `command` starts one), its output
// appended to *output. Returns its exit status
// (-1 when it could not run or was killed).
int RunInSession(const Session& session, const std::string& command, std::string* output);

// The shell command that runs `script` (a Script-Fu file) in gimp-console and quits.
std::string GimpBatchCommand(const fs::path& script);

// A string as a Scheme string literal, or as one shell word.
std::string SchemeString(const std::string& text);
std::string ShellWord(const std::string& text);

// The tests' image: kTestWidth × kTestHeight RGB, smooth ramps under a coarse checker, so that
// every method leaves its own trace; at 16 bits the low byte carries a pattern of its own, so
// that the 16-bit path is not 8 bits scaled.
inline constexpr int kTestWidth = 64;
inline constexpr int kTestHeight = 48;
imagefile::FileImage TestImage(int bits);

// Script-Fu that the tests' scripts start with:
// (areafill-load FILE) loads a PNG and selects a rectangle (hard-edged) and an ellipse
// (anti-aliased) in it; (areafill-save IMAGE FILE) saves its drawable as PNG;
// (areafill-run FILE OUT RUN-MODE METHOD) loads, runs the plug-in and saves.
std::string SchemeHelpers();

// The image file at `path`, or a failed test.
imagefile::FileImage ReadPng(const std::string& path);

// Sample `c` of pixel (x, y) of an 8- or 16-bit image.
inline uint32_t Sample(const imagefile::FileImage& image, int x, int y, int c) {
  const size_t index =
      (size_t(y) * size_t(image.width) + size_t(x)) * size_t(image.SamplesPerPixel()) + size_t(c);
  if (image.bitsPerSample == 8) return image.data[index];
  uint16_t v;
  std::memcpy(&v, image.data.data() + 2 * index, 2);
  return v;
}

}  // namespace gimp_test
