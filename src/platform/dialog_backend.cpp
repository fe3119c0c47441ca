// The choice of dialog backend, and the scripted backend: events from a queue that a test or a
// host fills, the headless answer (the default item) once the queue is empty, and a snapshot of
// each dialog as it is disposed of, so that what was drawn can be checked afterwards.
#include <deque>
#include <map>

#include "platform/host_settings.h"
#include "platform/toolbox_internal.h"

namespace {

struct ScriptStep {
  enum Kind { kRawEvent, kClickItem, kDrag } kind;
  EventRecord event;
  DialogItemIndex item;
  Point dragEnd;
};

class ScriptedBackend : public DialogBackend {
 public:
  DialogEventResult NextEvent(DialogRef dialog, EventRecord* event) override;
  Point TrackDrag(WindowRef window, Point start) override;
  void Close(DialogRef dialog) override;

  std::deque<ScriptStep> queue;
  DialogSnapshot last;

 private:
  std::map<DialogRef, int> handled_;
  bool dragPending_ = false;
  Point dragEnd_ = {0, 0};
  uint32_t ticks_ = 0;
};

DialogEventResult ScriptedBackend::NextEvent(DialogRef dialog, EventRecord* event) {
  if (queue.empty()) return DialogEventResult::kEndDefault;
  ScriptStep step = queue.front();
  queue.pop_front();
  *event = step.event;
  if (step.kind == ScriptStep::kClickItem) {
    event->what = mouseDown;
    event->where = platform_internal::ItemCentre(dialog, step.item);
  } else if (step.kind == ScriptStep::kDrag) {
    dragPending_ = true;
    dragEnd_ = step.dragEnd;
  }
  if (event->when == 0) event->when = ++ticks_;
  ++handled_[dialog];
  return DialogEventResult::kEvent;
}

Point ScriptedBackend::TrackDrag(WindowRef, Point start) {
  if (!dragPending_) return start;
  dragPending_ = false;
  return dragEnd_;
}

void ScriptedBackend::Close(DialogRef dialog) {
  const OpaqueGrafPtr& port = dialog->window.port;
  last = DialogSnapshot{};
  last.valid = true;
  last.procID = dialog->window.procID;
  last.bounds = dialog->window.bounds;
  last.width = port.width;
  last.height = port.height;
  last.pixels = port.pixels;
  for (const DialogItemRecord& item : dialog->items)
    last.controlValues.push_back(item.control ? item.control->value : int16_t(-1));
  last.defaultItem = dialog->defaultItem;
  last.cancelItem = dialog->cancelItem;
  last.eventsHandled = handled_[dialog];
  handled_.erase(dialog);
}

ScriptedBackend gScripted;
DialogBackend* gChosen = nullptr;

}  // namespace

void PlatformSetDialogBackend(DialogBackend* backend) { gChosen = backend; }

DialogBackend* PlatformCurrentDialogBackend() {
  if (gChosen) return gChosen;
  const AreaFillDialogHost* host = nullptr;
  switch (PlatformDialogMode(&host)) {
    case kAreaFillDialogTerminal: {
      static std::unique_ptr<DialogBackend> terminal = PlatformNewTerminalDialogBackend(-1, -1);
      return terminal.get();
    }
    case kAreaFillDialogHost: {
      // One backend per host table; a host passes the same table run after run.
      static const AreaFillDialogHost* madeFor = nullptr;
      static std::unique_ptr<DialogBackend> backend;
      if (!backend || madeFor != host) {
        backend = PlatformNewHostDialogBackend(host);
        madeFor = host;
      }
      return backend.get();
    }
    default:
      return &gScripted;
  }
}

DialogBackend* PlatformScriptedDialogBackend() { return &gScripted; }

void PlatformScriptEvent(const EventRecord& event) {
  gScripted.queue.push_back(ScriptStep{ScriptStep::kRawEvent, event, 0, {0, 0}});
}

void PlatformScriptClickItem(DialogItemIndex item) {
  gScripted.queue.push_back(ScriptStep{ScriptStep::kClickItem, EventRecord{}, item, {0, 0}});
}

void PlatformScriptKey(uint8_t charCode) {
  EventRecord event = {};
  event.what = keyDown;
  event.message = charCode;
  PlatformScriptEvent(event);
}

void PlatformScriptDrag(Point start, Point end) {
  EventRecord event = {};
  event.what = mouseDown;
  event.where = start;
  gScripted.queue.push_back(ScriptStep{ScriptStep::kDrag, event, 0, end});
}

void PlatformScriptReset() {
  gScripted.queue.clear();
  gScripted.last = DialogSnapshot{};
}

size_t PlatformScriptPending() { return gScripted.queue.size(); }

const DialogSnapshot& PlatformLastDialogSnapshot() { return gScripted.last; }
