// The program's informational options and its refusals of bad command lines: what it prints,
// its exit status, and that a refused command line creates nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "program_runner.h"
#include "sample_images.h"

namespace {

class Usage : public ProgramTest {};

TEST_F(Usage, VersionNamesTheProgramAndItsVersion) {
  ProgramResult r = Run({"--version"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, std::string("areafill ") + AREAFILL_VERSION + "\n");
}

TEST_F(Usage, ListMethodsGivesTheSevenNamesInChoiceOrder) {
  ProgramResult r = Run({"--list-methods"});
  ASSERT_EQ(r.exitCode, 0);
  std::istringstream lines(r.out);
  const char* names[] = {"membrane", "mean", "foreground", "black", "white", "hblend", "vblend"};
  int choice = 3;
  for (const char* name : names) {
    std::string line, word;
    int number = 0;
    ASSERT_TRUE(std::getline(lines, line)) << name;
    std::istringstream(line) >> word >> number;
    EXPECT_EQ(word, name);
    EXPECT_EQ(number, choice++);
  }
  std::string rest;
  EXPECT_FALSE(std::getline(lines, rest)) << rest;
}

TEST_F(Usage, HelpDescribesEveryOption) {
  ProgramResult r = Run({"--help"});
  EXPECT_EQ(r.exitCode, 0);
  for (const char* option :
       {"INPUT", "-o", "--mask", "--method", "--fg", "--bg", "--raw", "--prefs", "--quiet",
        "--dialog", "--record", "--replay", "--plugin", "--version", "--list-methods"})
    EXPECT_NE(r.out.find(option), std::string::npos) << option;
}

struct BadLine {
  const char* name;
  std::vector<std::string> args;  // "IN" and "OUT" stand for the test's files
  const char* message;
};

void PrintTo(const BadLine& c, std::ostream* os) { *os << c.name; }

class BadCommandLine : public ProgramTest, public ::testing::WithParamInterface<BadLine> {};

TEST_P(BadCommandLine, IsRefusedWithOneLineAndNothingWritten) {
  const FileLayout grey = {"grey", Kind::Grey, 0, 8, true};
  WriteImageFile(PathOf("in.png"), grey, 4, 3, std::vector<uint8_t>(12, 90));
  std::vector<std::string> args;
  for (const std::string& a : GetParam().args)
    args.push_back(a == "IN" ? PathOf("in.png") : a == "OUT" ? PathOf("out.png") : a);

  ProgramResult r = Run(args);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err.rfind("areafill: ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find(GetParam().message), std::string::npos) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_FALSE(std::filesystem::exists(PathOf("out.png")));
  EXPECT_FALSE(std::filesystem::exists(PrefsPath() + "/ZELKpref"));
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, BadCommandLine,
    ::testing::Values(
        BadLine{"NoInput", {"-o", "OUT"}, "missing INPUT"},
        BadLine{"NoOutput", {"IN"}, "missing -o OUTPUT"},
        BadLine{"UnknownOption", {"IN", "-o", "OUT", "--colour", "red"}, "--colour"},
        BadLine{"TwoInputs", {"IN", "IN", "-o", "OUT"}, "not expected"},
        BadLine{"UnknownMethod", {"IN", "-o", "OUT", "--method", "blur"}, "unknown method 'blur'"},
        BadLine{"MethodAndReplay",
                {"IN", "-o", "OUT", "--method", "mean", "--replay", "x.json"},
                "cannot be used together"},
        BadLine{"ShortColour", {"IN", "-o", "OUT", "--fg", "#fff"}, "--fg"},
        BadLine{"ColourWithoutHash", {"IN", "-o", "OUT", "--bg", "ffffff"}, "--bg"},
        BadLine{"ColourNotHex", {"IN", "-o", "OUT", "--fg", "#12345g"}, "--fg"}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
