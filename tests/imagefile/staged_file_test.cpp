// The staged output file: it replaces a file only when whole, keeps the replaced file's
// permissions, replaces a link instead of writing through it, and leaves nothing behind when a
// write fails.
#include "imagefile/staged_file.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include "image_files.h"
#include "imagefile/image_io.h"

namespace imagefile {
namespace {

using StagedFileTest = TempFolderTest;

const std::vector<uint8_t> kOld = {1, 2, 3};
const std::string kNew = "new";

mode_t PermissionsOf(const std::string& path) {
  struct stat info = {};
  EXPECT_EQ(lstat(path.c_str(), &info), 0) << path;
  return info.st_mode & 0777;
}

void Stage(const std::string& path) {
  StagedFile file;
  ASSERT_EQ(file.Open(path), 0);
  ASSERT_EQ(file.Write(kNew.data(), kNew.size()), 0);
  ASSERT_EQ(file.Commit(), 0);
  EXPECT_STREQ(file.temporaryPath(), "");
}

TEST_F(StagedFileTest, ReplacedFileKeepsItsPermissionsAndANewOneFollowsTheUmask) {
  for (const mode_t mode : {mode_t(0600), mode_t(0444)}) {
    const std::string path = PathOf("kept" + std::to_string(mode));
    WriteBytes(path, kOld);
    ASSERT_EQ(chmod(path.c_str(), mode), 0);
    Stage(path);
    EXPECT_EQ(PermissionsOf(path), mode);
    EXPECT_EQ(ReadBytes(path), std::vector<uint8_t>(kNew.begin(), kNew.end()));
  }
  const mode_t umaskNow = umask(027);
  umask(umaskNow);
  Stage(PathOf("new"));
  EXPECT_EQ(PermissionsOf(PathOf("new")), 0666 & ~umaskNow);
  EXPECT_EQ(FolderEntries(), (std::vector<std::string>{"kept292", "kept384", "new"}));
}

TEST_F(StagedFileTest, ReplacesALinkInsteadOfWritingThroughIt) {
  WriteBytes(PathOf("target"), kOld);
  ASSERT_EQ(symlink("target", PathOf("link").c_str()), 0);
  Stage(PathOf("link"));
  EXPECT_EQ(ReadBytes(PathOf("target")), kOld);
  struct stat info = {};
  ASSERT_EQ(lstat(PathOf("link").c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));
  EXPECT_EQ(ReadBytes(PathOf("link")), std::vector<uint8_t>(kNew.begin(), kNew.end()));
}

TEST_F(StagedFileTest, FailedWriteLeavesTheOldFileAndNoTemporaryFile) {
  // An image write that the file-size limit stops part way.
  const std::string path = PathOf("out.tif");
  WriteBytes(path, kOld);
  FileImage image;
  image.width = image.height = 256;
  image.format = FileFormat::TIFF;
  image.tiffCompression = 1;  // none
  image.data = PatternSamples(256, 256, 1, 8);
  rlimit limit = {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
  const rlim_t before = limit.rlim_cur;
  limit.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  std::string error;
  const bool written = WriteImage(path, image, &error);
  std::signal(SIGXFSZ, oldHandler);
  limit.rlim_cur = before;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  EXPECT_FALSE(written);
  EXPECT_EQ(error.rfind(path + ": ", 0), 0u) << error;
  EXPECT_EQ(ReadBytes(path), kOld);
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"out.tif"});

  // A staged file that is never committed goes too.
  {
    StagedFile abandoned;
    ASSERT_EQ(abandoned.Open(path), 0);
    EXPECT_EQ(access(abandoned.temporaryPath(), F_OK), 0);
  }
  EXPECT_EQ(ReadBytes(path), kOld);
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"out.tif"});
}

}  // namespace
}  // namespace imagefile
