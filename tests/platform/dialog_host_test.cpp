// The host dialog backend: what it tells the hosting program about a dialog, how it replays the
// program's answer as clicks, and when it falls back to the default or the cancel item. The host
// programs here are tables of test functions; one test finds the table this program exports.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/dialog_backend.h"
#include "platform/dialog_test_resources.h"
#include "platform/host_dialog.h"
#include "platform/host_settings.h"
#include "support/platform_fixture.h"

namespace {

using namespace dialog_test;

// What the test host was shown, and what it answers.
struct ShownItem {
  int16_t kind, enabled, value;
  AreaFillDialogRect rect;
  std::string text;
  uint8_t colour[3];
};
struct HostLog {
  int calls = 0;
  std::string title;
  AreaFillDialogRect bounds = {0, 0, 0, 0};
  std::vector<ShownItem> items;
  int16_t defaultItem = 0, cancelItem = 0;
  int capacity = 0;
  std::vector<int16_t> answer;
  int result = 0;  // returned instead of the answer's length when negative
};
HostLog gLog;

int _RunTestDialog(const AreaFillDialogDescription* d, int16_t* hits, int capacity) {
  ++gLog.calls;
  gLog.title = d->title;
  gLog.bounds = d->bounds;
  gLog.items.clear();
  for (int16_t i = 0; i < d->itemCount; ++i) {
    const AreaFillDialogItem& item = d->items[i];
    gLog.items.push_back({item.kind,
                          item.enabled,
                          item.value,
                          item.rect,
                          item.text,
                          {item.colour[0], item.colour[1], item.colour[2]}});
  }
  gLog.defaultItem = d->defaultItem;
  gLog.cancelItem = d->cancelItem;
  gLog.capacity = capacity;
  if (gLog.result < 0) return gLog.result;
  for (size_t k = 0; k < gLog.answer.size(); ++k) hits[k] = gLog.answer[k];
  return int(gLog.answer.size());
}

int _Screen1280x800(int16_t* width, int16_t* height) {
  *width = 1280;
  *height = 800;
  return 1;
}
int _ScreenUnknown(int16_t*, int16_t*) { return 0; }

const AreaFillDialogHost kHost = {AREAFILL_DIALOG_HOST_VERSION, _Screen1280x800, _RunTestDialog};

class HostDialogTest : public PlatformFixture {
 protected:
  void SetUp() override {
    PlatformFixture::SetUp();
    gLog = HostLog{};
    PlatformResetScreenRect();
  }
  void TearDown() override {
    PlatformSetDialogBackend(nullptr);
    PlatformResetScreenRect();
    PlatformFixture::TearDown();
  }
  void Use(const AreaFillDialogHost* host) {
    backend_ = PlatformNewHostDialogBackend(host);
    PlatformSetDialogBackend(backend_.get());
  }

  // Runs the test dialog as a radio group until OK or Cancel, with the swatch painted in
  // (200, 100, 0) and the second radio button on; returns the item that ended it and stores the
  // radio button that was on.
  DialogItemIndex RunDialog(DialogItemIndex* radio) {
    DialogRef dialog = GetNewDialog(kMovableID, nullptr, kFirstWindowOfClass);
    EXPECT_NE(dialog, nullptr);
    if (!dialog) return 0;
    SetPortWindowPort(GetDialogWindow(dialog));
    RGBColor colour = {200 * 256, 100 * 256, 0};
    RGBForeColor(&colour);
    for (int16_t v = 32; v < 62; ++v) {
      MoveTo(130, v);
      LineTo(190, v);
    }
    *radio = kSecondRadio;
    SetControlValue(Control(dialog, *radio), 1);
    SetDialogDefaultItem(dialog, kOK);
    SetDialogCancelItem(dialog, kCancel);
    DialogItemIndex item = 0;
    int waits = 0;
    do {
      ModalDialog(nullptr, &item);
      if (item == kFirstRadio || item == kSecondRadio) {
        SetControlValue(Control(dialog, *radio), 0);
        *radio = item;
        SetControlValue(Control(dialog, *radio), 1);
      }
    } while (item != kOK && item != kCancel && ++waits < 100);
    DisposeDialog(dialog);
    return item;
  }
  static ControlHandle Control(DialogRef dialog, DialogItemIndex item) {
    Handle h;
    GetDialogItem(dialog, item, nullptr, &h, nullptr);
    return reinterpret_cast<ControlHandle>(h);
  }

