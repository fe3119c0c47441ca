// The program's checks of its paths.
#include "cli/paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace areafill_cli {

namespace fs = std::filesystem;

std::string CheckOutputPath(const std::string& path, const std::string& what) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return what + " " + path + ": is a folder, not a file name";
    if (!S_ISREG(st.st_mode))
      return what + " " + path + ": exists and is not a regular file; give a file name";
    // /dev/stdout and its kin lead to the file a stream was sent to: replacing that "file" would
    // replace the link (in /dev, as root) or the log behind it, never write to the stream.
    for (const int stream : {STDOUT_FILENO, STDERR_FILENO}) {
      struct stat out {};
      if (::fstat(stream, &out) == 0 && out.st_dev == st.st_dev && out.st_ino == st.st_ino)
        return what + " " + path + ": is this program's standard " +
               (stream == STDOUT_FILENO ? "output" : "error") + "; give a file name";
    }
  }
  const fs::path target(path);
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  std::error_code ec;
  if (!fs::is_directory(folder, ec))
    return what + " " + path + ": the folder " + folder.string() + " does not exist";
  return "";
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {
  }, sb{};
  const bool hasA = ::stat(a.c_str(), &sa) == 0, hasB = ::stat(b.c_str(), &sb) == 0;
  if (hasA && hasB) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  if (hasA != hasB) return false;
  std::error_code ec;
  return fs::weakly_canonical(fs::absolute(a, ec), ec) ==
         fs::weakly_canonical(fs::absolute(b, ec), ec);
}

bool ReadActionFile(const std::string& path, std::string* text, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *error = path + ": cannot read the recorded action (" + std::strerror(errno) + ")";
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    *error = path + ": a recorded action is a file; this is not a regular file";
    return false;
  }
  if (st.st_size > kMaxActionBytes) {
    ::close(fd);
    *error = path + ": too large for a recorded action (" + std::to_string(st.st_size) +
             " bytes; the most is " + std::to_string(kMaxActionBytes) + ")";
    return false;
  }
  text->assign(size_t(st.st_size), '\0');
  size_t got = 0;
  while (got < text->size()) {
    const ssize_t n = ::read(fd, text->data() + got, text->size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += size_t(n);
  }
  ::close(fd);
  text->resize(got);
  return true;
}

}  // namespace areafill_cli
