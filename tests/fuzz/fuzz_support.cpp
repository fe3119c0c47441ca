// Scratch files and leak checks for the fuzz targets.
#include "fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/dialog_backend.h"
#include "platform/files.h"
#include "platform/memory.h"

namespace fuzz {
namespace {

long gBaselineBlocks = 0;
long gBaselineFiles = 0;

}  // namespace

const std::string& ScratchFolder() {
  // Never destroyed, so that the exit handler below can still use it.
  static const std::string* folder = [] {
    const char* tmp = std::getenv("TMPDIR");
    auto* path = new std::string(std::string(tmp && *tmp ? tmp : "/tmp") + "/areafill-fuzz-" +
                                 std::to_string(::getpid()) + "/");
    std::filesystem::create_directories(*path);
    // The folder goes when the fuzzing process ends normally.
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(ScratchFolder(), ec);
    });
    return path;
  }();
  return *folder;
}

std::string WriteInput(const char* name, const uint8_t* data, size_t size) {
  std::string path = ScratchFolder() + name;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);
  return path;
}

void FreshPreferencesFolder() {
  static const std::string prefs = ScratchFolder() + "prefs";
  std::error_code ec;
  std::filesystem::remove_all(prefs, ec);
  std::filesystem::create_directories(prefs);
  PlatformSetPreferencesFolder(prefs.c_str());
  PlatformSetTempMemoryLimit(-1);
  PlatformRefuseAllocations(0, 0);
  PlatformSetDiskFullAfter(-1);
  PlatformRefuseOpens(false);
  PlatformScriptReset();
  PlatformSetDialogBackend(PlatformScriptedDialogBackend());
}

bool IsOneLine(const std::string& message) {
  for (unsigned char c : message)
    if (c < 0x20 || c == 0x7F) return false;
  return true;
}

void NoteBaseline() {
  gBaselineBlocks = PlatformLiveBlocks();
  gBaselineFiles = PlatformOpenFiles();
}

void CheckNothingLeft(const char* where) {
  long blocks = PlatformLiveBlocks(), files = PlatformOpenFiles();
  if (blocks != gBaselineBlocks || files != gBaselineFiles) {
    std::fprintf(stderr, "%s: %ld memory blocks and %ld files left over\n", where,
                 blocks - gBaselineBlocks, files - gBaselineFiles);
    std::abort();
  }
}

}  // namespace fuzz

#include "imagefile/host_conversion.h"
#include "imagefile/image_io.h"

namespace fuzz {

void ExerciseImageFile(const std::string& path) {
  imagefile::FileImage image;
  std::string error;
  if (!imagefile::ReadImage(path, &image, &error)) {
    // A refusal is one line naming the file.
    if (error.rfind(path + ": ", 0) != 0 || !IsOneLine(error)) std::abort();
    return;
  }
  if (image.width <= 0 || image.height <= 0 || image.width > imagefile::kMaxImageSide ||
      image.height > imagefile::kMaxImageSide ||
      image.data.size() != image.RowBytes() * size_t(image.height))
    std::abort();
  hostkit::HostImage host;
  if (!imagefile::ToHostImage(image, &host, &error)) return;  // e.g. no mode for it
  imagefile::FileImage back;
  if (!imagefile::FromHostImage(host, image, &back, &error) || back.data != image.data)
    std::abort();
  if (image.data.size() > (1u << 20)) return;
  const bool png = image.format == imagefile::FileFormat::PNG;
  std::string out = ScratchFolder() + (png ? "round-trip.png" : "round-trip.tif");
  if (!imagefile::CanWrite(image, out, &error)) return;
  imagefile::FileImage reread;
  if (!imagefile::WriteImage(out, image, &error) || !imagefile::ReadImage(out, &reread, &error) ||
      reread.data != image.data || reread.width != image.width || reread.height != image.height)
    std::abort();
}

}  // namespace fuzz
