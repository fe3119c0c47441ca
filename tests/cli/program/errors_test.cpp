// Every way a run can fail: bad input files, masks and outputs (exit 1), a module that cannot be
// loaded or a filter that fails (exit 3). Each gives one line naming the fault, leaves no
// OUTPUT and no temporary file behind, and never changes INPUT.
#include <gtest/gtest.h>
#include <png.h>

#include <filesystem>
#include <functional>
#include <map>

#include "program_runner.h"
#include "sample_images.h"

namespace {

const FileLayout kGrey8 = {"grey", Kind::Grey, 0, 8, true};
const FileLayout kCmyk8 = {"cmyk", Kind::CMYK, 0, 8, false};
const FileLayout kGreyFloat = {"float", Kind::Grey, 0, 32, false};

// What a case prepares: its files, written through `path`, and the arguments after INPUT.
struct CaseFiles {
  std::function<std::string(const std::string&)> path;
  std::string input;  // INPUT's name
  std::vector<std::string> args;
  std::string output = "out.png";
  std::string probe;  // run through the stand-in module with this answer ("" : real module)
};

struct FailureCase {
  const char* name;
  void (*prepare)(CaseFiles&);
  int exitCode;
  const char* message;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

void GreyInput(CaseFiles& s, int width = 6, int height = 4) {
  s.input = "in.png";
  WriteImageFile(s.path("in.png"), kGrey8, width, height,
                 std::vector<uint8_t>(size_t(width) * size_t(height), 77));
}

void CutInHalf(const std::string& path) {
  std::vector<uint8_t> bytes = ReadBytes(path);
  bytes.resize(bytes.size() / 2);
  WriteBytes(path, bytes);
}

const FailureCase kCases[] = {
    {"MissingInput", [](CaseFiles& s) { s.input = "absent.png"; }, 1, "absent.png: cannot open"},
    {"NotAnImage",
     [](CaseFiles& s) {
       s.input = "notes.png";
       WriteBytes(s.path("notes.png"), {'h', 'e', 'l', 'l', 'o', '\n'});
     },
     1, "not a PNG or TIFF image"},
    {"TruncatedPng",
     [](CaseFiles& s) {
       s.input = "in.png";
       const FileLayout rgb = {"rgb", Kind::RGB, 0, 8, true};
       WriteImageFile(s.path("in.png"), rgb, 40, 30, PatternSamples(40, 30, 3, 8));
       CutInHalf(s.path("in.png"));
     },
     1, "truncated"},
    {"TruncatedTiff",
     [](CaseFiles& s) {
       s.input = "in.tif";
       WriteImageFile(s.path("in.tif"), kCmyk8, 40, 30, PatternSamples(40, 30, 4, 8));
       CutInHalf(s.path("in.tif"));
       s.output = "out.tif";
     },
     1, "truncated"},
    {"PaletteImage",
     [](CaseFiles& s) {
       s.input = "in.png";
       WriteTestPng(s.path("in.png"), 4, 4, PNG_COLOR_TYPE_PALETTE, 8, std::vector<uint8_t>(16, 1));
     },
     1, "palette images are not supported"},
    {"TooWide", [](CaseFiles& s) { GreyInput(s, 32768, 1); }, 1,
     "32768 pixels wide; the largest supported is 32767"},
    {"TooTall", [](CaseFiles& s) { GreyInput(s, 1, 32768); }, 1,
     "32768 pixels tall; the largest supported is 32767"},
    {"MaskOfAnotherSize",
     [](CaseFiles& s) {
       GreyInput(s);
       WriteMask(s.path("mask.png"), 5, 4, std::vector<uint8_t>(20, 255));
       s.args = {"--mask", s.path("mask.png")};
     },
     1, "mask is 5x4 but the image is 6x4"},
    {"ColourMask",
     [](CaseFiles& s) {
       GreyInput(s);
       const FileLayout rgb = {"rgb", Kind::RGB, 0, 8, true};
       WriteImageFile(s.path("mask.png"), rgb, 6, 4, std::vector<uint8_t>(72, 255));
       s.args = {"--mask", s.path("mask.png")};
     },
     1, "a mask must be grey"},
    {"MissingMask",
     [](CaseFiles& s) {
       GreyInput(s);
       s.args = {"--mask", s.path("absent-mask.png")};
     },
     1, "absent-mask.png: cannot open"},
    {"EmptySelection",
     [](CaseFiles& s) {
       GreyInput(s);
       WriteMask(s.path("mask.png"), 6, 4, std::vector<uint8_t>(24, 0));
       s.args = {"--mask", s.path("mask.png")};
     },
     1, "selection is empty"},
    {"CmykAsPng",
     [](CaseFiles& s) {
       s.input = "in.tif";
       WriteImageFile(s.path("in.tif"), kCmyk8, 3, 2, PatternSamples(3, 2, 4, 8));
     },
     1, "PNG cannot hold CMYK images"},
    {"FloatAsPng",
     [](CaseFiles& s) {
       s.input = "in.tif";
       WriteImageFile(s.path("in.tif"), kGreyFloat, 3, 2, PatternSamples(3, 2, 1, 32));
     },
     1, "PNG cannot hold 32-bit float samples"},
    {"UnknownOutputFormat",
     [](CaseFiles& s) {
       GreyInput(s);
       s.output = "out.jpg";
     },
     1, "cannot tell the output format from the name"},
    {"MissingOutputFolder",
     [](CaseFiles& s) {
       GreyInput(s);
       s.output = "nowhere/out.png";
     },
     1, "does not exist"},
    {"MissingRecording",
     [](CaseFiles& s) {
       GreyInput(s);
       s.args = {"--replay", s.path("absent.json")};
     },
     1, "absent.json: cannot read the recorded action"},
    {"RecordingIsAFolder",
     [](CaseFiles& s) {
       GreyInput(s);
       std::filesystem::create_directory(s.path("folder.json"));
       s.args = {"--replay", s.path("folder.json")};
     },
     1, "folder.json: a recorded action is a file; this is not a regular file"},
    {"BrokenRecording",
     [](CaseFiles& s) {
       GreyInput(s);
       WriteBytes(s.path("broken.json"), {'{', '"', 'v'});
       s.args = {"--replay", s.path("broken.json")};
     },
     1, "broken.json: "},
    {"RecordingIntoMissingFolder",
     [](CaseFiles& s) {
       GreyInput(s);
       s.args = {"--method", "white", "--record", s.path("nowhere/a.json")};
     },
     1, "nowhere/a.json"},
    {"MissingModule",
     [](CaseFiles& s) {
       GreyInput(s);
       s.args = {"--method", "white", "--plugin", s.path("absent.so")};
     },
     3, "cannot load the filter module"},
    {"ModuleThatIsNotALibrary",
     [](CaseFiles& s) {
       GreyInput(s);
       WriteBytes(s.path("fake.so"), {'n', 'o', 't', ' ', 'E', 'L', 'F'});
       s.args = {"--method", "white", "--plugin", s.path("fake.so")};
     },
     3, "cannot load the filter module"},
    {"FilterOutOfMemory",
     [](CaseFiles& s) {
       GreyInput(s);
       s.probe = "fail -108";
     },
     3, "filter failed while running: out of memory (-108)"},
    {"FilterRefusesTheMode",
     [](CaseFiles& s) {
       GreyInput(s);
       s.probe = "fail -30101";
     },
     3, "the filter cannot handle this image mode (-30101)"},
    {"FilterFailsWithAnUnknownCode",
     [](CaseFiles& s) {
       GreyInput(s);
       s.probe = "fail -5000";
     },
     3, "(-5000)"},
};

class RunFailure : public ProgramTest, public ::testing::WithParamInterface<FailureCase> {
 protected:
  // Every entry of the test folder with its bytes, less the preferences folder the program
  // may make and the stand-in module's log.
  std::map<std::string, std::vector<uint8_t>> Snapshot() const {
    std::map<std::string, std::vector<uint8_t>> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder_)) {
      std::string name = std::filesystem::relative(entry.path(), folder_).string();
      if (name.rfind("prefs", 0) == 0 || name == "probe.log" || name == "home") continue;
      files[name] =
          entry.is_regular_file() ? ReadBytes(entry.path().string()) : std::vector<uint8_t>{};
    }
    return files;
  }
};

