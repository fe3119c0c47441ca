// The event record that the Dialog Manager hands to modal filters, with the event kinds,
// modifier bits and character codes that the dialogs of this module look at.
#pragma once

#include "platform/mac_types.h"

typedef uint16_t EventKind;
typedef uint16_t EventModifiers;

enum : EventKind {
  nullEvent = 0,
  mouseDown = 1,
  mouseUp = 2,
  keyDown = 3,
  keyUp = 4,
  autoKey = 5,
  updateEvt = 6,
  activateEvt = 8,
};

// `message`: for key events the character code in the low byte (charCodeMask); for update and
// activate events the window concerned (a WindowRef), which is why it is pointer-sized here.
struct EventRecord {
  EventKind what;
  uintptr_t message;
  uint32_t when;
  Point where;  // the mouse, in global (screen) coordinates
  EventModifiers modifiers;
};

constexpr uintptr_t charCodeMask = 0x000000FF;
constexpr EventModifiers activeFlag = 0x0001;
constexpr EventModifiers cmdKey = 0x0100;

// Character codes of the keys the standard filter knows.
constexpr uint8_t kEnterCharCode = 0x03;
constexpr uint8_t kReturnCharCode = 0x0D;
constexpr uint8_t kEscapeCharCode = 0x1B;
