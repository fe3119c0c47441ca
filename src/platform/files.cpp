// File services over POSIX descriptors. Folder IDs index the folders FindFolder handed out, each
// held open, so that every file is reached relative to its folder's descriptor and never through
// a link (openat with O_NOFOLLOW). Reference numbers index a small table of open files of two
// kinds: files opened with HOpen are used in place (scratch images), under an exclusive lock for
// as long as a writer holds them; files opened with HOpenDF are documents (the preferences
// file): read whole when opened, written back when closed, each under the lock for that moment
// only, so that a document held open for long (a run whose dialog is up) blocks nobody.
#include "platform/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <string>
#include <vector>

#include "platform/file_folders.h"
#include "platform/host_settings.h"

namespace {

using platform_internal::ErrFromErrno;
using platform_internal::FolderOf;

constexpr int kMaxOpenFiles = 256;
// A document larger than this is read only this far: the preferences file is 53,248 bytes.
constexpr long long kMaxDocumentBytes = 16ll << 20;

struct OpenFile {
  bool open = false;
  bool writable = false;
  bool document = false;
  pid_t owner = 0;   // a child process inherits the table but not the exclusive locks
  std::string name;  // the file's name in its folder, for the host's notices
  // In place (HOpen):
  int fd = -1;
  dev_t device = 0;
  ino_t inode = 0;
  long long reservedEnd = 0;  // end of the space that AllocContig reserved
  // Documents (HOpenDF): the contents as read, the mark, and the byte ranges written since.
  long dirID = 0;
  std::vector<char> data;
  std::vector<char> original;  // the contents as read, against which changes are told
  long long mark = 0;
  std::vector<std::pair<long long, long long>> written;  // [start, end), in order of writing
};

std::mutex gLock;
OpenFile gFiles[kMaxOpenFiles];  // refNum n uses gFiles[n]; 0 is never handed out
long long gDiskBudget = -1;

OpenFile* FileOfLocked(int16_t refNum) {
  if (refNum <= 0 || refNum >= kMaxOpenFiles || !gFiles[refNum].open) return nullptr;
  return &gFiles[refNum];
}

int16_t FreeSlotLocked() {
  for (int i = 1; i < kMaxOpenFiles; ++i)
    if (!gFiles[i].open) return int16_t(i);
  return 0;
}

// Reads the whole of `fd` (up to kMaxDocumentBytes) under a shared lock.
OSErr ReadWholeLocked(int fd, std::vector<char>* data) {
  while (::flock(fd, LOCK_SH) != 0 && errno == EINTR) {
  }
  struct stat st {};
  OSErr err = ::fstat(fd, &st) == 0 ? noErr : ioErr;
  if (err == noErr) {
    data->resize(size_t(std::min<long long>(st.st_size, kMaxDocumentBytes)));
    size_t got = 0;
    while (got < data->size()) {
      const ssize_t n = ::pread(fd, data->data() + got, data->size() - got, off_t(got));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += size_t(n);
    }
    data->resize(got);
  }
  ::flock(fd, LOCK_UN);
  return err;
}

// A document holds 4-byte values (the preferences block's floats) and strings: a change is
// written as the whole aligned words it touches, so that two runs storing different values at
// once leave one value or the other, never a value made of both runs' bytes.
constexpr long long kWordBytes = 4;

// True when a byte of the word at `word` within [from, to) was written with a value other than
// the one read when the document was opened, or lies beyond what was read.
bool WordChanged(const OpenFile& f, long long word, long long from, long long to) {
  for (long long at = std::max(word, from); at < std::min(word + kWordBytes, to); ++at)
    if (size_t(at) >= f.original.size() || f.data[size_t(at)] != f.original[size_t(at)])
      return true;
  return false;
}

// Writes a document's changes over the file of its name as it is now, under an exclusive lock:
// the words written that differ from what was read when it was opened, so that another run's
// changes stored meanwhile to other words are kept (a read-modify-write at the store). Words
// nobody changed stay as the file has them (a longer file's tail among them).
OSErr CommitDocumentLocked(const OpenFile& f) {
  int dirFd = -1;
  if (OSErr err = FolderOf(f.dirID, &dirFd)) return err;
  const int fd = ::openat(dirFd, f.name.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return errno == ELOOP ? OSErr{permErr} : ErrFromErrno(errno);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return ioErr;
  }
  while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
  }
  OSErr err = noErr;
  long long size = st.st_size;
  const long long dataEnd = (long long)f.data.size();
  for (const auto& [from, to] : f.written) {
    for (long long word = from - from % kWordBytes; word < to && err == noErr;) {
      if (!WordChanged(f, word, from, to)) {
        word += kWordBytes;
        continue;
      }
      const long long start = word;
      while (word < to && WordChanged(f, word, from, to)) word += kWordBytes;
      const long long end = std::min(word, dataEnd);
      long long length = end - start;
      if (gDiskBudget >= 0) {  // as on a real disk, only new space counts
        const long long fresh = std::max<long long>(0, end - std::max(size, start));
        if (fresh > gDiskBudget) {
          length -= fresh - gDiskBudget;
          err = dskFulErr;
        }
        gDiskBudget -= std::min(fresh, gDiskBudget);
      }
      for (long long done = 0; done < length;) {
        const ssize_t n =
            ::pwrite(fd, f.data.data() + start + done, size_t(length - done), off_t(start + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
          err = ErrFromErrno(errno);
          break;
        }
        done += n;
      }
      size = std::max(size, start + length);
    }
  }
  ::flock(fd, LOCK_UN);
  if (::close(fd) != 0 && err == noErr) err = ioErr;
  return err;
}

OSErr OpenDocumentLocked(long dirID, const std::string& name, bool writable, int16_t* refNum) {
  int dirFd = -1;
  if (OSErr err = FolderOf(dirID, &dirFd)) return err;
  std::vector<char> data;
  // A file this process created and has not opened yet is the one meant, whatever the name
  // holds now; otherwise the file of the name, never through a link.
  int fd = platform_internal::TakeCreated(dirID, name);
  if (fd < 0) fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == ELOOP ? OSErr{permErr} : ErrFromErrno(errno);
  struct stat st {};
  OSErr err = ::fstat(fd, &st) != 0  ? ioErr
              : S_ISDIR(st.st_mode)  ? bdNamErr
              : !S_ISREG(st.st_mode) ? ioErr
                                     : noErr;
  if (err == noErr) err = ReadWholeLocked(fd, &data);
  ::close(fd);
  if (err != noErr) return err;
  const int16_t slot = FreeSlotLocked();
  if (slot == 0) return tmfoErr;
  OpenFile& f = gFiles[slot];
  f = OpenFile{};
  f.open = true;
  f.document = true;
  f.writable = writable;
  f.owner = ::getpid();
  f.dirID = dirID;
  f.name = name;
  f.original = data;
  f.data = std::move(data);
  *refNum = slot;
  return noErr;
}

OSErr OpenInPlaceLocked(long dirID, const std::string& name, bool writable, int8_t permission,
                        int16_t* refNum, std::unique_lock<std::mutex>& held) {
  int dirFd = -1;
  if (OSErr err = FolderOf(dirID, &dirFd)) return err;
  bool locked = false;
  int fd = platform_internal::TakeCreated(dirID, name, &locked);
  if (fd >= 0 && !writable) {
    // A read-only open of a file this process created: a descriptor of its own, not the lock.
    const int reader =
        ::openat(dirFd, ("/proc/self/fd/" + std::to_string(fd)).c_str(), O_RDONLY | O_CLOEXEC);
    ::close(fd);
    fd = reader;
    locked = false;
  } else if (fd < 0) {
    fd = ::openat(dirFd, name.c_str(), (writable ? O_RDWR : O_RDONLY) | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && permission == fsCurPerm && (errno == EACCES || errno == EROFS)) {
      writable = false;
      fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    }
  }
  if (fd < 0) return errno == ELOOP ? OSErr{permErr} : ErrFromErrno(errno);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return S_ISDIR(st.st_mode) ? bdNamErr : ioErr;
  }
  for (const OpenFile& f : gFiles) {
    if (f.open && !f.document && writable && f.writable && f.owner == ::getpid() &&
        f.device == st.st_dev && f.inode == st.st_ino) {
      ::close(fd);
      return opWrErr;
    }
  }
  const int16_t slot = FreeSlotLocked();
  if (slot == 0) {
    ::close(fd);
    return tmfoErr;
  }
  OpenFile& f = gFiles[slot];
  f = OpenFile{};
  f.open = true;
  f.writable = writable;
  f.owner = ::getpid();
  f.name = name;
  f.fd = fd;
  f.device = st.st_dev;
  f.inode = st.st_ino;
  if (writable && !locked) {
    // Another process holding the file waits us out; our own table is not blocked meanwhile.
    held.unlock();
    while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    held.lock();
  }
  *refNum = slot;
  return noErr;
}

