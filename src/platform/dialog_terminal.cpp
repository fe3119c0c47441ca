// The terminal backend: a dialog drawn as lines of text on a TTY, its radio buttons numbered
// and marked, its painted user items shown as true-colour blocks with their values, and keys
// turned into the events a mouse and keyboard would give: a digit or an arrow clicks a radio
// button, Enter is Return, Escape is Escape.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <string>

#include "platform/toolbox_internal.h"

namespace {

constexpr int kEscapeWaitMs = 50;  // a lone Escape, not the start of an arrow key's sequence
constexpr uint8_t kControlC = 0x03;

// Raw mode for the life of one wait; the saved settings are put back on every way out.
class RawMode {
 public:
  explicit RawMode(int fd) : fd_(fd) {
    active_ = tcgetattr(fd, &saved_) == 0;
    if (!active_) return;
    termios raw = saved_;
    cfmakeraw(&raw);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    // TCSANOW, not TCSAFLUSH: keys typed ahead belong to this dialog.
    tcsetattr(fd, TCSANOW, &raw);
  }
  ~RawMode() {
    if (active_) tcsetattr(fd_, TCSANOW, &saved_);
  }
  RawMode(const RawMode&) = delete;
  RawMode& operator=(const RawMode&) = delete;

 private:
  int fd_;
  bool active_;
  termios saved_;
};

enum class Key { kNone, kDigit, kUp, kDown, kEnter, kEscape, kQuit };

struct Session {
  int in = -1;
  int out = -1;
  bool ownsFd = false;
  int linesDrawn = 0;
};

void WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += size_t(n);
  }
}

// One byte, waiting at most `timeoutMs` (negative: for ever). -1 on end of input or error,
// -2 when the time ran out.
int ReadByte(int fd, int timeoutMs) {
  pollfd p = {fd, POLLIN, 0};
  for (;;) {
    int ready = poll(&p, 1, timeoutMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) return -2;
    if (ready < 0) return -1;
    unsigned char c;
    ssize_t n = read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    return n == 1 ? c : -1;
  }
}

Key ReadKey(int fd, int* digit) {
  int c = ReadByte(fd, -1);
  if (c < 0 || c == kControlC) return Key::kQuit;
  if (c >= '1' && c <= '9') {
    *digit = c - '0';
    return Key::kDigit;
  }
  if (c == '\r' || c == '\n') return Key::kEnter;
  if (c != kEscapeCharCode) return Key::kNone;
  int next = ReadByte(fd, kEscapeWaitMs);
  if (next == -2) return Key::kEscape;
  if (next != '[' && next != 'O') return Key::kNone;
  // A control sequence: parameters, then one final byte in 0x40..0x7E.
  for (;;) {
    int b = ReadByte(fd, kEscapeWaitMs);
    if (b < 0) return Key::kNone;
    if (b >= 0x40 && b <= 0x7E) return b == 'A' ? Key::kUp : b == 'B' ? Key::kDown : Key::kNone;
  }
}

std::vector<DialogItemIndex> Radios(DialogRef dialog) {
  std::vector<DialogItemIndex> radios;
  for (DialogItemIndex i = 1; i <= CountDITL(dialog); ++i)
    if (platform_internal::ItemKind(*platform_internal::Item(dialog, i)) == kRadioButtonDialogItem)
      radios.push_back(i);
  return radios;
}

std::string Colour(const RGBColor& c) {
  int r = c.red >> 8, g = c.green >> 8, b = c.blue >> 8;
  return "\x1b[48;2;" + std::to_string(r) + ";" + std::to_string(g) + ";" + std::to_string(b) +
         "m        \x1b[0m  R " + std::to_string(r) + "  G " + std::to_string(g) + "  B " +
         std::to_string(b);
}