TEST_P(RunFailure, SaysWhyAndLeavesTheFilesAsTheyWere) {
  CaseFiles setup;
  setup.path = [this](const std::string& name) { return PathOf(name); };
  GetParam().prepare(setup);
  const auto before = Snapshot();

  std::vector<std::string> args = {PathOf(setup.input), "-o", PathOf(setup.output)};
  args.insert(args.end(), setup.args.begin(), setup.args.end());
  ProgramResult r = setup.probe.empty() ? Run(args) : RunProbe(args, setup.probe);

  EXPECT_EQ(r.exitCode, GetParam().exitCode) << r.err;
  EXPECT_EQ(r.err.rfind("areafill: ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find(GetParam().message), std::string::npos) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_EQ(Snapshot(), before);  // no OUTPUT, no temporary file, INPUT unchanged
}

INSTANTIATE_TEST_SUITE_P(Cases, RunFailure, ::testing::ValuesIn(kCases),
                         [](const auto& p) { return std::string(p.param.name); });

// A failed run leaves an existing OUTPUT alone, also when OUTPUT is INPUT itself.
TEST_F(RunFailure, KeepsAnExistingOutputAndAnInputWrittenOver) {
  WriteImageFile(PathOf("in.png"), kGrey8, 5, 5, PatternSamples(5, 5, 1, 8));
  WriteBytes(PathOf("out.png"), {'o', 'l', 'd'});
  const auto before = Snapshot();
  for (const std::string& output : {PathOf("out.png"), PathOf("in.png")}) {
    ProgramResult r = RunProbe({PathOf("in.png"), "-o", output}, "fail -108");
    EXPECT_EQ(r.exitCode, 3) << r.err;
    EXPECT_EQ(Snapshot(), before);
  }
}

}  // namespace