bool IsWrite(int8_t permission) {
  return permission == fsWrPerm || permission == fsRdWrPerm || permission == fsCurPerm;
}

}  // namespace

namespace platform_internal {

bool OwnFile(const struct stat& st) {
  std::lock_guard<std::mutex> guard(gLock);
  const pid_t self = ::getpid();
  for (const OpenFile& f : gFiles)
    if (f.open && !f.document && f.owner == self && f.device == st.st_dev && f.inode == st.st_ino)
      return true;
  return false;
}

}  // namespace platform_internal

OSErr HOpen(int16_t vRefNum, long dirID, ConstStr255Param fileName, int8_t permission,
            int16_t* refNum) {
  *refNum = 0;
  std::string name;
  if (OSErr err = platform_internal::PlainName(fileName, &name)) return err;
  if (platform_internal::OpensRefused()) return permErr;
  std::unique_lock<std::mutex> held(gLock);
  return OpenInPlaceLocked(dirID, name, IsWrite(permission), permission, refNum, held);
}

OSErr HOpenDF(int16_t vRefNum, long dirID, ConstStr255Param fileName, int8_t permission,
              int16_t* refNum) {
  *refNum = 0;
  std::string name;
  if (OSErr err = platform_internal::PlainName(fileName, &name)) return err;
  if (platform_internal::OpensRefused()) return permErr;
  std::lock_guard<std::mutex> guard(gLock);
  return OpenDocumentLocked(dirID, name, IsWrite(permission), refNum);
}

