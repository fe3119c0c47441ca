// The shared preferences file: its layout byte for byte, short, broken and longer files, the
// strings, and two processes storing at once.
#include "filter/entry/preferences.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "filter/util/strings.h"
#include "platform/files.h"
#include "support/platform_fixture.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr long kSlot0 = 1024;
constexpr long kTail = 50176;

class PreferencesTest : public PlatformFixture {
 protected:
  std::unique_ptr<RunRecord> NewRecord() { return std::make_unique<RunRecord>(); }

  Bytes ReadPrefsFile() const {
    std::ifstream in(PrefsPath("ZELKpref"), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }
  void WritePrefsFile(const Bytes& bytes) const {
    std::ofstream out(PrefsPath("ZELKpref"), std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  }

  static void PutFloat(Bytes* bytes, size_t at, float value) {
    std::memcpy(bytes->data() + at, &value, 4);
  }
  static void PutFloat(RunRecord* record, size_t at, float value) {
    std::memcpy(record->prefsBlock + at, &value, 4);
  }
  static void SetString(RunRecord* record, int slot, const char* text) {
    DisposeCString(record->prefStrings[slot]);
    record->prefStrings[slot] = AllocateCString(kPrefStringBytes);
    DuplicateCString(text, record->prefStrings[slot], kPrefStringBytes);
  }
  // A file of the full layout whose block bytes are a recognisable pattern.
  static Bytes PatternFile(long size = kPrefsFileBytes) {
    Bytes bytes(size_t(size), 0);
    for (long i = 0; i < 1024; ++i) bytes[size_t(i)] = uint8_t(i * 7 % 251 + 1);
    for (long i = kTail; i < size; ++i) bytes[size_t(i)] = uint8_t(i * 13 % 241 + 1);
    return bytes;
  }
  // The file's meaning: both parts of the block and each slot's string. Bytes after a slot's
  // NUL are not significant (the store leaves whatever its buffer held there).
  static void ExpectSameLayout(const Bytes& actual, const Bytes& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    EXPECT_TRUE(std::equal(actual.begin(), actual.begin() + kSlot0, expected.begin()));
    EXPECT_TRUE(std::equal(actual.begin() + kTail, actual.end(), expected.begin() + kTail));
    for (int slot = 0; slot < kPrefStringCount; ++slot) {
      const char* a = reinterpret_cast<const char*>(actual.data() + kSlot0 * (slot + 1));
      const char* e = reinterpret_cast<const char*>(expected.data() + kSlot0 * (slot + 1));
      EXPECT_EQ(std::string(a, strnlen(a, 1024)), std::string(e, strnlen(e, 1024))) << slot;
    }
  }
  // Load and store in one go, as the run driver's fill step does around the dialog.
  void LoadThenStore(RunRecord* record) {
    int16_t refNum = -1;
    LoadPreferences(record, &refNum);
    StorePreferences(record, &refNum);
    EXPECT_EQ(refNum, 0);
  }
};

TEST_F(PreferencesTest, FirstRunWritesTheWholeLayout) {
  auto record = NewRecord();
  int16_t refNum = -1;
  LoadPreferences(record.get(), &refNum);
  EXPECT_EQ(refNum, 0);
  EXPECT_TRUE(PrefsFiles().empty());
  // What the run driver adds after loading, and the choice the fill engine stores.
  PutFloat(record.get(), 8, 6.0f);
  PutFloat(record.get(), 12, 0.013888889f);
  SetFillChoicePref(record.get(), 7.0f);
  StorePreferences(record.get(), &refNum);

  Bytes expected(size_t(kPrefsFileBytes), 0);
  PutFloat(&expected, 8, 6.0f);
  PutFloat(&expected, 12, 0.013888889f);
  PutFloat(&expected, 524, 7.0f);
  EXPECT_EQ(ReadPrefsFile(), expected);
  EXPECT_EQ(refNum, 0);
}

TEST_F(PreferencesTest, BlockAndStringsSurviveARoundTrip) {
  Bytes file = PatternFile();
  const char* strings[] = {"first slot", "slot five", "last slot"};
  const int slots[] = {0, 5, 47};
  for (int k = 0; k < 3; ++k)
    std::memcpy(file.data() + kSlot0 * (slots[k] + 1), strings[k], std::strlen(strings[k]) + 1);
  WritePrefsFile(file);

  auto record = NewRecord();
  int16_t refNum = 0;
  LoadPreferences(record.get(), &refNum);
  EXPECT_NE(refNum, 0);
  EXPECT_EQ(PlatformOpenFiles(), baselineFiles_ + 1) << "the file stays open until stored";
  EXPECT_EQ(std::memcmp(record->prefsBlock, file.data(), 1024), 0);
  EXPECT_EQ(std::memcmp(record->prefsBlock + 1024, file.data() + kTail, 3072), 0);
  for (int slot = 0, k = 0; slot < kPrefStringCount; ++slot) {
    if (k < 3 && slot == slots[k]) {
      ASSERT_NE(record->prefStrings[slot], nullptr) << slot;
      EXPECT_STREQ(record->prefStrings[slot], strings[k++]);
    } else {
      EXPECT_EQ(record->prefStrings[slot], nullptr) << slot;
    }
  }
  StorePreferences(record.get(), &refNum);
  for (char* s : record->prefStrings) EXPECT_EQ(s, nullptr) << "the store releases the strings";
  ExpectSameLayout(ReadPrefsFile(), file);
}

TEST_F(PreferencesTest, ShortFileLoadsItsBytesAndIsRewrittenWhole) {
  Bytes file(500);
  for (size_t i = 0; i < file.size(); ++i) file[i] = uint8_t(i % 200 + 1);
  WritePrefsFile(file);

  auto record = NewRecord();
  int16_t refNum = 0;
  LoadPreferences(record.get(), &refNum);
  ASSERT_NE(refNum, 0);
  EXPECT_EQ(std::memcmp(record->prefsBlock, file.data(), 500), 0);
  for (int i = 500; i < kPrefsBlockBytes; ++i) ASSERT_EQ(record->prefsBlock[i], 0) << i;
  for (char* s : record->prefStrings) EXPECT_EQ(s, nullptr);
  StorePreferences(record.get(), &refNum);

  Bytes expected(size_t(kPrefsFileBytes), 0);
  std::memcpy(expected.data(), file.data(), 500);
  EXPECT_EQ(ReadPrefsFile(), expected);
}

// A file that ends inside slot 3: slots 0 to 2 load, slot 3 cannot be read whole, later slots
// cannot be positioned, and the block's last 3072 bytes find nothing to read.
TEST_F(PreferencesTest, SlotsThatCannotBeReadStayEmpty) {
  Bytes file = PatternFile(kSlot0 * 4 + 10);
  for (int slot = 0; slot < 4; ++slot) file[size_t(kSlot0 * (slot + 1))] = uint8_t('A' + slot);
  file[size_t(kSlot0 * 2)] = 0;  // slot 1 is empty
  WritePrefsFile(file);

  auto record = NewRecord();
  int16_t refNum = 0;
  LoadPreferences(record.get(), &refNum);
  EXPECT_STREQ(record->prefStrings[0], "A");
  EXPECT_EQ(record->prefStrings[1], nullptr);
  EXPECT_STREQ(record->prefStrings[2], "C");
  EXPECT_EQ(record->prefStrings[3], nullptr);
  for (int i = 1024; i < kPrefsBlockBytes; ++i) ASSERT_EQ(record->prefsBlock[i], 0) << i;
  StorePreferences(record.get(), &refNum);
  EXPECT_EQ(ReadPrefsFile().size(), size_t(kPrefsFileBytes));
}

TEST_F(PreferencesTest, LongerFileKeepsItsTail) {
  Bytes file = PatternFile(kPrefsFileBytes + 300);
  WritePrefsFile(file);
  auto record = NewRecord();
  LoadThenStore(record.get());
  EXPECT_EQ(ReadPrefsFile(), file);
}

// A slot string longer than a string buffer is cut as DuplicateCString cuts it at 514 bytes,
// and a slot without any NUL does not run past the slot.
TEST_F(PreferencesTest, LongSlotStringsAreCutTo513Characters) {
  Bytes file = PatternFile();
  std::memset(file.data() + kSlot0 * 1, 'x', 600);
  std::memset(file.data() + kSlot0 * 2, 'y', 1024);
  WritePrefsFile(file);

  auto record = NewRecord();
  int16_t refNum = 0;
  LoadPreferences(record.get(), &refNum);
  EXPECT_EQ(std::string(record->prefStrings[0]), std::string(513, 'x'));
  EXPECT_EQ(std::string(record->prefStrings[1]), std::string(513, 'y'));
  StorePreferences(record.get(), &refNum);

  Bytes stored = ReadPrefsFile();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(stored.data() + kSlot0)),
            std::string(513, 'x'));
}

