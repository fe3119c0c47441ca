// Heap C strings on the platform's pointer blocks.
#include "filter/util/strings.h"

#include <cstring>

#include "platform/memory.h"

char* AllocateCString(Size size) { return NewPtrClear(size); }

void DisposeCString(char* string) {
  if (!string) return;
  if (GetPtrSize(string) > 9)
    std::memcpy(string, "<deleted>", 10);
  else
    string[0] = 0;
  DisposePtr(string);
}

void DuplicateCString(const char* source, char* destination, int32_t limit) {
  if (!destination || limit <= 0) return;
  if (!source) {
    destination[0] = 0;
    return;
  }
  int32_t i = 0;
  for (; i < limit; ++i) {
    destination[i] = source[i];
    if (source[i] == 0) return;
  }
  destination[limit - 1] = 0;
}
