// Dialog utilities: a filter dialog is opened from its resources, centred and made movable,
// run as a modal wait that keeps the host's own windows alive, and its items set and measured.
#pragma once

#include "filter/host/filter_record.h"
#include "platform/dialogs.h"

struct RunRecord;

constexpr OSType kHostSignature = FourCC("8BIM");

// Lives on the stack of MoveableModalDialog for one wait; meanwhile the dialog window's
// reference constant holds its address, which is how DialogFilter finds it.
struct MoveableModalRecord {
  SRefCon savedRefCon;            // the window's own reference constant
  ModalFilterProcPtr userFilter;  // the caller's filter, or null
  ProcessEventProc eventProc;     // the host's event callback, or null
};

// The modal-filter routine made from DialogFilter at the latest MoveableModalDialog.
extern ModalFilterUPP gFilterProc;

// Opens dialog `dialogID`: its template gets the movable modal window kind (the plain modal box
// when the module's 'vers' 2 resource starts with 0x0700), is centred on the main screen and
// adjusted for old systems, then the dialog is made with GetNewDialog(dialogID, storage,
// behind). Returns the dialog, or null when the template is missing or the platform fails.
DialogPtr GetNewMooDialog(int16_t dialogID, void* storage, WindowRef behind);

// Rewrites a 'DLOG' template's bounds: centred across the main screen, with a third of the free
// height above it and two thirds below, counted from below the 20-pixel menu bar. A dialog
// larger than the screen gets negative coordinates.
void CenterDialog(Handle dialogTemplate);

// On systems older than 0x0700 (or when the system version cannot be had) sets the template's
// window kind: 0x0805 when the host is `hostSig` '8BIM' and 'WDEF' 128 can be loaded, else 1.
// Newer systems keep the template as it is.
void SetUpMoveableModal(Handle dialogTemplate, OSType hostSig);

// Waits for one item hit of `dialog` and stores it in *itemHit, with the host's event callback
// taken from the run record's parameter block (none when the record has no block).
void MooModalDialog(RunRecord* record, DialogPtr dialog, ModalFilterProcPtr userFilter,
                    int16_t* itemHit);

// Waits for one item hit and stores it in *itemHit. Events go to `userFilter` first; a drag of
// the dialog's title moves it; update and activate events of other windows, and null events,
// go to `eventProc`. The window's reference constant is put back before it returns.
void MoveableModalDialog(DialogPtr dialog, ProcessEventProc eventProc,
                         ModalFilterProcPtr userFilter, int16_t* itemHit);

// The modal filter behind MoveableModalDialog (it reads its MoveableModalRecord from the
// window's reference constant). Returns true when the event was handled and *itemHit set.
Boolean DialogFilter(DialogPtr dialog, EventRecord* event, int16_t* itemHit);

// Makes `item` the default item and item 2 the cancel item.
void OutlineButton(DialogPtr dialog, int16_t item);

// Sets the value of an item's control (1 turns a radio button or check box on, 0 off).
void SetDGItem(DialogPtr dialog, int16_t item, int16_t value);

// Stores the rectangle of an item in *rect (local coordinates).
void GetDRect(DialogPtr dialog, int16_t item, Rect* rect);
