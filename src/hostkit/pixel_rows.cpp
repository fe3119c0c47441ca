// Rows of an image in memory or in an unnamed temporary file (see pixel_rows.h). The file is made
// with O_TMPFILE where the file system has it, so that it has no name at any moment and vanishes
// with the process however that ends; elsewhere it is made under a unique name and unlinked at
// once.
#include "hostkit/pixel_rows.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace hostkit {
namespace {

std::string gSpillFolder;
long long gMemoryBudget = -1;
std::atomic<long long> gMemoryHeld{0};

int _MakeUnnamedFile(const std::string& folder) {
#ifdef O_TMPFILE
  const int unnamed = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (unnamed >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return unnamed;
#endif
  std::string name = folder + "/.areafill-rows-XXXXXX";
  const int named = ::mkostemp(name.data(), O_CLOEXEC);
  if (named >= 0) ::unlink(name.c_str());
  return named;
}

[[noreturn]] void _Fail(const std::string& what, const std::string& folder, int error) {
  throw PixelRowsError(what + " the image's rows in a temporary file in " + folder + " (" +
                       std::strerror(error) + ")");
}

}  // namespace

void SetPixelRowsSpill(const std::string& folder, long long memoryBytes) {
  gSpillFolder = folder;
  gMemoryBudget = memoryBytes;
}

long long DefaultPixelRowsBudget() {
  long long memory = (long long)::sysconf(_SC_PHYS_PAGES) * (long long)::sysconf(_SC_PAGESIZE);
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      (memory <= 0 || (long long)limit.rlim_cur < memory))
    memory = (long long)limit.rlim_cur;
  return memory > 0 ? memory / 4 : 256ll << 20;
}

PixelRows::PixelRows(size_t rowBytes, int32_t rows) {
  Reset(rowBytes, rows);
  Grow(rows);
}

PixelRows::PixelRows(const PixelRows& other) { *this = other; }

PixelRows& PixelRows::operator=(const PixelRows& other) {
  if (this == &other) return *this;
  Reset(other.rowBytes_, other.count_);
  Grow(other.count_);
  if (!OnDisk() && !other.OnDisk()) {
    std::copy(other.memory_.begin(), other.memory_.begin() + std::ptrdiff_t(size()),
              memory_.begin());
    return *this;
  }
  for (int32_t y = 0; y < count_; ++y) std::memcpy(Rows(y), other.Rows(y), rowBytes_);
  return *this;
}

PixelRows::PixelRows(PixelRows&& other) noexcept { *this = std::move(other); }

PixelRows& PixelRows::operator=(PixelRows&& other) noexcept {
  if (this == &other) return *this;
  _Release();
  rowBytes_ = std::exchange(other.rowBytes_, 0);
  count_ = std::exchange(other.count_, 0);
  memory_ = std::move(other.memory_);
  counted_ = std::exchange(other.counted_, 0);
  fd_ = std::exchange(other.fd_, -1);
  folder_ = std::move(other.folder_);
  window_ = std::move(other.window_);
  windowTop_ = std::exchange(other.windowTop_, 0);
  windowRows_ = std::exchange(other.windowRows_, 0);
  windowDirty_ = std::exchange(other.windowDirty_, false);
  return *this;
}

PixelRows::~PixelRows() { _Release(); }

void PixelRows::_Release() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  gMemoryHeld -= (long long)counted_;
  counted_ = 0;
  memory_.clear();
  memory_.shrink_to_fit();
  window_.clear();
  window_.shrink_to_fit();
  windowTop_ = windowRows_ = 0;
  windowDirty_ = false;
  count_ = 0;
}

void PixelRows::_PlaceFor(size_t bytes) {
  if (gMemoryBudget < 0 || gMemoryHeld + (long long)bytes <= gMemoryBudget) {
    counted_ = bytes;
    gMemoryHeld += (long long)bytes;
    return;
  }
  folder_ = gSpillFolder;
  fd_ = _MakeUnnamedFile(folder_);
  if (fd_ < 0) _Fail("cannot keep", folder_, errno);
}

void PixelRows::Reset(size_t rowBytes, int32_t expectedRows, size_t reserveBytes) {
  _Release();
  rowBytes_ = rowBytes;
  const size_t bytes = rowBytes * size_t(std::max(expectedRows, 0));
  _PlaceFor(bytes);
  if (!OnDisk()) memory_.reserve(reserveBytes ? std::min(reserveBytes, bytes) : bytes);
}

void PixelRows::Grow(int32_t rows) {
  if (rows <= count_) return;
  if (!OnDisk()) memory_.resize(rowBytes_ * size_t(rows));
  count_ = rows;  // on disk, rows past the file's end read as zeros
}

void PixelRows::Assign(const std::vector<uint8_t>& bytes, size_t rowBytes) {
  const int32_t rows = rowBytes ? int32_t(bytes.size() / rowBytes) : 0;
  Reset(rowBytes, rows);
  Grow(rows);
  for (int32_t y = 0; y < rows; ++y)
    std::memcpy(Rows(y), bytes.data() + size_t(y) * rowBytes, rowBytes);
}

std::vector<uint8_t> PixelRows::ToVector() const {
  std::vector<uint8_t> bytes(size());
  for (int32_t y = 0; y < count_; ++y)
    std::memcpy(bytes.data() + size_t(y) * rowBytes_, Rows(y), rowBytes_);
  return bytes;
}

bool PixelRows::operator==(const PixelRows& other) const {
  if (size() != other.size()) return false;
  if (rowBytes_ != other.rowBytes_) return ToVector() == other.ToVector();
  for (int32_t y = 0; y < count_; ++y)
    if (std::memcmp(Rows(y), other.Rows(y), rowBytes_) != 0) return false;
  return true;
}

bool PixelRows::operator==(const std::vector<uint8_t>& bytes) const {
  if (size() != bytes.size()) return false;
  for (int32_t y = 0; y < count_; ++y)
    if (std::memcmp(Rows(y), bytes.data() + size_t(y) * rowBytes_, rowBytes_) != 0) return false;
  return true;
}

void PixelRows::_Flush() {
  if (!windowDirty_) return;
  const uint8_t* from = window_.data();
  size_t left = size_t(windowRows_) * rowBytes_;
  off_t at = off_t(windowTop_) * off_t(rowBytes_);
  while (left > 0) {
    const ssize_t wrote = ::pwrite(fd_, from, left, at);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) _Fail("cannot write", folder_, wrote < 0 ? errno : ENOSPC);
    from += wrote;
    left -= size_t(wrote);
    at += wrote;
  }
  windowDirty_ = false;
}

uint8_t* PixelRows::_Window(int32_t y, int32_t n, bool writing) {
  if (n < 1) n = 1;
  if (windowRows_ == 0 || y < windowTop_ || y + n > windowTop_ + windowRows_) {
    _Flush();
    windowRows_ = 0;
    window_.resize(size_t(n) * rowBytes_);
    uint8_t* to = window_.data();
    size_t left = window_.size();
    off_t at = off_t(y) * off_t(rowBytes_);
    while (left > 0) {
      const ssize_t got = ::pread(fd_, to, left, at);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) _Fail("cannot read", folder_, errno);
      if (got == 0) {  // past the file's end: rows never written
        std::memset(to, 0, left);
        break;
      }
      to += got;
      left -= size_t(got);
      at += got;
    }
    windowTop_ = y;
    windowRows_ = n;
  }
  if (writing) windowDirty_ = true;
  return window_.data() + size_t(y - windowTop_) * rowBytes_;
}

}  // namespace hostkit
