// The terminal dialog backend, driven through a pseudo-terminal in-process: a driver thread
// plays the user, answering each frame the backend draws with the next key.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/dialog_backend.h"
#include "platform/dialog_test_resources.h"
#include "support/platform_fixture.h"

namespace {

using namespace dialog_test;

constexpr const char kFrameEnd[] = "Enter: OK.";  // on the last line of every frame
constexpr const char kCloseTerminal[] = "<close>";

// Reads everything the backend writes; after the k-th frame writes the k-th key (or hangs up)
// and notes whether the terminal was in raw mode at that moment.
class PtyUser {
 public:
  PtyUser(int master, int slave, std::vector<std::string> keys)
      : master_(master), slave_(slave), keys_(std::move(keys)), thread_([this] { Run(); }) {}
  ~PtyUser() { Stop(); }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  std::string Output() {
    std::lock_guard<std::mutex> guard(lock_);
    return output_;
  }
  std::vector<bool> rawAtFrame;
  bool hungUp = false;

 private:
  void Run() {
    size_t sent = 0;
    while (!stop_ && !hungUp) {
      pollfd p = {master_, POLLIN, 0};
      if (poll(&p, 1, 10) > 0) {
        char buffer[512];
        ssize_t n = read(master_, buffer, sizeof buffer);
        if (n > 0) {
          std::lock_guard<std::mutex> guard(lock_);
          output_.append(buffer, size_t(n));
        }
      }
      size_t frames = Count(Output(), kFrameEnd);
      while (sent < frames && sent < keys_.size() && !hungUp) {
        termios now;
        tcgetattr(slave_, &now);
        rawAtFrame.push_back((now.c_lflag & (ICANON | ECHO)) == 0);
        if (keys_[sent] == kCloseTerminal) {
          close(master_);
          hungUp = true;
        } else {
          ssize_t written = write(master_, keys_[sent].data(), keys_[sent].size());
          EXPECT_EQ(written, ssize_t(keys_[sent].size()));
        }
        ++sent;
      }
    }
    // What the backend wrote last (the erasing of the drawing) may still be in flight when the
    // test stops the user: read it before leaving.
    while (!hungUp) {
      pollfd p = {master_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) break;
      char buffer[512];
      ssize_t n = read(master_, buffer, sizeof buffer);
      if (n <= 0) break;
      std::lock_guard<std::mutex> guard(lock_);
      output_.append(buffer, size_t(n));
    }
  }
  static size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }
  int master_;
  int slave_;
  std::vector<std::string> keys_;
  std::atomic<bool> stop_{false};
  std::mutex lock_;
  std::string output_;
  std::thread thread_;
};

class TerminalDialogTest : public PlatformFixture {
 protected:
  void SetUp() override {
    PlatformFixture::SetUp();
    ASSERT_EQ(openpty(&master_, &slave_, nullptr, nullptr, nullptr), 0);
    tcgetattr(slave_, &before_);
    backend_ = PlatformNewTerminalDialogBackend(slave_, slave_);
    PlatformSetDialogBackend(backend_.get());
  }
  void TearDown() override {
    PlatformSetDialogBackend(nullptr);
    backend_.reset();
    close(slave_);
    if (master_ >= 0) close(master_);
    PlatformFixture::TearDown();
  }

  // Runs the test dialog as a radio group until OK or Cancel, with the swatch painted in
  // (200, 100, 0) and the second radio button on; returns the item that ended it and stores the
  // radio button that was on.
  DialogItemIndex RunDialog(PtyUser* user, DialogItemIndex* radio) {
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
    do {
      ModalDialog(nullptr, &item);
      termios now;
      if (tcgetattr(slave_, &now) == 0) {  // fails once the user hung up
        EXPECT_EQ(now.c_lflag, before_.c_lflag) << "terminal settings restored after each wait";
        EXPECT_EQ(now.c_iflag, before_.c_iflag);
      }
      if (item == kFirstRadio || item == kSecondRadio) {
        SetControlValue(Control(dialog, *radio), 0);
        *radio = item;
        SetControlValue(Control(dialog, *radio), 1);
      }
    } while (item != kOK && item != kCancel);
    DisposeDialog(dialog);
    user->Stop();
    if (user->hungUp) master_ = -1;  // the user closed it
    return item;
  }
  static ControlHandle Control(DialogRef dialog, DialogItemIndex item) {
    Handle h;
    GetDialogItem(dialog, item, nullptr, &h, nullptr);
    return reinterpret_cast<ControlHandle>(h);
  }

  int master_ = -1;
  int slave_ = -1;
  termios before_;
  std::unique_ptr<DialogBackend> backend_;
  Resources resources_;
};

TEST_F(TerminalDialogTest, DrawsTheDialogAndTakesDigitsAndEnter) {
  PtyUser user(master_, slave_, {"91", "\r"});  // 9 names no radio button and is ignored
  DialogItemIndex radio = 0;
  EXPECT_EQ(RunDialog(&user, &radio), kOK);
  EXPECT_EQ(radio, kFirstRadio);
  std::string out = user.Output();
  EXPECT_NE(out.find("== Test =="), std::string::npos);
  EXPECT_NE(out.find("  1 ( ) First"), std::string::npos);
  EXPECT_NE(out.find("  2 (*) Second"), std::string::npos);
  EXPECT_NE(out.find("  1 (*) First"), std::string::npos) << "the second frame shows the choice";
  EXPECT_NE(out.find("\x1b[48;2;200;100;0m"), std::string::npos) << "the swatch in true colour";
  EXPECT_NE(out.find("R 200  G 100  B 0"), std::string::npos);
  EXPECT_NE(out.find("< OK >  [ Cancel ]"), std::string::npos);
  const std::string erase = "\r\x1b[7F\x1b[J";  // up over the seven lines drawn, then clear
  ASSERT_GE(out.size(), erase.size());
  EXPECT_EQ(out.substr(out.size() - erase.size()), erase) << "the drawing is erased at the end";
  EXPECT_EQ(user.rawAtFrame, (std::vector<bool>{true, true}));
}

struct KeyCase {
  const char* name;
  std::vector<std::string> keys;
  DialogItemIndex item;
  DialogItemIndex radio;
};

class TerminalKeyTest : public TerminalDialogTest, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(TerminalKeyTest, KeysBecomeTheEventsOfTheDialog) {
  PtyUser user(master_, slave_, GetParam().keys);
  DialogItemIndex radio = 0;
  EXPECT_EQ(RunDialog(&user, &radio), GetParam().item);
  EXPECT_EQ(radio, GetParam().radio);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, TerminalKeyTest,
    ::testing::Values(KeyCase{"UpArrow", {"\x1b[A", "\r"}, kOK, kFirstRadio},
                      KeyCase{"DownArrowStopsAtTheLast", {"\x1b[B\x1b[A", "\n"}, kOK, kFirstRadio},
                      KeyCase{"ApplicationModeArrow", {"\x1bOA", "\r"}, kOK, kFirstRadio},
                      KeyCase{"EscapeCancels", {"1", "\x1b"}, kCancel, kFirstRadio},
                      KeyCase{"ControlCCancels", {"\x03"}, kCancel, kSecondRadio},
                      KeyCase{"HangUpCancels", {kCloseTerminal}, kCancel, kSecondRadio}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
