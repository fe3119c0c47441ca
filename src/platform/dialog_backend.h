// Where a dialog's events come from and where it is shown. A backend sits behind the Dialog
// Manager: the filter sees only the classic calls. Three exist: the scripted one (events from a
// queue that a test or host fills; with an empty queue the default item is hit, which makes it
// the headless backend too), the terminal one (the dialog drawn as text on a TTY) and the host
// one (the hosting program shows the dialog with its own toolkit).
#pragma once

#include <memory>
#include <vector>

#include "platform/dialogs.h"

enum class DialogEventResult {
  kEvent,       // *event holds the next event
  kEndDefault,  // no more events: the dialog ends as if its default item were hit
  kEndCancel,   // the user cannot be asked any more: the dialog ends with its cancel item
};

class DialogBackend {
 public:
  virtual ~DialogBackend() = default;
  // The dialog was built and is in front; called once, before its first event.
  virtual void Open(DialogRef dialog) {}
  // The next event for a modal wait on `dialog`.
  virtual DialogEventResult NextEvent(DialogRef dialog, EventRecord* event) = 0;
  // Where the mouse is released after a press at `start` that drags `window`.
  virtual Point TrackDrag(WindowRef window, Point start) { return start; }
  // The dialog is about to be freed.
  virtual void Close(DialogRef dialog) {}
  // The screen that this backend shows dialogs on, when it knows it (the main screen device
  // then has its size); false keeps the platform's own.
  virtual bool ScreenRect(Rect* screen) { return false; }
};

// Chooses the backend of the dialogs made from now on (the caller keeps it alive while they are
// open). Null returns to the host's choice (the host-services record): the terminal backend,
// the host backend over the host's dialog table, or the scripted backend, which is headless
// unless a queue was filled.
void PlatformSetDialogBackend(DialogBackend* backend);
// The backend that a dialog made now would get.
DialogBackend* PlatformCurrentDialogBackend();

// ---- The scripted backend ----

DialogBackend* PlatformScriptedDialogBackend();

// Queues events; each is handed out once, in order, to whichever dialog waits next.
void PlatformScriptEvent(const EventRecord& event);
// A mouse-down at the centre of item `item` of the dialog that receives it.
void PlatformScriptClickItem(DialogItemIndex item);
// A key-down with this character code.
void PlatformScriptKey(uint8_t charCode);
// A mouse-down at `start` (global coordinates); a drag it starts ends at `end`.
void PlatformScriptDrag(Point start, Point end);
// Empties the queue and forgets the last snapshot.
void PlatformScriptReset();
size_t PlatformScriptPending();

// What a dialog looked like when it was disposed of.
struct DialogSnapshot {
  bool valid = false;
  int16_t procID = 0;
  Rect bounds = {0, 0, 0, 0};  // content, global coordinates
  int16_t width = 0;
  int16_t height = 0;
  std::vector<RGBColor> pixels;        // width × height, row by row
  std::vector<int16_t> controlValues;  // per item from 1 (index 0 is item 1); -1: no control
  DialogItemIndex defaultItem = 0;
  DialogItemIndex cancelItem = 0;
  int eventsHandled = 0;  // events the scripted backend handed to it

  RGBColor Pixel(int16_t h, int16_t v) const {
    return pixels[size_t(v) * size_t(width) + size_t(h)];
  }
};

// The scripted backend's record of the latest dialog it closed.
const DialogSnapshot& PlatformLastDialogSnapshot();

// ---- The terminal backend ----

// A backend that draws dialogs as text on `outFd` and reads keys from `inFd`, in raw mode for
// the length of each wait and restored before every return. Negative descriptors: /dev/tty,
// opened for each dialog (a dialog that cannot open it ends with its default item).
std::unique_ptr<DialogBackend> PlatformNewTerminalDialogBackend(int inFd, int outFd);

// ---- The host backend ----

struct AreaFillDialogHost;

// A backend that hands each dialog to `host` (platform/host_dialog.h) at its first wait and
// replays the items the host says were hit; once they are used up, or when the host cannot show
// the dialog, the dialog ends with its cancel item. A null `host`, or one of an older version
// or without runDialog, makes it headless: every dialog ends with its default item. The host's
// screenSize, when given, becomes the main screen's size.
std::unique_ptr<DialogBackend> PlatformNewHostDialogBackend(const AreaFillDialogHost* host);
