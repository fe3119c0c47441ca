// Eight processes filling different images at once, sharing one Preferences folder, with every
// scratch image on disk (so that all of them make, use and delete files of the same names):
// every result right, the preferences file whole afterwards, no scratch file left.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include "filter/entry/preferences.h"
#include "platform/dialog_backend.h"
#include "platform/memory.h"
#include "support/platform_fixture.h"
#include "support/whole_filter_run.h"
#include "sweep_points.h"

namespace {

using hostkit::HostImage;

constexpr int kProcesses = 8;

struct Job {
  HostImage image;
  hostkit::RunOptions options;
  int method;
  HostImage expected;
};

class ConcurrentRuns : public PlatformFixture {};

TEST_F(ConcurrentRuns, EightProcessesShareThePreferencesFolder) {
  PlatformSetDialogBackend(PlatformScriptedDialogBackend());
  const int rounds = reliability::Exhaustive() ? 20 : 3;
  std::vector<Job> jobs(kProcesses);
  for (int i = 0; i < kProcesses; ++i) {
    Job& job = jobs[size_t(i)];
    const bool grey = i % 2 == 0, wide = i % 4 >= 2;
    const int16_t mode = grey ? (wide ? plugInModeGray16 : plugInModeGrayScale)
                              : (wide ? plugInModeRGB48 : plugInModeRGBColor);
    job.image = whole_run::PatternImage(14 + i, 11 + i % 3, grey ? 1 : 3, wide ? 16 : 8, mode);
    job.options.mask = whole_run::DiscMask(job.image.width, job.image.height, 3 + i % 3);
    job.method = 3 + i % 7;
    job.expected = job.image;
    ASSERT_EQ(whole_run::RunOnce(job.expected, job.options, job.method), 0);
  }
  std::filesystem::remove(PrefsPath("ZELKpref"));

  std::vector<pid_t> children;
  for (const Job& job : jobs) {
    pid_t child = fork();
    if (child == 0) {
      // A separate program: its own files only, scratch images on disk.
      for (int fd = 3; fd < 1024; ++fd) close(fd);
      PlatformSetTempMemoryLimit(0);
      int failures = 0;
      for (int round = 0; round < rounds; ++round) {
        HostImage image = job.image;
        if (whole_run::RunOnce(image, job.options, job.method) != 0 ||
            image.pixels != job.expected.pixels)
          ++failures;
      }
      _exit(failures);
    }
    children.push_back(child);
  }
  int failedRuns = 0;
  for (pid_t child : children) {
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "a process died";
    failedRuns += WEXITSTATUS(status);
  }
  EXPECT_EQ(failedRuns, 0) << "runs that failed or gave wrong pixels";
  reliability::ReportSweep("concurrency", long(kProcesses) * rounds,
                           long(kProcesses) * rounds - failedRuns);

  // One whole preferences file, holding one of the runs' choices; nothing else.
  EXPECT_EQ(PrefsFiles(), std::vector<std::string>{"ZELKpref"});
  std::ifstream in(PrefsPath("ZELKpref"), std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
  ASSERT_EQ(bytes.size(), size_t(kPrefsFileBytes));
  float six = 0, choice = 0;
  std::memcpy(&six, bytes.data() + 8, 4);
  std::memcpy(&choice, bytes.data() + kFillChoicePrefOffset, 4);
  EXPECT_EQ(six, 6.0f);
  EXPECT_TRUE(choice >= 3 && choice <= 9 && choice == float(int(choice))) << choice;
  PlatformSetDialogBackend(nullptr);
}

}  // namespace
