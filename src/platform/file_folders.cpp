// Folders and names: the Preferences folder (a folder of this user's that no one else may write,
// held open so that every file in it is reached relative to it), and the creation and deletion
// of files in it, never through a link.
#include "platform/file_folders.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <vector>

#include "platform/files.h"
#include "platform/host_settings.h"

namespace {

// A file this process created and has not opened yet. HCreate keeps it open and locked, so
// that the open that follows gets this very file even when another process has meanwhile
// deleted the name and created its own file under it, and so that other processes see it in
// use from the moment it has a name.
struct CreatedFile {
  long dirID = 0;
  std::string name;
  int fd = -1;
  pid_t owner = 0;
  bool locked = false;  // holds its exclusive flock
};
constexpr size_t kMaxCreatedFiles = 16;

struct Folder {
  std::string path;
  int fd = -1;
  pid_t owner = 0;  // a child process opens the folder anew: it may have closed the descriptor
};

std::mutex gLock;
std::vector<Folder> gFolders;       // dirID n (from 1) is gFolders[n - 1]
std::vector<CreatedFile> gCreated;  // oldest first
std::string gHostPrefsFolder;
std::string gResolvedPrefsFolder;
bool gRefuseOpens = false;

// The host's folder, else the user's own; "" when there is none.
std::string ResolvePrefsFolderLocked() {
  if (!gHostPrefsFolder.empty()) return gHostPrefsFolder;
  return PlatformDefaultPreferencesFolder();
}

// "" when the open folder `fd` is this user's and no one else may write it, else what is wrong.
std::string CheckFolder(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode)) return "is not a folder";
  if (st.st_uid != ::geteuid())
    return "belongs to another user (uid " + std::to_string(st.st_uid) + ")";
  if (st.st_mode & (S_IWGRP | S_IWOTH)) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%03o", unsigned(st.st_mode & 0777));
    return std::string("can be written by others (mode ") + mode + ")";
  }
  return "";
}

// Opens `path` as a folder, making it (private) when it is missing.
int OpenFolder(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) {
    std::error_code ec;
    const std::filesystem::path folder(path);
    if (folder.has_parent_path()) std::filesystem::create_directories(folder.parent_path(), ec);
    ::mkdir(path.c_str(), 0700);
    fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  }
  return fd;
}

CreatedFile* CreatedOfLocked(long dirID, const std::string& name) {
  for (CreatedFile& c : gCreated)
    if (c.dirID == dirID && c.name == name && c.owner == ::getpid()) return &c;
  return nullptr;
}

void ForgetCreatedLocked(CreatedFile* created, bool close) {
  if (close) ::close(created->fd);
  gCreated.erase(gCreated.begin() + (created - gCreated.data()));
}

// True when the file `name` in `dirFd` is held for writing by another process: a writer holds
// an exclusive flock for as long as the file is open, which a shared probe cannot get.
bool BusyElsewhere(int dirFd, const std::string& name) {
  const int fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  bool busy = false;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && !platform_internal::OwnFile(st)) {
    if (::flock(fd, LOCK_SH | LOCK_NB) == 0)
      ::flock(fd, LOCK_UN);
    else
      busy = errno == EWOULDBLOCK;
  }
  ::close(fd);
  return busy;
}

// A new, unnamed file in `dirFd`, locked before anyone can see it; -1 with errno set. The file
// gets a name with NameFile. Where the file system has no unnamed files, it is made under a
// temporary name of this process, which NameFile removes.
int NewFile(int dirFd, std::string* temporary) {
  int fd = ::openat(dirFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
    static int counter = 0;
    *temporary = ".areafill-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
    fd = ::openat(dirFd, temporary->c_str(), O_CREAT | O_EXCL | O_RDWR | O_NOFOLLOW | O_CLOEXEC,
                  0600);
  }
  if (fd >= 0) ::flock(fd, LOCK_EX | LOCK_NB);
  return fd;
}

int NameFile(int dirFd, int fd, const std::string& temporary, const std::string& name) {
  if (temporary.empty()) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    return ::linkat(AT_FDCWD, self.c_str(), dirFd, name.c_str(), AT_SYMLINK_FOLLOW);
  }
  return ::linkat(dirFd, temporary.c_str(), dirFd, name.c_str(), 0);
}

}  // namespace

namespace platform_internal {

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

OSErr PlainName(ConstStr255Param fileName, std::string* name) {
  if (!fileName || fileName[0] == 0) return bdNamErr;
  name->assign(reinterpret_cast<const char*>(fileName + 1), fileName[0]);
  if (*name == "." || *name == ".." || name->find('/') != std::string::npos ||
      name->find('\0') != std::string::npos)
    return bdNamErr;
  return noErr;
}

OSErr FolderOf(long dirID, int* fd) {
  std::lock_guard<std::mutex> guard(gLock);
  if (dirID < 1 || size_t(dirID) > gFolders.size()) return dirNFErr;
  Folder& folder = gFolders[size_t(dirID - 1)];
  if (folder.owner != ::getpid()) {
    folder.fd = OpenFolder(folder.path);
    folder.owner = ::getpid();
  }
  if (folder.fd < 0) return dirNFErr;
  *fd = folder.fd;
  return noErr;
}

int TakeCreated(long dirID, const std::string& name, bool* locked) {
  std::lock_guard<std::mutex> guard(gLock);
  CreatedFile* created = CreatedOfLocked(dirID, name);
  if (!created) return -1;
  const int fd = created->fd;
  if (locked) *locked = created->locked;
  ForgetCreatedLocked(created, false);
  return fd;
}

bool OpensRefused() {
  std::lock_guard<std::mutex> guard(gLock);
  return gRefuseOpens;
}

void Notice(const std::string& name, OSErr status) { PlatformNotifyHost(name.c_str(), status); }

}  // namespace platform_internal

