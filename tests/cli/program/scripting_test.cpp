// The fill choice between runs: recording an action and replaying it, the choice remembered in
// the preferences file when no method is given, and a module named by a bare file name.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "program_runner.h"
#include "sample_images.h"

namespace {

class Scripting : public ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    const FileLayout rgb = {"rgb", Kind::RGB, 0, 8, true};
    WriteImageFile(PathOf("in.png"), rgb, 10, 8, PatternSamples(10, 8, 3, 8));
    std::vector<uint8_t> mask(80, 0);
    for (int y = 2; y < 6; ++y)
      for (int x = 3; x < 8; ++x) mask[size_t(y * 10 + x)] = y == 2 ? 90 : 255;
    WriteMask(PathOf("mask.png"), 10, 8, mask);
  }
  // Runs on in.png with the mask; returns stderr, and the output's samples in *out.
  std::string Fill(std::vector<std::string> args, std::vector<uint8_t>* out) {
    args.insert(args.begin(),
                {PathOf("in.png"), "-o", PathOf("out.png"), "--mask", PathOf("mask.png")});
    ProgramResult r = Run(args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    *out = ReadImageFile(PathOf("out.png")).data;
    return r.err;
  }
  static std::string Text(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
};

TEST_F(Scripting, ReplayOfARecordingGivesTheSameImage) {
  std::vector<uint8_t> recorded, replayed;
  Fill({"--method", "hblend", "--fg", "#204060", "--record", PathOf("hblend.json")}, &recorded);
  const std::string json = Text(PathOf("hblend.json"));
  EXPECT_NE(json.find("\"FilM\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"rB22\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"value\": 8"), std::string::npos) << json;

  // A run with another method in between changes the remembered choice, not the recording.
  std::vector<uint8_t> other;
  Fill({"--method", "white"}, &other);
  std::string said =
      Fill({"--replay", PathOf("hblend.json"), "--fg", "#204060", "--record", PathOf("again.json")},
           &replayed);
  EXPECT_NE(said.find("filled with hblend"), std::string::npos) << said;
  EXPECT_EQ(replayed, recorded);
  EXPECT_NE(other, recorded);
  EXPECT_EQ(Text(PathOf("again.json")), json);
}

TEST_F(Scripting, WithoutAMethodTheRememberedChoiceIsUsed) {
  std::vector<uint8_t> first, second;
  Fill({"--method", "vblend"}, &first);
  const std::string said = Fill({}, &second);
  EXPECT_NE(said.find("filled with vblend"), std::string::npos) << said;
  EXPECT_EQ(second, first);
  EXPECT_TRUE(std::filesystem::exists(PrefsPath() + "/ZELKpref"));
}

// Each preferences folder remembers its own choice.
TEST_F(Scripting, PreferencesFoldersAreIndependent) {
  std::vector<uint8_t> out;
  Fill({"--method", "black", "--prefs", PathOf("a")}, &out);
  Fill({"--method", "white", "--prefs", PathOf("b")}, &out);
  EXPECT_NE(Fill({"--prefs", PathOf("a")}, &out).find("filled with black"), std::string::npos);
  EXPECT_NE(Fill({"--prefs", PathOf("b")}, &out).find("filled with white"), std::string::npos);
}

// Without a terminal --dialog has no one to ask: the dialog ends with its default, the replayed
// or remembered choice.
TEST_F(Scripting, DialogWithoutATerminalTakesItsDefault) {
  std::vector<uint8_t> out;
  Fill({"--method", "mean", "--record", PathOf("mean.json")}, &out);
  Fill({"--method", "white"}, &out);
  EXPECT_NE(Fill({"--replay", PathOf("mean.json"), "--dialog"}, &out).find("filled with mean"),
            std::string::npos);
  EXPECT_NE(Fill({"--dialog"}, &out).find("filled with mean"), std::string::npos);
}

TEST_F(Scripting, ModuleNamedWithoutAFolderIsLoadedFromTheCurrentFolder) {
  std::filesystem::copy_file(AREAFILL_PROBE_MODULE, PathOf("probe.so"));
  ProgramResult r = Run({PathOf("in.png"), "-o", PathOf("out.png"), "--plugin", "probe.so"},
                        {{"AREAFILL_PROBE_LOG", PathOf("probe.log")}});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ReadProbeLog(PathOf("probe.log")).Get("mode"), "3");
}

}  // namespace
