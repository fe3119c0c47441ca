// The plug-in's dialog in GIMP under Xvfb, driven by synthetic key presses (dialog_driver.sh):
// an interactive run opens the filter's dialog with GTK on the last choice, where the dialog
// utilities place it, with the area's mean colour in its swatch; Return runs that choice and
// Escape cancels, leaving the image as it was. The first dialog's screenshot is kept in the
// build folder (gimp-dialog.png; the README shows a copy from docs/).
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "gimp/gimp_session.h"

namespace {

using namespace gimp_test;
using imagefile::FileImage;

constexpr int kScreenWidth = 1024;
constexpr int kScreenHeight = 768;
constexpr int kMean = 4;  // the fill choice "mean colour"

class GimpDialog : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    error_ = new std::string;
    session_ = new Session;
    output_ = new std::string;
    if (std::string missing = MissingProgram({"gimp-console-2.10", "xvfb-run", "xdotool"});
        !missing.empty()) {
      *error_ = missing + " is not installed (scripts/install-deps.sh installs it)";
      return;
    }
    *error_ = MakeSession(session_);
    if (!error_->empty()) return;
    const fs::path& work = session_->work;
    if (!imagefile::WriteImage((work / "in.png").string(), TestImage(8), error_)) return;
    auto path = [&work](const char* name) { return SchemeString((work / name).string()); };
    // A script's run leaves "mean colour" as the last choice; the dialog opens on it.
    std::ofstream(work / "dialog.scm")
        << SchemeHelpers() << "(areafill-run " << path("in.png") << " " << path("script.png")
        << " RUN-NONINTERACTIVE " << kMean << ")\n"
        << "(areafill-run " << path("in.png") << " " << path("ok.png") << " RUN-INTERACTIVE 0)\n"
        << "(let* ((image (areafill-load " << path("in.png")
        << ")))\n"
        // Script-Fu answers a procedure without return values with (#t) when it succeeded and
        // (#f) when it was cancelled; a failure throws.
        << "  (gimp-message (string-append \"areafill-test: second dialog \" (catch \"failed\"\n"
        << "    (if (car (plug-in-areafill RUN-INTERACTIVE image (car "
           "(gimp-image-get-active-drawable "
           "image)) 0)) \"ran\" \"cancelled\"))))\n"
        << "  (areafill-save image " << path("cancel.png") << "))\n";
    // -noreset: Xvfb otherwise resets when its last client leaves, between the two plug-in
    // runs, and the second one may find no display.
    const std::string command = "xvfb-run -a -s '-screen 0 " + std::to_string(kScreenWidth) + "x" +
                                std::to_string(kScreenHeight) + "x24 -noreset' " +
                                ShellWord(AREAFILL_SOURCE_DIR "/tests/gimp/dialog_driver.sh") +
                                " " + ShellWord(GimpBatchCommand(work / "dialog.scm")) + " " +
                                ShellWord(AREAFILL_GRAB_WINDOW) + " " + ShellWord(work.string());
    const int status = RunInSession(*session_, command, output_);
    std::ifstream log(work / "gimp.log");
    output_->append(std::istreambuf_iterator<char>(log), std::istreambuf_iterator<char>());
    if (status != 0) {
      *error_ = "the dialog run failed (" + std::to_string(status) + "):\n" + *output_;
      return;
    }
    std::error_code ec;
    fs::copy_file(work / "dialog.png", AREAFILL_SCREENSHOT, fs::copy_options::overwrite_existing,
                  ec);
  }
  static void TearDownTestSuite() {
    RemoveSession(*session_);
    delete session_;
    delete error_;
    delete output_;
  }
  void SetUp() override { ASSERT_EQ(*error_, ""); }

  static std::string* error_;
  static Session* session_;
  static std::string* output_;
};
std::string* GimpDialog::error_ = nullptr;
Session* GimpDialog::session_ = nullptr;
std::string* GimpDialog::output_ = nullptr;

std::map<std::string, int> ReadGeometry(const fs::path& file) {
  std::map<std::string, int> values;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    const size_t equals = line.find('=');
    if (equals != std::string::npos)
      values[line.substr(0, equals)] = std::atoi(line.c_str() + equals + 1);
  }
  return values;
}

TEST_F(GimpDialog, StandsWhereTheDialogUtilitiesPlaceIt) {
  // The fill-choice dialog is 360 × 208; on a 1024 × 768 screen it is centred across and has a
  // third of the free height above it, counted from below the 20-pixel menu bar.
  const int left = (kScreenWidth - 360) / 2;
  const int top = (kScreenHeight - 208 - 20) / 3 + 20;
  std::map<std::string, int> geometry = ReadGeometry(session_->work / "geometry.txt");
  ASSERT_TRUE(geometry.count("X") && geometry.count("Y")) << *output_;
  EXPECT_EQ(geometry["X"], left);
  EXPECT_EQ(geometry["Y"], top);
  EXPECT_GT(geometry["WIDTH"], 200);
  EXPECT_GT(geometry["HEIGHT"], 150);
}

TEST_F(GimpDialog, ShowsTheAreasMeanColourAndReturnRunsTheLastChoice) {
  const FileImage script = ReadPng((session_->work / "script.png").string());
  const FileImage ok = ReadPng((session_->work / "ok.png").string());
  ASSERT_EQ(ok.data.size(), script.data.size());
  EXPECT_TRUE(ok.data == script.data) << "Return ran the choice the dialog opened on (mean)";

  // Inside the rectangle the mean colour stands alone; the swatch shows it.
  uint32_t mean[3];
  for (int c = 0; c < 3; ++c) mean[c] = Sample(ok, 10, 10, c);
  const FileImage shot = ReadPng((session_->work / "dialog.png").string());
  ASSERT_EQ(shot.bitsPerSample, 8);
  int swatch = 0;
  for (int y = 0; y < shot.height; ++y)
    for (int x = 0; x < shot.width; ++x)
      swatch += Sample(shot, x, y, 0) == mean[0] && Sample(shot, x, y, 1) == mean[1] &&
                Sample(shot, x, y, 2) == mean[2];
  // The swatch is 88 × 60 in the module's layout, less its border.
  EXPECT_GE(swatch, 80 * 50) << "mean colour " << mean[0] << ", " << mean[1] << ", " << mean[2];
}

TEST_F(GimpDialog, EscapeCancelsAndLeavesTheImageAsItWas) {
  EXPECT_NE(output_->find("areafill-test: second dialog cancelled"), std::string::npos) << *output_;
  const FileImage original = ReadPng((session_->work / "in.png").string());
  const FileImage cancelled = ReadPng((session_->work / "cancel.png").string());
  EXPECT_TRUE(original.data == cancelled.data);
}

}  // namespace
