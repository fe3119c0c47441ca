// A test fixture that isolates the platform layer: a fresh Preferences folder per test, no
// memory or disk limits, and a check at the end that every block and file was released.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

class PlatformFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Names of the files now in the test's Preferences folder, sorted.
  std::vector<std::string> PrefsFiles() const;
  std::filesystem::path PrefsPath(const std::string& name) const { return prefs_ / name; }

  std::filesystem::path prefs_;
  long baselineBlocks_ = 0;
  long baselineFiles_ = 0;
  bool checkLeaks_ = true;
};

// A Pascal string from a C string literal.
struct PString {
  explicit PString(const char* text);
  const unsigned char* get() const { return bytes; }
  unsigned char bytes[256];
};
