// The shared preferences file: its layout byte for byte, files shorter and longer than it, the
// strings and their limits, files that cannot be used, and two processes storing at once.
#include "filter/entry/preferences.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "filter/util/strings.h"
#include "platform/files.h"
#include "support/platform_fixture.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr long kTail = 50176;  // where the block's last 3072 bytes are stored

class PreferencesTest : public PlatformFixture {
 protected:
  Bytes ReadPrefsFile() const {
    std::ifstream in(PrefsPath("ZELKpref"), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }
  void WritePrefsFile(const Bytes& bytes) const {
    std::ofstream(PrefsPath("ZELKpref"), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  }
  // A file of `size` bytes whose block bytes are a recognisable pattern and whose slots hold
  // `strings` (slot, text) and otherwise nothing.
  static Bytes PatternFile(long size, const std::vector<std::pair<int, std::string>>& strings) {
    Bytes bytes(size_t(size), 0);
    for (long i = 0; i < std::min(size, 1024L); ++i) bytes[size_t(i)] = uint8_t(i * 7 % 251 + 1);
    for (long i = kTail; i < size; ++i) bytes[size_t(i)] = uint8_t(i * 13 % 241 + 1);
    for (const auto& [slot, text] : strings)
      if (kPrefsSlotBytes * (slot + 1) + long(text.size()) <= size)
        std::memcpy(bytes.data() + kPrefsSlotBytes * (slot + 1), text.data(), text.size());
    return bytes;
  }
  static std::string Slot(const Bytes& file, int slot) {
    const char* s = reinterpret_cast<const char*>(file.data() + kPrefsSlotBytes * (slot + 1));
    return std::string(s, strnlen(s, kPrefsSlotBytes));
  }
};

// The block and the strings come back as they were; the file stays open until stored; the store
// releases the strings. Strings are cut as a 514-byte copy cuts them (a slot without NUL does not
// run past the slot), when loaded and when stored; an empty slot leaves a string already held.
TEST_F(PreferencesTest, BlockAndStringsSurviveARoundTrip) {
  const Bytes file = PatternFile(kPrefsFileBytes, {{0, "first slot"},
                                                   {1, std::string(600, 'x')},
                                                   {2, std::string(1024, 'y')},
                                                   {5, "slot five"},
                                                   {47, "last slot"}});
  WritePrefsFile(file);
  RunRecord record{};
  for (auto [slot, text] : {std::pair{0, "old"}, {3, "kept"}}) {
    record.prefStrings[slot] = AllocateCString(kPrefStringBytes);
    DuplicateCString(text, record.prefStrings[slot], kPrefStringBytes);
  }
  int16_t refNum = 0;
  LoadPreferences(&record, &refNum);
  EXPECT_NE(refNum, 0);
  EXPECT_EQ(PlatformOpenFiles(), baselineFiles_ + 1);
  EXPECT_EQ(std::memcmp(record.prefsBlock, file.data(), 1024), 0);
  EXPECT_EQ(std::memcmp(record.prefsBlock + 1024, file.data() + kTail, 3072), 0);
  std::map<int, std::string> held = {{0, "first slot"},          {1, std::string(513, 'x')},
                                     {2, std::string(513, 'y')}, {3, "kept"},
                                     {5, "slot five"},           {47, "last slot"}};
  for (int slot = 0; slot < kPrefStringCount; ++slot)
    EXPECT_EQ(record.prefStrings[slot] ? record.prefStrings[slot] : "", held[slot]) << slot;
  DisposeCString(record.prefStrings[4]);
  record.prefStrings[4] = AllocateCString(1000);
  std::memset(record.prefStrings[4], 'z', 999);
  StorePreferences(&record, &refNum);
  for (char* s : record.prefStrings) EXPECT_EQ(s, nullptr) << "the store releases the strings";
  const Bytes stored = ReadPrefsFile();
  ASSERT_EQ(stored.size(), file.size());
  EXPECT_TRUE(std::equal(stored.begin(), stored.begin() + 1024, file.begin()));
  EXPECT_TRUE(std::equal(stored.begin() + kTail, stored.end(), file.begin() + kTail));
  held[4] = std::string(513, 'z');
  for (int slot = 0; slot < kPrefStringCount; ++slot) EXPECT_EQ(Slot(stored, slot), held[slot]);
}

// Without a file nothing is loaded and the store creates one. A file of 500 bytes loads them and
// no string; one that ends inside slot 3 loads slots 0 to 2, and the block's last 3072 bytes
// find nothing to read; all are written whole, with the value the run changed. A longer file
// keeps its bytes past the layout.
TEST_F(PreferencesTest, FilesOfEveryLengthAreWrittenWhole) {
  for (long size : {0L, 500L, kPrefsSlotBytes * 4 + 10, kPrefsFileBytes + 300}) {
    std::filesystem::remove(PrefsPath("ZELKpref"));
    const Bytes file = PatternFile(size, {{0, "A"}, {2, "C"}, {3, "D"}});
    if (size > 0) WritePrefsFile(file);
    Bytes expected = file;
    expected.resize(size_t(std::max(size, kPrefsFileBytes)), 0);
    if (size < kTail) expected[size_t(4 * kPrefsSlotBytes)] = 0;  // slot 3 cannot be read whole
    RunRecord record{};
    int16_t refNum = -1;
    LoadPreferences(&record, &refNum);
    EXPECT_EQ(refNum != 0, size > 0);
    EXPECT_EQ(std::memcmp(record.prefsBlock, expected.data(), 1024), 0) << size;
    EXPECT_EQ(std::memcmp(record.prefsBlock + 1024, expected.data() + kTail, 3072), 0) << size;
    for (int slot = 0; slot < kPrefStringCount; ++slot)
      EXPECT_EQ(record.prefStrings[slot] ? record.prefStrings[slot] : "", Slot(expected, slot));
    EXPECT_EQ(PrefsFiles().size(), size > 0 ? 1u : 0u);
    const float choice = 7.0f;
    SetFillChoicePref(&record, choice);
    std::memcpy(expected.data() + 524, &choice, 4);
    StorePreferences(&record, &refNum);
    EXPECT_EQ(refNum, 0);
    EXPECT_TRUE(ReadPrefsFile() == expected) << size;
  }
}

// A file that cannot be opened or written is skipped; the strings are released all the same.
TEST_F(PreferencesTest, UnusableFileIsSkippedAndStringsReleased) {
  for (bool diskFull : {false, true}) {
    RunRecord record{};
    record.prefStrings[3] = AllocateCString(kPrefStringBytes);
    if (diskFull) PlatformSetDiskFullAfter(700);
    PlatformRefuseOpens(!diskFull);
    int16_t refNum = 0;
    LoadPreferences(&record, &refNum);
    EXPECT_EQ(refNum, 0);
    StorePreferences(&record, &refNum);
    EXPECT_EQ(refNum, 0);
    EXPECT_EQ(record.prefStrings[3], nullptr);
    PlatformRefuseOpens(false);
    PlatformSetDiskFullAfter(-1);
  }
}

// Each child loads, waits while the other loads too, changes a value of its own and stores.
// Neither waits for the other (the file is locked only while it is read and while it is
// written), and each store writes only what its run changed: both values survive. Without a
// file both create one; whichever stores last wins, and the file is whole.
TEST_F(PreferencesTest, TwoProcessesStoringAtOnceKeepEachOnesChanges) {
  for (bool existing : {true, false}) {
    std::filesystem::remove(PrefsPath("ZELKpref"));
    RunRecord record{};
    int16_t refNum = 0;
    if (existing) StorePreferences(&record, &refNum);  // a file with zero values
    pid_t children[2];
    for (int i = 0; i < 2; ++i) {
      children[i] = fork();
      ASSERT_GE(children[i], 0);
      if (children[i] != 0) continue;
      for (int fd = 3; fd < 1024; ++fd) close(fd);
      auto own = std::make_unique<RunRecord>();
      int16_t ref = 0;
      LoadPreferences(own.get(), &ref);
      usleep(150 * 1000);
      const uint32_t value = 1001 + uint32_t(i);
      std::memcpy(own->prefsBlock + 104 + 4 * i, &value, 4);
      StorePreferences(own.get(), &ref);
      _exit(0);
    }
    for (pid_t child : children) {
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const Bytes stored = ReadPrefsFile();
    ASSERT_EQ(stored.size(), size_t(kPrefsFileBytes));
    uint32_t values[2] = {};
    std::memcpy(values, stored.data() + 104, 8);
    EXPECT_TRUE(existing ? values[0] == 1001u && values[1] == 1002u
                         : values[0] == 1001u || values[1] == 1002u)
        << values[0] << " / " << values[1];
  }
}

}  // namespace
