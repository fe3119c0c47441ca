// File services over POSIX descriptors. Reference numbers index a small table of open files;
// folder IDs index a small table of folder paths handed out by FindFolder.
#include "platform/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include "platform/host_settings.h"

namespace {

constexpr int kMaxOpenFiles = 256;

struct OpenFile {
  int fd = -1;
  bool writable = false;
  dev_t device = 0;
  ino_t inode = 0;
  pid_t owner = 0;            // a child process inherits the table but not the exclusive opens
  long long reservedEnd = 0;  // end of the space that AllocContig reserved
};

// A file this process created and has not opened yet. HCreate keeps it open and locked, so
// that the HOpen that follows gets this very file even when another process has meanwhile
// deleted the name and created its own file under it, and so that other processes see it in
// use from the moment it exists.
struct CreatedFile {
  std::string path;
  int fd = -1;
  dev_t device = 0;
  ino_t inode = 0;
  pid_t owner = 0;
  bool locked = false;  // holds its exclusive flock
};
constexpr size_t kMaxCreatedFiles = 16;

std::mutex gLock;
OpenFile gFiles[kMaxOpenFiles];     // refNum n uses gFiles[n]; 0 is never handed out
std::vector<std::string> gFolders;  // dirID n (from 1) is gFolders[n - 1]
std::vector<CreatedFile> gCreated;  // oldest first
std::string gHostPrefsFolder;
std::string gResolvedPrefsFolder;
long long gDiskBudget = -1;
bool gRefuseOpens = false;

OSErr ErrFromErrno(int err) {
  switch (err) {
    case ENOENT:
      return fnfErr;
    case EEXIST:
      return dupFNErr;
    case EACCES:
    case EPERM:
      return permErr;
    case EROFS:
      return wPrErr;
    case ENOSPC:
    case EDQUOT:
      return dskFulErr;
    case EMFILE:
    case ENFILE:
      return tmfoErr;
    case ENAMETOOLONG:
      return bdNamErr;
    default:
      return ioErr;
  }
}

// The host's folder, else the user's own; "" when there is none.
std::string ResolvePrefsFolderLocked() {
  if (!gHostPrefsFolder.empty()) return gHostPrefsFolder;
  return PlatformDefaultPreferencesFolder();
}

// Builds the path of `fileName` in folder `dirID`; bdNamErr for names that are not plain names.
OSErr PathOfLocked(long dirID, ConstStr255Param fileName, std::string* path) {
  if (dirID < 1 || size_t(dirID) > gFolders.size()) return dirNFErr;
  if (!fileName || fileName[0] == 0) return bdNamErr;
  std::string name(reinterpret_cast<const char*>(fileName + 1), fileName[0]);
  if (name == "." || name == ".." || name.find('/') != std::string::npos ||
      name.find('\0') != std::string::npos)
    return bdNamErr;
  *path = gFolders[size_t(dirID - 1)] + "/" + name;
  return noErr;
}

OpenFile* FileOfLocked(int16_t refNum) {
  if (refNum <= 0 || refNum >= kMaxOpenFiles || gFiles[refNum].fd < 0) return nullptr;
  return &gFiles[refNum];
}

// The created-and-not-yet-opened entry of `path` in this process, or null.
CreatedFile* CreatedOfLocked(const std::string& path) {
  for (CreatedFile& c : gCreated)
    if (c.path == path && c.owner == ::getpid()) return &c;
  return nullptr;
}

void ForgetCreatedLocked(CreatedFile* created, bool close) {
  if (close) ::close(created->fd);
  gCreated.erase(gCreated.begin() + (created - gCreated.data()));
}

// True when `st` is a file that this process has open or has created and not yet opened.
bool OwnFileLocked(const struct stat& st) {
  pid_t self = ::getpid();
  for (const OpenFile& f : gFiles)
    if (f.fd >= 0 && f.owner == self && f.device == st.st_dev && f.inode == st.st_ino) return true;
  for (const CreatedFile& c : gCreated)
    if (c.owner == self && c.device == st.st_dev && c.inode == st.st_ino) return true;
  return false;
}

// True when the file at `path` is held for writing by another process: a writer holds an
// exclusive flock for as long as the file is open, which a shared probe cannot get.
bool BusyElsewhereLocked(const std::string& path, struct stat* st) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  bool busy = false;
  if (::fstat(fd, st) == 0 && S_ISREG(st->st_mode) && !OwnFileLocked(*st)) {
    if (::flock(fd, LOCK_SH | LOCK_NB) == 0)
      ::flock(fd, LOCK_UN);
    else
      busy = errno == EWOULDBLOCK;
  }
  ::close(fd);
  return busy;
}

