// Gestalt: answers questions about the system the module runs on. Only the system version
// ('sysv') is known; tests may pretend to run on an older system.
#pragma once

#include "platform/mac_types.h"

constexpr OSType gestaltSystemVersion = FourCC("sysv");

// Stores the answer for `selector` in *response. Returns noErr, or gestaltUndefSelectorErr for
// an unknown selector (or a system version that a test made unanswerable).
OSErr Gestalt(OSType selector, long* response);

// ---- Controls for tests ----

// The version that 'sysv' reports (binary-coded decimal, 0x1040 by default); a negative value
// makes the call fail; PlatformResetSystemVersion returns to the default.
void PlatformSetSystemVersion(long version);
void PlatformResetSystemVersion();
