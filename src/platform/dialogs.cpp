// Dialogs built from their 'DLOG' template and 'DITL' item list, their items and controls, and
// the modal wait that takes events from the dialog's backend.
#include <cstring>
#include <new>

#include "platform/resources.h"
#include "platform/toolbox_internal.h"

namespace {

constexpr ResType kDialogTemplateType = FourCC("DLOG");
constexpr ResType kItemListType = FourCC("DITL");
constexpr long kItemHeaderBytes = 4 + 8 + 1 + 1;  // placeholder, rectangle, type, length

int gOpenDialogs = 0;

// Reads the template's fields; false when it is shorter than its fixed part and title.
bool ReadTemplate(Handle resource, DialogTemplate* out) {
  long size = GetMaxResourceSize(resource);
  long fixed = long(offsetof(DialogTemplate, title));
  if (size < fixed + 1) return false;
  std::memset(out, 0, sizeof *out);
  std::memcpy(out, *resource, size_t(fixed));
  long titleLength = uint8_t((*resource)[fixed]);
  if (size < fixed + 1 + titleLength) return false;
  std::memcpy(out->title, *resource + fixed, size_t(titleLength) + 1);
  return true;
}

// Parses an item list into `items`; false when it is malformed.
bool ReadItemList(Handle resource, std::vector<DialogItemRecord>* items) {
  long size = GetMaxResourceSize(resource);
  const char* bytes = *resource;
  if (size < 2) return false;
  int16_t countMinusOne;
  std::memcpy(&countMinusOne, bytes, 2);
  long at = 2;
  for (int i = 0; i <= countMinusOne; ++i) {
    if (at + kItemHeaderBytes > size) return false;
    DialogItemRecord item;
    std::memcpy(&item.rect, bytes + at + 4, sizeof(Rect));
    item.type = uint8_t(bytes[at + 12]);
    long length = uint8_t(bytes[at + 13]);
    at += kItemHeaderBytes;
    if (at + length > size) return false;
    item.text.assign(bytes + at, size_t(length));
    at += length + (length & 1);
    DialogItemType kind = platform_internal::ItemKind(item);
    if (kind >= kButtonDialogItem && kind <= kResourceControlDialogItem)
      item.control = std::make_unique<OpaqueControlRef>();
    items->push_back(std::move(item));
  }
  return true;
}

bool ItemUsable(DialogRef dialog, DialogItemIndex item) {
  const DialogItemRecord* record = platform_internal::Item(dialog, item);
  return record && platform_internal::ItemEnabled(*record);
}

}  // namespace

DialogRef GetNewDialog(int16_t dialogID, void* storage, WindowRef behind) {
  Handle templateHandle = GetResource(kDialogTemplateType, dialogID);
  DialogTemplate dialogTemplate;
  if (!templateHandle || !ReadTemplate(templateHandle, &dialogTemplate)) return nullptr;
  Handle itemList = GetResource(kItemListType, dialogTemplate.itemsID);
  if (!itemList) return nullptr;
  auto* dialog = new (std::nothrow) OpaqueDialogPtr;
  if (!dialog) {
    ReleaseResource(itemList);
    return nullptr;
  }
  bool parsed = ReadItemList(itemList, &dialog->items);
  ReleaseResource(itemList);
  if (!parsed) {
    delete dialog;
    return nullptr;
  }
  dialog->dialogID = dialogID;
  OpaqueWindowPtr& window = dialog->window;
  window.bounds = dialogTemplate.boundsRect;
  window.procID = dialogTemplate.procID;
  window.refCon = dialogTemplate.refCon;
  window.title.assign(reinterpret_cast<const char*>(dialogTemplate.title + 1),
                      dialogTemplate.title[0]);
  window.dialog = dialog;
  window.backend = PlatformCurrentDialogBackend();
  platform_internal::SizePort(&window.port, int16_t(window.bounds.right - window.bounds.left),
                              int16_t(window.bounds.bottom - window.bounds.top));
  platform_internal::AddWindowInFront(&window);
  ++gOpenDialogs;
  window.backend->Open(dialog);
  return dialog;
}

void DisposeDialog(DialogRef dialog) {
  if (!dialog) return;
  dialog->window.backend->Close(dialog);
  platform_internal::ForgetPort(&dialog->window.port);
  platform_internal::RemoveWindow(&dialog->window);
  --gOpenDialogs;
  delete dialog;
}

WindowRef GetDialogWindow(DialogRef dialog) { return &dialog->window; }
CGrafPtr GetDialogPort(DialogRef dialog) { return &dialog->window.port; }
DialogRef GetDialogFromWindow(WindowRef window) { return window ? window->dialog : nullptr; }

