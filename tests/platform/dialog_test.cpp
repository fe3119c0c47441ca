// The Dialog Manager as the filter's choice dialog uses it, over the host backend: a dialog of
// two radio buttons, a default and a cancel button and a disabled label, built from its
// resources, described to the host once, and the host's answer replayed as clicks. (The scripted
// backend runs the filter's own dialog in its tests; the terminal backend is tested through the
// program, tests/program.)
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/dialog_backend.h"
#include "platform/host_dialog.h"
#include "platform/resources.h"
#include "support/platform_fixture.h"

namespace {

enum : int16_t { kOK = 1, kCancel = 2, kFirst = 3, kSecond = 4, kLabel = 5 };

struct Item {
  Rect rect;
  uint8_t type;
  std::string text;
};
const Item kItems[] = {{{70, 120, 90, 190}, kButtonDialogItem, "OK"},
                       {{70, 20, 90, 100}, kButtonDialogItem, "Cancel"},
                       {{10, 10, 28, 120}, kRadioButtonDialogItem, "First"},
                       {{32, 10, 50, 120}, kRadioButtonDialogItem, "Second"},
                       {{10, 130, 28, 190}, kStaticTextDialogItem | kItemDisableBit, "Label"}};

class DialogTest : public PlatformFixture {
 protected:
  void SetUp() override {
    PlatformFixture::SetUp();
    // The item list: the count less one, then per item 4 reserved bytes, its rectangle, its
    // type and its text, padded to an even length.
    items_ = {4, 0};
    for (const Item& item : kItems) {
      const size_t at = items_.size();
      items_.resize(at + 14 + item.text.size() + item.text.size() % 2);
      std::memcpy(&items_[at + 4], &item.rect, sizeof(Rect));
      items_[at + 12] = item.type;
      items_[at + 13] = uint8_t(item.text.size());
      std::memcpy(&items_[at + 14], item.text.data(), item.text.size());
    }
    template_.boundsRect = {100, 100, 200, 300};
    template_.procID = movableDBoxProc;
    template_.visible = 1;
    template_.itemsID = 200;
    std::memcpy(template_.title, "\4Test", 5);
    entries_[0] = {FourCC("DLOG"), 200, &template_, int32_t(sizeof template_)};
    entries_[1] = {FourCC("DITL"), 200, items_.data(), int32_t(items_.size())};
    PlatformRegisterResources(entries_, 2);
  }
  void TearDown() override {
    PlatformUnregisterResources(entries_);
    PlatformSetDialogBackend(nullptr);
    backend_.reset();
    PlatformFixture::TearDown();
  }

  void Use(const AreaFillDialogHost* host) {
    PlatformSetDialogBackend(nullptr);
    backend_ = PlatformNewHostDialogBackend(host);
    PlatformSetDialogBackend(backend_.get());
  }

  // Runs the dialog with the second radio button on until OK or Cancel; returns the item that
  // ended it and stores the radio button that was on then.
  DialogItemIndex RunDialog(DialogItemIndex* radio) {
    DialogRef dialog = GetNewDialog(200, nullptr, kFirstWindowOfClass);
    EXPECT_NE(dialog, nullptr);
    if (!dialog) return 0;
    SetControlValue(Control(dialog, *radio = kSecond), 1);
    SetDialogDefaultItem(dialog, kOK);
    SetDialogCancelItem(dialog, kCancel);
    DialogItemIndex item = 0;
    for (int waits = 0; item != kOK && item != kCancel && waits < 100; ++waits) {
      ModalDialog(StdFilterProc, &item);  // as the filter's own filter does
      if (item == kFirst || item == kSecond) {
        SetControlValue(Control(dialog, *radio), 0);
        SetControlValue(Control(dialog, *radio = item), 1);
      }
    }
    DisposeDialog(dialog);
    return item;
  }
  static ControlHandle Control(DialogRef dialog, DialogItemIndex item) {
    Handle h;
    GetDialogItem(dialog, item, nullptr, &h, nullptr);
    return reinterpret_cast<ControlHandle>(h);
  }

  std::unique_ptr<DialogBackend> backend_;
  std::vector<uint8_t> items_;
  DialogTemplate template_ = {};
  ResourceEntry entries_[2];
};

// What the test host was shown (its title, default and cancel items, the radio buttons' values
// and whether the label is enabled), and what it answers.
struct HostLog {
  int calls = 0;
  std::string shown;
  std::vector<int16_t> answer;
  int result = 0;  // returned instead of the answer's length when negative
} gLog;

int _RunTestDialog(const AreaFillDialogDescription* d, int16_t* hits, int capacity) {
  ++gLog.calls;
  char line[100];
  std::snprintf(line, sizeof line, "%s %d %d radio %d %d label %d", d->title, d->defaultItem,
                d->cancelItem, d->items[kFirst - 1].value, d->items[kSecond - 1].value,
                d->items[kLabel - 1].enabled);
  gLog.shown = line;
  if (gLog.result < 0 || int(gLog.answer.size()) > capacity) return -1;
  std::copy(gLog.answer.begin(), gLog.answer.end(), hits);
  return int(gLog.answer.size());
}

int _Screen1280x800(int16_t* width, int16_t* height) {
  *width = 1280;
  *height = 800;
  return 1;
}

const AreaFillDialogHost kHost = {AREAFILL_DIALOG_HOST_VERSION, _Screen1280x800, _RunTestDialog};

TEST_F(DialogTest, HostsAnswerIsReplayedAsClicksAndAnUnfinishedOneCancels) {
  struct Case {
    std::vector<int16_t> answer;
    int result;
    DialogItemIndex item, radio;
  };
  const Case cases[] = {{{kFirst, kOK}, 0, kOK, kFirst},
                        {{kFirst, kSecond, kFirst, kCancel}, 0, kCancel, kFirst},
                        {{kFirst}, 0, kCancel, kFirst},  // nothing closed it: the user's intent
                        {{}, 0, kCancel, kSecond},       // is unknown
                        {{kOK}, -1, kCancel, kSecond},   // the host cannot show it
                        {{0, 99, -3, kLabel, kFirst, kOK}, 0, kOK, kFirst}};
  Use(&kHost);
  EXPECT_EQ((*GetMainDevice())->gdRect.right, 1280) << "the host's screen";
  for (const Case& c : cases) {
    gLog = HostLog{0, {}, c.answer, c.result};
    DialogItemIndex radio = 0;
    EXPECT_EQ(RunDialog(&radio), c.item) << c.answer.size();
    EXPECT_EQ(radio, c.radio);
    EXPECT_EQ(gLog.calls, 1) << "one description per dialog, however many waits";
    EXPECT_EQ(gLog.shown, "Test 1 2 radio 0 1 label 0") << "as it stands at its first wait";
  }
  // Without a usable host table the dialog ends with its default item.
  const AreaFillDialogHost older = {0, nullptr, _RunTestDialog}, noRun = {1, nullptr, nullptr};
  for (const AreaFillDialogHost* host :
       {static_cast<const AreaFillDialogHost*>(nullptr), &older, &noRun}) {
    Use(host);
    DialogItemIndex radio = 0;
    EXPECT_EQ(RunDialog(&radio), kOK);
    EXPECT_EQ((*GetMainDevice())->gdRect.right, 1024) << "the platform's own screen";
  }
}

}  // namespace