OSErr OpenLocked(long dirID, ConstStr255Param fileName, int8_t permission, int16_t* refNum,
                 std::unique_lock<std::mutex>& held) {
  *refNum = 0;
  std::string path;
  if (OSErr err = PathOfLocked(dirID, fileName, &path)) return err;
  if (gRefuseOpens) return permErr;
  bool writable = permission == fsWrPerm || permission == fsRdWrPerm || permission == fsCurPerm;
  int flags = permission == fsRdPerm ? O_RDONLY : O_RDWR;
  int fd = -1;
  bool locked = false;
  if (CreatedFile* created = CreatedOfLocked(path)) {
    // The file this process created under the name, whatever the name means now.
    if (writable) {
      fd = created->fd;
      locked = created->locked;
      ForgetCreatedLocked(created, false);
    } else {
      std::string self = "/proc/self/fd/" + std::to_string(created->fd);
      fd = ::open(self.c_str(), O_RDONLY | O_CLOEXEC);
      ForgetCreatedLocked(created, true);
    }
  } else {
    fd = ::open(path.c_str(), flags | O_CLOEXEC);
  }
  if (fd < 0 && permission == fsCurPerm && (errno == EACCES || errno == EROFS)) {
    writable = false;
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  }
  if (fd < 0) return ErrFromErrno(errno);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return S_ISDIR(st.st_mode) ? bdNamErr : ioErr;
  }
  int slot = 0;
  for (int i = 1; i < kMaxOpenFiles; ++i) {
    OpenFile& f = gFiles[i];
    if (f.fd >= 0 && writable && f.writable && f.owner == ::getpid() && f.device == st.st_dev &&
        f.inode == st.st_ino) {
      ::close(fd);
      return opWrErr;
    }
    if (f.fd < 0 && slot == 0) slot = i;
  }
  if (slot == 0) {
    ::close(fd);
    return tmfoErr;
  }
  gFiles[slot] = OpenFile{fd, writable, st.st_dev, st.st_ino, ::getpid(), 0};
  if (writable && !locked) {
    // Another process holding the file waits us out; our own table is not blocked meanwhile.
    held.unlock();
    while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    held.lock();
  }
  *refNum = int16_t(slot);
  return noErr;
}

}  // namespace

OSErr FindFolder(int16_t vRefNum, OSType folderType, Boolean createFolder, int16_t* foundVRefNum,
                 long* foundDirID) {
  if (folderType != kPreferencesFolderType) return fnfErr;
  std::lock_guard<std::mutex> guard(gLock);
  std::string folder = ResolvePrefsFolderLocked();
  if (folder.empty()) return dirNFErr;
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (!std::filesystem::is_directory(folder, ec)) return dirNFErr;
  long id = 0;
  for (size_t i = 0; i < gFolders.size(); ++i)
    if (gFolders[i] == folder) id = long(i + 1);
  if (id == 0) {
    gFolders.push_back(folder);
    id = long(gFolders.size());
  }
  if (foundVRefNum) *foundVRefNum = -1;
  if (foundDirID) *foundDirID = id;
  return noErr;
}

