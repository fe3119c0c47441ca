// A file written beside its destination and put in place whole. The data goes into a new,
// private temporary file in the destination's folder, named ".NAME.areafill-PID-XXXXXX" and
// locked while this process holds it; Commit flushes it to disk, gives it the permissions of
// the file it replaces and renames it onto the destination. A reader never sees half a file, a
// write that fails leaves the old file as it was and no temporary file, and the temporary files
// of a process that was killed are removed by the next run that writes into the folder.
#pragma once

#include <cstddef>
#include <span>
#include <string>

namespace imagefile {

class StagedFile;

// Puts every file of `files` (each opened and written) in place, or none: each is finished
// first, and a destination that exists is kept under a second name until every rename is done,
// then put back if one failed. Returns 0, or the errno of the failure; the temporary files are
// then left for their destructors to remove.
int CommitTogether(std::span<StagedFile* const> files);

class StagedFile {
 public:
  StagedFile() = default;
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;
  // Closes and removes the temporary file unless it was committed.
  ~StagedFile();

  // Creates the temporary file in the folder of `path` (whose last component is NAME):
  // exclusively, never through a link, closed on exec, readable and writable by its owner only
  // while it is written. Leftovers of killed processes in the folder are removed first. Returns
  // 0, or the errno of the failure.
  int Open(const std::string& path);

  // The temporary file's descriptor, open for writing: -1 before Open. Writers that close what
  // they are given (stdio, libtiff) take a dup() of it.
  int descriptor() const { return fd_; }

  // Writes all `size` bytes of `data` at the descriptor's position. Returns 0 or an errno.
  int Write(const void* data, size_t size);

  // Ends the writing: flushes the data to disk and gives the file the permission bits of the
  // file it will replace (and its group, where the user may) or, for a new file, 0666 less the
  // umask. A link at the destination is not followed: the file replaces the link and is new.
  // Returns 0, or the errno of the failure, after which the temporary file is gone.
  int Finish();

  // CommitTogether of this file alone.
  int Commit();

  // The destination given to Open.
  const std::string& path() const { return path_; }

  // The temporary file's path from Open until it is committed or removed, else "". Its
  // characters stay where they are meanwhile, so a signal handler may unlink() them.
  const char* temporaryPath() const { return temporary_.c_str(); }

  // Removes the temporary files of processes that no longer run ("." names holding
  // ".areafill-PID-", unlocked, this user's) from `folder`.
  static void RemoveLeftovers(const std::string& folder);

 private:
  friend int CommitTogether(std::span<StagedFile* const> files);
  void _Remove();

  std::string path_;
  std::string temporary_;
  int fd_ = -1;
  bool finished_ = false;
};

}  // namespace imagefile