TEST_F(PreferencesTest, StoreStringsLongerThanTheBuffer) {
  auto record = NewRecord();
  record->prefStrings[4] = AllocateCString(1000);
  std::memset(record->prefStrings[4], 'z', 999);
  int16_t refNum = 0;
  StorePreferences(record.get(), &refNum);
  EXPECT_EQ(record->prefStrings[4], nullptr);
  Bytes stored = ReadPrefsFile();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(stored.data() + kSlot0 * 5)),
            std::string(513, 'z'));
}

TEST_F(PreferencesTest, LoadReplacesStringsAlreadyHeld) {
  Bytes file = PatternFile();
  std::memcpy(file.data() + kSlot0, "new", 4);
  WritePrefsFile(file);
  auto record = NewRecord();
  SetString(record.get(), 0, "old");
  SetString(record.get(), 1, "kept");
  int16_t refNum = 0;
  LoadPreferences(record.get(), &refNum);
  EXPECT_STREQ(record->prefStrings[0], "new");
  EXPECT_STREQ(record->prefStrings[1], "kept") << "an empty slot leaves the entry";
  StorePreferences(record.get(), &refNum);
}

TEST_F(PreferencesTest, UnwritableFileIsSkippedAndStringsReleased) {
  auto record = NewRecord();
  SetString(record.get(), 3, "lost");
  PlatformRefuseOpens(true);
  int16_t refNum = 0;
  LoadPreferences(record.get(), &refNum);
  EXPECT_EQ(refNum, 0);
  StorePreferences(record.get(), &refNum);
  EXPECT_EQ(record->prefStrings[3], nullptr);
  EXPECT_TRUE(PrefsFiles().empty());
}

