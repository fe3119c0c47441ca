// The least of QuickDraw: graphics ports with their own pixels (so that what a dialog draws can
// be read back), the foreground colour and the pen's lines, rectangle helpers, the desktop
// region, the main screen device and the cursor.
#pragma once

#include "platform/mac_types.h"

// Colour components run from 0 to 65535.
struct RGBColor {
  uint16_t red;
  uint16_t green;
  uint16_t blue;
};

typedef struct OpaqueGrafPtr* GrafPtr;
typedef GrafPtr CGrafPtr;

// The current port. Before any window's port is made current it is the screen's port, which
// has no pixels of its own (drawing into it is clipped away).
void GetPort(GrafPtr* port);
void SetPort(GrafPtr port);

// Sets the current port's foreground colour (black in a new port).
void RGBForeColor(const RGBColor* color);

// The pen (one pixel, local coordinates): MoveTo places it, LineTo draws in the foreground
// colour every pixel of the line from the pen to (h, v), both ends included, and leaves the pen
// at (h, v). Pixels outside the port are clipped.
void MoveTo(int16_t h, int16_t v);
void LineTo(int16_t h, int16_t v);

void OffsetRect(Rect* r, int16_t dh, int16_t dv);
void InsetRect(Rect* r, int16_t dh, int16_t dv);
// True when the pixel below and to the right of `pt` lies inside `r`.
Boolean PtInRect(Point pt, const Rect* r);

// Regions are kept as their bounding box.
struct MacRegion {
  uint16_t rgnSize;
  Rect rgnBBox;
};
typedef MacRegion* RgnPtr;
typedef RgnPtr* RgnHandle;

// The desktop: the main screen below its 20-pixel menu bar.
RgnHandle GetGrayRgn();
Rect* GetRegionBounds(RgnHandle region, Rect* bounds);

struct GDevice {
  Rect gdRect;  // the screen in global coordinates
};
typedef GDevice* GDPtr;
typedef GDPtr* GDHandle;

GDHandle GetMainDevice();

constexpr int16_t kMenuBarHeight = 20;

// Shows the arrow cursor (nothing to do here).
void InitCursor();

// ---- Controls for tests and hosts ----

// The main screen's rectangle; until set, the dialog backend's screen when it knows one, else
// 1024 × 768 at (0, 0). Resetting returns to that.
void PlatformSetScreenRect(const Rect& screen);
void PlatformResetScreenRect();

// Reads back pixel (h, v) of a port, in local coordinates. Returns false outside its pixels.
Boolean PlatformGetPortPixel(GrafPtr port, int16_t h, int16_t v, RGBColor* color);