void GetDialogItem(DialogRef dialog, DialogItemIndex item, DialogItemType* itemType,
                   Handle* itemHandle, Rect* box) {
  const DialogItemRecord* record = platform_internal::Item(dialog, item);
  if (itemType) *itemType = record ? record->type : 0;
  if (itemHandle)
    *itemHandle =
        record && record->control ? reinterpret_cast<Handle>(record->control.get()) : nullptr;
  if (box) *box = record ? record->rect : Rect{0, 0, 0, 0};
}

DialogItemIndex CountDITL(DialogRef dialog) { return DialogItemIndex(dialog->items.size()); }

OSErr SetDialogDefaultItem(DialogRef dialog, DialogItemIndex item) {
  if (!platform_internal::Item(dialog, item)) return paramErr;
  dialog->defaultItem = item;
  return noErr;
}

OSErr SetDialogCancelItem(DialogRef dialog, DialogItemIndex item) {
  if (!platform_internal::Item(dialog, item)) return paramErr;
  dialog->cancelItem = item;
  return noErr;
}

void SetControlValue(ControlRef control, int16_t value) {
  if (!control) return;
  if (value < control->min) value = control->min;
  if (value > control->max) value = control->max;
  control->value = value;
}

int16_t GetControlValue(ControlRef control) { return control ? control->value : 0; }

void ModalDialog(ModalFilterUPP filter, DialogItemIndex* itemHit) {
  DialogRef dialog = GetDialogFromWindow(FrontWindow());
  if (!dialog) {
    *itemHit = 0;
    return;
  }
  DialogItemIndex defaultItem = dialog->defaultItem ? dialog->defaultItem : 1;
  for (;;) {
    EventRecord event = {};
    switch (dialog->window.backend->NextEvent(dialog, &event)) {
      case DialogEventResult::kEndDefault:
        *itemHit = defaultItem;
        return;
      case DialogEventResult::kEndCancel:
        *itemHit = dialog->cancelItem ? dialog->cancelItem : defaultItem;
        return;
      case DialogEventResult::kEvent:
        break;
    }
    if ((filter ? filter : StdFilterProc)(dialog, &event, itemHit)) return;
    if (event.what == mouseDown) {
      DialogItemIndex item = platform_internal::ItemAt(dialog, event.where);
      if (ItemUsable(dialog, item)) {
        *itemHit = item;
        return;
      }
    }
  }
}

Boolean StdFilterProc(DialogRef dialog, EventRecord* event, DialogItemIndex* itemHit) {
  DialogItemIndex item = 0;
  if (event->what == keyDown || event->what == autoKey) {
    uint8_t code = uint8_t(event->message & charCodeMask);
    if (code == kReturnCharCode || code == kEnterCharCode) item = dialog->defaultItem;
    if (code == kEscapeCharCode || (code == '.' && (event->modifiers & cmdKey)))
      item = dialog->cancelItem;
  } else if (event->what == mouseDown) {
    item = platform_internal::ItemAt(dialog, event->where);
  }
  if (!ItemUsable(dialog, item)) return false;
  *itemHit = item;
  return true;
}

int PlatformOpenDialogCount() { return gOpenDialogs; }

namespace platform_internal {

DialogItemRecord* Item(DialogRef dialog, DialogItemIndex item) {
  if (!dialog || item < 1 || size_t(item) > dialog->items.size()) return nullptr;
  return &dialog->items[size_t(item) - 1];
}

DialogItemIndex ItemAt(DialogRef dialog, Point where) {
  WindowRef window = nullptr;
  if (FindWindow(where, &window) != inContent || window != &dialog->window) return 0;
  Point local = {int16_t(where.v - window->bounds.top), int16_t(where.h - window->bounds.left)};
  for (size_t i = 0; i < dialog->items.size(); ++i)
    if (PtInRect(local, &dialog->items[i].rect)) return DialogItemIndex(i + 1);
  return 0;
}

Point ItemCentre(DialogRef dialog, DialogItemIndex item) {
  const DialogItemRecord* record = Item(dialog, item);
  if (!record) return Point{0, 0};
  const Rect& r = record->rect;
  return Point{int16_t(dialog->window.bounds.top + (r.top + r.bottom) / 2),
               int16_t(dialog->window.bounds.left + (r.left + r.right) / 2)};
}

bool ItemEnabled(const DialogItemRecord& item) { return (item.type & kItemDisableBit) == 0; }

DialogItemType ItemKind(const DialogItemRecord& item) {
  return DialogItemType(item.type & ~kItemDisableBit);
}

}  // namespace platform_internal