TEST_F(PreferencesTest, FullDiskDoesNotStopTheStore) {
  auto record = NewRecord();
  SetString(record.get(), 0, "kept in memory until stored");
  PlatformSetDiskFullAfter(700);
  int16_t refNum = 0;
  StorePreferences(record.get(), &refNum);
  EXPECT_EQ(refNum, 0);
  EXPECT_EQ(record->prefStrings[0], nullptr);
}

// Each child process loads, waits while the other loads too, changes a value of its own in the
// block and stores. Neither waits for the other (the file is locked only while it is read and
// while it is written), and each store writes only what its run changed: both values survive.
void RunChild(int index) {
  for (int fd = 3; fd < 1024; ++fd) close(fd);
  auto record = std::make_unique<RunRecord>();
  int16_t refNum = 0;
  LoadPreferences(record.get(), &refNum);
  usleep(150 * 1000);
  const uint32_t value = 1000 + uint32_t(index);
  std::memcpy(record->prefsBlock + 100 + 4 * index, &value, 4);
  StorePreferences(record.get(), &refNum);
  _exit(0);
}

void RunTwoChildren() {
  pid_t children[2];
  for (int i = 0; i < 2; ++i) {
    children[i] = fork();
    ASSERT_GE(children[i], 0);
    if (children[i] == 0) RunChild(i + 1);
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
}

TEST_F(PreferencesTest, TwoProcessesStoringAtOnceKeepEachOnesChanges) {
  auto record = NewRecord();
  LoadThenStore(record.get());  // an existing file with a zero counter
  RunTwoChildren();

  Bytes stored = ReadPrefsFile();
  ASSERT_EQ(stored.size(), size_t(kPrefsFileBytes));
  uint32_t values[2] = {};
  std::memcpy(values, stored.data() + 104, 8);
  EXPECT_EQ(values[0], 1001u);
  EXPECT_EQ(values[1], 1002u);
}

// Without a file both processes create one; whichever stores last wins, and the file is whole.
TEST_F(PreferencesTest, TwoFirstRunsAtOnceLeaveAValidFile) {
  RunTwoChildren();
  Bytes stored = ReadPrefsFile();
  ASSERT_EQ(stored.size(), size_t(kPrefsFileBytes));
  uint32_t values[2] = {};
  std::memcpy(values, stored.data() + 104, 8);
  EXPECT_TRUE(values[0] == 1001u || values[1] == 1002u) << values[0] << " / " << values[1];
}

}  // namespace
