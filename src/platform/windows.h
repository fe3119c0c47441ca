// The least of a Window Manager: windows on one screen, front to back, each with a port of its
// own pixels, a reference constant, and a title bar by which a movable window is dragged.
#pragma once

#include "platform/events.h"
#include "platform/quickdraw.h"

typedef struct OpaqueWindowPtr* WindowRef;
typedef WindowRef WindowPtr;
typedef intptr_t SRefCon;  // wide enough to hold an address on this platform

// Passed as "behind" to put a new window in front of all others.
inline const WindowRef kFirstWindowOfClass = reinterpret_cast<WindowRef>(intptr_t(-1));

// Window definition IDs: the definition's resource ID times 16 plus its variant.
enum : int16_t {
  documentProc = 0,
  dBoxProc = 1,
  plainDBox = 2,
  altDBoxProc = 3,
  noGrowDocProc = 4,
  movableDBoxProc = 5,
};

// Parts of the screen that FindWindow tells apart.
enum : int16_t {
  inDesk = 0,
  inMenuBar = 1,
  inContent = 3,
  inDrag = 4,
};

// Window regions for GetWindowBounds.
enum : uint16_t {
  kWindowStructureRgn = 32,  // the frame: content and title bar
  kWindowContentRgn = 33,
};

// Height of the title bar above a titled window's content.
constexpr int16_t kTitleBarHeight = 20;

SRefCon GetWRefCon(WindowRef window);
void SetWRefCon(WindowRef window, SRefCon refCon);

void SetPortWindowPort(WindowRef window);

WindowRef FrontWindow();

// The part of the screen under `where` (global coordinates) and the window it belongs to
// (null for the desktop and the menu bar). A window's title bar is its drag region (inDrag);
// the plain and alert boxes (dBoxProc, plainDBox, altDBoxProc) have none.
int16_t FindWindow(Point where, WindowRef* window);

// Follows the mouse from `startPt` until it is released and moves the window by the distance
// travelled. A release outside `boundsRect` (global coordinates) leaves the window where it was.
void DragWindow(WindowRef window, Point startPt, const Rect* boundsRect);

// A window's rectangle in global coordinates. Returns noErr, or paramErr for an unknown region.
OSStatus GetWindowBounds(WindowRef window, uint16_t regionCode, Rect* bounds);
