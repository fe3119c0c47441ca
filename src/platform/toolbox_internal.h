// The records behind the opaque port, window, control and dialog references, shared by the
// QuickDraw, Window Manager and Dialog Manager files and the dialog backends. Nothing outside
// src/platform includes this.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/dialog_backend.h"
#include "platform/dialogs.h"

struct OpaqueGrafPtr {
  int16_t width = 0;
  int16_t height = 0;
  std::vector<RGBColor> pixels;  // width × height, row by row; white in a new port
  RGBColor fore = {0, 0, 0};
  Point pen = {0, 0};
};

struct OpaqueWindowPtr {
  OpaqueGrafPtr port;
  Rect bounds = {0, 0, 0, 0};  // content, global coordinates
  int16_t procID = 0;
  SRefCon refCon = 0;
  std::string title;
  OpaqueDialogPtr* dialog = nullptr;
  DialogBackend* backend = nullptr;
};

struct OpaqueControlRef {
  int16_t value = 0;
  int16_t min = 0;
  int16_t max = 1;
};

struct DialogItemRecord {
  DialogItemType type = 0;  // with kItemDisableBit
  Rect rect = {0, 0, 0, 0};
  std::string text;
  std::unique_ptr<OpaqueControlRef> control;  // control items only
};

struct OpaqueDialogPtr {
  OpaqueWindowPtr window;
  int16_t dialogID = 0;
  std::vector<DialogItemRecord> items;  // item n is items[n - 1]
  DialogItemIndex defaultItem = 0;
  DialogItemIndex cancelItem = 0;
};

namespace platform_internal {

// The screen's port, current until a window's port is made current.
GrafPtr ScreenPort();
// Makes the screen's port current again if `port` is current (its window is going away).
void ForgetPort(GrafPtr port);
// Gives a port `width` × `height` white pixels.
void SizePort(OpaqueGrafPtr* port, int16_t width, int16_t height);

// The window list, front first.
void AddWindowInFront(WindowRef window);
void RemoveWindow(WindowRef window);

// The item record, or null for a number outside the list.
DialogItemRecord* Item(DialogRef dialog, DialogItemIndex item);
// The item under a global point, or 0.
DialogItemIndex ItemAt(DialogRef dialog, Point where);
// The centre of an item's rectangle in global coordinates.
Point ItemCentre(DialogRef dialog, DialogItemIndex item);
bool ItemEnabled(const DialogItemRecord& item);
DialogItemType ItemKind(const DialogItemRecord& item);  // the type without kItemDisableBit

}  // namespace platform_internal
