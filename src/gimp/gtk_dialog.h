// The filter's dialogs drawn by GTK: the dialog table the plug-in hands the module (through the
// host-services record) so that the module's dialogs appear as GIMP dialogs.
#pragma once

#include "platform/host_dialog.h"

namespace areafill_gimp {

// The plug-in's dialog table; GTK must have been started (gimp_ui_init) before a dialog shows.
const AreaFillDialogHost* GtkDialogHost();

}  // namespace areafill_gimp
