// Files of fixed names in a Preferences folder that several processes share: a create that
// meets another process's open file, a delete of a file another process holds, the open that
// follows a create, and a full disk that refuses new space only.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>

#include "platform/files.h"
#include "support/platform_fixture.h"

namespace {

class SharedFolderTest : public PlatformFixture {
 protected:
  void SetUp() override {
    PlatformFixture::SetUp();
    ASSERT_EQ(FindFolder(kOnSystemDisk, kPreferencesFolderType, kDontCreateFolder, &vRef, &dirID),
              noErr);
  }

  // Runs `body` in a child process that, like a separate program, shares none of this one's
  // open files, and waits for it. The child's exit code is `body`'s result.
  int InChild(const std::function<int()>& body) {
    pid_t child = fork();
    if (child == 0) {
      for (int fd = 3; fd < 1024; ++fd) close(fd);
      _exit(body());
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
  }

  std::string Contents(const char* name) {
    std::ifstream in(PrefsPath(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  int16_t vRef = 0;
  long dirID = 0;
};

TEST_F(SharedFolderTest, CreateOverAnotherProcesssOpenFileTakesTheNameAndKeepsItsData) {
  PString name("BackingStore");
  int16_t mine = 0;
  ASSERT_EQ(HCreate(vRef, dirID, name.get(), 0, 0), noErr);
  ASSERT_EQ(HOpen(vRef, dirID, name.get(), fsRdWrPerm, &mine), noErr);
  long count = 4;
  ASSERT_EQ(FSWrite(mine, &count, "mine"), noErr);

  // Another run deletes the name (refused: the file is busy) and creates its own file.
  int child = InChild([&] {
    if (HDelete(vRef, dirID, name.get()) != fBsyErr) return 1;
    if (HCreate(vRef, dirID, name.get(), 0, 0) != noErr) return 2;
    int16_t ref = 0;
    if (HOpen(vRef, dirID, name.get(), fsRdWrPerm, &ref) != noErr) return 3;
    long n = 6;
    if (FSWrite(ref, &n, "theirs") != noErr) return 4;
    FSClose(ref);
    return 0;
  });
  EXPECT_EQ(child, 0);
  EXPECT_EQ(Contents("BackingStore"), "theirs");

  // This run's file is intact through its reference number.
  char buffer[8] = {};
  count = 4;
  ASSERT_EQ(SetFPos(mine, fsFromStart, 0), noErr);
  EXPECT_EQ(FSRead(mine, &count, buffer), noErr);
  EXPECT_STREQ(buffer, "mine");
  FSClose(mine);
  EXPECT_EQ(HDelete(vRef, dirID, name.get()), noErr);
  EXPECT_TRUE(PrefsFiles().empty());
}

TEST_F(SharedFolderTest, OpenAfterCreateGetsTheCreatedFileEvenWhenTheNameWasTaken) {
  PString name("TempImage");
  ASSERT_EQ(HCreate(vRef, dirID, name.get(), 0, 0), noErr);
  // Between this create and its open, another process deletes the name and makes its own.
  EXPECT_EQ(InChild([&] {
              if (HDelete(vRef, dirID, name.get()) != fBsyErr) return 1;
              ::unlink(PrefsPath("TempImage").c_str());  // as a program without these rules
              std::ofstream(PrefsPath("TempImage")) << "other";
              return 0;
            }),
            0);
  int16_t ref = 0;
  ASSERT_EQ(HOpen(vRef, dirID, name.get(), fsRdWrPerm, &ref), noErr);
  char byte = 0;
  long count = 1;
  EXPECT_EQ(FSRead(ref, &count, &byte), eofErr) << "the open found the other process's file";
  FSClose(ref);
  EXPECT_EQ(Contents("TempImage"), "other");
  HDelete(vRef, dirID, name.get());
}

TEST_F(SharedFolderTest, LeftoverFilesAreNotBusyAndGiveUpTheirName) {
  // A file nobody holds (left by a program that was killed) is deleted by HDelete from any
  // process, and a create in its place makes a new, empty file.
  PString name("SelectionImage");
  std::ofstream(PrefsPath("SelectionImage")) << "stale";
  EXPECT_EQ(InChild([&] { return HCreate(vRef, dirID, name.get(), 0, 0) == noErr ? 0 : 1; }), 0);
  EXPECT_EQ(Contents("SelectionImage"), "");
  std::ofstream(PrefsPath("SelectionImage")) << "stale";
  EXPECT_EQ(InChild([&] { return HDelete(vRef, dirID, name.get()) == noErr ? 0 : 1; }), 0);
  EXPECT_TRUE(PrefsFiles().empty());
}

// Descriptors this process has open.
int OpenDescriptors() {
  int n = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    (void)entry;
    ++n;
  }
  return n;
}

TEST_F(SharedFolderTest, CreatedFilesAreReleasedByOpenAndDelete) {
  PString name("AlphaImage");
  int before = OpenDescriptors();
  ASSERT_EQ(HCreate(vRef, dirID, name.get(), 0, 0), noErr);
  EXPECT_EQ(HDelete(vRef, dirID, name.get()), noErr);
  EXPECT_EQ(OpenDescriptors(), before) << "a created file that is deleted is let go";
  ASSERT_EQ(HCreate(vRef, dirID, name.get(), 0, 0), noErr);
  int16_t ref = 0;
  ASSERT_EQ(HOpen(vRef, dirID, name.get(), fsRdPerm, &ref), noErr);
  FSClose(ref);
  EXPECT_EQ(OpenDescriptors(), before) << "a read-only open lets the created file go";
  // Nothing of this process holds it now: another process opens it for writing at once.
  EXPECT_EQ(InChild([&] {
              int16_t other = 0;
              return HOpen(vRef, dirID, name.get(), fsRdWrPerm, &other) == noErr ? 0 : 1;
            }),
            0);
  HDelete(vRef, dirID, name.get());
}

TEST_F(SharedFolderTest, FullDiskRefusesNewSpaceOnly) {
  PString name("grow");
  ASSERT_EQ(HCreate(vRef, dirID, name.get(), 0, 0), noErr);
  int16_t ref = 0;
  ASSERT_EQ(HOpen(vRef, dirID, name.get(), fsRdWrPerm, &ref), noErr);
  long count = 8;
  ASSERT_EQ(FSWrite(ref, &count, "abcdefgh"), noErr);
  PlatformSetDiskFullAfter(2);
  long reserve = 3;
  EXPECT_EQ(AllocContig(ref, &reserve), dskFulErr) << "more than the disk has left";
  SetFPos(ref, fsFromStart, 4);
  count = 6;  // 4 bytes over the file's length, then 2 new ones
  EXPECT_EQ(FSWrite(ref, &count, "EFGHIJ"), noErr);
  count = 1;
  EXPECT_EQ(FSWrite(ref, &count, "K"), dskFulErr);
  EXPECT_EQ(count, 0);
  SetFPos(ref, fsFromStart, 0);
  count = 4;
  EXPECT_EQ(FSWrite(ref, &count, "ABCD"), noErr) << "rewriting never needs new space";

  // Space reserved ahead is the file's own.
  PlatformSetDiskFullAfter(5);
  reserve = 5;
  EXPECT_EQ(AllocContig(ref, &reserve), noErr);
  SetFPos(ref, fsFromLEOF, 0);
  count = 5;
  EXPECT_EQ(FSWrite(ref, &count, "LMNOP"), noErr);
  count = 1;
  EXPECT_EQ(FSWrite(ref, &count, "Q"), dskFulErr);
  PlatformSetDiskFullAfter(-1);
  FSClose(ref);
  EXPECT_EQ(Contents("grow"), "ABCDEFGHIJLMNOP");
  HDelete(vRef, dirID, name.get());
}

}  // namespace