  std::unique_ptr<DialogBackend> backend_;
  Resources resources_;
};

TEST_F(HostDialogTest, DescribesTheDialogOnceAsItStandsAtItsFirstWait) {
  Use(&kHost);
  gLog.answer = {kFirstRadio, kOK};
  DialogItemIndex radio = 0;
  EXPECT_EQ(RunDialog(&radio), kOK);
  EXPECT_EQ(radio, kFirstRadio);
  EXPECT_EQ(gLog.calls, 1) << "one description per dialog, however many waits";
  EXPECT_EQ(gLog.title, "Test");
  EXPECT_EQ(gLog.bounds.top, kMovableBounds.top);
  EXPECT_EQ(gLog.bounds.left, kMovableBounds.left);
  EXPECT_EQ(gLog.bounds.bottom, kMovableBounds.bottom);
  EXPECT_EQ(gLog.bounds.right, kMovableBounds.right);
  EXPECT_EQ(gLog.defaultItem, kOK);
  EXPECT_EQ(gLog.cancelItem, kCancel);
  EXPECT_GT(gLog.capacity, 2);
  ASSERT_EQ(gLog.items.size(), Items().size());
  for (size_t i = 0; i < Items().size(); ++i) {
    SCOPED_TRACE("item " + std::to_string(i + 1));
    const Item& expected = Items()[i];
    const ShownItem& shown = gLog.items[i];
    EXPECT_EQ(shown.kind, expected.type & ~kItemDisableBit);
    EXPECT_EQ(shown.enabled, (expected.type & kItemDisableBit) ? 0 : 1);
    EXPECT_EQ(shown.text, expected.text);
    EXPECT_EQ(shown.rect.top, expected.rect.top);
    EXPECT_EQ(shown.rect.left, expected.rect.left);
    EXPECT_EQ(shown.rect.bottom, expected.rect.bottom);
    EXPECT_EQ(shown.rect.right, expected.rect.right);
  }
  EXPECT_EQ(gLog.items[kFirstRadio - 1].value, 0);
  EXPECT_EQ(gLog.items[kSecondRadio - 1].value, 1) << "values as set before the wait";
  EXPECT_EQ(gLog.items[kOK - 1].value, 0) << "buttons are controls";
  EXPECT_EQ(gLog.items[kLabel - 1].value, -1) << "static text is not a control";
  const ShownItem& swatch = gLog.items[kSwatch - 1];
  EXPECT_EQ(swatch.colour[0], 200);
  EXPECT_EQ(swatch.colour[1], 100);
  EXPECT_EQ(swatch.colour[2], 0);
  const ShownItem& label = gLog.items[kLabel - 1];
  EXPECT_EQ(label.colour[0], 255) << "nothing painted there: the port's white";
}

struct AnswerCase {
  const char* name;
  std::vector<int16_t> answer;
  int result;  // negative: the host cannot show the dialog
  DialogItemIndex item;
  DialogItemIndex radio;
};

class HostAnswerTest : public HostDialogTest, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(HostAnswerTest, TheAnswerIsReplayedAsClicks) {
  Use(&kHost);
  gLog.answer = GetParam().answer;
  gLog.result = GetParam().result;
  DialogItemIndex radio = 0;
  EXPECT_EQ(RunDialog(&radio), GetParam().item);
  EXPECT_EQ(radio, GetParam().radio);
  EXPECT_EQ(gLog.calls, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, HostAnswerTest,
    ::testing::Values(
        AnswerCase{"OKKeepsTheChoice", {kOK}, 0, kOK, kSecondRadio},
        AnswerCase{
            "RadioThenOK", {kFirstRadio, kSecondRadio, kFirstRadio, kOK}, 0, kOK, kFirstRadio},
        AnswerCase{"RadioThenCancel", {kFirstRadio, kCancel}, 0, kCancel, kFirstRadio},
        // An answer that closes nothing leaves the user's intent unknown: Cancel.
        AnswerCase{"NoHitsCancel", {}, 0, kCancel, kSecondRadio},
        AnswerCase{"AnswerWithoutCloseCancels", {kFirstRadio}, 0, kCancel, kFirstRadio},
        AnswerCase{"CannotShowCancels", {kOK}, -1, kCancel, kSecondRadio},
        AnswerCase{"UnknownItemsAreSkipped", {0, 99, -3, kFirstRadio, kOK}, 0, kOK, kFirstRadio},
        AnswerCase{"DisabledItemsAreNoHits", {kLabel, kSwatch, kOK}, 0, kOK, kSecondRadio}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(HostDialogTest, WithoutAUsableHostTheDialogEndsWithItsDefaultItem) {
  const AreaFillDialogHost older = {0, _Screen1280x800, _RunTestDialog};
  const AreaFillDialogHost noRun = {AREAFILL_DIALOG_HOST_VERSION, _Screen1280x800, nullptr};
  for (const AreaFillDialogHost* host :
       {static_cast<const AreaFillDialogHost*>(nullptr), &older, &noRun}) {
    Use(host);
    DialogItemIndex radio = 0;
    EXPECT_EQ(RunDialog(&radio), kOK);
    EXPECT_EQ(radio, kSecondRadio);
  }
  EXPECT_EQ(gLog.calls, 0);
}

TEST_F(HostDialogTest, TheHostsScreenIsTheMainScreenUnlessOneWasSet) {
  Use(&kHost);
  Rect screen = (*GetMainDevice())->gdRect;
  EXPECT_EQ(screen.right, 1280);
  EXPECT_EQ(screen.bottom, 800);
  Rect desktop;
  GetRegionBounds(GetGrayRgn(), &desktop);
  EXPECT_EQ(desktop.top, kMenuBarHeight);
  EXPECT_EQ(desktop.bottom, 800);

  PlatformSetScreenRect(Rect{0, 0, 600, 800});
  EXPECT_EQ((*GetMainDevice())->gdRect.right, 800) << "a screen set by the caller wins";
  PlatformResetScreenRect();
  EXPECT_EQ((*GetMainDevice())->gdRect.right, 1280);

  const AreaFillDialogHost unknown = {AREAFILL_DIALOG_HOST_VERSION, _ScreenUnknown, _RunTestDialog};
  Use(&unknown);
  EXPECT_EQ((*GetMainDevice())->gdRect.right, 1024) << "the platform's own screen";
  EXPECT_EQ((*GetMainDevice())->gdRect.bottom, 768);
  PlatformSetDialogBackend(nullptr);
  EXPECT_EQ((*GetMainDevice())->gdRect.right, 1024);
}

int gServicesCalls = 0;
int _RunFromServices(const AreaFillDialogDescription* d, int16_t* hits, int capacity) {
  ++gServicesCalls;
  hits[0] = kFirstRadio;
  hits[1] = kCancel;
  return 2;
}

// The host-services record picks the backend: the host's table, the terminal, or none.
TEST_F(HostDialogTest, HostServicesChooseTheBackend) {
  const AreaFillDialogHost table = {AREAFILL_DIALOG_HOST_VERSION, nullptr, _RunFromServices};
  AreaFillHostServices services{
      AREAFILL_HOST_SERVICES_VERSION, nullptr, kAreaFillDialogHost, &table, -1, 0,
      kAreaFillMembraneFast};
  PlatformSetDialogBackend(nullptr);
  PlatformSetHostServices(&services);
  DialogItemIndex radio = 0;
  EXPECT_EQ(RunDialog(&radio), kCancel);
  EXPECT_EQ(radio, kFirstRadio);
  EXPECT_EQ(gServicesCalls, 1);
  services.dialog = kAreaFillDialogTerminal;
  PlatformSetHostServices(&services);
  EXPECT_NE(PlatformCurrentDialogBackend(), PlatformScriptedDialogBackend());
  PlatformSetHostServices(nullptr);
  EXPECT_EQ(PlatformCurrentDialogBackend(), PlatformScriptedDialogBackend());
}

}  // namespace
