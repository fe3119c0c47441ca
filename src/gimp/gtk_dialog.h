// The filter's dialogs drawn by GTK: the dialog table the plug-in hands the module (through the
// host-services record) so that the module's dialogs appear as GIMP dialogs, with what the
// plug-in adds around the module's items.
#pragma once

#include <libgimp/gimp.h>
#include <libgimp/gimpui.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/host_dialog.h"

namespace areafill_gimp {

// What the plug-in adds around the filter's dialog items.
struct DialogAdditions {
  std::string title;    // the window's title instead of the module's; "": the module's
  std::string helpUri;  // what the Help button opens; "": no Help button
  // Colour swatches shown after the radio button or check box of an item number.
  std::vector<std::pair<int16_t, std::vector<GimpRGB>>> swatches;
  GtkWidget* side = nullptr;  // shown right of the items (the preview), or null
  // Told the item number of each radio button that is on: the one the dialog opens on, then
  // every one the user turns on.
  std::function<void(int16_t item)> radioOn;
};

// The additions for the dialogs shown from now on (null: none); they must stay alive while a
// dialog shows.
void SetDialogAdditions(const DialogAdditions* additions);

// The plug-in's dialog table; GTK must have been started (gimp_ui_init) before a dialog shows.
const AreaFillDialogHost* GtkDialogHost();

}  // namespace areafill_gimp