OSErr SetFPos(int16_t refNum, int16_t posMode, long posOff) {
  std::lock_guard<std::mutex> guard(gLock);
  OpenFile* f = FileOfLocked(refNum);
  if (!f) return rfNumErr;
  long long size = 0, mark = 0;
  if (f->document) {
    size = (long long)f->data.size();
    mark = f->mark;
  } else {
    struct stat st {};
    if (::fstat(f->fd, &st) != 0) return ioErr;
    size = st.st_size;
    mark = ::lseek(f->fd, 0, SEEK_CUR);
  }
  long long target;
  switch (posMode) {
    case fsAtMark:
      return noErr;
    case fsFromStart:
      target = posOff;
      break;
    case fsFromLEOF:
      target = size + posOff;
      break;
    case fsFromMark:
      target = mark + posOff;
      break;
    default:
      return paramErr;
  }
  if (target < 0) return posErr;
  OSErr err = noErr;
  if (target > size) {
    target = size;
    err = eofErr;
  }
  if (f->document)
    f->mark = target;
  else
    ::lseek(f->fd, off_t(target), SEEK_SET);
  return err;
}

OSErr FSRead(int16_t refNum, long* count, void* buffPtr) {
  std::lock_guard<std::mutex> guard(gLock);
  const long wanted = *count;
  *count = 0;
  OpenFile* f = FileOfLocked(refNum);
  if (!f) return rfNumErr;
  if (wanted < 0) return paramErr;
  auto* out = static_cast<char*>(buffPtr);
  if (f->document) {
    const long long left = std::max<long long>(0, (long long)f->data.size() - f->mark);
    *count = long(std::min<long long>(wanted, left));
    std::copy_n(f->data.data() + f->mark, *count, out);
    f->mark += *count;
    return *count < wanted ? eofErr : noErr;
  }
  while (*count < wanted) {
    const ssize_t got = ::read(f->fd, out + *count, size_t(wanted - *count));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return ioErr;
    if (got == 0) return eofErr;
    *count += long(got);
  }
  return noErr;
}

