// The window list and the window calls a modal dialog needs: reference constants, finding the
// window under the mouse, and dragging a window by its title bar.
#include <algorithm>

#include "platform/toolbox_internal.h"

namespace {

std::vector<WindowRef> gWindows;  // front first

// Variants 1 to 3 of a window definition are the boxes without a title bar.
bool HasTitleBar(int16_t procID) {
  int16_t variant = int16_t(procID & 0x0F);
  return variant != dBoxProc && variant != plainDBox && variant != altDBoxProc;
}

Rect TitleBar(WindowRef window) {
  Rect bar = window->bounds;
  bar.bottom = bar.top;
  bar.top = int16_t(bar.top - kTitleBarHeight);
  return bar;
}

}  // namespace

SRefCon GetWRefCon(WindowRef window) { return window->refCon; }
void SetWRefCon(WindowRef window, SRefCon refCon) { window->refCon = refCon; }

void SetPortWindowPort(WindowRef window) { SetPort(&window->port); }

WindowRef FrontWindow() { return gWindows.empty() ? nullptr : gWindows.front(); }

int16_t FindWindow(Point where, WindowRef* window) {
  *window = nullptr;
  for (WindowRef w : gWindows) {
    if (PtInRect(where, &w->bounds)) {
      *window = w;
      return inContent;
    }
    Rect bar = TitleBar(w);
    if (HasTitleBar(w->procID) && PtInRect(where, &bar)) {
      *window = w;
      return inDrag;
    }
  }
  const Rect& screen = (*GetMainDevice())->gdRect;
  if (where.v >= screen.top && where.v < screen.top + kMenuBarHeight) return inMenuBar;
  return inDesk;
}

void DragWindow(WindowRef window, Point startPt, const Rect* boundsRect) {
  DialogBackend* backend = window->backend ? window->backend : PlatformCurrentDialogBackend();
  Point end = backend->TrackDrag(window, startPt);
  if (!PtInRect(end, boundsRect)) return;
  OffsetRect(&window->bounds, int16_t(end.h - startPt.h), int16_t(end.v - startPt.v));
}

OSStatus GetWindowBounds(WindowRef window, uint16_t regionCode, Rect* bounds) {
  if (regionCode == kWindowContentRgn) {
    *bounds = window->bounds;
    return noErr;
  }
  if (regionCode == kWindowStructureRgn) {
    *bounds = window->bounds;
    if (HasTitleBar(window->procID)) bounds->top = int16_t(bounds->top - kTitleBarHeight);
    return noErr;
  }
  return paramErr;
}

namespace platform_internal {

void AddWindowInFront(WindowRef window) { gWindows.insert(gWindows.begin(), window); }

void RemoveWindow(WindowRef window) {
  auto it = std::find(gWindows.begin(), gWindows.end(), window);
  if (it != gWindows.end()) gWindows.erase(it);
}

}  // namespace platform_internal
