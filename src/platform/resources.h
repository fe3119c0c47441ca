// The least of a Resource Manager: typed, numbered resources looked up in tables that a module
// registers (its compiled-in resource data), loaded on demand into handles that stay in memory
// until released. Resource data are in the machine's byte order.
#pragma once

#include "platform/mac_types.h"

// One resource of a table: type, ID and its bytes (which the table's owner keeps alive).
struct ResourceEntry {
  ResType type;
  int16_t id;
  const void* data;
  int32_t size;
};

// Adds a table of `count` entries in front of the search chain, so it is searched before the
// tables registered earlier. Registering a table that is already in the chain does nothing, so
// a module may register its resources on every call.
void PlatformRegisterResources(const ResourceEntry* table, int32_t count);

// Removes a table from the chain and releases the resources loaded from it. Unknown tables are
// ignored.
void PlatformUnregisterResources(const ResourceEntry* table);

// The resource of the given type and ID from the first table that holds one, loaded into a
// handle. While it stays loaded, every call returns the same handle, so changes made to its
// data persist. Returns null when no table holds it (ResError() is then resNotFound) or
// memory is short (memFullErr).
// The handle belongs to the Resource Manager: release it with ReleaseResource, never with
// DisposeHandle, and do not ask the Memory Manager for its size (use GetMaxResourceSize).
Handle GetResource(ResType type, int16_t id);

// Frees a loaded resource; its next GetResource loads the data afresh. Null and handles that
// are not loaded resources are ignored (ResError() is then resNotFound).
void ReleaseResource(Handle resource);

// The byte count of a loaded resource, or -1 for a handle that is not one.
long GetMaxResourceSize(Handle resource);

// The status of the latest Resource Manager call: noErr, resNotFound or memFullErr.
OSErr ResError();
