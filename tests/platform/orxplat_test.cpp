// The OS seam where no command shows its behaviour: whole-file reads and channels,
// temporary files, file facts through a link, directory listings, and
// libtq_cc's access and terminal checks.

#include <gtest/gtest.h>
#include <algorithm>
#include <cerrno>

#include "platform/orxplat.h"
#include "tests/support/tessary_fixture.h"
#include "tq_cc.h"

namespace {

mode_t ModeOf(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// A scratch directory, and what a whole-file read gives.
class OrxPlat : public ::testing::Test {
protected:
    orxtest::TempDir dir;
    std::string text, why;
};

// FIFOs: TessaryStore.AFifoIsReportedNotWaitedFor and the type maps of start-up read through here.
TEST_F(OrxPlat, ReadWholeFileRefusesDirectoriesMissingAndTooLarge)
{
    EXPECT_EQ(OrxPlat_ReadWholeFile(dir.path, 100, &text, &why), ORXPLAT_READ_NOT_REGULAR);
    EXPECT_EQ(why, "not a regular file");
    EXPECT_EQ(OrxPlat_ReadWholeFile(dir.path + "/none", 100, &text, &why), ORXPLAT_READ_MISSING);
    std::string five = dir.Write("five", "12345");
    EXPECT_EQ(OrxPlat_ReadWholeFile(five, 4, &text, &why), ORXPLAT_READ_TOO_LARGE);
    EXPECT_EQ(why, "file larger than 4 bytes");
    EXPECT_EQ(OrxPlat_ReadWholeFile(five, 5, &text, &why), ORXPLAT_READ_OK);
    EXPECT_EQ(text, "12345");
}

// Replacing a file: nobody else may read the new data before the close gives the old permissions
// (SafeWriteTest.TargetUnchangedUntilCloseAndAfterAbort sees them given).
TEST_F(OrxPlat, CreateTempFileOwnerOnlyWhileWritten)
{
    std::string base = dir.path + "/out";
    mode_t saved = ::umask(022);
    std::FILE *stream = nullptr;
    std::string temp;
    ASSERT_EQ(OrxPlat_CreateTempFile(base, ".tmp", true, &temp, &stream), 0);
    EXPECT_EQ(temp, base + ".tmp");
    EXPECT_EQ(ModeOf(temp), 0600u);
    EXPECT_EQ(OrxPlat_CloseDurably(stream, nullptr), 0);
    ::unlink(temp.c_str());
    // A new file gets what any new file gets.
    ASSERT_EQ(OrxPlat_CreateTempFile(base, ".tmp", false, &temp, &stream), 0);
    EXPECT_EQ(ModeOf(temp), 0644u);
    EXPECT_EQ(OrxPlat_CloseDurably(stream, nullptr), 0);
    ::umask(saved);
    // An error leaves nothing open.
    stream = nullptr;
    EXPECT_EQ(OrxPlat_CreateTempFile(dir.path + "/missing/out", ".tmp", false, &temp, &stream),
              ENOENT);
    EXPECT_EQ(stream, nullptr);
}

// The fault: a stale or live file at the name was removed and replaced, so two writers
// shared one name.  A taken name (a file, a dangling link) now gives a name of its own.
TEST_F(OrxPlat, CreateTempFileTakenNamesAreLeftAlone)
{
    std::string base = dir.path + "/out", live = dir.Write("out.tmp", "live"),
                victim = dir.path + "/victim";
    ASSERT_EQ(::symlink(victim.c_str(), (dir.path + "/link.tmp").c_str()), 0);
    std::FILE *a = nullptr, *b = nullptr, *c = nullptr;
    std::string pathA, pathB, pathC;
    ASSERT_EQ(OrxPlat_CreateTempFile(base, ".tmp", false, &pathA, &a), 0);
    ASSERT_EQ(OrxPlat_CreateTempFile(base, ".tmp", false, &pathB, &b), 0);
    ASSERT_EQ(OrxPlat_CreateTempFile(dir.path + "/link", ".tmp", false, &pathC, &c), 0);
    EXPECT_NE(pathA, pathB);
    EXPECT_EQ(pathA.size(), base.size() + 11); // ".xxxxxx.tmp"
    for (std::FILE *stream : {a, b, c}) {
        EXPECT_EQ(OrxPlat_CloseDurably(stream, nullptr), 0);
    }
    ASSERT_EQ(OrxPlat_ReadWholeFile(live, 100, &text, &why), ORXPLAT_READ_OK);
    EXPECT_EQ(text, "live");
    EXPECT_NE(::access(victim.c_str(), F_OK), 0);
}

// FIFOs: OsTest.KillPassesOverAPidFileThatIsAFifo and libindex-3 open through here.
TEST_F(OrxPlat, OpenChannelRefusesDirectoriesAndMissingFiles)
{
    Tcl_FindExecutable(nullptr);
    Tcl_Channel channel = nullptr;
    EXPECT_EQ(OrxPlat_OpenChannel(dir.path.c_str(), &channel), EISDIR);
    EXPECT_EQ(OrxPlat_OpenChannel((dir.path + "/none").c_str(), &channel), ENOENT);
    std::string file = dir.Write("file", "a\r\nb\n");
    ASSERT_EQ(OrxPlat_OpenChannel(file.c_str(), &channel), 0);
    Tcl_Obj *line = Tcl_NewObj();
    Tcl_IncrRefCount(line);
    EXPECT_EQ(Tcl_GetsObj(channel, line), 1); // Tcl's translation, blocking reads
    EXPECT_STREQ(Tcl_GetString(line), "a");
    Tcl_DecrRefCount(line);
    EXPECT_EQ(Tcl_Close(nullptr, channel), TCL_OK);
}

TEST_F(OrxPlat, StatLinkFollowedOrNot)
{
    std::string file = dir.Write("file", "abc"), link = dir.path + "/link";
    ASSERT_EQ(::symlink(file.c_str(), link.c_str()), 0);
    OrxPlat_FileInfo viaLink, direct, own;
    ASSERT_EQ(OrxPlat_Stat(link.c_str(), &viaLink), 0);
    ASSERT_EQ(OrxPlat_Stat(file.c_str(), &direct), 0);
    ASSERT_EQ(OrxPlat_LinkStat(link.c_str(), &own), 0);
    EXPECT_EQ(viaLink.type, ORXPLAT_FILE_REGULAR);
    EXPECT_EQ(own.type, ORXPLAT_FILE_LINK);
    EXPECT_EQ(viaLink.size, 3);
    EXPECT_EQ(std::make_pair(viaLink.volume, viaLink.node),
              std::make_pair(direct.volume, direct.node));
    EXPECT_NE(own.node, direct.node);
    EXPECT_EQ(OrxPlat_Stat((dir.path + "/none").c_str(), &own), ENOENT);
}

TEST_F(OrxPlat, ListDirectoryNamesWithoutDotsAndErrors)
{
    dir.Write("a", "");
    dir.Write(".hidden", "");
    std::vector<std::string> names;
    ASSERT_EQ(OrxPlat_ListDirectory(dir.path, &names), 0);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".hidden", "a"}));
    names.clear();
    EXPECT_EQ(OrxPlat_ListDirectory(dir.path + "/a", &names), ENOTDIR);
    EXPECT_TRUE(names.empty());
}

TEST_F(OrxPlat, TqCcAccessAndTerminalAsTheCRuntimeAnswers)
{
    std::string file = dir.Write("file", "");
    ::chmod(file.c_str(), 0600);
    EXPECT_EQ(tq_access(file.c_str(), TQ_R_OK | TQ_W_OK), 0);
    errno = 0;
    EXPECT_EQ(tq_access((dir.path + "/none").c_str(), TQ_F_OK), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(tq_access(nullptr, TQ_F_OK), -1);
    EXPECT_EQ(errno, EINVAL);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    EXPECT_EQ(tq_isatty(fds[0]), 0);
    ::close(fds[0]);
    ::close(fds[1]);
}
} // namespace
