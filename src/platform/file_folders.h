// Internal to the platform's file services: the folders FindFolder hands out, file names, files
// created and not yet opened, and the host's notices. files.cpp opens, reads and writes;
// file_folders.cpp finds folders, creates and deletes.
#pragma once

#include <sys/stat.h>

#include <string>

#include "platform/mac_types.h"

namespace platform_internal {

// The platform's code for an errno value.
OSErr ErrFromErrno(int err);

// The name of a Pascal string that is a plain file name (no '/', NUL, "." or ".."), else
// bdNamErr.
OSErr PlainName(ConstStr255Param fileName, std::string* name);

// The open descriptor of folder `dirID`, or dirNFErr.
OSErr FolderOf(long dirID, int* fd);

// The descriptor of the file this process created as `name` in `dirID` and has not opened yet,
// handed over (the caller closes it), or -1. *locked says whether it holds its exclusive lock.
int TakeCreated(long dirID, const std::string& name, bool* locked = nullptr);

// True while the test control refuses every open and create.
bool OpensRefused();

// True when `st` is a file that this process holds open in place.
bool OwnFile(const struct stat& st);

// Tells the host that file `name` of the Preferences folder could not be made, written or
// stored back (status), through its host-services record; nothing when it asked for no notices.
void Notice(const std::string& name, OSErr status);

}  // namespace platform_internal
