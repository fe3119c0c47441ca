// Scratch files, leak checks and image-file promises for the fuzz targets.
#include "fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "imagefile/host_conversion.h"
#include "imagefile/image_io.h"
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
    std::atexit([] { std::filesystem::remove_all(ScratchFolder()); });
    return path;
  }();
  return *folder;
}

std::string WriteInput(const char* name, const uint8_t* data, size_t size) {
  const std::string path = ScratchFolder() + name;
  if (!std::ofstream(path, std::ios::binary)
           .write(reinterpret_cast<const char*>(data), std::streamsize(size)))
    std::abort();
  return path;
}

void FreshPreferencesFolder() {
  // Emptied, not made anew: the platform holds the folder open once it has found it.
  static const std::string prefs = ScratchFolder() + "prefs";
  std::filesystem::create_directories(prefs);
  for (const auto& entry : std::filesystem::directory_iterator(prefs))
    std::filesystem::remove_all(entry.path());
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

void ExerciseImageFile(const std::string& path) {
  imagefile::FileImage image;
  std::string error;
  if (!imagefile::ReadImage(path, &image, &error)) {
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
  // Back to its own format (a JPEG over itself: the splice, with no block changed).
  const bool png = image.format == imagefile::FileFormat::PNG;
  const bool jpeg = image.format == imagefile::FileFormat::JPEG;
  std::string out = ScratchFolder() + (png    ? "round-trip.png"
                                       : jpeg ? "round-trip.jpg"
                                              : "round-trip.tif");
  if (!imagefile::CanWrite(image, out, &error)) return;
  if (!imagefile::WriteImage(out, image, &error)) {
    // A damaged or unusual JPEG whose blocks cannot be written again as they are is refused,
    // and so is a TIFF with another page that cannot be read to be copied.
    if (jpeg && error.find("blocks cannot be kept") != std::string::npos) return;
    if (error.find("cannot read page") != std::string::npos) return;
    std::abort();
  }
  imagefile::FileImage reread;
  if (!imagefile::ReadImage(out, &reread, &error) || reread.data != image.data ||
      reread.width != image.width || reread.height != image.height)
    std::abort();
}

}  // namespace fuzz
