// The samples of an image as rows of equal length, held in memory or, once the process's memory
// budget for images is spent, in an unnamed temporary file, so that a host can read, fill and
// write an image larger than its memory. Rows are reached through a window of consecutive rows:
// in memory every window is a view of the whole; on disk the window is the only part held, and
// a pointer into it stays good until the next window of the same rows object is asked for.
// Rows never written read as zeros.
//
// Failures (no memory, a temporary file that cannot be made, read or written) throw:
// std::bad_alloc, or PixelRowsError with one line naming the folder and the cause.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace hostkit {

struct PixelRowsError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Where images go that do not fit: rows objects made after this call keep their rows in memory
// while all of them together hold at most `memoryBytes`, and put the rows of a larger one in an
// unnamed file in `folder`. A negative budget (the default) keeps everything in memory.
void SetPixelRowsSpill(const std::string& folder, long long memoryBytes);

// The memory a host may give its images when the user sets no figure: a quarter of the smaller
// of the machine's memory and the process's address-space limit, since a run holds the image
// about four times over (as read, in the host's scale, filled, as written).
long long DefaultPixelRowsBudget();

class PixelRows {
 public:
  PixelRows() = default;
  // `rows` rows of `rowBytes` zero bytes.
  explicit PixelRows(size_t rowBytes, int32_t rows);
  PixelRows(const PixelRows& other);
  PixelRows& operator=(const PixelRows& other);
  PixelRows(PixelRows&& other) noexcept;
  PixelRows& operator=(PixelRows&& other) noexcept;
  ~PixelRows();

  // Starts over with no rows of `rowBytes` bytes, placed (memory or disk) for `expectedRows`
  // rows; in memory, room for at most `reserveBytes` is set aside at once, so a reader that
  // grows the rows as the file delivers them asks for no more than the file can fill.
  void Reset(size_t rowBytes, int32_t expectedRows, size_t reserveBytes = 0);
  // Makes the count at least `rows`; new rows are zeros.
  void Grow(int32_t rows);

  size_t RowBytes() const { return rowBytes_; }
  int32_t Count() const { return count_; }
  size_t size() const { return rowBytes_ * size_t(count_); }
  bool empty() const { return count_ == 0 || rowBytes_ == 0; }
  bool OnDisk() const { return fd_ >= 0; }

  // The window of rows [y, y + n), to read and write.
  uint8_t* Rows(int32_t y, int32_t n = 1) {
    if (fd_ < 0) return memory_.data() + size_t(y) * rowBytes_;
    return _Window(y, n, true);
  }
  const uint8_t* Rows(int32_t y, int32_t n = 1) const {
    if (fd_ < 0) return memory_.data() + size_t(y) * rowBytes_;
    return const_cast<PixelRows*>(this)->_Window(y, n, false);
  }
  // Every row in one window (on disk: read in whole; for hosts that hand the image on whole).
  uint8_t* data() { return empty() ? memory_.data() : Rows(0, count_); }
  const uint8_t* data() const { return empty() ? memory_.data() : Rows(0, count_); }

  // Byte `i` of the rows laid end to end.
  uint8_t& operator[](size_t i) { return Rows(int32_t(i / rowBytes_))[i % rowBytes_]; }
  uint8_t operator[](size_t i) const { return Rows(int32_t(i / rowBytes_))[i % rowBytes_]; }
  // The bytes laid end to end, as rows of `rowBytes`, and back; for hosts and tests that hold
  // samples as plain arrays.
  void Assign(const std::vector<uint8_t>& bytes, size_t rowBytes);
  std::vector<uint8_t> ToVector() const;
  bool operator==(const PixelRows& other) const;
  bool operator==(const std::vector<uint8_t>& bytes) const;

 private:
  uint8_t* _Window(int32_t y, int32_t n, bool writing);
  void _Flush();
  void _Release();
  void _PlaceFor(size_t bytes);

  size_t rowBytes_ = 0;
  int32_t count_ = 0;
  std::vector<uint8_t> memory_;
  size_t counted_ = 0;  // bytes of the memory budget this object holds
  int fd_ = -1;         // the temporary file, when on disk
  std::string folder_;  // where it is, for messages
  std::vector<uint8_t> window_;
  int32_t windowTop_ = 0, windowRows_ = 0;
  bool windowDirty_ = false;
};

}  // namespace hostkit