// The dialog as lines: the title, the items column by column (buttons last, on one line), and
// a line that tells which keys do what.
std::vector<std::string> Render(DialogRef dialog) {
  std::vector<std::string> lines;
  if (!dialog->window.title.empty()) lines.push_back("== " + dialog->window.title + " ==");
  std::vector<DialogItemIndex> order;
  for (DialogItemIndex i = 1; i <= CountDITL(dialog); ++i) order.push_back(i);
  std::stable_sort(order.begin(), order.end(), [dialog](DialogItemIndex a, DialogItemIndex b) {
    const Rect& ra = platform_internal::Item(dialog, a)->rect;
    const Rect& rb = platform_internal::Item(dialog, b)->rect;
    return ra.left != rb.left ? ra.left < rb.left : ra.top < rb.top;
  });
  std::vector<DialogItemIndex> radios = Radios(dialog);
  std::string buttons;
  for (DialogItemIndex i : order) {
    const DialogItemRecord& item = *platform_internal::Item(dialog, i);
    int16_t value = item.control ? item.control->value : 0;
    switch (platform_internal::ItemKind(item)) {
      case kRadioButtonDialogItem: {
        auto k = std::find(radios.begin(), radios.end(), i) - radios.begin() + 1;
        lines.push_back("  " + std::to_string(k) + (value ? " (*) " : " ( ) ") + item.text);
        break;
      }
      case kCheckBoxDialogItem:
        lines.push_back(std::string(value ? "    [x] " : "    [ ] ") + item.text);
        break;
      case kStaticTextDialogItem:
      case kEditTextDialogItem:
        lines.push_back("    " + item.text);
        break;
      case kUserDialogItem: {
        RGBColor centre = {0xFFFF, 0xFFFF, 0xFFFF};
        PlatformGetPortPixel(&dialog->window.port, int16_t((item.rect.left + item.rect.right) / 2),
                             int16_t((item.rect.top + item.rect.bottom) / 2), &centre);
        lines.push_back("    " + Colour(centre));
        break;
      }
      default:
        break;
    }
  }
  for (DialogItemIndex i = 1; i <= CountDITL(dialog); ++i) {
    const DialogItemRecord& item = *platform_internal::Item(dialog, i);
    if (platform_internal::ItemKind(item) != kButtonDialogItem) continue;
    buttons += i == dialog->defaultItem ? "  < " + item.text + " >" : "  [ " + item.text + " ]";
  }
  if (!buttons.empty()) lines.push_back(buttons);
  std::string hint = " ";
  if (!radios.empty()) hint += " 1-" + std::to_string(radios.size()) + " or Up/Down: choose.";
  if (const DialogItemRecord* item = platform_internal::Item(dialog, dialog->defaultItem))
    hint += " Enter: " + item->text + ".";
  if (const DialogItemRecord* item = platform_internal::Item(dialog, dialog->cancelItem))
    hint += " Esc: " + item->text + ".";
  lines.push_back(hint);
  return lines;
}

class TerminalBackend : public DialogBackend {
 public:
  TerminalBackend(int inFd, int outFd) : in_(inFd), out_(outFd) {}
  void Open(DialogRef dialog) override;
  DialogEventResult NextEvent(DialogRef dialog, EventRecord* event) override;
  void Close(DialogRef dialog) override;

 private:
  void Draw(Session* session, DialogRef dialog);
  int in_;
  int out_;
  std::map<DialogRef, Session> sessions_;
};

void TerminalBackend::Open(DialogRef dialog) {
  Session session;
  if (in_ >= 0) {
    session.in = in_;
    session.out = out_ >= 0 ? out_ : in_;
  } else {
    int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    session.in = session.out = fd;
    session.ownsFd = fd >= 0;
  }
  sessions_[dialog] = session;
}

// Draws the dialog over its previous drawing: up to the first line drawn, clear, draw.
void TerminalBackend::Draw(Session* session, DialogRef dialog) {
  std::string text;
  if (session->linesDrawn > 0) text += "\r\x1b[" + std::to_string(session->linesDrawn) + "F\x1b[J";
  std::vector<std::string> lines = Render(dialog);
  for (const std::string& line : lines) text += line + "\r\n";
  session->linesDrawn = int(lines.size());
  WriteAll(session->out, text);
}

DialogEventResult TerminalBackend::NextEvent(DialogRef dialog, EventRecord* event) {
  auto found = sessions_.find(dialog);
  if (found == sessions_.end() || found->second.in < 0) return DialogEventResult::kEndDefault;
  Session& session = found->second;
  RawMode raw(session.in);
  Draw(&session, dialog);
  std::vector<DialogItemIndex> radios = Radios(dialog);
  for (;;) {
    int digit = 0;
    Key key = ReadKey(session.in, &digit);
    *event = EventRecord{};
    DialogItemIndex target = 0;
    switch (key) {
      case Key::kQuit:
        // The terminal is gone or the user pressed Control-C: change nothing.
        return DialogEventResult::kEndCancel;
      case Key::kEnter:
      case Key::kEscape:
        event->what = keyDown;
        event->message = key == Key::kEnter ? kReturnCharCode : kEscapeCharCode;
        return DialogEventResult::kEvent;
      case Key::kDigit:
        if (size_t(digit) <= radios.size()) target = radios[size_t(digit) - 1];
        break;
      case Key::kUp:
      case Key::kDown: {
        auto on = std::find_if(radios.begin(), radios.end(), [dialog](DialogItemIndex i) {
          return platform_internal::Item(dialog, i)->control->value != 0;
        });
        long at = on - radios.begin();
        if (on == radios.end()) at = key == Key::kUp ? long(radios.size()) : -1;
        at += key == Key::kUp ? -1 : 1;
        if (at >= 0 && size_t(at) < radios.size()) target = radios[size_t(at)];
        break;
      }
      case Key::kNone:
        break;
    }
    if (target == 0) continue;
    event->what = mouseDown;
    event->where = platform_internal::ItemCentre(dialog, target);
    return DialogEventResult::kEvent;
  }
}

void TerminalBackend::Close(DialogRef dialog) {
  auto found = sessions_.find(dialog);
  if (found == sessions_.end()) return;
  Session& session = found->second;
  if (session.out >= 0 && session.linesDrawn > 0)
    WriteAll(session.out, "\r\x1b[" + std::to_string(session.linesDrawn) + "F\x1b[J");
  if (session.ownsFd) close(session.in);
  sessions_.erase(found);
}

}  // namespace

std::unique_ptr<DialogBackend> PlatformNewTerminalDialogBackend(int inFd, int outFd) {
  return std::make_unique<TerminalBackend>(inFd, outFd);
}
