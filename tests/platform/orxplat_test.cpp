// The OS seam where no command shows its behaviour: whole-file reading that
// must not wait on a FIFO, the temporary file's permissions while it is
// written, file facts through a link, directory listings, and libtq_cc's
// access and terminal checks.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "platform/orxplat.h"
#include "tests/support/tessary_fixture.h"
#include "tq_cc.h"

namespace {

mode_t ModeOf(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST(OrxPlatReadWholeFile, RefusesWhatIsNotARegularFileWithoutWaiting)
{
    orxtest::TempDir dir;
    std::string fifo = dir.path + "/fifo";
    orxtest::FifoWatch watch({fifo});
    ASSERT_TRUE(watch.Made());
    std::string text, why;
    EXPECT_EQ(OrxPlat_ReadWholeFile(fifo, 100, &text, &why), ORXPLAT_READ_NOT_REGULAR);
    EXPECT_TRUE(watch.Finish()) << "waited for a writer";
    EXPECT_EQ(why, "not a regular file");
    EXPECT_EQ(OrxPlat_ReadWholeFile(dir.path, 100, &text, &why), ORXPLAT_READ_NOT_REGULAR);
}

TEST(OrxPlatReadWholeFile, MissingAndTooLarge)
{
    orxtest::TempDir dir;
    std::string text, why;
    EXPECT_EQ(OrxPlat_ReadWholeFile(dir.path + "/none", 100, &text, &why), ORXPLAT_READ_MISSING);
    std::string five = dir.Write("five", "12345");
    EXPECT_EQ(OrxPlat_ReadWholeFile(five, 4, &text, &why), ORXPLAT_READ_TOO_LARGE);
    EXPECT_EQ(why, "file larger than 4 bytes");
    EXPECT_EQ(OrxPlat_ReadWholeFile(five, 5, &text, &why), ORXPLAT_READ_OK);
    EXPECT_EQ(text, "12345");
}

// Replacing an existing file: nobody else may read the new data before the
// close gives the file the old one's permissions.
TEST(OrxPlatCreateTempFile, OwnerOnlyWhileWritten)
{
    orxtest::TempDir dir;
    std::string temp = dir.path + "/out.tmp";
    mode_t saved = ::umask(022);
    std::FILE *stream = nullptr;
    ASSERT_EQ(OrxPlat_CreateTempFile(temp.c_str(), true, &stream), 0);
    EXPECT_EQ(ModeOf(temp), 0600u);
    std::fputs("data", stream);
    std::string model = dir.Write("model", "");
    ::chmod(model.c_str(), 0644);
    EXPECT_EQ(OrxPlat_CloseDurably(stream, model.c_str()), 0);
    EXPECT_EQ(ModeOf(temp), 0644u);

    // A new file gets what any new file gets.
    ASSERT_EQ(OrxPlat_CreateTempFile(temp.c_str(), false, &stream), 0);
    EXPECT_EQ(ModeOf(temp), 0644u);
    EXPECT_EQ(OrxPlat_CloseDurably(stream, nullptr), 0);
    ::umask(saved);
}

TEST(OrxPlatCreateTempFile, ErrorLeavesNothing)
{
    orxtest::TempDir dir;
    std::string temp = dir.path + "/missing/out.tmp";
    std::FILE *stream = nullptr;
    EXPECT_EQ(OrxPlat_CreateTempFile(temp.c_str(), false, &stream), ENOENT);
    EXPECT_EQ(stream, nullptr);
}

TEST(OrxPlatStat, LinkFollowedOrNot)
{
    orxtest::TempDir dir;
    std::string file = dir.Write("file", "abc");
    std::string link = dir.path + "/link";
    ASSERT_EQ(::symlink(file.c_str(), link.c_str()), 0);
    OrxPlat_FileInfo viaLink, direct, own;
    ASSERT_EQ(OrxPlat_Stat(link.c_str(), &viaLink), 0);
    ASSERT_EQ(OrxPlat_Stat(file.c_str(), &direct), 0);
    ASSERT_EQ(OrxPlat_LinkStat(link.c_str(), &own), 0);
    EXPECT_EQ(viaLink.type, ORXPLAT_FILE_REGULAR);
    EXPECT_EQ(viaLink.size, 3);
    EXPECT_EQ(viaLink.volume, direct.volume);
    EXPECT_EQ(viaLink.node, direct.node);
    EXPECT_EQ(own.type, ORXPLAT_FILE_LINK);
    EXPECT_NE(own.node, direct.node);
    EXPECT_EQ(OrxPlat_Stat((dir.path + "/none").c_str(), &own), ENOENT);
}

TEST(OrxPlatListDirectory, NamesWithoutDotsAndErrors)
{
    orxtest::TempDir dir;
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

TEST(TqCc, AccessAndTerminalAsTheCRuntimeAnswers)
{
    orxtest::TempDir dir;
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
