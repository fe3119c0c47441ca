// Gestalt over a fixed table: this platform reports itself as a system of version 10.4, new
// enough for every window kind the module asks for.
#include "platform/gestalt.h"

namespace {

constexpr long kDefaultSystemVersion = 0x1040;
long gSystemVersion = kDefaultSystemVersion;

}  // namespace

OSErr Gestalt(OSType selector, long* response) {
  if (selector != gestaltSystemVersion || gSystemVersion < 0) return gestaltUndefSelectorErr;
  *response = gSystemVersion;
  return noErr;
}

void PlatformSetSystemVersion(long version) { gSystemVersion = version; }
void PlatformResetSystemVersion() { gSystemVersion = kDefaultSystemVersion; }