OSErr FSWrite(int16_t refNum, long* count, const void* buffPtr) {
  std::lock_guard<std::mutex> guard(gLock);
  const long wanted = *count;
  *count = 0;
  OpenFile* f = FileOfLocked(refNum);
  if (!f) return rfNumErr;
  if (!f->writable) return wPrErr;
  if (wanted < 0) return paramErr;
  const auto* in = static_cast<const char*>(buffPtr);
  if (f->document) {
    // Kept with the document and written back when it is closed.
    const long long end = f->mark + wanted;
    if (end > kMaxDocumentBytes) return dskFulErr;
    if (end > (long long)f->data.size()) f->data.resize(size_t(end));
    std::copy_n(in, wanted, f->data.data() + f->mark);
    if (!f->written.empty() && f->written.back().second == f->mark)
      f->written.back().second = end;
    else if (wanted > 0)
      f->written.emplace_back(f->mark, end);
    f->mark = end;
    *count = wanted;
    return noErr;
  }
  long allowed = wanted;
  const long long mark = ::lseek(f->fd, 0, SEEK_CUR);
  long long owned = 0;  // bytes of the write that land on space the file already has
  if (gDiskBudget >= 0) {
    struct stat st {};
    if (::fstat(f->fd, &st) != 0) return ioErr;
    const long long end = std::max<long long>(st.st_size, f->reservedEnd);
    owned = std::clamp<long long>(end - mark, 0, wanted);
    if (owned + gDiskBudget < wanted) allowed = long(owned + gDiskBudget);
  }
  OSErr err = noErr;
  while (*count < allowed) {
    const ssize_t put = ::write(f->fd, in + *count, size_t(allowed - *count));
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) {
      err = ErrFromErrno(errno);
      break;
    }
    *count += long(put);
  }
  if (gDiskBudget >= 0) gDiskBudget -= std::max<long long>(*count - owned, 0);
  if (err == noErr && *count < wanted) err = dskFulErr;
  if (err != noErr) platform_internal::Notice(f->name, err);
  return err;
}

OSErr FSClose(int16_t refNum) {
  std::lock_guard<std::mutex> guard(gLock);
  OpenFile* f = FileOfLocked(refNum);
  if (!f) return rfNumErr;
  const OpenFile closed = std::move(*f);
  *f = OpenFile{};
  if (!closed.document) return ::close(closed.fd) == 0 ? noErr : ioErr;  // releases the lock
  if (closed.written.empty()) return noErr;
  const OSErr err = CommitDocumentLocked(closed);
  if (err != noErr) platform_internal::Notice(closed.name, err);
  return err;
}

OSErr AllocContig(int16_t refNum, long* count) {
  std::lock_guard<std::mutex> guard(gLock);
  OpenFile* f = FileOfLocked(refNum);
  if (!f) return rfNumErr;
  if (*count <= 0 || f->document) return noErr;
  if (gDiskBudget >= 0 && gDiskBudget < *count) return dskFulErr;
  struct stat st {};
  if (::fstat(f->fd, &st) != 0) return ioErr;
  const int rc = ::fallocate(f->fd, FALLOC_FL_KEEP_SIZE, st.st_size, off_t(*count));
  if (rc != 0 && errno == ENOSPC) return dskFulErr;
  if (gDiskBudget >= 0) gDiskBudget -= *count;
  f->reservedEnd = std::max<long long>(f->reservedEnd, st.st_size + *count);
  return noErr;  // file systems without fallocate simply allocate as they write
}

void PlatformSetDiskFullAfter(long long bytes) {
  std::lock_guard<std::mutex> guard(gLock);
  gDiskBudget = bytes < 0 ? -1 : bytes;
}

long PlatformOpenFiles() {
  std::lock_guard<std::mutex> guard(gLock);
  long n = 0;
  for (const OpenFile& f : gFiles)
    if (f.open) ++n;
  return n;
}