OSErr FindFolder(int16_t vRefNum, OSType folderType, Boolean createFolder, int16_t* foundVRefNum,
                 long* foundDirID) {
  if (folderType != kPreferencesFolderType) return fnfErr;
  std::lock_guard<std::mutex> guard(gLock);
  const std::string path = ResolvePrefsFolderLocked();
  if (path.empty()) return dirNFErr;
  long id = 0;
  for (size_t i = 0; i < gFolders.size() && id == 0; ++i)
    if (gFolders[i].path == path) id = long(i + 1);
  if (id == 0) {
    gFolders.push_back(Folder{path, -1, 0});
    id = long(gFolders.size());
  }
  Folder& folder = gFolders[size_t(id - 1)];
  // The folder held open is the one the path names now: a folder made anew under the same path
  // (removed and made again between runs) is opened anew.
  struct stat held {
  }, named{};
  if (folder.owner == ::getpid() && folder.fd >= 0 &&
      (::fstat(folder.fd, &held) != 0 || ::stat(path.c_str(), &named) != 0 ||
       held.st_dev != named.st_dev || held.st_ino != named.st_ino)) {
    ::close(folder.fd);
    folder.fd = -1;
    folder.owner = 0;
  }
  if (folder.owner != ::getpid()) {
    folder.fd = OpenFolder(path);
    folder.owner = ::getpid();
  }
  if (folder.fd < 0) return dirNFErr;
  // Checked on every use: a folder that others may write could hold their links.
  if (!CheckFolder(folder.fd).empty()) return permErr;
  if (foundVRefNum) *foundVRefNum = -1;
  if (foundDirID) *foundDirID = id;
  return noErr;
}

OSErr HCreate(int16_t vRefNum, long dirID, ConstStr255Param fileName, OSType, OSType) {
  std::string name;
  if (OSErr err = platform_internal::PlainName(fileName, &name)) return err;
  int dirFd = -1;
  if (OSErr err = platform_internal::FolderOf(dirID, &dirFd)) return err;
  if (platform_internal::OpensRefused()) return permErr;
  std::string temporary;
  const int fd = NewFile(dirFd, &temporary);
  if (fd < 0) {
    const OSErr err = platform_internal::ErrFromErrno(errno);
    platform_internal::Notice(name, err);
    return err;
  }
  // Scratch and preferences files have fixed names in a folder that programs share. A file of
  // the name is a leftover, one another process has just closed, or another process's live
  // file, which keeps its data through its open descriptor; the name passes to the new file.
  int rc = -1, err = 0;
  for (int attempt = 0; attempt < 8 && rc != 0; ++attempt) {
    rc = NameFile(dirFd, fd, temporary, name);
    err = errno;
    if (rc != 0 && (err != EEXIST || ::unlinkat(dirFd, name.c_str(), 0) != 0)) break;
  }
  if (!temporary.empty()) ::unlinkat(dirFd, temporary.c_str(), 0);
  if (rc != 0) {
    ::close(fd);
    const OSErr status = platform_internal::ErrFromErrno(err);
    platform_internal::Notice(name, status);
    return status;
  }
  std::lock_guard<std::mutex> guard(gLock);
  if (CreatedFile* stale = CreatedOfLocked(dirID, name)) ForgetCreatedLocked(stale, true);
  if (gCreated.size() >= kMaxCreatedFiles) ForgetCreatedLocked(&gCreated.front(), true);
  gCreated.push_back(CreatedFile{dirID, name, fd, ::getpid(), true});
  return noErr;
}

OSErr HDelete(int16_t vRefNum, long dirID, ConstStr255Param fileName) {
  std::string name;
  if (OSErr err = platform_internal::PlainName(fileName, &name)) return err;
  int dirFd = -1;
  if (OSErr err = platform_internal::FolderOf(dirID, &dirFd)) return err;
  {
    std::lock_guard<std::mutex> guard(gLock);
    if (CreatedFile* created = CreatedOfLocked(dirID, name)) ForgetCreatedLocked(created, true);
  }
  // Another process's open file is busy, as it was on the system this imitates.
  if (BusyElsewhere(dirFd, name)) return fBsyErr;
  if (::unlinkat(dirFd, name.c_str(), 0) != 0) return platform_internal::ErrFromErrno(errno);
  return noErr;
}

std::string PlatformCheckPreferencesFolder(const std::string& path) {
  const int fd = OpenFolder(path);
  if (fd < 0) return errno == ENOTDIR ? "is not a folder" : "cannot be made or opened";
  std::string problem = CheckFolder(fd);
  ::close(fd);
  return problem;
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

void PlatformRefuseOpens(bool refuse) {
  std::lock_guard<std::mutex> guard(gLock);
  gRefuseOpens = refuse;
}
