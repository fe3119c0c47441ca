// The least of a Dialog Manager and Control Manager: dialogs built from 'DLOG' and 'DITL'
// resources, their items and controls, the modal wait with a filter routine, and the standard
// filter. Where events come from (a script, a terminal) is the dialog backend's business
// (platform/dialog_backend.h).
#pragma once

#include "platform/events.h"
#include "platform/quickdraw.h"
#include "platform/windows.h"

typedef struct OpaqueDialogPtr* DialogRef;
typedef DialogRef DialogPtr;
typedef struct OpaqueControlRef* ControlRef;
typedef ControlRef ControlHandle;
typedef int16_t DialogItemIndex;
typedef int16_t DialogItemType;

typedef Boolean (*ModalFilterProcPtr)(DialogRef dialog, EventRecord* event,
                                      DialogItemIndex* itemHit);
typedef ModalFilterProcPtr ModalFilterUPP;

// Routine descriptors are the functions themselves here: nothing is allocated.
inline ModalFilterUPP NewModalFilterUPP(ModalFilterProcPtr proc) { return proc; }

// The 'DLOG' resource. `boundsRect` is the window's content in global coordinates.
struct DialogTemplate {
  Rect boundsRect;
  int16_t procID;
  Boolean visible;
  Boolean filler1;
  Boolean goAwayFlag;
  Boolean filler2;
  int32_t refCon;
  int16_t itemsID;  // the 'DITL' resource of its items
  Str255 title;
};
typedef DialogTemplate* DialogTPtr;
typedef DialogTPtr* DialogTHndl;

// The 'DITL' resource: an int16 holding the item count minus one, then per item a 4-byte
// placeholder, the item's Rect (local coordinates), a type byte, a length byte and that many
// bytes of data (the title or text), padded to an even length.
enum : DialogItemType {
  kUserDialogItem = 0,
  kButtonDialogItem = 4,
  kCheckBoxDialogItem = 5,
  kRadioButtonDialogItem = 6,
  kResourceControlDialogItem = 7,
  kStaticTextDialogItem = 8,
  kEditTextDialogItem = 16,
  kItemDisableBit = 128,  // added to the type: clicks on the item are not reported
};

// Builds a dialog from 'DLOG' `dialogID` and its 'DITL' and puts it in front of all windows.
// `storage` is ignored (the platform allocates); `behind` other than kFirstWindowOfClass is
// accepted and treated alike. The template stays loaded as GetResource left it. Returns null
// when the template or its item list is missing or malformed, or memory is short.
DialogRef GetNewDialog(int16_t dialogID, void* storage, WindowRef behind);

// Closes the dialog and frees it. A port that was current in it falls back to the screen's.
void DisposeDialog(DialogRef dialog);

WindowRef GetDialogWindow(DialogRef dialog);
CGrafPtr GetDialogPort(DialogRef dialog);
// The dialog a window belongs to, or null.
DialogRef GetDialogFromWindow(WindowRef window);

// An item's type (with kItemDisableBit), its handle (the ControlRef of a control item, null
// for others) and rectangle. An item number outside the list gives 0, null and an empty
// rectangle.
void GetDialogItem(DialogRef dialog, DialogItemIndex item, DialogItemType* itemType,
                   Handle* itemHandle, Rect* box);
DialogItemIndex CountDITL(DialogRef dialog);

// The item that Return and Enter choose, and the one that Escape and Command-period choose.
// Return noErr, or paramErr for an item outside the list (nothing is changed).
OSErr SetDialogDefaultItem(DialogRef dialog, DialogItemIndex item);
OSErr SetDialogCancelItem(DialogRef dialog, DialogItemIndex item);

// Controls have a value between 0 and 1 (buttons 0). Null controls are ignored (value 0).
void SetControlValue(ControlRef control, int16_t value);
int16_t GetControlValue(ControlRef control);

// Handles events for the front dialog until an item is hit and stores its number. Each event
// goes to `filter` (StdFilterProc when null); when the filter answers false, a mouse-down on an
// enabled item hits it. When the backend has no more events, the default item is hit (item 1
// when none is set); when it gives up (the user left the terminal), the cancel item.
void ModalDialog(ModalFilterUPP filter, DialogItemIndex* itemHit);

// The standard filter: Return or Enter hits the default item, Escape or Command-period the
// cancel item, and a mouse-down on an enabled item of this dialog hits that item. Returns true
// when it stored an item number.
Boolean StdFilterProc(DialogRef dialog, EventRecord* event, DialogItemIndex* itemHit);

// Dialogs now open (for tests that check every dialog was disposed of).
int PlatformOpenDialogCount();
