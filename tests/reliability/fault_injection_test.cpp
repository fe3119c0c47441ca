// Fault injection over whole filter runs: memory refused at every allocation point in turn
// (once, and from that point on), a disk that fills at every byte count of a run with its
// scratch images on disk, preferences files of every length, and Preferences folders that
// cannot be used. Every run must end with 0 and the right pixels, or with a clear status and
// the image untouched, and must leave no memory block, open file or scratch file behind.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <fstream>

#include "filter/entry/preferences.h"
#include "filter/fill/process_image.h"
#include "platform/dialog_backend.h"
#include "platform/files.h"
#include "platform/memory.h"
#include "run_harness.h"
#include "support/platform_fixture.h"

namespace {

using hostkit::HostImage;
using reliability::PatternImage;
using reliability::ReportSweep;
using reliability::RunOnce;
using reliability::SweepPoints;

class FaultInjection : public PlatformFixture {
 protected:
  void SetUp() override {
    PlatformFixture::SetUp();
    PlatformScriptReset();
    PlatformSetDialogBackend(PlatformScriptedDialogBackend());
  }
  void TearDown() override {
    PlatformSetDialogBackend(nullptr);
    PlatformFixture::TearDown();
  }

  // What a faulted run may leave: nothing but the preferences file.
  bool OnlyPreferencesLeft() const {
    std::vector<std::string> files = PrefsFiles();
    return files.empty() || files == std::vector<std::string>{"ZELKpref"};
  }
  bool NothingHeld() const {
    return PlatformLiveBlocks() == baselineBlocks_ && PlatformOpenFiles() == baselineFiles_;
  }
  void WritePrefs(const std::vector<uint8_t>& bytes) {
    std::ofstream(PrefsPath("ZELKpref"), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  }
  float StoredChoice() {
    std::ifstream in(PrefsPath("ZELKpref"), std::ios::binary);
    float value = 0;
    in.seekg(kFillChoicePrefOffset);
    in.read(reinterpret_cast<char*>(&value), sizeof value);
    return value;
  }
};

// A run of the filter: the image, its selection, the fill and where its scratch images live.
struct RunCase {
  const char* name;
  int width, height, planes, depth;
  int16_t mode;
  bool mask;
  int method;   // 0: the headless dialog with the remembered choice
  bool onDisk;  // scratch images in files (no temporary memory)
};

void PrintTo(const RunCase& c, std::ostream* out) { *out << c.name; }

HostImage CaseImage(const RunCase& c) {
  HostImage image = PatternImage(c.width, c.height, c.planes, c.depth, c.mode);
  if (c.planes == 4 && c.mode == plugInModeRGBColor)  // the alpha plane: a transparent hole
    for (int y = 2; y < c.height - 2; ++y)
      for (int x = 3; x < c.width - 3; ++x) image.Set(x, y, 3, 0);
  return image;
}

hostkit::RunOptions CaseOptions(const RunCase& c) {
  hostkit::RunOptions options;
  if (c.mask) options.mask = reliability::DiscMask(c.width, c.height, 2.5);
  return options;
}

class MemorySweep : public FaultInjection, public ::testing::WithParamInterface<RunCase> {};

TEST_P(MemorySweep, EveryRefusedAllocationEndsCleanly) {
  const RunCase& c = GetParam();
  PlatformSetTempMemoryLimit(c.onDisk ? 0 : -1);
  const HostImage original = CaseImage(c);
  const hostkit::RunOptions options = CaseOptions(c);
  HostImage expected = original, withoutMask = original;
  long before = 0;
  ASSERT_EQ(RunOnce(expected, options, c.method, [&] { before = PlatformAllocationCount(); }), 0);
  const long points = PlatformAllocationCount() - before;
  ASSERT_EQ(RunOnce(withoutMask, {}, c.method), 0);
  ASSERT_GT(points, 5);

  long tried = 0, survived = 0;
  for (bool fromThenOn : {false, true}) {
    for (long k : SweepPoints(points + 1, 40)) {
      HostImage image = original;
      int16_t result = RunOnce(image, options, c.method,
                               [&] { PlatformRefuseAllocations(k, fromThenOn ? LONG_MAX : 1); });
      PlatformRefuseAllocations(0, 0);
      // Images that find no memory go to disk, where a zero fill without a buffer is -34.
      bool clear = result == 0 || result == memFullErr || result == dskFulErr ||
                   (c.method == 0 && result == userCanceledErr);
      // A selection copy that cannot be made drops the mask: the area is filled without it.
      bool pixels = result != 0 ? image.pixels == original.pixels
                                : image.pixels == expected.pixels ||
                                      (c.mask && image.pixels == withoutMask.pixels);
      bool ok = clear && pixels && NothingHeld() && OnlyPreferencesLeft();
      ++tried;
      survived += ok ? 1 : 0;
      EXPECT_TRUE(ok) << "allocation " << k << (fromThenOn ? " onwards" : "") << " gave " << result
                      << (pixels ? "" : ", wrong pixels")
                      << (NothingHeld() ? "" : ", blocks or files left")
                      << (OnlyPreferencesLeft() ? "" : ", scratch files left");
    }
  }
  ReportSweep(std::string("memory/") + c.name, tried, survived);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, MemorySweep,
    ::testing::Values(RunCase{"Grey8Membrane", 11, 9, 1, 8, plugInModeGrayScale, true, 3, false},
                      RunCase{"Rgb8AlphaMembrane", 9, 7, 4, 8, plugInModeRGBColor, false, 3, false},
                      RunCase{"Cmyk8Mean", 7, 5, 4, 8, plugInModeCMYKColor, true, 4, false},
                      RunCase{"Lab16MembraneOnDisk", 8, 6, 3, 16, plugInModeLab48, true, 3, true},
                      RunCase{"Grey16Dialog", 8, 6, 1, 16, plugInModeGray16, true, 0, false},
                      RunCase{"Rgb16BlendOnDisk", 6, 5, 3, 16, plugInModeRGB48, true, 8, true},
                      RunCase{"Rgb16TwoExtraWhite", 6, 5, 5, 16, plugInModeRGB48, true, 7, false},
                      RunCase{"Cmyk16MembraneOnDisk", 7, 6, 4, 16, plugInModeCMYK64, true, 3, true},
                      RunCase{"Lab8Foreground", 6, 6, 3, 8, plugInModeLabColor, true, 5, false},
                      RunCase{"Multichannel8", 5, 4, 2, 8, plugInModeMultichannel, true, 3, false},
                      RunCase{"Grey32OnDisk", 5, 4, 1, 32, plugInModeGray32, true, 3, true}),
    [](const ::testing::TestParamInfo<RunCase>& param) { return std::string(param.param.name); });

TEST_F(FaultInjection, DiskFillingAtEveryByteCountEndsCleanly) {
  const RunCase c{"Grey8OnDisk", 11, 9, 1, 8, plugInModeGrayScale, true, 3, true};
  PlatformSetTempMemoryLimit(0);
  const HostImage original = CaseImage(c);
  const hostkit::RunOptions options = CaseOptions(c);
  HostImage expected = original, withoutMask = original;
  ASSERT_EQ(RunOnce(expected, options, c.method), 0);
  ASSERT_EQ(RunOnce(withoutMask, {}, c.method), 0);
  // New space a run takes: three scratch files (header and rows) and a new preferences file.
  const long scratch = (6 + 11 * 9) + (6 + 11 * 9) + (6 + 13 * 11);
  const long total = scratch + kPrefsFileBytes;
  std::vector<long> budgets;
  for (long b = 0; b <= scratch + 64; ++b) budgets.push_back(b);
  for (long k : SweepPoints(total - scratch - 64 + 2, 120)) budgets.push_back(scratch + 64 + k);

  long tried = 0, survived = 0;
  for (long budget : budgets) {
    std::filesystem::remove(PrefsPath("ZELKpref"));
    HostImage image = original;
    int16_t result = RunOnce(image, options, c.method, [&] { PlatformSetDiskFullAfter(budget); });
    PlatformSetDiskFullAfter(-1);
    // No room for the selection copy drops the mask, as when there is no memory for it; the
    // membrane fill reports any failure to make its working image as -108.
    bool ok =
        (result == 0 && (image.pixels == expected.pixels || image.pixels == withoutMask.pixels)) ||
        ((result == dskFulErr || result == memFullErr) && image.pixels == original.pixels);
    ok = ok && NothingHeld() && OnlyPreferencesLeft();
    ++tried;
    survived += ok ? 1 : 0;
    EXPECT_TRUE(ok) << "disk full after " << budget << " bytes gave " << result;
  }
  ReportSweep("disk-full", tried, survived);

  // A preferences file cut short by the full disk is read by the next run and written whole.
  std::filesystem::remove(PrefsPath("ZELKpref"));
  HostImage image = original;
  ASSERT_EQ(RunOnce(image, options, kChoiceMean, [&] { PlatformSetDiskFullAfter(scratch + 700); }),
            0);
  PlatformSetDiskFullAfter(-1);
  EXPECT_LT(std::filesystem::file_size(PrefsPath("ZELKpref")), uintmax_t(kPrefsFileBytes));
  image = original;
  ASSERT_EQ(RunOnce(image, options, kChoiceMembrane), 0);
  EXPECT_EQ(image.pixels, expected.pixels);
  EXPECT_EQ(std::filesystem::file_size(PrefsPath("ZELKpref")), uintmax_t(kPrefsFileBytes));
}

// A preferences file whose block remembers the mean fill and whose slots hold strings, cut to
// `length` bytes (longer files get a tail of their own).
std::vector<uint8_t> PrefsOfLength(size_t length) {
  std::vector<uint8_t> bytes(std::max<size_t>(length, size_t(kPrefsFileBytes)), 0);
  const float six = 6.0f, choice = float(kChoiceMean);
  std::memcpy(bytes.data() + 8, &six, 4);
  std::memcpy(bytes.data() + kFillChoicePrefOffset, &choice, 4);
  for (int slot = 0; slot < kPrefStringCount; slot += 5)
    std::memset(bytes.data() + kPrefsSlotBytes * (slot + 1), 'a' + slot % 26, size_t(20 * slot));
  for (size_t i = size_t(kPrefsFileBytes); i < bytes.size(); ++i) bytes[i] = uint8_t(i * 7);
  bytes.resize(length);
  return bytes;
}

TEST_F(FaultInjection, PreferencesFilesOfEveryLength) {
  const RunCase c{"Grey8Dialog", 9, 7, 1, 8, plugInModeGrayScale, true, 0, false};
  const HostImage original = CaseImage(c);
  const hostkit::RunOptions options = CaseOptions(c);
  HostImage mean = original, fallback = original;
  ASSERT_EQ(RunOnce(mean, options, kChoiceMean), 0);
  std::filesystem::remove(PrefsPath("ZELKpref"));
  ASSERT_EQ(RunOnce(fallback, options, 0), 0);  // no file: the fill engine's own default
  const float fallbackChoice = StoredChoice();

  std::vector<long> lengths;
  const long beyond = kPrefsFileBytes + 4096;
  if (reliability::Exhaustive()) {
    for (long n = 0; n <= beyond; ++n) lengths.push_back(n);
  } else {
    for (long n : SweepPoints(beyond + 1, 150)) lengths.push_back(n);
    for (long edge : {1L, 523L, 524L, 527L, 528L, 1023L, 1024L, 1025L, 2047L, 2048L, 50175L, 50176L,
                      50177L, 53247L, 53248L, 53249L})
      lengths.push_back(edge);
  }
  lengths.push_back(1 << 20);
  long tried = 0, survived = 0;
  for (long length : lengths) {
    WritePrefs(PrefsOfLength(size_t(length)));
    HostImage image = original;
    int16_t result = RunOnce(image, options, 0);
    // The remembered choice is there when the file holds bytes 524-527.
    const bool remembered = length >= kFillChoicePrefOffset + 4;
    bool ok = result == 0 && image.pixels == (remembered ? mean : fallback).pixels &&
              std::filesystem::file_size(PrefsPath("ZELKpref")) ==
                  uintmax_t(std::max<long>(length, kPrefsFileBytes)) &&
              StoredChoice() == (remembered ? float(kChoiceMean) : fallbackChoice) &&
              NothingHeld() && OnlyPreferencesLeft();
    ++tried;
    survived += ok ? 1 : 0;
    EXPECT_TRUE(ok) << "preferences file of " << length << " bytes gave " << result;
  }
  ReportSweep("preferences-length", tried, survived);
}

TEST_F(FaultInjection, UnusablePreferencesFolders) {
  const RunCase c{"Grey8", 9, 7, 1, 8, plugInModeGrayScale, true, 3, false};
  const HostImage original = CaseImage(c);
  const hostkit::RunOptions options = CaseOptions(c);
  HostImage expected = original;
  ASSERT_EQ(RunOnce(expected, options, c.method), 0);
  std::filesystem::remove(PrefsPath("ZELKpref"));

  struct Outcome {
    int16_t inMemory, onDisk;
  };
  auto runBoth = [&]() {
    Outcome outcome{};
    for (bool onDisk : {false, true}) {
      PlatformSetTempMemoryLimit(onDisk ? 0 : -1);
      HostImage image = original;
      int16_t result = RunOnce(image, options, c.method);
      EXPECT_EQ(image.pixels, result == 0 ? expected.pixels : original.pixels);
      EXPECT_TRUE(NothingHeld());
      (onDisk ? outcome.onDisk : outcome.inMemory) = result;
    }
    PlatformSetTempMemoryLimit(-1);
    return outcome;
  };

  // Nothing in the folder can be opened or made: preferences are skipped, scratch files fail.
  PlatformRefuseOpens(true);
  Outcome refused = runBoth();
  PlatformRefuseOpens(false);
  EXPECT_EQ(refused.inMemory, 0);
  EXPECT_EQ(refused.onDisk, permErr);
  EXPECT_TRUE(PrefsFiles().empty());

  // The preferences file's name is taken by a folder: skipped, and the folder stays.
  std::filesystem::create_directory(PrefsPath("ZELKpref"));
  Outcome folderFile = runBoth();
  EXPECT_EQ(folderFile.inMemory, 0);
  EXPECT_EQ(folderFile.onDisk, 0);
  EXPECT_TRUE(std::filesystem::is_directory(PrefsPath("ZELKpref")));
  std::filesystem::remove(PrefsPath("ZELKpref"));

  // A scratch file's name is taken by a folder: the run cannot make its image and says so.
  std::filesystem::create_directory(PrefsPath("BackingStore"));
  Outcome folderScratch = runBoth();
  EXPECT_EQ(folderScratch.inMemory, 0);
  EXPECT_EQ(folderScratch.onDisk, dupFNErr);
  EXPECT_TRUE(std::filesystem::is_directory(PrefsPath("BackingStore")));
  std::filesystem::remove(PrefsPath("BackingStore"));

  // The Preferences folder is a file: nothing can live there.
  std::string file = (prefs_ / "not-a-folder").string();
  std::ofstream(file) << "x";
  PlatformSetPreferencesFolder(file.c_str());
  Outcome notFolder = runBoth();
  PlatformSetPreferencesFolder(prefs_.c_str());
  EXPECT_EQ(notFolder.inMemory, 0);
  EXPECT_EQ(notFolder.onDisk, dirNFErr);
  std::filesystem::remove(file);
}

TEST_F(FaultInjection, ReadOnlyAndUnreadablePreferencesFolders) {
  // Meaningless to root, who may write anywhere; scripts/reliability.sh runs the program as an
  // unprivileged user for this.
  if (::geteuid() == 0) GTEST_SKIP() << "folder permissions do not bind root";
  const HostImage original = PatternImage(9, 7, 1, 8, plugInModeGrayScale);
  hostkit::RunOptions options;
  options.mask = reliability::DiscMask(9, 7, 2.5);
  HostImage expected = original;
  ASSERT_EQ(RunOnce(expected, options, kChoiceMembrane), 0);
  auto runBoth = [&]() {
    std::pair<int16_t, int16_t> outcome;
    for (bool onDisk : {false, true}) {
      PlatformSetTempMemoryLimit(onDisk ? 0 : -1);
      HostImage image = original;
      int16_t result = RunOnce(image, options, kChoiceMembrane);
      EXPECT_EQ(image.pixels, result == 0 ? expected.pixels : original.pixels);
      EXPECT_TRUE(NothingHeld());
      (onDisk ? outcome.second : outcome.first) = result;
    }
    PlatformSetTempMemoryLimit(-1);
    return outcome;
  };
  for (auto perms : {std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec,
                     std::filesystem::perms::none}) {
    std::filesystem::permissions(prefs_, perms);
    auto [inMemory, onDisk] = runBoth();
    std::filesystem::permissions(prefs_, std::filesystem::perms::owner_all);
    EXPECT_EQ(inMemory, 0);
    EXPECT_EQ(onDisk, permErr);
  }
}

}  // namespace
