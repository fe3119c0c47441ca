// Dialog utilities on the platform's Dialog Manager: opening, centring and window kind of a
// filter dialog, the movable modal wait and its event filter, and item access.
#include "filter/util/dialog_utils.h"

#include <cstring>

#include "filter/run/run_record.h"
#include "platform/gestalt.h"
#include "platform/memory.h"
#include "platform/resources.h"

ModalFilterUPP gFilterProc = nullptr;

namespace {

constexpr ResType kVersionType = FourCC("vers");
constexpr int16_t kModuleVersionID = 2;
constexpr int16_t kOldSystemVersionMark = 0x0700;
constexpr ResType kDialogTemplateType = FourCC("DLOG");
constexpr ResType kWindowDefinitionType = FourCC("WDEF");
constexpr int16_t kModuleWindowDefinitionID = 128;
constexpr int16_t kModuleMovableModalProcID = 0x0805;  // window definition 128, variant 5
constexpr long kFirstColorSystem = 0x0700;
constexpr int16_t kDragInset = 4;

DialogTPtr _Template(Handle dialogTemplate) {
  return *reinterpret_cast<DialogTHndl>(dialogTemplate);
}

// True when the module's 'vers' 2 resource exists and its first 16-bit field is 0x0700.
bool _VersionAsksForPlainModal() {
  Handle version = GetResource(kVersionType, kModuleVersionID);
  if (!version) return false;
  int16_t first = 0;
  if (GetMaxResourceSize(version) >= long(sizeof first))
    std::memcpy(&first, *version, sizeof first);
  ReleaseResource(version);
  return first == kOldSystemVersionMark;
}

}  // namespace

DialogPtr GetNewMooDialog(int16_t dialogID, void* storage, WindowRef behind) {
  bool plainModal = _VersionAsksForPlainModal();
  // The template stays in memory, so the changes below are what GetNewDialog reads.
  Handle dialogTemplate = GetResource(kDialogTemplateType, dialogID);
  if (dialogTemplate) {
    HNoPurge(dialogTemplate);
    _Template(dialogTemplate)->procID = plainModal ? dBoxProc : movableDBoxProc;
    CenterDialog(dialogTemplate);
    SetUpMoveableModal(dialogTemplate, kHostSignature);
  }
  return GetNewDialog(dialogID, storage, behind);
}

void CenterDialog(Handle dialogTemplate) {
  const Rect& screen = (*GetMainDevice())->gdRect;
  int screenWidth = screen.right - screen.left;
  int screenHeight = screen.bottom - screen.top;
  Rect bounds = _Template(dialogTemplate)->boundsRect;
  OffsetRect(&bounds, int16_t(-bounds.left), int16_t(-bounds.top));
  // Integer division truncates toward zero, also for a dialog larger than the screen.
  int dh = (screenWidth - bounds.right) / 2;
  int dv = (screenHeight - bounds.bottom - kMenuBarHeight) / 3 + kMenuBarHeight;
  OffsetRect(&bounds, int16_t(dh), int16_t(dv));
  _Template(dialogTemplate)->boundsRect = bounds;
}

void SetUpMoveableModal(Handle dialogTemplate, OSType hostSig) {
  long version = 0;
  if (Gestalt(gestaltSystemVersion, &version) != noErr) version = 0;
  if (version >= kFirstColorSystem) return;
  int16_t procID = dBoxProc;
  // The window definition stays loaded: the Window Manager draws the dialog's frame with it.
  if (hostSig == kHostSignature && GetResource(kWindowDefinitionType, kModuleWindowDefinitionID))
    procID = kModuleMovableModalProcID;
  _Template(dialogTemplate)->procID = procID;
}

void MooModalDialog(RunRecord* record, DialogPtr dialog, ModalFilterProcPtr userFilter,
                    int16_t* itemHit) {
  ProcessEventProc eventProc = record && record->host ? record->host->processEvent : nullptr;
  MoveableModalDialog(dialog, eventProc, userFilter, itemHit);
}

void MoveableModalDialog(DialogPtr dialog, ProcessEventProc eventProc,
                         ModalFilterProcPtr userFilter, int16_t* itemHit) {
  WindowRef window = GetDialogWindow(dialog);
  MoveableModalRecord record = {GetWRefCon(window), userFilter, eventProc};
  SetWRefCon(window, reinterpret_cast<SRefCon>(&record));
  gFilterProc = NewModalFilterUPP(DialogFilter);
  ModalDialog(gFilterProc, itemHit);
  SetWRefCon(window, record.savedRefCon);
}

Boolean DialogFilter(DialogPtr dialog, EventRecord* event, int16_t* itemHit) {
  WindowRef window = GetDialogWindow(dialog);
  auto* record = reinterpret_cast<MoveableModalRecord*>(GetWRefCon(window));
  if (record->userFilter) {
    // The caller's filter sees (and may change) the window's own reference constant.
    SetWRefCon(window, record->savedRefCon);
    Boolean handled = record->userFilter(dialog, event, itemHit);
    record->savedRefCon = GetWRefCon(window);
    SetWRefCon(window, reinterpret_cast<SRefCon>(record));
    if (handled) return true;
  }
  switch (event->what) {
    case mouseDown: {
      WindowRef hit = nullptr;
      if (FindWindow(event->where, &hit) == inDrag && hit == window) {
        Rect limit;
        GetRegionBounds(GetGrayRgn(), &limit);
        InsetRect(&limit, kDragInset, kDragInset);
        DragWindow(window, event->where, &limit);
        event->what = nullEvent;
      }
      break;
    }
    case updateEvt:
    case activateEvt:
      if (record->eventProc && reinterpret_cast<WindowRef>(event->message) != window)
        record->eventProc(event);
      break;
    case nullEvent:
      if (record->eventProc) record->eventProc(event);
      break;
    default:
      break;
  }
  GrafPtr savedPort;
  GetPort(&savedPort);
  SetPortWindowPort(window);
  Boolean handled = StdFilterProc(dialog, event, itemHit);
  SetPort(savedPort);
  return handled;
}

void OutlineButton(DialogPtr dialog, int16_t item) {
  SetDialogDefaultItem(dialog, item);
  SetDialogCancelItem(dialog, 2);
}

void SetDGItem(DialogPtr dialog, int16_t item, int16_t value) {
  DialogItemType type;
  Handle itemHandle;
  Rect box;
  GetDialogItem(dialog, item, &type, &itemHandle, &box);
  SetControlValue(reinterpret_cast<ControlHandle>(itemHandle), value);
}

void GetDRect(DialogPtr dialog, int16_t item, Rect* rect) {
  DialogItemType type;
  Handle itemHandle;
  GetDialogItem(dialog, item, &type, &itemHandle, rect);
}
