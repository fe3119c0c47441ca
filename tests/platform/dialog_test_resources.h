// A small test dialog for the dialog tests, registered with the platform's Resource Manager the
// way a module registers its own: 'DLOG' 200 (movable, titled) and 201 (plain box) over one
// 'DITL' 200 of a default button, a cancel button, two radio buttons, a disabled static text
// and a disabled user item.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "platform/dialogs.h"
#include "platform/resources.h"

namespace dialog_test {

constexpr int16_t kMovableID = 200;
constexpr int16_t kPlainID = 201;
constexpr Rect kMovableBounds = {100, 100, 200, 300};
constexpr Rect kPlainBounds = {400, 500, 460, 700};

enum : int16_t { kOK = 1, kCancel = 2, kFirstRadio = 3, kSecondRadio = 4, kLabel = 5, kSwatch = 6 };

struct Item {
  Rect rect;
  uint8_t type;
  std::string text;
};

inline const std::vector<Item>& Items() {
  static const std::vector<Item> items = {
      {{70, 120, 90, 190}, kButtonDialogItem, "OK"},
      {{70, 20, 90, 100}, kButtonDialogItem, "Cancel"},
      {{10, 10, 28, 120}, kRadioButtonDialogItem, "First"},
      {{32, 10, 50, 120}, kRadioButtonDialogItem, "Second"},
      {{10, 130, 28, 190}, kStaticTextDialogItem | kItemDisableBit, "Label"},
      {{32, 130, 62, 190}, kUserDialogItem | kItemDisableBit, ""},
  };
  return items;
}

inline std::vector<uint8_t> BuildItemList(const std::vector<Item>& items) {
  std::vector<uint8_t> out(2);
  int16_t countMinusOne = int16_t(items.size() - 1);
  std::memcpy(out.data(), &countMinusOne, 2);
  for (const Item& item : items) {
    size_t at = out.size();
    out.resize(at + 14);
    std::memcpy(out.data() + at + 4, &item.rect, sizeof(Rect));
    out[at + 12] = item.type;
    out[at + 13] = uint8_t(item.text.size());
    out.insert(out.end(), item.text.begin(), item.text.end());
    if (item.text.size() & 1) out.push_back(0);
  }
  return out;
}

inline DialogTemplate MakeTemplate(Rect bounds, int16_t procID, const char* title) {
  DialogTemplate t = {};
  t.boundsRect = bounds;
  t.procID = procID;
  t.visible = 1;
  t.itemsID = kMovableID;
  t.title[0] = uint8_t(std::strlen(title));
  std::memcpy(t.title + 1, title, t.title[0]);
  return t;
}

// Registers the test dialog for the life of the object.
class Resources {
 public:
  Resources()
      : itemList_(BuildItemList(Items())),
        movable_(MakeTemplate(kMovableBounds, movableDBoxProc, "Test")),
        plain_(MakeTemplate(kPlainBounds, plainDBox, "")) {
    entries_[0] = {FourCC("DLOG"), kMovableID, &movable_, int32_t(sizeof movable_)};
    entries_[1] = {FourCC("DLOG"), kPlainID, &plain_, int32_t(sizeof plain_)};
    entries_[2] = {FourCC("DITL"), kMovableID, itemList_.data(), int32_t(itemList_.size())};
    PlatformRegisterResources(entries_, 3);
  }
  ~Resources() { PlatformUnregisterResources(entries_); }
  Resources(const Resources&) = delete;
  Resources& operator=(const Resources&) = delete;

 private:
  std::vector<uint8_t> itemList_;
  DialogTemplate movable_;
  DialogTemplate plain_;
  ResourceEntry entries_[3];
};

}  // namespace dialog_test
