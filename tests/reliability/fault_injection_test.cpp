// Fault injection over whole filter runs: memory refused at every allocation point in turn
// (once, and from that point on), a disk that fills at every byte count of a run with its
// scratch images on disk, and Preferences folders that cannot be used. Every run must end with
// 0 and the right pixels, or with a clear status and the image untouched, and must leave no
// memory block, open file or scratch file behind.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <fstream>
#include <functional>

#include "filter/entry/preferences.h"
#include "platform/dialog_backend.h"
#include "platform/files.h"
#include "platform/memory.h"
#include "support/platform_fixture.h"
#include "support/whole_filter_run.h"
#include "sweep_points.h"

namespace {

namespace fs = std::filesystem;
using hostkit::HostImage;
using reliability::ReportSweep;
using reliability::SweepPoints;
using whole_run::RunOnce;

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
};

// A run of the filter: the image, its selection, the fill and where its scratch images live.
struct RunCase {
  const char* name;
  int width, height, planes, depth;
  int16_t mode;
  bool mask;
  int method;   // 0: the headless dialog with the remembered choice
  bool onDisk;  // scratch images in files (no temporary memory)

  HostImage Image() const {
    HostImage image = whole_run::PatternImage(width, height, planes, depth, mode);
    if (planes == 4 && mode == plugInModeRGBColor)  // the alpha plane: a transparent hole
      for (int y = 2; y < height - 2; ++y)
        for (int x = 3; x < width - 3; ++x) image.Set(x, y, 3, 0);
    return image;
  }
  hostkit::RunOptions Options() const {
    hostkit::RunOptions options;
    if (mask) options.mask = whole_run::DiscMask(width, height, 2.5);
    return options;
  }
};

void PrintTo(const RunCase& c, std::ostream* out) { *out << c.name; }

class MemorySweep : public FaultInjection, public ::testing::WithParamInterface<RunCase> {};

TEST_P(MemorySweep, EveryRefusedAllocationEndsCleanly) {
  const RunCase& c = GetParam();
  PlatformSetTempMemoryLimit(c.onDisk ? 0 : -1);
  const HostImage original = c.Image();
  const hostkit::RunOptions options = c.Options();
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
  const HostImage original = c.Image();
  const hostkit::RunOptions options = c.Options();
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
    fs::remove(PrefsPath("ZELKpref"));
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
}

TEST_F(FaultInjection, UnusablePreferencesFolders) {
  const RunCase c{"Grey8", 9, 7, 1, 8, plugInModeGrayScale, true, 3, false};
  const HostImage original = c.Image();
  const hostkit::RunOptions options = c.Options();
  HostImage expected = original;
  ASSERT_EQ(RunOnce(expected, options, c.method), 0);
  fs::remove(PrefsPath("ZELKpref"));
  const std::string file = (prefs_ / "not-a-folder").string();
  auto makeFolder = [this](const char* name) { fs::create_directory(PrefsPath(name)); };
  auto folderStays = [this](const char* name) {
    EXPECT_TRUE(fs::is_directory(PrefsPath(name)));
    fs::remove(PrefsPath(name));
  };
  auto chmod = [this](fs::perms perms) { fs::permissions(prefs_, perms); };
  struct Case {
    const char* what;
    std::function<void()> spoil, mend;
    int16_t onDisk;  // the run's result with its scratch images on disk; in memory it fills
    bool bindsRoot;  // folder permissions do not bind root
  } cases[] = {
      {"nothing can be opened or made: preferences skipped, scratch files refused",
       [] { PlatformRefuseOpens(true); },
       [this] {
         PlatformRefuseOpens(false);
         EXPECT_TRUE(PrefsFiles().empty());
       },
       permErr, true},
      {"the preferences file's name is taken by a folder: skipped, the folder stays",
       [&] { makeFolder("ZELKpref"); }, [&] { folderStays("ZELKpref"); }, 0, true},
      {"a scratch file's name is taken by a folder: no image on disk",
       [&] { makeFolder("BackingStore"); }, [&] { folderStays("BackingStore"); }, dupFNErr, true},
      {"the Preferences folder is a file",
       [&] {
         std::ofstream(file) << "x";
         PlatformSetPreferencesFolder(file.c_str());
       },
       [&] {
         PlatformSetPreferencesFolder(prefs_.c_str());
         fs::remove(file);
       },
       dirNFErr, true},
      {"a read-only Preferences folder",
       [&] { chmod(fs::perms::owner_read | fs::perms::owner_exec); },
       [&] { chmod(fs::perms::owner_all); }, permErr, false},
      {"an unreadable Preferences folder", [&] { chmod(fs::perms::none); },
       [&] { chmod(fs::perms::owner_all); }, permErr, false},
  };
  for (const Case& folder : cases) {
    // scripts/reliability.sh runs the program as an unprivileged user for the permissions.
    if (!folder.bindsRoot && ::geteuid() == 0) continue;
    SCOPED_TRACE(folder.what);
    folder.spoil();
    for (bool onDisk : {false, true}) {
      PlatformSetTempMemoryLimit(onDisk ? 0 : -1);
      HostImage image = original;
      int16_t result = RunOnce(image, options, c.method);
      EXPECT_EQ(result, onDisk ? folder.onDisk : 0) << "on disk: " << onDisk;
      EXPECT_EQ(image.pixels, result == 0 ? expected.pixels : original.pixels);
      EXPECT_TRUE(NothingHeld());
    }
    PlatformSetTempMemoryLimit(-1);
    folder.mend();
  }
}

}  // namespace
