// The staged output file: a private temporary file beside the destination, renamed onto it once
// it is complete.
#include "imagefile/staged_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace imagefile {
namespace {

// Tries before giving up on names that other files already hold.
constexpr int kNameTries = 100;

// Six letters or digits from the system's random source (or, without one, the clock and a
// count of the names made).
std::string _RandomSuffix() {
  static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  static std::atomic<uint64_t> made{0};
  uint64_t bits = 0;
  if (getrandom(&bits, sizeof bits, GRND_NONBLOCK) != ssize_t(sizeof bits)) {
    bits = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()) ^
           (uint64_t(getpid()) << 32) ^ (made++ * 0x9E3779B97F4A7C15u);
  }
  std::string suffix;
  for (int i = 0; i < 6; ++i, bits /= 62) suffix += kLetters[bits % 62];
  return suffix;
}

// The process's umask. /proc says it without changing it; umask() can only be read by setting
// it, which races other threads creating files, so it is the fallback.
mode_t _Umask() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Umask:", 0) == 0) return mode_t(std::strtoul(line.c_str() + 6, nullptr, 8));
  }
  const mode_t mask = umask(022);
  umask(mask);
  return mask;
}

}  // namespace

StagedFile::~StagedFile() { _Remove(); }

int StagedFile::Open(const std::string& path) {
  _Remove();
  path_ = path;
  const std::filesystem::path target(path);
  const std::string stem = "." + target.filename().string() + ".";
  for (int attempt = 0; attempt < kNameTries; ++attempt) {
    const std::string name = (target.parent_path() / (stem + _RandomSuffix())).string();
    fd_ = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ >= 0) {
      temporary_ = name;
      return 0;
    }
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
}

int StagedFile::Write(const void* data, size_t size) {
  const auto* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = write(fd_, bytes, size);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return errno;
    bytes += written;
    size -= size_t(written);
  }
  return 0;
}

int StagedFile::Finish() {
  if (fd_ < 0) return temporary_.empty() ? EBADF : 0;
  // The file it replaces, never through a link: a link is replaced, so the file is new.
  struct stat replaced = {};
  const bool replacing = lstat(path_.c_str(), &replaced) == 0 && S_ISREG(replaced.st_mode);
  const mode_t mode = replacing ? replaced.st_mode & 0777 : 0666 & ~_Umask();
  // Only a member of the group may give it; the file keeps the user's group otherwise.
  if (replacing && replaced.st_gid != getegid()) (void)!fchown(fd_, uid_t(-1), replaced.st_gid);
  int failure = 0;
  if (fsync(fd_) != 0 || fchmod(fd_, mode) != 0) failure = errno;
  if (close(fd_) != 0 && failure == 0) failure = errno;
  fd_ = -1;
  if (failure != 0) _Remove();
  return failure;
}

int StagedFile::Commit() {
  if (int failure = Finish()) return failure;
  if (std::rename(temporary_.c_str(), path_.c_str()) != 0) return errno;
  temporary_.clear();
  return 0;
}

void StagedFile::_Remove() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  if (!temporary_.empty()) unlink(temporary_.c_str());
  temporary_.clear();
}

}  // namespace imagefile
