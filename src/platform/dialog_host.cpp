// The host backend: the hosting program shows each dialog with its own toolkit. The first wait
// on a dialog describes it to the host (platform/host_dialog.h) and takes the user's answer, a
// list of items hit; every wait then hands out the next of them as a click on that item.
#include <map>
#include <vector>

#include "platform/host_dialog.h"
#include "platform/toolbox_internal.h"

namespace {

// More hits than a user makes in one dialog; a longer answer is cut short (and then ends with
// the cancel item, below).
constexpr int kMaxHits = 256;

struct Session {
  bool asked = false;
  bool refused = false;  // the host could not show the dialog
  std::vector<int16_t> hits;
  size_t next = 0;
};

AreaFillDialogRect _ToHost(const Rect& r) { return {r.top, r.left, r.bottom, r.right}; }

// The items as the host sees them; `items` keeps the text alive for the call.
std::vector<AreaFillDialogItem> _DescribeItems(DialogRef dialog) {
  std::vector<AreaFillDialogItem> items;
  for (const DialogItemRecord& record : dialog->items) {
    AreaFillDialogItem item = {};
    item.kind = platform_internal::ItemKind(record);
    item.enabled = platform_internal::ItemEnabled(record) ? 1 : 0;
    item.value = record.control ? record.control->value : int16_t(-1);
    item.rect = _ToHost(record.rect);
    item.text = record.text.c_str();
    RGBColor centre = {0xFFFF, 0xFFFF, 0xFFFF};
    PlatformGetPortPixel(&dialog->window.port, int16_t((record.rect.left + record.rect.right) / 2),
                         int16_t((record.rect.top + record.rect.bottom) / 2), &centre);
    item.colour[0] = uint8_t(centre.red >> 8);
    item.colour[1] = uint8_t(centre.green >> 8);
    item.colour[2] = uint8_t(centre.blue >> 8);
    items.push_back(item);
  }
  return items;
}

class HostBackend : public DialogBackend {
 public:
  explicit HostBackend(const AreaFillDialogHost* host) : host_(host) {}
  DialogEventResult NextEvent(DialogRef dialog, EventRecord* event) override;
  bool ScreenRect(Rect* screen) override;
  void Close(DialogRef dialog) override { sessions_.erase(dialog); }

 private:
  bool Usable() const {
    return host_ && host_->version >= AREAFILL_DIALOG_HOST_VERSION && host_->runDialog;
  }
  void Ask(DialogRef dialog, Session* session);

  const AreaFillDialogHost* host_;
  std::map<DialogRef, Session> sessions_;
};

void HostBackend::Ask(DialogRef dialog, Session* session) {
  std::vector<AreaFillDialogItem> items = _DescribeItems(dialog);
  AreaFillDialogDescription description = {};
  description.title = dialog->window.title.c_str();
  description.bounds = _ToHost(dialog->window.bounds);
  description.itemCount = int16_t(items.size());
  description.items = items.data();
  description.defaultItem = dialog->defaultItem;
  description.cancelItem = dialog->cancelItem;
  std::vector<int16_t> hits(kMaxHits, 0);
  int count = host_->runDialog(&description, hits.data(), kMaxHits);
  session->asked = true;
  session->refused = count < 0;
  hits.resize(count < 0 ? 0 : count > kMaxHits ? size_t(kMaxHits) : size_t(count));
  session->hits = std::move(hits);
}

DialogEventResult HostBackend::NextEvent(DialogRef dialog, EventRecord* event) {
  // Without a host that shows dialogs, this is the headless backend: the default item.
  if (!Usable()) return DialogEventResult::kEndDefault;
  Session& session = sessions_[dialog];
  if (!session.asked) Ask(dialog, &session);
  // The host's answer is replayed hit by hit. Once it is used up without closing the dialog (or
  // the host could not show it), the user's intent is unknown: Cancel, which changes nothing.
  while (session.next < session.hits.size()) {
    const int16_t item = session.hits[session.next++];
    if (!platform_internal::Item(dialog, item)) continue;  // not an item of this dialog
    *event = EventRecord{};
    event->what = mouseDown;
    event->where = platform_internal::ItemCentre(dialog, item);
    event->when = uint32_t(session.next);
    return DialogEventResult::kEvent;
  }
  return DialogEventResult::kEndCancel;
}

bool HostBackend::ScreenRect(Rect* screen) {
  if (!host_ || host_->version < AREAFILL_DIALOG_HOST_VERSION || !host_->screenSize) return false;
  int16_t width = 0, height = 0;
  if (!host_->screenSize(&width, &height) || width <= 0 || height <= 0) return false;
  *screen = Rect{0, 0, height, width};
  return true;
}

}  // namespace

std::unique_ptr<DialogBackend> PlatformNewHostDialogBackend(const AreaFillDialogHost* host) {
  return std::make_unique<HostBackend>(host);
}
