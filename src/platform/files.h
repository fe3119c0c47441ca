// File and folder services: the Preferences folder, files named by Pascal strings, and numbered
// open files with a file mark. Test controls make the disk fill up or opens fail on demand.
#pragma once

#include "platform/mac_types.h"

// Locates a system folder. Only kPreferencesFolderType is known. The Preferences folder is the
// folder the host set (PlatformSetPreferencesFolder, or the host-services record), else the
// user's own (PlatformDefaultPreferencesFolder). Like a real system's Preferences folder it
// always exists: it is created on first use whatever `createFolder` says.
// Returns noErr, fnfErr for an unknown folder type, or dirNFErr when there is no folder or it
// cannot be created.
OSErr FindFolder(int16_t vRefNum, OSType folderType, Boolean createFolder, int16_t* foundVRefNum,
                 long* foundDirID);

// Creates an empty file; dupFNErr when it exists. Creator and type are accepted and not kept:
// Linux files have neither. The next HOpen of the name in this process opens this very file,
// even if another process has since taken the name. A file of the name that another process
// holds open for writing does not stop the create: that process keeps its file, unnamed, and
// the name passes to the new one; the creator holds the new file from here on, so that other
// processes wait for it (see HOpen) and see it busy (see HDelete).
OSErr HCreate(int16_t vRefNum, long dirID, ConstStr255Param fileName, OSType creator,
              OSType fileType);

// Opens a file. Write permission (fsWrPerm, fsRdWrPerm) is exclusive, as it was on the system
// this imitates: a second write open in this process gets opWrErr, and another process waits
// (an advisory flock) until the first one closes the file.
OSErr HOpen(int16_t vRefNum, long dirID, ConstStr255Param fileName, int8_t permission,
            int16_t* refNum);
OSErr HOpenDF(int16_t vRefNum, long dirID, ConstStr255Param fileName, int8_t permission,
              int16_t* refNum);
// Deletes a file; fBsyErr when another process holds it open for writing (a file open in this
// process is deleted, and stays readable and writable through its reference number).
OSErr HDelete(int16_t vRefNum, long dirID, ConstStr255Param fileName);

// Positioning past the end of the file sets the mark to the end and returns eofErr.
OSErr SetFPos(int16_t refNum, int16_t posMode, long posOff);
OSErr GetFPos(int16_t refNum, long* filePos);
OSErr GetEOF(int16_t refNum, long* logEOF);
// Reads up to *count bytes at the mark; *count becomes the number read; eofErr when fewer.
OSErr FSRead(int16_t refNum, long* count, void* buffPtr);
// Writes *count bytes at the mark; *count becomes the number written; dskFulErr when short.
OSErr FSWrite(int16_t refNum, long* count, const void* buffPtr);
OSErr FSClose(int16_t refNum);
// Reserves disk space for *count more bytes without changing the file's length.
OSErr AllocContig(int16_t refNum, long* count);

// ---- Controls for tests and hosts ----

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
