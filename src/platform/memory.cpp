// Pointer and handle blocks on top of malloc, with a header that records size and kind so that
// the sizes can be asked for, double frees caught, and live blocks counted.
#include "platform/memory.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

constexpr uint32_t kPtrMagic = 0x50545221;     // "PTR!"
constexpr uint32_t kMasterMagic = 0x48444c21;  // "HDL!"
constexpr uint32_t kDeadMagic = 0xdeadbeef;

// Header in front of every pointer block; 16 bytes keep the data aligned for any type.
struct BlockHeader {
  uint32_t magic;
  uint32_t pad;
  Size size;
};
static_assert(sizeof(BlockHeader) == 16);

// A handle points at `ptr`, the first field of its master record.
struct MasterRecord {
  Ptr ptr;
  Size size;
  uint32_t magic;
  bool locked;
  bool temporary;
};

std::mutex gLock;
OSErr gMemError = noErr;
long gLiveBlocks = 0;
long gAllocations = 0;
long gAllowBeforeRefusing = 0;
long gRefuseCount = 0;
long long gTempLimit = -1;  // -1: no cap
long long gTempInUse = 0;

long long TempLimitLocked() { return gTempLimit; }

// Counts an allocation and decides whether the test controls refuse it.
bool RefusedLocked() {
  ++gAllocations;
  if (gRefuseCount <= 0) return false;
  if (gAllowBeforeRefusing > 0) {
    --gAllowBeforeRefusing;
    return false;
  }
  --gRefuseCount;
  return true;
}

Ptr AllocateBlock(Size byteCount, bool clear) {
  std::lock_guard<std::mutex> guard(gLock);
  if (byteCount < 0 || RefusedLocked()) {
    gMemError = memFullErr;
    return nullptr;
  }
  size_t total = sizeof(BlockHeader) + size_t(byteCount);
  auto* header = static_cast<BlockHeader*>(clear ? std::calloc(1, total) : std::malloc(total));
  if (!header) {
    gMemError = memFullErr;
    return nullptr;
  }
  header->magic = kPtrMagic;
  header->size = byteCount;
  ++gLiveBlocks;
  gMemError = noErr;
  return reinterpret_cast<Ptr>(header + 1);
}

BlockHeader* HeaderOf(Ptr p) {
  auto* header = reinterpret_cast<BlockHeader*>(p) - 1;
  if (header->magic != kPtrMagic) std::abort();  // not a block of ours, or freed twice
  return header;
}

MasterRecord* MasterOf(Handle h) {
  auto* master = reinterpret_cast<MasterRecord*>(h);
  if (master->magic != kMasterMagic) std::abort();
  return master;
}

Handle AllocateHandle(Size byteCount, bool clear, bool temporary) {
  std::lock_guard<std::mutex> guard(gLock);
  if (byteCount < 0 || RefusedLocked()) {
    gMemError = memFullErr;
    return nullptr;
  }
  if (temporary) {
    long long limit = TempLimitLocked();
    if (limit >= 0 && gTempInUse + byteCount > limit) {
      gMemError = memFullErr;
      return nullptr;
    }
  }
  auto* master = static_cast<MasterRecord*>(std::malloc(sizeof(MasterRecord)));
  // At least one byte, so that an empty handle still has a distinct address.
  Ptr data = static_cast<Ptr>(clear ? std::calloc(1, size_t(byteCount) + 1)
                                    : std::malloc(size_t(byteCount) + 1));
  if (!master || !data) {
    std::free(master);
    std::free(data);
    gMemError = memFullErr;
    return nullptr;
  }
  *master = MasterRecord{data, byteCount, kMasterMagic, false, temporary};
  if (temporary) gTempInUse += byteCount;
  ++gLiveBlocks;
  gMemError = noErr;
  return reinterpret_cast<Handle>(master);
}

}  // namespace

Ptr NewPtr(Size byteCount) { return AllocateBlock(byteCount, false); }
Ptr NewPtrClear(Size byteCount) { return AllocateBlock(byteCount, true); }

void DisposePtr(Ptr p) {
  if (!p) return;
  BlockHeader* header = HeaderOf(p);
  header->magic = kDeadMagic;
  std::free(header);
  std::lock_guard<std::mutex> guard(gLock);
  --gLiveBlocks;
  gMemError = noErr;
}

Size GetPtrSize(Ptr p) { return p ? HeaderOf(p)->size : 0; }

Handle NewHandle(Size byteCount) { return AllocateHandle(byteCount, false, false); }
Handle NewHandleClear(Size byteCount) { return AllocateHandle(byteCount, true, false); }

Handle TempNewHandle(Size byteCount, OSErr* resultCode) {
  Handle h = AllocateHandle(byteCount, false, true);
  if (resultCode) *resultCode = h ? noErr : memFullErr;
  return h;
}

void DisposeHandle(Handle h) {
  if (!h) return;
  MasterRecord* master = MasterOf(h);
  std::free(master->ptr);
  master->magic = kDeadMagic;
  std::lock_guard<std::mutex> guard(gLock);
  if (master->temporary) gTempInUse -= master->size;
  --gLiveBlocks;
  gMemError = noErr;
  std::free(master);
}

Size GetHandleSize(Handle h) { return h ? MasterOf(h)->size : 0; }

void SetHandleSize(Handle h, Size newSize) {
  MasterRecord* master = MasterOf(h);
  std::lock_guard<std::mutex> guard(gLock);
  if (newSize < 0) {
    gMemError = memFullErr;
    return;
  }
  Ptr grown = static_cast<Ptr>(std::realloc(master->ptr, size_t(newSize) + 1));
  if (!grown) {
    gMemError = memFullErr;
    return;
  }
  if (master->temporary) gTempInUse += newSize - master->size;
  master->ptr = grown;
  master->size = newSize;
  gMemError = noErr;
}

void HLock(Handle h) {
  if (h) MasterOf(h)->locked = true;
}
void HUnlock(Handle h) {
  if (h) MasterOf(h)->locked = false;
}
void HNoPurge(Handle) {}

void BlockMoveData(const void* srcPtr, void* destPtr, Size byteCount) {
  if (byteCount > 0) std::memmove(destPtr, srcPtr, size_t(byteCount));
}

OSErr MemError() {
  std::lock_guard<std::mutex> guard(gLock);
  return gMemError;
}

void PlatformSetTempMemoryLimit(long long bytes) {
  std::lock_guard<std::mutex> guard(gLock);
  gTempLimit = bytes < 0 ? -1 : bytes;
}

void PlatformRefuseAllocations(long allow, long refuse) {
  std::lock_guard<std::mutex> guard(gLock);
  gAllowBeforeRefusing = allow;
  gRefuseCount = refuse;
}

long PlatformAllocationCount() {
  std::lock_guard<std::mutex> guard(gLock);
  return gAllocations;
}

long PlatformLiveBlocks() {
  std::lock_guard<std::mutex> guard(gLock);
  return gLiveBlocks;
}