OSErr HCreate(int16_t vRefNum, long dirID, ConstStr255Param fileName, OSType, OSType) {
  std::lock_guard<std::mutex> guard(gLock);
  std::string path;
  if (OSErr err = PathOfLocked(dirID, fileName, &path)) return err;
  if (gRefuseOpens) return permErr;
  int fd = -1;
  // Scratch and preferences files have fixed names in a folder that programs share. A file of
  // the name that another process is writing is that process's own: it keeps its data through
  // its open file, and the name passes to the new file. Anything else that exists is dupFNErr.
  for (int attempt = 0;; ++attempt) {
    fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) break;
    int err = errno;
    struct stat st {};
    if (err != EEXIST || attempt == 8 || !BusyElsewhereLocked(path, &st)) return ErrFromErrno(err);
    struct stat now {};
    if (::stat(path.c_str(), &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino)
      ::unlink(path.c_str());
  }
  // A fresh file: nobody else holds its lock yet, unless they opened it by name already.
  bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  struct stat st {};
  ::fstat(fd, &st);
  if (CreatedFile* stale = CreatedOfLocked(path)) ForgetCreatedLocked(stale, true);
  if (gCreated.size() >= kMaxCreatedFiles) ForgetCreatedLocked(&gCreated.front(), true);
  gCreated.push_back(CreatedFile{path, fd, st.st_dev, st.st_ino, ::getpid(), locked});
  return noErr;
}

OSErr HOpen(int16_t vRefNum, long dirID, ConstStr255Param fileName, int8_t permission,
            int16_t* refNum) {
  std::unique_lock<std::mutex> held(gLock);
  return OpenLocked(dirID, fileName, permission, refNum, held);
}

OSErr HOpenDF(int16_t vRefNum, long dirID, ConstStr255Param fileName, int8_t permission,
              int16_t* refNum) {
  return HOpen(vRefNum, dirID, fileName, permission, refNum);
}

OSErr HDelete(int16_t vRefNum, long dirID, ConstStr255Param fileName) {
  std::lock_guard<std::mutex> guard(gLock);
  std::string path;
  if (OSErr err = PathOfLocked(dirID, fileName, &path)) return err;
  if (CreatedFile* created = CreatedOfLocked(path)) ForgetCreatedLocked(created, true);
  // Another process's open file is busy, as it was on the system this imitates.
  struct stat st {};
  if (BusyElsewhereLocked(path, &st)) return fBsyErr;
  if (::unlink(path.c_str()) != 0) return ErrFromErrno(errno);
  return noErr;
}

OSErr SetFPos(int16_t refNum, int16_t posMode, long posOff) {
  std::lock_guard<std::mutex> guard(gLock);
  OpenFile* f = FileOfLocked(refNum);
  if (!f) return rfNumErr;
  struct stat st {};
  if (::fstat(f->fd, &st) != 0) return ioErr;
  long long target;
  switch (posMode) {
    case fsAtMark:
      return noErr;
    case fsFromStart:
      target = posOff;
      break;
    case fsFromLEOF:
      target = st.st_size + posOff;
      break;
    case fsFromMark:
      target = ::lseek(f->fd, 0, SEEK_CUR) + posOff;
      break;
    default:
      return paramErr;
  }
  if (target < 0) return posErr;
  if (target > st.st_size) {
    ::lseek(f->fd, st.st_size, SEEK_SET);
    return eofErr;
  }
  ::lseek(f->fd, off_t(target), SEEK_SET);
  return noErr;
}

OSErr GetFPos(int16_t refNum, long* filePos) {
  std::lock_guard<std::mutex> guard(gLock);
  OpenFile* f = FileOfLocked(refNum);
  if (!f) return rfNumErr;
  *filePos = long(::lseek(f->fd, 0, SEEK_CUR));
  return noErr;
}

OSErr GetEOF(int16_t refNum, long* logEOF) {
  std::lock_guard<std::mutex> guard(gLock);
  OpenFile* f = FileOfLocked(refNum);
  if (!f) return rfNumErr;
  struct stat st {};
  if (::fstat(f->fd, &st) != 0) return ioErr;
  *logEOF = long(st.st_size);
  return noErr;
}

