#include "platform/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "support/platform_fixture.h"

namespace {

class FilesTest : public PlatformFixture {
 protected:
  void SetUp() override {
    PlatformFixture::SetUp();
    ASSERT_EQ(FindFolder(kOnSystemDisk, kPreferencesFolderType, kDontCreateFolder, &vRef, &dirID),
              noErr);
  }
  int16_t vRef = 0;
  long dirID = 0;
};

TEST_F(FilesTest, PreferencesFolderIsCreatedOnFirstUse) {
  auto nested = prefs_ / "a" / "b";
  PlatformSetPreferencesFolder(nested.c_str());
  int16_t v;
  long id;
  ASSERT_EQ(FindFolder(kOnSystemDisk, kPreferencesFolderType, kDontCreateFolder, &v, &id), noErr);
  EXPECT_TRUE(std::filesystem::is_directory(nested));
  EXPECT_EQ(FindFolder(kOnSystemDisk, FourCC("desk"), kDontCreateFolder, &v, &id), fnfErr);
}

TEST_F(FilesTest, CreateWriteReadAndPositionPastTheEnd) {
  PString name("data");
  ASSERT_EQ(HCreate(vRef, dirID, name.get(), FourCC("CREA"), FourCC("TYPE")), noErr);
  int16_t ref = 0;
  ASSERT_EQ(HOpen(vRef, dirID, name.get(), fsRdWrPerm, &ref), noErr);
  long count = 5;
  EXPECT_EQ(FSWrite(ref, &count, "hello"), noErr);
  EXPECT_EQ(SetFPos(ref, fsFromStart, 1), noErr);
  char buf[8] = {};
  count = 8;
  EXPECT_EQ(FSRead(ref, &count, buf), eofErr);  // only 4 bytes were left
  EXPECT_EQ(count, 4);
  EXPECT_STREQ(buf, "ello");
  EXPECT_EQ(SetFPos(ref, fsFromStart, 99), eofErr);
  long one = 1;  // the mark stops at the end of the file: nothing is left to read
  EXPECT_EQ(FSRead(ref, &one, buf), eofErr);
  EXPECT_EQ(one, 0);
  EXPECT_EQ(FSClose(ref), noErr);
  EXPECT_EQ(HDelete(vRef, dirID, name.get()), noErr);
  EXPECT_EQ(HDelete(vRef, dirID, name.get()), fnfErr);
}

TEST_F(FilesTest, RejectsNamesThatAreNotPlainFileNames) {
  for (const char* bad : {"", ".", "..", "a/b"}) {
    PString name(bad);
    int16_t ref = 0;
    EXPECT_EQ(HOpen(vRef, dirID, name.get(), fsRdPerm, &ref), bdNamErr) << bad;
  }
}

TEST_F(FilesTest, DiskFullAfterABudgetWritesWhatFits) {
  PString name("full");
  ASSERT_EQ(HCreate(vRef, dirID, name.get(), 0, 0), noErr);
  int16_t ref = 0;
  ASSERT_EQ(HOpen(vRef, dirID, name.get(), fsRdWrPerm, &ref), noErr);
  PlatformSetDiskFullAfter(3);
  long count = 5;
  EXPECT_EQ(FSWrite(ref, &count, "hello"), dskFulErr);
  EXPECT_EQ(count, 3);
  PlatformSetDiskFullAfter(-1);
  FSClose(ref);
  EXPECT_EQ(std::filesystem::file_size(PrefsPath("full")), 3u);
}

TEST_F(FilesTest, RefusedOpensAndMissingFiles) {
  PString name("nothing");
  int16_t ref = 0;
  EXPECT_EQ(HOpenDF(vRef, dirID, name.get(), fsRdWrPerm, &ref), fnfErr);
  PlatformRefuseOpens(true);
  EXPECT_EQ(HCreate(vRef, dirID, name.get(), 0, 0), permErr);
  PlatformRefuseOpens(false);
}

TEST_F(FilesTest, WritePermissionIsExclusive) {
  PString name("shared");
  ASSERT_EQ(HCreate(vRef, dirID, name.get(), 0, 0), noErr);
  int16_t first = 0, second = 0, reader = 0;
  ASSERT_EQ(HOpen(vRef, dirID, name.get(), fsRdWrPerm, &first), noErr);
  EXPECT_EQ(HOpen(vRef, dirID, name.get(), fsRdWrPerm, &second), opWrErr);
  EXPECT_EQ(HOpen(vRef, dirID, name.get(), fsRdPerm, &reader), noErr);
  FSClose(reader);

  // Another process waits until this one closes the file.
  int pipefd[2];
  ASSERT_EQ(pipe(pipefd), 0);
  pid_t child = fork();
  if (child == 0) {
    // Like a separate program: none of the parent's open files (and their locks) are shared.
    for (int fd = 3; fd < 1024; ++fd)
      if (fd != pipefd[1]) close(fd);
    int16_t ref = 0;
    OSErr err = HOpen(vRef, dirID, name.get(), fsRdWrPerm, &ref);
    char c = err == noErr ? 'y' : 'n';
    if (write(pipefd[1], &c, 1) != 1) _exit(2);
    _exit(0);
  }
  usleep(200 * 1000);
  char got = 0;
  fcntl(pipefd[0], F_SETFL, O_NONBLOCK);
  EXPECT_EQ(read(pipefd[0], &got, 1), -1) << "the other process did not wait";
  FSClose(first);
  fcntl(pipefd[0], F_SETFL, 0);
  ASSERT_EQ(read(pipefd[0], &got, 1), 1);
  EXPECT_EQ(got, 'y');
  int status = 0;
  waitpid(child, &status, 0);
  close(pipefd[0]);
  close(pipefd[1]);
}

}  // namespace
