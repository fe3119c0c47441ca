// Dialog utilities: placement and window kind of a dialog template, and the movable modal wait
// with its event filter, run on the platform's scripted dialog backend.
#include "filter/util/dialog_utils.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "filter/run/run_record.h"
#include "filter/util/module_resources.h"
#include "platform/dialog_backend.h"
#include "platform/gestalt.h"
#include "platform/resources.h"
#include "support/platform_fixture.h"

namespace {

// A template in a handle of its own, for the calls that only rewrite it.
struct TemplateHandle {
  explicit TemplateHandle(Rect bounds) : data{}, pointer(reinterpret_cast<Ptr>(&data)) {
    data.boundsRect = bounds;
    data.procID = movableDBoxProc;
  }
  Handle get() { return &pointer; }
  DialogTemplate data;
  Ptr pointer;
};

struct CentreCase {
  Rect screen;
  int16_t width, height;
  int16_t left, top;  // expected
};

class CenterDialogTest : public ::testing::TestWithParam<CentreCase> {
 protected:
  void TearDown() override { PlatformResetScreenRect(); }
};

TEST_P(CenterDialogTest, CentresAcrossAndPutsAThirdOfTheFreeHeightAbove) {
  const CentreCase& c = GetParam();
  PlatformSetScreenRect(c.screen);
  TemplateHandle t(Rect{40, 70, int16_t(40 + c.height), int16_t(70 + c.width)});
  CenterDialog(t.get());
  EXPECT_EQ(t.data.boundsRect.left, c.left);
  EXPECT_EQ(t.data.boundsRect.top, c.top);
  EXPECT_EQ(t.data.boundsRect.right, c.left + c.width);
  EXPECT_EQ(t.data.boundsRect.bottom, c.top + c.height);
}

INSTANTIATE_TEST_SUITE_P(
    Screens, CenterDialogTest,
    ::testing::Values(CentreCase{{0, 0, 768, 1024}, 300, 200, 362, 202},
                      CentreCase{{0, 0, 480, 640}, 700, 560, -30, -13},  // larger than the screen
                      CentreCase{{0, 0, 480, 640}, 641, 482, 0, 13},     // -1/2 → 0, -22/3 → -7
                      // The screen's own origin is not added.
                      CentreCase{{100, 50, 868, 1074}, 300, 200, 362, 202}));

struct KindCase {
  long systemVersion;  // negative: Gestalt fails
  OSType hostSig;
  bool haveWindowDefinition;
  int16_t procID;
};

class SetUpMoveableModalTest : public PlatformFixture,
                               public ::testing::WithParamInterface<KindCase> {
 protected:
  void TearDown() override {
    PlatformResetSystemVersion();
    PlatformFixture::TearDown();
  }
};

TEST_P(SetUpMoveableModalTest, ChoosesTheWindowKindForOldSystemsOnly) {
  const KindCase& c = GetParam();
  static const char kCode[] = "frame";
  ResourceEntry windowDefinition[] = {{FourCC("WDEF"), 128, kCode, 5}};
  if (c.haveWindowDefinition) PlatformRegisterResources(windowDefinition, 1);
  PlatformSetSystemVersion(c.systemVersion);
  TemplateHandle t(Rect{0, 0, 100, 100});
  SetUpMoveableModal(t.get(), c.hostSig);
  EXPECT_EQ(t.data.procID, c.procID);
  PlatformUnregisterResources(windowDefinition);
}

INSTANTIATE_TEST_SUITE_P(Systems, SetUpMoveableModalTest,
                         ::testing::Values(KindCase{0x1040, kHostSignature, true, movableDBoxProc},
                                           KindCase{0x0700, kHostSignature, false, movableDBoxProc},
                                           KindCase{0x0605, kHostSignature, true, 0x0805},
                                           KindCase{0x0605, kHostSignature, false, dBoxProc},
                                           KindCase{0x0605, FourCC("GIMP"), true, dBoxProc},
                                           KindCase{-1, kHostSignature, true, 0x0805}));

// Events that reached the host's callback: kind and window.
std::vector<std::pair<EventKind, uintptr_t>> gHostEvents;
void RecordHostEvent(void* event) {
  auto* e = static_cast<EventRecord*>(event);
  gHostEvents.emplace_back(e->what, e->message);
}

class MoveableModalTest : public PlatformFixture {
 protected:
  void SetUp() override {
    PlatformFixture::SetUp();
    PlatformSetDialogBackend(PlatformScriptedDialogBackend());
    PlatformScriptReset();
    PlatformResetScreenRect();
    gHostEvents.clear();
    RegisterModuleResources();
    // Another titled window, behind the dialog and clear of it.
    other_.boundsRect = {100, 20, 200, 200};
    other_.procID = movableDBoxProc;
    other_.itemsID = kFillChoiceDialogID;
    PlatformRegisterResources(otherEntry_, 1);
    otherDialog_ = GetNewDialog(301, nullptr, kFirstWindowOfClass);
    dialog_ = GetNewMooDialog(kFillChoiceDialogID, nullptr, kFirstWindowOfClass);
    ASSERT_TRUE(dialog_ && otherDialog_);
    window_ = GetDialogWindow(dialog_);
    GetWindowBounds(window_, kWindowContentRgn, &start_);
  }
  void TearDown() override {
    DisposeDialog(dialog_);
    DisposeDialog(otherDialog_);
    PlatformUnregisterResources(otherEntry_);
    EXPECT_EQ(PlatformOpenDialogCount(), 0);
    PlatformScriptReset();
    PlatformSetDialogBackend(nullptr);
    PlatformFixture::TearDown();
  }
  static EventRecord Event(EventKind what, uintptr_t message = 0) {
    EventRecord e = {};
    e.what = what;
    e.message = message;
    return e;
  }
  Rect Bounds(WindowRef window) {
    Rect r;
    GetWindowBounds(window, kWindowContentRgn, &r);
    return r;
  }
  // A point on a window's title bar.
  Point Title(WindowRef window) {
    Rect r = Bounds(window);
    return Point{int16_t(r.top - kTitleBarHeight / 2), int16_t(r.left + 30)};
  }

