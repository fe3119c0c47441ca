// The platform's files in the Preferences folder: reading, writing and positions, names, a full
// disk that refuses new space only, and the rules of a folder that several processes share (a
// writer excludes others, a created file is the creator's even when another process takes the
// name, a leftover of a killed process gives up its name).
#include "platform/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>

#include "support/platform_fixture.h"

namespace {

class FilesTest : public PlatformFixture {
 protected:
  void SetUp() override {
    PlatformFixture::SetUp();
    ASSERT_EQ(FindFolder(kOnSystemDisk, kPreferencesFolderType, kDontCreateFolder, &vRef, &dirID),
              noErr);
  }
  // Runs `body` in a child process that, like a separate program, shares none of this one's
  // open files (nor their locks), without waiting for it; returns its id.
  pid_t StartChild(const std::function<int()>& body, int keep = -1) {
    pid_t child = fork();
    if (child == 0) {
      for (int fd = 3; fd < 1024; ++fd)
        if (fd != keep) close(fd);
      _exit(body());
    }
    return child;
  }
  // The child's exit code (its body's result).
  int InChild(const std::function<int()>& body) { return Wait(StartChild(body)); }
  static int Wait(pid_t child) {
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
  }
  std::string Contents(const char* name) {
    std::ifstream in(PrefsPath(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  int16_t Open(const PString& name, int8_t permission = fsRdWrPerm) {
    int16_t ref = 0;
    EXPECT_EQ(HOpen(vRef, dirID, name.get(), permission, &ref), noErr);
    return ref;
  }

  int16_t vRef = 0;
  long dirID = 0;
};

TEST_F(FilesTest, PreferencesFolderIsMadeOnFirstUseAndOnlyPlainNamesAreTaken) {
  auto nested = prefs_ / "a" / "b";
  PlatformSetPreferencesFolder(nested.c_str());
  int16_t v;
  long id;
  ASSERT_EQ(FindFolder(kOnSystemDisk, kPreferencesFolderType, kDontCreateFolder, &v, &id), noErr);
  EXPECT_TRUE(std::filesystem::is_directory(nested));
  EXPECT_EQ(FindFolder(kOnSystemDisk, FourCC("desk"), kDontCreateFolder, &v, &id), fnfErr);
  int16_t ref = 0;
  for (const char* bad : {"", ".", "..", "a/b"})
    EXPECT_EQ(HOpen(vRef, dirID, PString(bad).get(), fsRdPerm, &ref), bdNamErr) << bad;
  EXPECT_EQ(HOpenDF(vRef, dirID, PString("nothing").get(), fsRdWrPerm, &ref), fnfErr);
  PlatformRefuseOpens(true);
  EXPECT_EQ(HCreate(vRef, dirID, PString("nothing").get(), 0, 0), permErr);
}

TEST_F(FilesTest, ReadsWritesAndStopsTheMarkAtTheEnd) {
  PString name("data");
  ASSERT_EQ(HCreate(vRef, dirID, name.get(), FourCC("CREA"), FourCC("TYPE")), noErr);
  int16_t ref = Open(name);
  long count = 5;
  EXPECT_EQ(FSWrite(ref, &count, "hello"), noErr);
  EXPECT_EQ(SetFPos(ref, fsFromStart, 1), noErr);
  char buf[8] = {};
  count = 8;
  EXPECT_EQ(FSRead(ref, &count, buf), eofErr);  // only 4 bytes were left
  EXPECT_EQ(count, 4);
  EXPECT_STREQ(buf, "ello");
  EXPECT_EQ(SetFPos(ref, fsFromStart, 99), eofErr);
  count = 1;  // the mark stops at the end of the file: nothing is left to read
  EXPECT_EQ(FSRead(ref, &count, buf), eofErr);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(FSClose(ref), noErr);
  EXPECT_EQ(HDelete(vRef, dirID, name.get()), noErr);
  EXPECT_EQ(HDelete(vRef, dirID, name.get()), fnfErr);
}

TEST_F(FilesTest, FullDiskRefusesNewSpaceOnlyAndWritesWhatFits) {
  PString name("grow");
  ASSERT_EQ(HCreate(vRef, dirID, name.get(), 0, 0), noErr);
  int16_t ref = Open(name);
  long count = 8;
  ASSERT_EQ(FSWrite(ref, &count, "abcdefgh"), noErr);
  PlatformSetDiskFullAfter(2);
  long reserve = 3;
  EXPECT_EQ(AllocContig(ref, &reserve), dskFulErr) << "more than the disk has left";
  SetFPos(ref, fsFromStart, 4);
  count = 7;  // 4 bytes over the file's length, then 2 new ones of 3
  EXPECT_EQ(FSWrite(ref, &count, "EFGHIJK"), dskFulErr);
  EXPECT_EQ(count, 6);
  SetFPos(ref, fsFromStart, 0);
  count = 4;
  EXPECT_EQ(FSWrite(ref, &count, "ABCD"), noErr) << "rewriting never needs new space";
  PlatformSetDiskFullAfter(5);  // space reserved ahead is the file's own
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

TEST_F(FilesTest, AWriterExcludesOtherWritersAndAnotherProcessWaitsForIt) {
  PString name("shared");
  ASSERT_EQ(HCreate(vRef, dirID, name.get(), 0, 0), noErr);
  int16_t first = Open(name), second = 0;
  EXPECT_EQ(HOpen(vRef, dirID, name.get(), fsRdWrPerm, &second), opWrErr);
  FSClose(Open(name, fsRdPerm));
  int pipefd[2];
  ASSERT_EQ(pipe(pipefd), 0);
  pid_t child = StartChild(
      [&] {
        int16_t ref = 0;
        const char c = HOpen(vRef, dirID, name.get(), fsRdWrPerm, &ref) == noErr ? 'y' : 'n';
        return write(pipefd[1], &c, 1) == 1 ? 0 : 2;
      },
      pipefd[1]);
  usleep(200 * 1000);
  char got = 0;
  fcntl(pipefd[0], F_SETFL, O_NONBLOCK);
  EXPECT_EQ(read(pipefd[0], &got, 1), -1) << "the other process did not wait";
  FSClose(first);
  fcntl(pipefd[0], F_SETFL, 0);
  ASSERT_EQ(read(pipefd[0], &got, 1), 1);
  EXPECT_EQ(got, 'y');
  EXPECT_EQ(Wait(child), 0);
  close(pipefd[0]);
  close(pipefd[1]);
}

TEST_F(FilesTest, CreateOverAnotherProcesssOpenFileTakesTheNameAndKeepsItsData) {
  PString name("BackingStore");
  ASSERT_EQ(HCreate(vRef, dirID, name.get(), 0, 0), noErr);
  int16_t mine = Open(name);
  long count = 4;
  ASSERT_EQ(FSWrite(mine, &count, "mine"), noErr);
  // Another run deletes the name (refused: the file is busy) and creates its own file.
  EXPECT_EQ(InChild([&] {
              if (HDelete(vRef, dirID, name.get()) != fBsyErr) return 1;
              if (HCreate(vRef, dirID, name.get(), 0, 0) != noErr) return 2;
              int16_t ref = 0;
              long n = 6;
              if (HOpen(vRef, dirID, name.get(), fsRdWrPerm, &ref) != noErr) return 3;
              return FSWrite(ref, &n, "theirs") == noErr && FSClose(ref) == noErr ? 0 : 4;
            }),
            0);
  EXPECT_EQ(Contents("BackingStore"), "theirs");
  char buffer[8] = {};  // this run's file is intact through its reference number
  ASSERT_EQ(SetFPos(mine, fsFromStart, 0), noErr);
  EXPECT_EQ(FSRead(mine, &count, buffer), noErr);
  EXPECT_STREQ(buffer, "mine");
  FSClose(mine);
  EXPECT_EQ(HDelete(vRef, dirID, name.get()), noErr);
  EXPECT_TRUE(PrefsFiles().empty());
}

TEST_F(FilesTest, OpenAfterCreateGetsTheCreatedFileEvenWhenTheNameWasTaken) {
  // The create locks its file before the file has a name.
  PString name("TempImage");
  ASSERT_EQ(HCreate(vRef, dirID, name.get(), 0, 0), noErr);
  EXPECT_EQ(InChild([&] {
              if (HDelete(vRef, dirID, name.get()) != fBsyErr) return 1;
              ::unlink(PrefsPath("TempImage").c_str());  // as a program without these rules
              std::ofstream(PrefsPath("TempImage")) << "other";
              return 0;
            }),
            0);
  int16_t ref = Open(name);
  char byte = 0;
  long count = 1;
  EXPECT_EQ(FSRead(ref, &count, &byte), eofErr) << "the open found the other process's file";
  FSClose(ref);
  EXPECT_EQ(Contents("TempImage"), "other");
  HDelete(vRef, dirID, name.get());
}

TEST_F(FilesTest, LeftoversGiveUpTheirNameAndCreatedFilesAreLetGo) {
  // A file nobody holds (left by a program that was killed) is deleted by any process, and a
  // create in its place makes a new, empty file.
  PString name("SelectionImage");
  std::ofstream(PrefsPath("SelectionImage")) << "stale";
  EXPECT_EQ(InChild([&] { return HCreate(vRef, dirID, name.get(), 0, 0) == noErr ? 0 : 1; }), 0);
  EXPECT_EQ(Contents("SelectionImage"), "");
  std::ofstream(PrefsPath("SelectionImage")) << "stale";
  EXPECT_EQ(InChild([&] { return HDelete(vRef, dirID, name.get()) == noErr ? 0 : 1; }), 0);
  EXPECT_TRUE(PrefsFiles().empty());

  // A created file is released by its delete, or by a read-only open and its close: another
  // process then opens it for writing at once.
  auto descriptors = [] {
    auto entries = std::filesystem::directory_iterator("/proc/self/fd");
    return std::distance(begin(entries), end(entries));
  };
  const auto before = descriptors();
  ASSERT_EQ(HCreate(vRef, dirID, name.get(), 0, 0), noErr);
  EXPECT_EQ(HDelete(vRef, dirID, name.get()), noErr);
  EXPECT_EQ(descriptors(), before);
  ASSERT_EQ(HCreate(vRef, dirID, name.get(), 0, 0), noErr);
  FSClose(Open(name, fsRdPerm));
  EXPECT_EQ(descriptors(), before);
  EXPECT_EQ(InChild([&] {
              int16_t other = 0;
              return HOpen(vRef, dirID, name.get(), fsRdWrPerm, &other) == noErr ? 0 : 1;
            }),
            0);
  HDelete(vRef, dirID, name.get());
}

}  // namespace
