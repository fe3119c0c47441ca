#include "support/platform_fixture.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/files.h"
#include "platform/memory.h"

void PlatformFixture::SetUp() {
  auto base = std::filesystem::temp_directory_path() / "areafill-tests";
  std::filesystem::create_directories(base);
  std::string pattern = (base / "prefs-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  prefs_ = pattern;
  PlatformSetPreferencesFolder(prefs_.c_str());
  PlatformSetTempMemoryLimit(-1);
  PlatformRefuseAllocations(0, 0);
  PlatformSetDiskFullAfter(-1);
  PlatformRefuseOpens(false);
  baselineBlocks_ = PlatformLiveBlocks();
  baselineFiles_ = PlatformOpenFiles();
}

void PlatformFixture::TearDown() {
  PlatformRefuseAllocations(0, 0);
  PlatformSetDiskFullAfter(-1);
  PlatformRefuseOpens(false);
  PlatformSetTempMemoryLimit(-1);
  if (checkLeaks_) {
    EXPECT_EQ(PlatformLiveBlocks(), baselineBlocks_) << "memory blocks left allocated";
    EXPECT_EQ(PlatformOpenFiles(), baselineFiles_) << "files left open";
  }
  PlatformSetPreferencesFolder(nullptr);
  std::error_code ec;
  std::filesystem::remove_all(prefs_, ec);
}

std::vector<std::string> PlatformFixture::PrefsFiles() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(prefs_))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

PString::PString(const char* text) {
  size_t n = std::min<size_t>(std::strlen(text), 255);
  bytes[0] = static_cast<unsigned char>(n);
  std::memcpy(bytes + 1, text, n);
}
