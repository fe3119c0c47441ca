// Resource lookup over registered tables. A loaded resource is a copy of its table's bytes
// behind a master pointer; the copy is the Resource Manager's own memory, outside the Memory
// Manager's block count, as a resource map's heap was.
#include "platform/resources.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

struct Table {
  const ResourceEntry* entries;
  int32_t count;
};

// A loaded resource: the handle is the address of `data`, the first field.
struct Loaded {
  Ptr data;
  const ResourceEntry* entry;
  const ResourceEntry* table;
  ~Loaded() { std::free(data); }
};

std::vector<Table> gChain;  // front of the chain first
std::vector<std::unique_ptr<Loaded>> gLoaded;
OSErr gResError = noErr;

Loaded* FindLoaded(Handle resource) {
  for (const auto& loaded : gLoaded)
    if (reinterpret_cast<Handle>(&loaded->data) == resource) return loaded.get();
  return nullptr;
}

void FreeLoaded(Loaded* loaded) {
  gLoaded.erase(std::find_if(gLoaded.begin(), gLoaded.end(),
                             [loaded](const auto& l) { return l.get() == loaded; }));
}

}  // namespace

void PlatformRegisterResources(const ResourceEntry* table, int32_t count) {
  for (const Table& t : gChain)
    if (t.entries == table) return;
  gChain.insert(gChain.begin(), Table{table, count});
}

void PlatformUnregisterResources(const ResourceEntry* table) {
  auto it = std::find_if(gChain.begin(), gChain.end(),
                         [table](const Table& t) { return t.entries == table; });
  if (it == gChain.end()) return;
  gChain.erase(it);
  std::erase_if(gLoaded, [table](const auto& loaded) { return loaded->table == table; });
}

Handle GetResource(ResType type, int16_t id) {
  for (const Table& t : gChain) {
    for (int32_t i = 0; i < t.count; ++i) {
      const ResourceEntry* entry = &t.entries[i];
      if (entry->type != type || entry->id != id) continue;
      for (const auto& loaded : gLoaded) {
        if (loaded->entry == entry) {
          gResError = noErr;
          return reinterpret_cast<Handle>(&loaded->data);
        }
      }
      // One byte more than asked, so that an empty resource still has its own address.
      Ptr data = static_cast<Ptr>(std::malloc(size_t(entry->size) + 1));
      if (!data) {
        gResError = memFullErr;
        return nullptr;
      }
      std::memcpy(data, entry->data, size_t(entry->size));
      gLoaded.emplace_back(new Loaded{data, entry, t.entries});
      gResError = noErr;
      return reinterpret_cast<Handle>(&gLoaded.back()->data);
    }
  }
  gResError = resNotFound;
  return nullptr;
}

void ReleaseResource(Handle resource) {
  Loaded* loaded = resource ? FindLoaded(resource) : nullptr;
  if (!loaded) {
    gResError = resNotFound;
    return;
  }
  FreeLoaded(loaded);
  gResError = noErr;
}

long GetMaxResourceSize(Handle resource) {
  Loaded* loaded = resource ? FindLoaded(resource) : nullptr;
  return loaded ? loaded->entry->size : -1;
}

OSErr ResError() { return gResError; }
