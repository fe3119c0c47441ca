// File and folder services: the Preferences folder, files named by Pascal strings, and numbered
// open files with a file mark. Every file is reached relative to its folder and never through a
// link. Test controls make the disk fill up or opens fail on demand.
#pragma once

#include <string>

#include "platform/mac_types.h"

// Locates a system folder. Only kPreferencesFolderType is known. The Preferences folder is the
// folder the host set (PlatformSetPreferencesFolder, or the host-services record), else the
// user's own (PlatformDefaultPreferencesFolder). Like a real system's Preferences folder it
// always exists: it is created on first use (private to the user) whatever `createFolder` says.
// Returns noErr, fnfErr for an unknown folder type, dirNFErr when there is no folder or it
// cannot be created, or permErr for a folder of another user's or one that others may write.
OSErr FindFolder(int16_t vRefNum, OSType folderType, Boolean createFolder, int16_t* foundVRefNum,
                 long* foundDirID);

// Creates an empty file, locked from the moment it has a name. Creator and type are accepted and
// not kept: Linux files have neither. The next open of the name in this process opens this very
// file, even if another process has since taken the name. A file already of the name (a
// leftover, or another process's, which keeps its data through its open descriptor) gives up
// the name to the new one; the creator holds the new file from here on, so that other processes
// wait for it (see HOpen) and see it busy (see HDelete).
OSErr HCreate(int16_t vRefNum, long dirID, ConstStr255Param fileName, OSType creator,
              OSType fileType);

// Opens a file to be used in place (a scratch image). Write permission (fsWrPerm, fsRdWrPerm) is
// exclusive, as it was on the system this imitates: a second write open in this process gets
// opWrErr, and another process waits (an advisory flock) until the first one closes the file.
OSErr HOpen(int16_t vRefNum, long dirID, ConstStr255Param fileName, int8_t permission,
            int16_t* refNum);
// Opens a document (the preferences file): its contents are read whole now, under a shared lock
// for that moment only; reads and writes then work on that copy, and FSClose writes the bytes
// written over the file as it is then, under an exclusive lock for that moment only (bytes not
// written stay as the file has them). A document held open for long blocks nobody; a file that
// cannot be written is still read, and its FSClose reports why it could not be stored.
OSErr HOpenDF(int16_t vRefNum, long dirID, ConstStr255Param fileName, int8_t permission,
              int16_t* refNum);
// Deletes a file; fBsyErr when another process holds it open for writing (a file open in this
// process is deleted, and stays readable and writable through its reference number).
OSErr HDelete(int16_t vRefNum, long dirID, ConstStr255Param fileName);

// Positioning past the end of the file sets the mark to the end and returns eofErr.
OSErr SetFPos(int16_t refNum, int16_t posMode, long posOff);
// Reads up to *count bytes at the mark; *count becomes the number read; eofErr when fewer.
OSErr FSRead(int16_t refNum, long* count, void* buffPtr);
// Writes *count bytes at the mark; *count becomes the number written; dskFulErr when short.
OSErr FSWrite(int16_t refNum, long* count, const void* buffPtr);
// Closes a file; a document is written back first (dskFulErr, permErr, … when it cannot be).
OSErr FSClose(int16_t refNum);
// Reserves disk space for *count more bytes without changing the file's length.
OSErr AllocContig(int16_t refNum, long* count);

// ---- Controls for tests and hosts ----

// "" when `path` may serve as the Preferences folder: a folder of this user's that no one else
// may write (made, private, when it is missing); else what is wrong, in words ("belongs to
// another user (uid 1001)", "can be written by others (mode 777)", "is not a folder"). FindFolder
// refuses any other folder with permErr.
std::string PlatformCheckPreferencesFolder(const std::string& path);

// Sets the Preferences folder (a path); null or "" returns to the user's own.
void PlatformSetPreferencesFolder(const char* path);
// The Preferences folder's path as FindFolder would choose it now (not created).
const char* PlatformPreferencesFolderPath();

// Lets `bytes` more bytes of disk space be taken in all, then reports a full disk; negative: no
// limit. As on a real disk, only new space counts: bytes written over a file's existing length
// or into space that AllocContig reserved always go through.
void PlatformSetDiskFullAfter(long long bytes);
// When set, every open and create fails with permErr.
void PlatformRefuseOpens(bool refuse);
// Files currently open.
long PlatformOpenFiles();