  DialogTemplate other_ = {};
  ResourceEntry otherEntry_[1] = {{FourCC("DLOG"), 301, &other_, int32_t(sizeof other_)}};
  DialogPtr otherDialog_ = nullptr;
  DialogPtr dialog_ = nullptr;
  WindowRef window_ = nullptr;
  Rect start_;
};

TEST_F(MoveableModalTest, DialogIsMovableCentredAndItsTemplateKeepsTheChanges) {
  EXPECT_EQ(start_.left, (1024 - 360) / 2);
  EXPECT_EQ(start_.top, (768 - 208 - 20) / 3 + 20);
  Handle dialogTemplate = GetResource(FourCC("DLOG"), kFillChoiceDialogID);
  EXPECT_EQ((*reinterpret_cast<DialogTHndl>(dialogTemplate))->boundsRect.left, start_.left);
  EXPECT_EQ((*reinterpret_cast<DialogTHndl>(dialogTemplate))->procID, movableDBoxProc);
  WindowRef window;
  EXPECT_EQ(FindWindow(Title(window_), &window), inDrag);
}

TEST_F(MoveableModalTest, VersionResourceOf0700AsksForThePlainModalBox) {
  const int16_t oldVersion[2] = {0x0700, 0};
  ResourceEntry version[] = {{FourCC("vers"), 2, oldVersion, 4}};
  PlatformRegisterResources(version, 1);
  DialogPtr plain = GetNewMooDialog(kFillChoiceDialogID, nullptr, kFirstWindowOfClass);
  PlatformUnregisterResources(version);
  ASSERT_NE(plain, nullptr);
  WindowRef window;
  FindWindow(Title(GetDialogWindow(plain)), &window);
  EXPECT_NE(window, GetDialogWindow(plain)) << "no title bar";
  DisposeDialog(plain);
  EXPECT_EQ(PlatformLastDialogSnapshot().procID, dBoxProc);
}

TEST_F(MoveableModalTest, HostGetsNullEventsAndOtherWindowsUpdatesButNotTheDialogs) {
  uintptr_t self = reinterpret_cast<uintptr_t>(window_);
  uintptr_t other = reinterpret_cast<uintptr_t>(GetDialogWindow(otherDialog_));
  PlatformScriptEvent(Event(updateEvt, self));
  PlatformScriptEvent(Event(updateEvt, other));
  PlatformScriptEvent(Event(activateEvt, self));
  PlatformScriptEvent(Event(activateEvt, other));
  PlatformScriptEvent(Event(nullEvent));
  int16_t item = 0;
  MoveableModalDialog(dialog_, RecordHostEvent, nullptr, &item);
  EXPECT_EQ(item, 1);
  std::vector<std::pair<EventKind, uintptr_t>> expected = {
      {updateEvt, other}, {activateEvt, other}, {nullEvent, 0}};
  EXPECT_EQ(gHostEvents, expected);
}

TEST_F(MoveableModalTest, WithoutAHostCallbackEventsGoToTheStandardFilterOnly) {
  PlatformScriptEvent(Event(updateEvt, reinterpret_cast<uintptr_t>(window_)));
  PlatformScriptEvent(Event(nullEvent));
  PlatformScriptKey(kEscapeCharCode);
  OutlineButton(dialog_, kChoiceOKItem);
  int16_t item = 0;
  MoveableModalDialog(dialog_, nullptr, nullptr, &item);
  EXPECT_EQ(item, kChoiceCancelItem);
}

Boolean gUserAnswer = true;
SRefCon gRefConSeen = 0;
Boolean UserFilter(DialogRef dialog, EventRecord*, DialogItemIndex* item) {
  gRefConSeen = GetWRefCon(GetDialogWindow(dialog));
  SetWRefCon(GetDialogWindow(dialog), 5678);
  if (gUserAnswer) *item = 42;
  return gUserAnswer;
}

TEST_F(MoveableModalTest, UserFilterThatHandlesAnEventStopsAllOtherHandling) {
  gUserAnswer = true;
  SetWRefCon(window_, 1234);
  PlatformScriptDrag(Title(window_), Point{400, 400});
  PlatformScriptEvent(Event(nullEvent));
  int16_t item = 0;
  MoveableModalDialog(dialog_, RecordHostEvent, UserFilter, &item);
  EXPECT_EQ(item, 42);
  EXPECT_EQ(Bounds(window_).top, start_.top) << "not dragged";
  EXPECT_EQ(gRefConSeen, 1234) << "the user filter sees the window's own reference constant";
  EXPECT_EQ(GetWRefCon(window_), 5678) << "and may change it";
  MoveableModalDialog(dialog_, RecordHostEvent, UserFilter, &item);
  EXPECT_TRUE(gHostEvents.empty()) << "the null event never reached the host";
}

TEST_F(MoveableModalTest, UserFilterThatDeclinesLeavesTheEventToTheRest) {
  gUserAnswer = false;
  SetWRefCon(window_, 1234);
  PlatformScriptEvent(Event(nullEvent));
  int16_t item = 0;
  MoveableModalDialog(dialog_, RecordHostEvent, UserFilter, &item);
  EXPECT_EQ(item, 1);
  EXPECT_EQ(gHostEvents.size(), 1u);
  EXPECT_EQ(GetWRefCon(window_), 5678);
}

TEST_F(MoveableModalTest, DraggingTheDialogsTitleMovesItAndSwallowsTheClick) {
  Point title = Title(window_);
  PlatformScriptDrag(title, Point{int16_t(title.v + 40), int16_t(title.h + 30)});
  int16_t item = 0;
  MoveableModalDialog(dialog_, RecordHostEvent, nullptr, &item);
  EXPECT_EQ(item, 1);
  EXPECT_EQ(Bounds(window_).top, start_.top + 40);
  EXPECT_EQ(Bounds(window_).left, start_.left + 30);
  EXPECT_TRUE(gHostEvents.empty());
  EXPECT_EQ(GetWRefCon(window_), 0) << "the reference constant is put back";
}

TEST_F(MoveableModalTest, DragIsLimitedToTheDesktopInsetByFourPixels) {
  Point title = Title(window_);
  int16_t item = 0;
  PlatformScriptDrag(title, Point{23, 500});  // menu bar 20 + inset 4: 23 is outside
  MoveableModalDialog(dialog_, nullptr, nullptr, &item);
  EXPECT_EQ(Bounds(window_).top, start_.top);
  PlatformScriptDrag(title, Point{24, 500});
  MoveableModalDialog(dialog_, nullptr, nullptr, &item);
  EXPECT_EQ(Bounds(window_).top, start_.top + 24 - title.v);
}

TEST_F(MoveableModalTest, PressOnAnotherWindowsTitleIsLeftAlone) {
  WindowRef otherWindow = GetDialogWindow(otherDialog_);
  Rect otherStart = Bounds(otherWindow);
  PlatformScriptDrag(Title(otherWindow), Point{500, 500});
  int16_t item = 0;
  MoveableModalDialog(dialog_, RecordHostEvent, nullptr, &item);
  EXPECT_EQ(item, 1);
  EXPECT_EQ(Bounds(otherWindow).top, otherStart.top);
  EXPECT_EQ(Bounds(window_).top, start_.top);
}

TEST_F(MoveableModalTest, MooModalDialogHandsTheHostsCallbackOn) {
  FilterRecord host = {};
  host.processEvent = RecordHostEvent;
  auto record = std::make_unique<RunRecord>();
  record->host = &host;
  PlatformScriptEvent(Event(nullEvent));
  int16_t item = 0;
  MooModalDialog(record.get(), dialog_, nullptr, &item);
  EXPECT_EQ(gHostEvents.size(), 1u);
  record->host = nullptr;
  PlatformScriptEvent(Event(nullEvent));
  MooModalDialog(record.get(), dialog_, nullptr, &item);
  EXPECT_EQ(gHostEvents.size(), 1u);
}

TEST_F(MoveableModalTest, ItemsAreSetAndMeasured) {
  SetDGItem(dialog_, kChoiceFirstRadioItem + 2, 1);
  Handle control;
  GetDialogItem(dialog_, kChoiceFirstRadioItem + 2, nullptr, &control, nullptr);
  EXPECT_EQ(GetControlValue(reinterpret_cast<ControlHandle>(control)), 1);
  Rect swatch;
  GetDRect(dialog_, kChoiceSwatchItem, &swatch);
  EXPECT_GT(swatch.right - swatch.left, 20);
  EXPECT_GT(swatch.bottom - swatch.top, 20);
  OutlineButton(dialog_, kChoiceOKItem);
  PlatformScriptKey(kReturnCharCode);
  int16_t item = 0;
  MoveableModalDialog(dialog_, nullptr, nullptr, &item);
  EXPECT_EQ(item, kChoiceOKItem);
}

}  // namespace
