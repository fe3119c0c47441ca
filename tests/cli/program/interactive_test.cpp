// A person at the program: Ctrl-C during a long fill, and the filter's dialog on a terminal
// (a pseudo-terminal here), chosen with a digit key and Enter, or cancelled with Escape.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>

#include "program_runner.h"
#include "sample_images.h"

namespace {

class Interrupt : public ProgramTest {};

// The membrane fill of a whole 600×600 image takes many seconds: long enough to be cancelled.
TEST_F(Interrupt, CtrlCDuringALongFillCancelsAndWritesNothing) {
  constexpr int kSide = 600;
  std::vector<uint8_t> grey(kSide * kSide);
  for (size_t i = 0; i < grey.size(); ++i) grey[i] = uint8_t((i % kSide + i / kSide) / 5);
  const FileLayout layout = {"grey", Kind::Grey, 0, 8, true};
  WriteImageFile(PathOf("in.png"), layout, kSide, kSide, grey);
  const std::vector<uint8_t> input = ReadBytes(PathOf("in.png"));

  ChildProgram child(Command({PathOf("in.png"), "-o", PathOf("out.png"), "--method", "membrane"}),
                     ChildEnvironment({}), folder_.string());
  ASSERT_TRUE(child.WaitForError("areafill: 10%", 60));
  const auto signalled = std::chrono::steady_clock::now();
  child.Signal(SIGINT);
  ProgramResult r = child.Wait(120);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - signalled).count();

  EXPECT_EQ(r.exitCode, 130) << r.err;
  EXPECT_NE(r.err.find("areafill: cancelled\n"), std::string::npos) << r.err;
  EXPECT_LT(seconds, 30);
  std::vector<std::string> left = FolderEntries();
  std::erase_if(left, [](const std::string& n) { return n == ".stdout" || n == ".stderr"; });
  EXPECT_EQ(left, std::vector<std::string>({"home", "in.png", "prefs"}));
  EXPECT_EQ(ReadBytes(PathOf("in.png")), input);
}

class Terminal : public ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    const FileLayout rgb = {"rgb", Kind::RGB, 0, 8, true};
    WriteImageFile(PathOf("in.png"), rgb, 8, 6, PatternSamples(8, 6, 3, 8));
    std::vector<uint8_t> mask(48, 0);
    mask[size_t(2 * 8 + 3)] = mask[size_t(3 * 8 + 4)] = 255;
    WriteMask(PathOf("mask.png"), 8, 6, mask);
  }
  // Runs on a terminal without --method; types each key once the screen shows its cue.
  ProgramResult Talk(const std::vector<std::pair<std::string, std::string>>& cuesAndKeys) {
    size_t next = 0, seen = 0;
    TerminalTalk talk = [&](const std::string& screen,
                            const std::function<void(const std::string&)>& type) {
      if (next == cuesAndKeys.size()) return true;
      const size_t at = screen.find(cuesAndKeys[next].first, seen);
      if (at == std::string::npos) return false;
      seen = at + cuesAndKeys[next].first.size();
      type(cuesAndKeys[next++].second);
      return next == cuesAndKeys.size();
    };
    return RunOnTerminal(
        Command({PathOf("in.png"), "-o", PathOf("out.png"), "--mask", PathOf("mask.png")}),
        ChildEnvironment({{"TERM", "xterm"}}), talk, 60);
  }
};

TEST_F(Terminal, DigitAndEnterChooseTheMethod) {
  // 5 is the fifth choice, white; the dialog redraws with it marked before Enter confirms.
  ProgramResult r = Talk({{"Enter:", "5"}, {"5 (*)", "\r"}});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_NE(r.out.find("filled with white"), std::string::npos) << r.out;
  // The progress bar ends at 100%, and the dialog begins on a line of its own below it.
  EXPECT_NE(r.out.find("] 100%"), std::string::npos) << r.out;
  const size_t title = r.out.find("== ");
  ASSERT_NE(title, std::string::npos) << r.out;
  EXPECT_EQ(r.out.substr(title - 2, 2), "\r\n") << r.out;
  const std::vector<uint8_t> out = ReadImageFile(PathOf("out.png")).data;
  ASSERT_EQ(out.size(), 8u * 6u * 3u);
  EXPECT_EQ(out[size_t((2 * 8 + 3) * 3)], 255);
  EXPECT_EQ(out[size_t((3 * 8 + 4) * 3 + 2)], 255);
}

TEST_F(Terminal, EscapeCancelsTheRun) {
  ProgramResult r = Talk({{"Enter:", "\x1b"}});
  EXPECT_EQ(r.exitCode, 130) << r.out;
  EXPECT_NE(r.out.find("areafill: cancelled"), std::string::npos) << r.out;
  EXPECT_FALSE(std::filesystem::exists(PathOf("out.png")));
}

}  // namespace
