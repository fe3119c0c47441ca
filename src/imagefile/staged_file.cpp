// The staged output file: a private temporary file beside the destination, renamed onto it once
// it is complete.
#include "imagefile/staged_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace imagefile {
namespace {

// Tries before giving up on names that other files already hold.
constexpr int kNameTries = 100;

// What every temporary file's name holds after ".NAME", before the process id.
constexpr char kMarker[] = ".areafill-";

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
  const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
  RemoveLeftovers(folder.string());
  const std::string stem =
      "." + target.filename().string() + kMarker + std::to_string(getpid()) + "-";
  for (int attempt = 0; attempt < kNameTries; ++attempt) {
    const std::string name = (folder / (stem + _RandomSuffix())).string();
    fd_ = open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ >= 0) {
      temporary_ = name;
      flock(fd_, LOCK_EX | LOCK_NB);  // held until it is committed or removed
      return 0;
    }
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
}

void StagedFile::RemoveLeftovers(const std::string& folder) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    const size_t at = name.find(kMarker);
    if (name.empty() || name[0] != '.' || at == std::string::npos) continue;
    const long pid = std::strtol(name.c_str() + at + std::strlen(kMarker), nullptr, 10);
    // A live process's file, or one whose process cannot be told: left alone.
    if (pid <= 0 || kill(pid_t(pid), 0) == 0 || errno != ESRCH) continue;
    const int fd = open(entry.path().c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st = {};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() &&
        flock(fd, LOCK_EX | LOCK_NB) == 0)
      unlink(entry.path().c_str());
    close(fd);
  }
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
  if (temporary_.empty()) return EBADF;
  if (finished_) return 0;
  // The file it replaces, never through a link: a link is replaced, so the file is new.
  struct stat replaced = {};
  const bool replacing = lstat(path_.c_str(), &replaced) == 0 && S_ISREG(replaced.st_mode);
  const mode_t mode = replacing ? replaced.st_mode & 0777 : 0666 & ~_Umask();
  // Only a member of the group may give it; the file keeps the user's group otherwise.
  if (replacing && replaced.st_gid != getegid()) (void)!fchown(fd_, uid_t(-1), replaced.st_gid);
  int failure = 0;
  if (fsync(fd_) != 0 || fchmod(fd_, mode) != 0) failure = errno;
  if (failure != 0) _Remove();
  finished_ = failure == 0;
  return failure;
}

int StagedFile::Commit() {
  StagedFile* self = this;
  return CommitTogether(std::span<StagedFile* const>(&self, 1));
}

int CommitTogether(std::span<StagedFile* const> files) {
  for (StagedFile* file : files)
    if (int failure = file->Finish()) return failure;
  // Each destination that exists is kept under a second name until every file is in place.
  std::vector<std::string> kept(files.size());
  for (size_t i = 0; i < files.size(); ++i) {
    const std::string backup = files[i]->temporary_ + "-kept";
    if (link(files[i]->path_.c_str(), backup.c_str()) == 0) kept[i] = backup;
  }
  int failure = 0;
  size_t done = 0;
  for (; done < files.size(); ++done) {
    if (std::rename(files[done]->temporary_.c_str(), files[done]->path_.c_str()) != 0) {
      failure = errno;
      break;
    }
  }
  for (size_t i = 0; i < files.size(); ++i) {
    if (failure != 0 && i < done) {  // put back what was there, or nothing
      if (!kept[i].empty())
        std::rename(kept[i].c_str(), files[i]->path_.c_str());
      else
        unlink(files[i]->path_.c_str());
    }
    if (!kept[i].empty()) unlink(kept[i].c_str());
    if (failure == 0) {
      close(files[i]->fd_);
      files[i]->fd_ = -1;
      files[i]->temporary_.clear();
    }
  }
  return failure;
}

void StagedFile::_Remove() {
  if (!temporary_.empty()) unlink(temporary_.c_str());
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  temporary_.clear();
  finished_ = false;
}

}  // namespace imagefile
