// Memory blocks (pointers) and relocatable blocks (handles), as the filter module allocates
// them, plus controls that let tests refuse memory and count what is still allocated.
#pragma once

#include "platform/mac_types.h"

// Pointer blocks. NewPtr/NewPtrClear return null when memory is refused (MemError() is
// then memFullErr). DisposePtr accepts null.
Ptr NewPtr(Size byteCount);
Ptr NewPtrClear(Size byteCount);
void DisposePtr(Ptr p);
Size GetPtrSize(Ptr p);

// Handles. A handle is the address of a master pointer; the block never moves, so HLock and
// HUnlock only record the state. TempNewHandle draws on temporary memory, which tests (and
// hosts) may cap so that large scratch images go to disk.
Handle NewHandle(Size byteCount);
Handle NewHandleClear(Size byteCount);
Handle TempNewHandle(Size byteCount, OSErr* resultCode);
void DisposeHandle(Handle h);
Size GetHandleSize(Handle h);
void SetHandleSize(Handle h, Size newSize);  // MemError() tells whether it worked
void HLock(Handle h);
void HUnlock(Handle h);
void HNoPurge(Handle h);

void BlockMoveData(const void* srcPtr, void* destPtr, Size byteCount);
OSErr MemError();

// ---- Controls for tests and hosts ----

// Caps the temporary memory that live TempNewHandle blocks may hold together; negative
// removes the cap. Hosts set it through the host-services record.
void PlatformSetTempMemoryLimit(long long bytes);

// Lets the next `allow` allocations succeed, then refuses the following `refuse` ones
// (pointers and handles alike). PlatformRefuseAllocations(0, 0) turns refusing off.
void PlatformRefuseAllocations(long allow, long refuse);

// Allocations made so far (successful or refused); lets a test count allocation points.
long PlatformAllocationCount();

// Pointer and handle blocks currently allocated.
long PlatformLiveBlocks();
