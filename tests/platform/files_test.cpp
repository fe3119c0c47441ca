// The platform's files in the Preferences folder: reading, writing and positions, names, a full
// disk that refuses new space only, documents stored over each other's changes, and the rules
// of a folder that several processes share (a writer excludes others, a created file is the
// creator's even when another process takes the name, a leftover of a killed process gives up
// its name).
#include "platform/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
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
  static pid_t StartChild(const std::function<int()>& body, int keep = -1) {
    pid_t child = fork();
    if (child == 0) {
      for (int fd = 3; fd < 1024; ++fd)
        if (fd != keep) close(fd);
      _exit(body());
    }
    return child;
  }
  // The child's exit code: its body's result.
  static int InChild(const std::function<int()>& body, int keep = -1) {
    int status = 0;
    waitpid(StartChild(body, keep), &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
  }
  std::string Contents(const char* name) {
    std::ifstream in(PrefsPath(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  OSErr Create(const char* name) { return HCreate(vRef, dirID, PString(name).get(), 0, 0); }
  OSErr Delete(const char* name) { return HDelete(vRef, dirID, PString(name).get()); }
  OSErr Open(const char* name, int16_t* ref, int8_t permission = fsRdWrPerm) {
    return HOpen(vRef, dirID, PString(name).get(), permission, ref);
  }
  // Writes `text` at the mark; `*written` gets how much was written.
  static OSErr Write(int16_t ref, const std::string& text, long* written = nullptr) {
    long count = long(text.size());
    const OSErr err = FSWrite(ref, &count, text.data());
    if (written) *written = count;
    return err;
  }

  int16_t vRef = 0;
  long dirID = 0;
};

TEST_F(FilesTest, PreferencesFolderIsMadeOnFirstUseAndOnlyPlainNamesAreTaken) {
  int16_t v, ref = 0;
  long id;
  PlatformSetPreferencesFolder((prefs_ / "a" / "b").c_str());
  ASSERT_EQ(FindFolder(kOnSystemDisk, kPreferencesFolderType, kDontCreateFolder, &v, &id), noErr);
  EXPECT_TRUE(std::filesystem::is_directory(prefs_ / "a" / "b"));
  EXPECT_EQ(FindFolder(kOnSystemDisk, FourCC("desk"), kDontCreateFolder, &v, &id), fnfErr);
  for (const char* bad : {"", ".", "..", "a/b"}) EXPECT_EQ(Open(bad, &ref, fsRdPerm), bdNamErr);
  EXPECT_EQ(HOpenDF(vRef, dirID, PString("nothing").get(), fsRdWrPerm, &ref), fnfErr);
}

TEST_F(FilesTest, ReadsToTheEndAndAFullDiskRefusesNewSpaceOnly) {
  int16_t ref = 0;
  ASSERT_EQ(Create("grow"), noErr);
  ASSERT_EQ(Open("grow", &ref), noErr);
  ASSERT_EQ(Write(ref, "abcdefgh"), noErr);
  char buf[16] = {};
  long count = 16;
  EXPECT_EQ(SetFPos(ref, fsFromStart, 1), noErr);
  EXPECT_EQ(FSRead(ref, &count, buf), eofErr);  // only 7 bytes were left
  EXPECT_EQ(std::string(buf, size_t(count)), "bcdefgh");
  EXPECT_EQ(SetFPos(ref, fsFromStart, 99), eofErr);
  count = 1;  // the mark stops at the end of the file: nothing is left to read
  EXPECT_EQ(FSRead(ref, &count, buf), eofErr);
  EXPECT_EQ(count, 0);

  PlatformSetDiskFullAfter(2);
  long reserve = 3;
  EXPECT_EQ(AllocContig(ref, &reserve), dskFulErr) << "more than the disk has left";
  SetFPos(ref, fsFromStart, 4);
  EXPECT_EQ(Write(ref, "EFGHIJK", &count), dskFulErr);  // 4 bytes over the old ones, 2 new of 3
  EXPECT_EQ(count, 6);
  SetFPos(ref, fsFromStart, 0);
  EXPECT_EQ(Write(ref, "ABCD"), noErr) << "rewriting never needs new space";
  PlatformSetDiskFullAfter(5);  // space reserved ahead is the file's own
  reserve = 5;
  EXPECT_EQ(AllocContig(ref, &reserve), noErr);
  SetFPos(ref, fsFromLEOF, 0);
  EXPECT_EQ(Write(ref, "LMNOP"), noErr);
  EXPECT_EQ(Write(ref, "Q"), dskFulErr);
  PlatformSetDiskFullAfter(-1);
  EXPECT_EQ(FSClose(ref), noErr);
  EXPECT_EQ(Contents("grow"), "ABCDEFGHIJLMNOP");
  EXPECT_EQ(Delete("grow"), noErr);
  EXPECT_EQ(Delete("grow"), fnfErr);
}

TEST_F(FilesTest, DocumentsStoreTheirChangedValuesWholeAndKeepEveryOtherChange) {
  const float six = 6, three = 3, nine = 9;  // 6 and 3 differ in one byte, 6 and 9 in two
  {
    std::ofstream out(PrefsPath("doc"), std::ios::binary);
    out.write(reinterpret_cast<const char*>(&six), 4) << "tail";
  }
  int16_t early = 0, late = 0;
  ASSERT_EQ(HOpenDF(vRef, dirID, PString("doc").get(), fsRdWrPerm, &early), noErr);
  ASSERT_EQ(HOpenDF(vRef, dirID, PString("doc").get(), fsRdWrPerm, &late), noErr);
  long four = 4;
  FSWrite(early, &four, &three);
  FSWrite(late, &four, &nine);
  FSWrite(late, &four, "TAIL");
  EXPECT_EQ(FSClose(late), noErr);
  EXPECT_EQ(FSClose(early), noErr);
  float stored = 0;
  std::memcpy(&stored, Contents("doc").data(), 4);
  EXPECT_EQ(stored, three) << "a value made of both runs' bytes";
  EXPECT_EQ(Contents("doc").substr(4), "TAIL") << "the other run's change was lost";
}

TEST_F(FilesTest, AWriterExcludesOtherWritersAndAnotherProcessWaitsForIt) {
  int16_t first = 0, second = 0, reader = 0;
  ASSERT_EQ(Create("shared"), noErr);
  ASSERT_EQ(Open("shared", &first), noErr);
  EXPECT_EQ(Open("shared", &second), opWrErr);
  EXPECT_EQ(Open("shared", &reader, fsRdPerm), noErr);
  FSClose(reader);
  int pipefd[2];
  ASSERT_EQ(pipe(pipefd), 0);
  pid_t child = StartChild(
      [&] {
        const char c = Open("shared", &second) == noErr ? 'y' : 'n';
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
  waitpid(child, nullptr, 0);
  close(pipefd[0]);
  close(pipefd[1]);
}

TEST_F(FilesTest, ACreatedFileStaysItsCreatorsWhenAnotherProcessTakesTheName) {
  int16_t mine = 0, ref = 0;
  ASSERT_EQ(Create("BackingStore"), noErr);
  ASSERT_EQ(Open("BackingStore", &mine), noErr);
  ASSERT_EQ(Write(mine, "mine"), noErr);
  // Another run deletes the name (refused: the file is busy) and creates its own file.
  EXPECT_EQ(InChild([&] {
              if (Delete("BackingStore") != fBsyErr || Create("BackingStore") != noErr) return 1;
              return int(Open("BackingStore", &ref) || Write(ref, "theirs") || FSClose(ref));
            }),
            0);
  EXPECT_EQ(Contents("BackingStore"), "theirs");
  char buffer[8] = {};  // this run's file is intact through its reference number
  long count = 4;
  ASSERT_EQ(SetFPos(mine, fsFromStart, 0), noErr);
  EXPECT_EQ(FSRead(mine, &count, buffer), noErr);
  EXPECT_STREQ(buffer, "mine");
  FSClose(mine);
  EXPECT_EQ(Delete("BackingStore"), noErr);
  EXPECT_TRUE(PrefsFiles().empty());

  // Between a create and its open another process deletes the name and makes its own file, as
  // a program without these rules would: the create locked its file before it had a name.
  ASSERT_EQ(Create("TempImage"), noErr);
  EXPECT_EQ(InChild([&] {
              if (Delete("TempImage") != fBsyErr) return 1;
              ::unlink(PrefsPath("TempImage").c_str());
              std::ofstream(PrefsPath("TempImage")) << "other";
              return 0;
            }),
            0);
  ASSERT_EQ(Open("TempImage", &ref), noErr);
  count = 1;
  EXPECT_EQ(FSRead(ref, &count, buffer), eofErr) << "the open found the other process's file";
  FSClose(ref);
  EXPECT_EQ(Contents("TempImage"), "other");
}

TEST_F(FilesTest, LeftoversGiveUpTheirNameAndCreatedFilesAreLetGo) {
  // A file nobody holds (left by a program that was killed) is deleted by any process, and a
  // create in its place makes a new, empty file.
  std::ofstream(PrefsPath("SelectionImage")) << "stale";
  EXPECT_EQ(InChild([&] { return Create("SelectionImage"); }), 0);
  EXPECT_EQ(Contents("SelectionImage"), "");
  std::ofstream(PrefsPath("SelectionImage")) << "stale";
  EXPECT_EQ(InChild([&] { return Delete("SelectionImage"); }), 0);
  EXPECT_TRUE(PrefsFiles().empty());

  // A created file is released by its delete, or by a read-only open and its close: another
  // process then opens it for writing at once.
  auto descriptors = [] {
    auto entries = std::filesystem::directory_iterator("/proc/self/fd");
    return std::distance(begin(entries), end(entries));
  };
  const auto before = descriptors();
  int16_t ref = 0;
  ASSERT_EQ(Create("AlphaImage"), noErr);
  EXPECT_EQ(Delete("AlphaImage"), noErr);
  EXPECT_EQ(descriptors(), before);
  ASSERT_EQ(Create("AlphaImage"), noErr);
  ASSERT_EQ(Open("AlphaImage", &ref, fsRdPerm), noErr);
  FSClose(ref);
  EXPECT_EQ(descriptors(), before);
  EXPECT_EQ(InChild([&] { return Open("AlphaImage", &ref); }), 0);
  Delete("AlphaImage");
}

}  // namespace
