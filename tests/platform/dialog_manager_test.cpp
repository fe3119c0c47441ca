// The platform's Resource Manager, Dialog Manager, Window Manager and QuickDraw stand-ins, with
// the scripted dialog backend feeding events.
#include <gtest/gtest.h>

#include "platform/dialog_backend.h"
#include "platform/dialog_test_resources.h"
#include "support/platform_fixture.h"

namespace {

using namespace dialog_test;

class DialogManagerTest : public PlatformFixture {
 protected:
  void SetUp() override {
    PlatformFixture::SetUp();
    PlatformSetDialogBackend(PlatformScriptedDialogBackend());
    PlatformScriptReset();
    PlatformResetScreenRect();
  }
  void TearDown() override {
    EXPECT_EQ(PlatformOpenDialogCount(), 0) << "a dialog was left open";
    PlatformScriptReset();
    PlatformSetDialogBackend(nullptr);
    PlatformFixture::TearDown();
  }
  EventRecord Key(uint8_t code, EventModifiers modifiers = 0) {
    EventRecord e = {};
    e.what = keyDown;
    e.message = code;
    e.modifiers = modifiers;
    return e;
  }
  EventRecord Click(Point where) {
    EventRecord e = {};
    e.what = mouseDown;
    e.where = where;
    return e;
  }
  Resources resources_;
};

TEST_F(DialogManagerTest, ResourceChainSearchesTheLatestTableFirstAndKeepsLoadedChanges) {
  const char older[] = "old", newer[] = "new";
  ResourceEntry first[] = {{FourCC("TEXT"), 1, older, 4}};
  ResourceEntry second[] = {{FourCC("TEXT"), 1, newer, 4}};
  PlatformRegisterResources(first, 1);
  PlatformRegisterResources(second, 1);
  PlatformRegisterResources(first, 1);  // already in the chain: stays behind `second`

  Handle h = GetResource(FourCC("TEXT"), 1);
  ASSERT_NE(h, nullptr);
  EXPECT_STREQ(*h, "new");
  EXPECT_EQ(GetMaxResourceSize(h), 4);
  (*h)[0] = 'N';
  EXPECT_EQ(GetResource(FourCC("TEXT"), 1), h) << "a loaded resource is handed out again";
  EXPECT_STREQ(*GetResource(FourCC("TEXT"), 1), "New");
  ReleaseResource(h);
  EXPECT_STREQ(*GetResource(FourCC("TEXT"), 1), "new") << "released: loaded afresh";

  PlatformUnregisterResources(second);
  EXPECT_STREQ(*GetResource(FourCC("TEXT"), 1), "old");
  PlatformUnregisterResources(first);
  EXPECT_EQ(GetResource(FourCC("TEXT"), 1), nullptr);
  EXPECT_EQ(ResError(), resNotFound);
}

TEST_F(DialogManagerTest, DialogIsBuiltFromItsTemplateAndItemList) {
  DialogRef dialog = GetNewDialog(kMovableID, nullptr, kFirstWindowOfClass);
  ASSERT_NE(dialog, nullptr);
  Rect bounds;
  GetWindowBounds(GetDialogWindow(dialog), kWindowContentRgn, &bounds);
  EXPECT_EQ(bounds.top, kMovableBounds.top);
  EXPECT_EQ(bounds.right, kMovableBounds.right);
  EXPECT_EQ(CountDITL(dialog), 6);
  EXPECT_EQ(FrontWindow(), GetDialogWindow(dialog));

  DialogItemType type;
  Handle item;
  Rect box;
  GetDialogItem(dialog, kSecondRadio, &type, &item, &box);
  EXPECT_EQ(type, kRadioButtonDialogItem);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(box.top, 32);
  EXPECT_EQ(box.right, 120);
  SetControlValue(reinterpret_cast<ControlHandle>(item), 5);
  EXPECT_EQ(GetControlValue(reinterpret_cast<ControlHandle>(item)), 1) << "clamped to its maximum";

  GetDialogItem(dialog, kLabel, &type, &item, &box);
  EXPECT_EQ(type, kStaticTextDialogItem | kItemDisableBit);
  EXPECT_EQ(item, nullptr);
  GetDialogItem(dialog, 7, &type, &item, &box);
  EXPECT_EQ(type, 0);
  EXPECT_EQ(box.bottom, 0);
  DisposeDialog(dialog);
}

TEST_F(DialogManagerTest, MissingOrTruncatedResourcesGiveNoDialog) {
  EXPECT_EQ(GetNewDialog(999, nullptr, kFirstWindowOfClass), nullptr);
  std::vector<uint8_t> shortList = BuildItemList(Items());
  shortList.resize(shortList.size() - 8);  // the last item's header is cut
  DialogTemplate t = MakeTemplate(kMovableBounds, movableDBoxProc, "Cut");
  t.itemsID = 300;
  ResourceEntry entries[] = {{FourCC("DLOG"), 300, &t, int32_t(sizeof t)},
                             {FourCC("DITL"), 300, shortList.data(), int32_t(shortList.size())}};
  PlatformRegisterResources(entries, 2);
  EXPECT_EQ(GetNewDialog(300, nullptr, kFirstWindowOfClass), nullptr);
  PlatformUnregisterResources(entries);
}

struct FilterCase {
  const char* name;
  enum { kKeyEvent, kClickItem, kClickOutside, kNull } kind;
  uint8_t code;
  EventModifiers modifiers;
  bool handled;
  DialogItemIndex item;
};

class StdFilterTest : public DialogManagerTest, public ::testing::WithParamInterface<FilterCase> {};

TEST_P(StdFilterTest, RoutesKeysAndClicksToItems) {
  const FilterCase& c = GetParam();
  DialogRef dialog = GetNewDialog(kMovableID, nullptr, kFirstWindowOfClass);
  ASSERT_NE(dialog, nullptr);
  SetDialogDefaultItem(dialog, kOK);
  SetDialogCancelItem(dialog, kCancel);
  EventRecord event = {};
  if (c.kind == FilterCase::kKeyEvent) event = Key(c.code, c.modifiers);
  if (c.kind == FilterCase::kClickItem) {
    Rect box;
    GetDialogItem(dialog, c.code, nullptr, nullptr, &box);
    event = Click(Point{int16_t(kMovableBounds.top + box.top + 1),
                        int16_t(kMovableBounds.left + box.left + 1)});
  }
  if (c.kind == FilterCase::kClickOutside)
    event = Click(Point{int16_t(kMovableBounds.bottom + 5), 150});
  DialogItemIndex item = -1;
  EXPECT_EQ(StdFilterProc(dialog, &event, &item), c.handled);
  EXPECT_EQ(item, c.handled ? c.item : -1);
  DisposeDialog(dialog);
}

INSTANTIATE_TEST_SUITE_P(
    Events, StdFilterTest,
    ::testing::Values(
        FilterCase{"Return", FilterCase::kKeyEvent, kReturnCharCode, 0, true, kOK},
        FilterCase{"Enter", FilterCase::kKeyEvent, kEnterCharCode, 0, true, kOK},
        FilterCase{"Escape", FilterCase::kKeyEvent, kEscapeCharCode, 0, true, kCancel},
        FilterCase{"CommandPeriod", FilterCase::kKeyEvent, '.', cmdKey, true, kCancel},
        FilterCase{"PlainPeriod", FilterCase::kKeyEvent, '.', 0, false, 0},
        FilterCase{"OtherKey", FilterCase::kKeyEvent, 'a', 0, false, 0},
        FilterCase{"RadioClick", FilterCase::kClickItem, kSecondRadio, 0, true, kSecondRadio},
        FilterCase{"DisabledItemClick", FilterCase::kClickItem, kSwatch, 0, false, 0},
        FilterCase{"ClickOutside", FilterCase::kClickOutside, 0, 0, false, 0},
        FilterCase{"NullEvent", FilterCase::kNull, 0, 0, false, 0}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(DialogManagerTest, ModalDialogEndsWithTheDefaultItemWhenTheScriptRunsOut) {
  DialogRef dialog = GetNewDialog(kMovableID, nullptr, kFirstWindowOfClass);
  ASSERT_NE(dialog, nullptr);
  DialogItemIndex item = 0;
  ModalDialog(nullptr, &item);
  EXPECT_EQ(item, 1) << "no default item set: item 1";
  SetDialogDefaultItem(dialog, kCancel);
  PlatformScriptKey('x');
  PlatformScriptClickItem(kLabel);  // disabled: ignored
  ModalDialog(nullptr, &item);
  EXPECT_EQ(item, kCancel);
  EXPECT_EQ(PlatformScriptPending(), 0u);
  DisposeDialog(dialog);
  EXPECT_EQ(PlatformLastDialogSnapshot().eventsHandled, 2);
}

Boolean RefuseEverything(DialogRef, EventRecord*, DialogItemIndex*) { return false; }

TEST_F(DialogManagerTest, ClickOnAnEnabledItemHitsItEvenWhenTheFilterIgnoresIt) {
  DialogRef dialog = GetNewDialog(kMovableID, nullptr, kFirstWindowOfClass);
  ASSERT_NE(dialog, nullptr);
  PlatformScriptKey(kReturnCharCode);  // ignored by this filter: only the standard one knows keys
  PlatformScriptClickItem(kFirstRadio);
  DialogItemIndex item = 0;
  ModalDialog(RefuseEverything, &item);
  EXPECT_EQ(item, kFirstRadio);
  DisposeDialog(dialog);
}

TEST_F(DialogManagerTest, FindWindowTellsTitleBarsContentMenuBarAndDesktop) {
  DialogRef plain = GetNewDialog(kPlainID, nullptr, kFirstWindowOfClass);
  DialogRef movable = GetNewDialog(kMovableID, nullptr, kFirstWindowOfClass);
  ASSERT_TRUE(plain && movable);
  WindowRef window;
  EXPECT_EQ(FindWindow(Point{int16_t(kMovableBounds.top - 5), 150}, &window), inDrag);
  EXPECT_EQ(window, GetDialogWindow(movable));
  EXPECT_EQ(FindWindow(Point{int16_t(kMovableBounds.top + 5), 150}, &window), inContent);
  EXPECT_EQ(FindWindow(Point{int16_t(kPlainBounds.top - 5), 600}, &window), inDesk)
      << "a plain box has no title bar";
  EXPECT_EQ(window, nullptr);
  EXPECT_EQ(FindWindow(Point{5, 600}, &window), inMenuBar);
  DisposeDialog(movable);
  DisposeDialog(plain);
}

// Drags any window whose title bar is pressed, within the desktop below the menu bar.
Boolean DragOnTitle(DialogRef, EventRecord* event, DialogItemIndex* item) {
  WindowRef window;
  if (event->what != mouseDown || FindWindow(event->where, &window) != inDrag) return false;
  Rect limit = {24, 4, 764, 1020};
  DragWindow(window, event->where, &limit);
  *item = 0;
  return true;
}

TEST_F(DialogManagerTest, DragWindowMovesByTheMouseUnlessReleasedOutsideTheLimit) {
  DialogRef dialog = GetNewDialog(kMovableID, nullptr, kFirstWindowOfClass);
  ASSERT_NE(dialog, nullptr);
  WindowRef window = GetDialogWindow(dialog);
  Point start = {90, 150};
  PlatformScriptDrag(start, Point{140, 170});
  DialogItemIndex item = -1;
  ModalDialog(DragOnTitle, &item);
  EXPECT_EQ(item, 0);
  Rect bounds;
  GetWindowBounds(window, kWindowContentRgn, &bounds);
  EXPECT_EQ(bounds.top, kMovableBounds.top + 50);
  EXPECT_EQ(bounds.left, kMovableBounds.left + 20);
  GetWindowBounds(window, kWindowStructureRgn, &bounds);
  EXPECT_EQ(bounds.top, kMovableBounds.top + 50 - kTitleBarHeight);

  Point title = {int16_t(bounds.top + 5), 200};
  PlatformScriptDrag(title, Point{10, 220});  // released on the menu bar
  ModalDialog(DragOnTitle, &item);
  GetWindowBounds(window, kWindowContentRgn, &bounds);
  EXPECT_EQ(bounds.top, kMovableBounds.top + 50) << "released outside the limit: not moved";
  DisposeDialog(dialog);
}

TEST_F(DialogManagerTest, LinesAreDrawnIntoTheCurrentPortWithBothEnds) {
  GrafPtr screen;
  GetPort(&screen);
  DialogRef dialog = GetNewDialog(kMovableID, nullptr, kFirstWindowOfClass);
  ASSERT_NE(dialog, nullptr);
  SetPortWindowPort(GetDialogWindow(dialog));
  RGBColor red = {0xFF00, 0, 0};
  RGBForeColor(&red);
  MoveTo(2, 3);
  LineTo(5, 3);
  MoveTo(10, 10);
  LineTo(13, 13);
  MoveTo(-5, 0);
  LineTo(400, 0);  // clipped at both ends
  RGBColor c;
  GrafPtr port = GetDialogPort(dialog);
  for (int16_t h : {2, 5}) {
    ASSERT_TRUE(PlatformGetPortPixel(port, h, 3, &c));
    EXPECT_EQ(c.red, 0xFF00);
  }
  ASSERT_TRUE(PlatformGetPortPixel(port, 6, 3, &c));
  EXPECT_EQ(c.green, 0xFFFF) << "past the line's end: still white";
  ASSERT_TRUE(PlatformGetPortPixel(port, 12, 12, &c));
  EXPECT_EQ(c.green, 0);
  ASSERT_TRUE(PlatformGetPortPixel(port, 199, 0, &c));
  EXPECT_EQ(c.red, 0xFF00);
  EXPECT_FALSE(PlatformGetPortPixel(port, 200, 0, &c));

  DisposeDialog(dialog);
  GrafPtr now;
  GetPort(&now);
  EXPECT_EQ(now, screen) << "the disposed dialog's port is no longer current";
  const DialogSnapshot& snapshot = PlatformLastDialogSnapshot();
  ASSERT_TRUE(snapshot.valid);
  EXPECT_EQ(snapshot.Pixel(3, 3).red, 0xFF00);
  EXPECT_EQ(snapshot.controlValues.size(), 6u);
  EXPECT_EQ(snapshot.controlValues[kLabel - 1], -1);
}

}  // namespace
