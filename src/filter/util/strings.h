// Heap C strings and bounded copies, used for the preference strings and text settings.
#pragma once

#include "platform/mac_types.h"

// A zero-filled block of `size` bytes (an empty C string), or null when memory is refused.
char* AllocateCString(Size size);

// Releases a heap C string (null: nothing). The block is first marked: "<deleted>" when it is
// larger than 9 bytes, else an empty string, so that a stale pointer shows what happened.
void DisposeCString(char* string);

// Copies `source` and its NUL into `destination`, at most `limit` bytes in all; when the limit
// is reached first the last byte written becomes NUL. A null source gives an empty string; a
// null destination or a limit of 0 or less writes nothing.
void DuplicateCString(const char* source, char* destination, int32_t limit);