OSErr FSRead(int16_t refNum, long* count, void* buffPtr) {
  std::lock_guard<std::mutex> guard(gLock);
  long wanted = *count;
  *count = 0;
  OpenFile* f = FileOfLocked(refNum);
  if (!f) return rfNumErr;
  if (wanted < 0) return paramErr;
  auto* out = static_cast<char*>(buffPtr);
  while (*count < wanted) {
    ssize_t got = ::read(f->fd, out + *count, size_t(wanted - *count));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return ioErr;
    if (got == 0) return eofErr;
    *count += long(got);
  }
  return noErr;
}

OSErr FSWrite(int16_t refNum, long* count, const void* buffPtr) {
  std::lock_guard<std::mutex> guard(gLock);
  long wanted = *count;
  *count = 0;
  OpenFile* f = FileOfLocked(refNum);
  if (!f) return rfNumErr;
  if (!f->writable) return wPrErr;
  if (wanted < 0) return paramErr;
  long allowed = wanted;
  long long mark = ::lseek(f->fd, 0, SEEK_CUR);
  long long owned = 0;  // bytes of the write that land on space the file already has
  if (gDiskBudget >= 0) {
    struct stat st {};
    if (::fstat(f->fd, &st) != 0) return ioErr;
    long long end = std::max<long long>(st.st_size, f->reservedEnd);
    owned = std::clamp<long long>(end - mark, 0, wanted);
    if (owned + gDiskBudget < wanted) allowed = long(owned + gDiskBudget);
  }
  const auto* in = static_cast<const char*>(buffPtr);
  while (*count < allowed) {
    ssize_t put = ::write(f->fd, in + *count, size_t(allowed - *count));
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return ErrFromErrno(errno);
    *count += long(put);
  }
  if (gDiskBudget >= 0) gDiskBudget -= std::max<long long>(*count - owned, 0);
  return *count < wanted ? dskFulErr : noErr;
}

OSErr FSClose(int16_t refNum) {
  std::lock_guard<std::mutex> guard(gLock);
  OpenFile* f = FileOfLocked(refNum);
  if (!f) return rfNumErr;
  int rc = ::close(f->fd);  // closing releases the flock
  *f = OpenFile{};
  return rc == 0 ? noErr : ioErr;
}

OSErr AllocContig(int16_t refNum, long* count) {
  std::lock_guard<std::mutex> guard(gLock);
  OpenFile* f = FileOfLocked(refNum);
  if (!f) return rfNumErr;
  if (*count <= 0) return noErr;
  if (gDiskBudget >= 0 && gDiskBudget < *count) return dskFulErr;
  struct stat st {};
  if (::fstat(f->fd, &st) != 0) return ioErr;
  int rc = ::fallocate(f->fd, FALLOC_FL_KEEP_SIZE, st.st_size, off_t(*count));
  if (rc != 0 && errno == ENOSPC) return dskFulErr;
  if (gDiskBudget >= 0) gDiskBudget -= *count;
  f->reservedEnd = std::max<long long>(f->reservedEnd, st.st_size + *count);
  return noErr;  // file systems without fallocate simply allocate as they write
}

void PlatformSetPreferencesFolder(const char* path) {
  std::lock_guard<std::mutex> guard(gLock);
  gHostPrefsFolder = path ? path : "";
}

const char* PlatformPreferencesFolderPath() {
  std::lock_guard<std::mutex> guard(gLock);
  gResolvedPrefsFolder = ResolvePrefsFolderLocked();
  return gResolvedPrefsFolder.c_str();
}

void PlatformSetDiskFullAfter(long long bytes) {
  std::lock_guard<std::mutex> guard(gLock);
  gDiskBudget = bytes < 0 ? -1 : bytes;
}

void PlatformRefuseOpens(bool refuse) {
  std::lock_guard<std::mutex> guard(gLock);
  gRefuseOpens = refuse;
}

long PlatformOpenFiles() {
  std::lock_guard<std::mutex> guard(gLock);
  long n = 0;
  for (const OpenFile& f : gFiles)
    if (f.fd >= 0) ++n;
  return n;
}
