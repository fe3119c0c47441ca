// Shared by the fuzz targets: a private scratch folder per fuzzing process, the input written
// to a file there for readers that take a path, a check that an input left no platform memory
// block or file open behind, and the promises every image file that reads must keep.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

// The process's own folder under $TMPDIR (made on first use, removed at exit), with a
// trailing slash.
const std::string& ScratchFolder();

// Writes `size` bytes to `name` in the scratch folder and returns the file's path.
std::string WriteInput(const char* name, const uint8_t* data, size_t size);

// Makes the scratch folder's "prefs" subfolder the Preferences folder, with no file in it, the
// dialog headless and the platform's limits off. Call at the start of every input.
void FreshPreferencesFolder();

// True when `message` is one line of printable text: no line break, tab or terminal control.
bool IsOneLine(const std::string& message);

// Remembers the platform's live blocks and open files now; CheckNothingLeft aborts (a crash
// the fuzzer reports) when either differs.
void NoteBaseline();
void CheckNothingLeft(const char* where);

// Reads the image file at `path` as the command-line host does. A refusal must be one line
// naming the file; a file that reads must be consistent, survive the trip to the host's scale
// and back unchanged, and (when small) be written and read back equal in its own format.
// Aborts on any broken promise.
void ExerciseImageFile(const std::string& path);

}  // namespace fuzz
