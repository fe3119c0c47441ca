// QuickDraw over in-memory ports: each window's port keeps one RGBColor per pixel, so that a
// test or a text backend can read back what was drawn.
#include <cstdlib>

#include "platform/toolbox_internal.h"

namespace {

OpaqueGrafPtr gScreenPort;  // no pixels: drawing on the desktop is clipped away
GrafPtr gCurrentPort = &gScreenPort;

constexpr Rect kDefaultScreen = {0, 0, 768, 1024};
GDevice gMainDevice = {kDefaultScreen};
bool gScreenSet = false;  // by PlatformSetScreenRect; otherwise the dialog backend may tell it
GDPtr gMainDevicePtr = &gMainDevice;
MacRegion gGrayRegion = {sizeof(MacRegion), {0, 0, 0, 0}};
RgnPtr gGrayRegionPtr = &gGrayRegion;

void Plot(OpaqueGrafPtr* port, int h, int v) {
  if (h < 0 || v < 0 || h >= port->width || v >= port->height) return;
  port->pixels[size_t(v) * size_t(port->width) + size_t(h)] = port->fore;
}

}  // namespace

void GetPort(GrafPtr* port) { *port = gCurrentPort; }
void SetPort(GrafPtr port) { gCurrentPort = port ? port : &gScreenPort; }

void RGBForeColor(const RGBColor* color) { gCurrentPort->fore = *color; }

void MoveTo(int16_t h, int16_t v) { gCurrentPort->pen = Point{v, h}; }

void LineTo(int16_t h, int16_t v) {
  // Bresenham's line from the pen to (h, v), both ends drawn.
  int x = gCurrentPort->pen.h, y = gCurrentPort->pen.v;
  int dx = std::abs(h - x), dy = -std::abs(v - y);
  int sx = x < h ? 1 : -1, sy = y < v ? 1 : -1;
  int err = dx + dy;
  for (;;) {
    Plot(gCurrentPort, x, y);
    if (x == h && y == v) break;
    int e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y += sy;
    }
  }
  gCurrentPort->pen = Point{v, h};
}

void OffsetRect(Rect* r, int16_t dh, int16_t dv) {
  r->left = int16_t(r->left + dh);
  r->right = int16_t(r->right + dh);
  r->top = int16_t(r->top + dv);
  r->bottom = int16_t(r->bottom + dv);
}

void InsetRect(Rect* r, int16_t dh, int16_t dv) {
  r->left = int16_t(r->left + dh);
  r->right = int16_t(r->right - dh);
  r->top = int16_t(r->top + dv);
  r->bottom = int16_t(r->bottom - dv);
}

Boolean PtInRect(Point pt, const Rect* r) {
  return pt.h >= r->left && pt.h < r->right && pt.v >= r->top && pt.v < r->bottom;
}

RgnHandle GetGrayRgn() {
  gGrayRegion.rgnBBox = (*GetMainDevice())->gdRect;
  gGrayRegion.rgnBBox.top = int16_t(gGrayRegion.rgnBBox.top + kMenuBarHeight);
  return &gGrayRegionPtr;
}

Rect* GetRegionBounds(RgnHandle region, Rect* bounds) {
  *bounds = (*region)->rgnBBox;
  return bounds;
}

GDHandle GetMainDevice() {
  if (!gScreenSet) {
    Rect screen;
    gMainDevice.gdRect =
        PlatformCurrentDialogBackend()->ScreenRect(&screen) ? screen : kDefaultScreen;
  }
  return &gMainDevicePtr;
}

void InitCursor() {}

void PlatformSetScreenRect(const Rect& screen) {
  gMainDevice.gdRect = screen;
  gScreenSet = true;
}
void PlatformResetScreenRect() {
  gMainDevice.gdRect = kDefaultScreen;
  gScreenSet = false;
}

Boolean PlatformGetPortPixel(GrafPtr port, int16_t h, int16_t v, RGBColor* color) {
  if (!port || h < 0 || v < 0 || h >= port->width || v >= port->height) return false;
  *color = port->pixels[size_t(v) * size_t(port->width) + size_t(h)];
  return true;
}

namespace platform_internal {

GrafPtr ScreenPort() { return &gScreenPort; }

void ForgetPort(GrafPtr port) {
  if (gCurrentPort == port) gCurrentPort = &gScreenPort;
}

void SizePort(OpaqueGrafPtr* port, int16_t width, int16_t height) {
  port->width = width > 0 ? width : 0;
  port->height = height > 0 ? height : 0;
  port->pixels.assign(size_t(port->width) * size_t(port->height), RGBColor{0xFFFF, 0xFFFF, 0xFFFF});
}

}  // namespace platform_internal
