// The host's settings as the platform layer keeps them: set from a host-services record (the
// module's exported call) or by in-process hosts and tests, and read by the services that
// depend on them (dialogs, scratch memory, the Preferences folder, the fill's threads).
#pragma once

#include <cstdint>
#include <string>

#include "platform/host_services.h"

// Takes over `services` (null: the defaults). Returns nothing; a record of a version this
// platform does not know is taken as the defaults.
void PlatformSetHostServices(const AreaFillHostServices* services);

// The fill's thread count: the host's, else one per processor; at least 1, at most `most`.
int32_t PlatformFillThreads(int32_t most);

// True when the host asked for the reference membrane engine.
bool PlatformUseReferenceMembrane();

// Hands the host's notice callback a file that could not be made, written or stored back.
void PlatformNotifyHost(const char* name, int16_t status);

// How dialogs are shown (kAreaFillDialog…), and the host's dialog table for kAreaFillDialogHost.
int32_t PlatformDialogMode(const AreaFillDialogHost** host);

// The user's own Preferences folder by the XDG rules: $XDG_CONFIG_HOME/areafill when that is an
// absolute path, else $HOME/.config/areafill when HOME is one; "" when neither gives a folder.
std::string PlatformDefaultPreferencesFolder();
