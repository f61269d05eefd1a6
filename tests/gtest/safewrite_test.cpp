// Safe file writing: the target is untouched until the close, holds exactly the new bytes after it,
// survives an abort, a process killed at any moment and a full file system; Orx_Fopen's name rules
// and messages.

#include <signal.h>
#include <sys/resource.h>
#include <random>
#include <sstream>

#include "orx_safewrite.h"
#include "tests/support/child_run.h"
#include "tests/support/interp_fixture.h"
#include "tests/support/tessary_fixture.h"

namespace {

std::string Read(const std::string &path)
{
    std::stringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

bool Exists(const std::string &path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

class SafeWriteTest : public orxtest::InterpTest {
protected:
    void SetUp() override
    {
        Tcl_FindExecutable(nullptr);
        InterpTest::SetUp();
        target_ = dir_.Write("out.txt", "old content\n");
    }
    // Writes text through a handle in chunks, flushing each, and closes it.
    static int WriteAll(Tcl_Interp *interp, const std::string &target, const std::string &text)
    {
        Orx_RobustFile *handle = Orx_RobustFopenForWrite(interp, target.c_str());
        if (handle == nullptr) {
            return -1;
        }
        for (size_t at = 0; at < text.size(); at += 4096) {
            std::fwrite(text.data() + at, 1, std::min<size_t>(4096, text.size() - at),
                        Orx_GetFilePtr(handle));
            std::fflush(Orx_GetFilePtr(handle));
        }
        return Orx_RobustFcloseForWrite(interp, handle);
    }
    orxtest::TempDir dir_;
    std::string target_;
};

TEST_F(SafeWriteTest, TargetUnchangedUntilCloseAndAfterAbort)
{
    ::chmod(target_.c_str(), 0640);
    Orx_RobustFile *handle = Orx_RobustFopenForWrite(interp_, target_.c_str());
    ASSERT_NE(handle, nullptr) << Result();
    std::fputs("new", Orx_GetFilePtr(handle));
    std::fflush(Orx_GetFilePtr(handle));
    EXPECT_EQ(Read(target_), "old content\n");
    EXPECT_EQ(Read(target_ + ".tq_tmp"), "new");
    EXPECT_EQ(Orx_RobustFcloseForWrite(interp_, handle), TCL_OK) << Result();
    EXPECT_EQ(Read(target_), "new");
    EXPECT_FALSE(Exists(target_ + ".tq_tmp"));
    struct stat st;
    ASSERT_EQ(::stat(target_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u); // the old file's permissions
    handle = Orx_RobustFopenForWrite(interp_, target_.c_str());
    ASSERT_NE(handle, nullptr);
    std::fputs("discarded", Orx_GetFilePtr(handle));
    Orx_RobustFabortForWrite(handle);
    EXPECT_EQ(Read(target_), "new");
    EXPECT_FALSE(Exists(target_ + ".tq_tmp"));
    // A new file in a fresh directory; null handles are harmless.
    ::mkdir((dir_.path + "/data").c_str(), 0755);
    EXPECT_EQ(WriteAll(interp_, dir_.path + "/data/out.txt", std::string(10000, 'x')), TCL_OK);
    EXPECT_EQ(Read(dir_.path + "/data/out.txt"), std::string(10000, 'x'));
    EXPECT_EQ(Orx_GetFilePtr(nullptr), nullptr);
    EXPECT_EQ(Orx_RobustFcloseForWrite(interp_, nullptr), TCL_OK);
    Orx_RobustFabortForWrite(nullptr);
}

// The fault: opening the second handle removed the first one's live temporary file, so
// the first close put the second's (empty) data in place and the second close failed.
TEST_F(SafeWriteTest, TwoHandlesOnOneTargetEachKeepTheirData)
{
    Orx_RobustFile *first = Orx_RobustFopenForWrite(interp_, target_.c_str());
    ASSERT_NE(first, nullptr) << Result();
    Orx_RobustFile *second = Orx_RobustFopenForWrite(interp_, target_.c_str());
    ASSERT_NE(second, nullptr) << Result();
    std::fputs("first", Orx_GetFilePtr(first));
    std::fputs("second", Orx_GetFilePtr(second));
    EXPECT_EQ(Orx_RobustFcloseForWrite(interp_, first), TCL_OK) << Result();
    EXPECT_EQ(Read(target_), "first");
    EXPECT_EQ(Orx_RobustFcloseForWrite(interp_, second), TCL_OK) << Result();
    EXPECT_EQ(Read(target_), "second");
    EXPECT_EQ(Result(), "");
}

TEST_F(SafeWriteTest, RefusedTargets)
{
    // The fault: the message was appended to whatever result the caller had before.
    for (const char *none : {"", static_cast<const char *>(nullptr)}) {
        Tcl_SetObjResult(interp_, Tcl_NewStringObj("earlier result", -1));
        EXPECT_EQ(Orx_RobustFopenForWrite(interp_, none), nullptr);
        EXPECT_EQ(Result(), "No file name is given for writing.");
    }
    for (std::string bad : {dir_.path, dir_.path + "/missing/out.txt"}) {
        EXPECT_EQ(Orx_RobustFopenForWrite(interp_, bad.c_str()), nullptr);
        EXPECT_EQ(Result(), "The file \"" + bad + "\" is not modifiable for writing.");
    }
    // A symbolic link planted at the temporary name is not followed.
    std::string victim = dir_.Write("victim", "keep");
    ASSERT_EQ(::symlink(victim.c_str(), (target_ + ".tq_tmp").c_str()), 0);
    EXPECT_EQ(WriteAll(interp_, target_, "new"), TCL_OK) << Result();
    EXPECT_EQ(Read(victim), "keep");
    EXPECT_EQ(Read(target_), "new");
}

TEST_F(SafeWriteTest, UnwritableDirectoryAndFile)
{
    std::string ro = dir_.path + "/ro", locked = dir_.Write("locked", "x");
    ::mkdir(ro.c_str(), 0555);
    ::chmod(locked.c_str(), 0444);
    ::chmod(dir_.path.c_str(), 0777);
    orxtest::ChildRun run = orxtest::RunChild([&](Tcl_Interp *) {
        _exit(orxtest::BecomeNobody() && !Orx_RobustFopenForWrite(nullptr, (ro + "/x").c_str()) &&
                      !Orx_RobustFopenForWrite(nullptr, locked.c_str())
                  ? 0
                  : 1);
    });
    EXPECT_EQ(run.status, 0);
}

TEST_F(SafeWriteTest, FullFileSystemLeavesTargetUnchanged)
{
    // A lower soft limit on file size for a moment; without an interpreter no message.
    struct rlimit saved;
    getrlimit(RLIMIT_FSIZE, &saved);
    struct rlimit limit = saved;
    limit.rlim_cur = 65536;
    auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    for (Tcl_Interp *interp : {static_cast<Tcl_Interp *>(nullptr), interp_}) {
        setrlimit(RLIMIT_FSIZE, &limit);
        int code = WriteAll(interp, target_, std::string(300000, 'n'));
        setrlimit(RLIMIT_FSIZE, &saved);
        EXPECT_EQ(code, TCL_ERROR);
        EXPECT_EQ(Read(target_), "old content\n");
        EXPECT_FALSE(Exists(target_ + ".tq_tmp"));
    }
    signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(Result(), "error writing \"" + target_ + ".tq_tmp\": file too large; the file \"" +
                            target_ + "\" is unchanged.");
}

TEST_F(SafeWriteTest, RenameFailureKeepsTheTemporaryFile)
{
    Orx_RobustFile *handle = Orx_RobustFopenForWrite(interp_, target_.c_str());
    ASSERT_NE(handle, nullptr);
    std::fputs("saved", Orx_GetFilePtr(handle));
    // The target turns into a directory that is not empty: no rename over it.
    ::unlink(target_.c_str());
    ::mkdir(target_.c_str(), 0755);
    dir_.Write("out.txt/inside", "x");
    EXPECT_EQ(Orx_RobustFcloseForWrite(interp_, handle), TCL_ERROR);
    std::string temp = target_ + ".tq_tmp";
    EXPECT_EQ(Result(), "Could not rename the temporary file \"" + temp + "\" to the file \"" +
                            target_ + "\".\nData saved into the temporary file \"" + temp +
                            "\" and the file \"" + target_ + "\" may demolished.");
    EXPECT_EQ(Read(temp), "saved");
}

TEST_F(SafeWriteTest, KilledWriterLeavesOldOrNewNeverAMix)
{
    // On tmpfs when there is one: the syncs cost nothing there; what a kill leaves is the same.
    char tmpl[] = "/dev/shm/orx_sw.XXXXXX";
    std::string shm = ::mkdtemp(tmpl) != nullptr ? tmpl : "";
    if (!shm.empty()) {
        target_ = shm + "/out.txt";
    }
    struct Cleanup {
        std::string dir;
        ~Cleanup() { std::system(("rm -rf '" + dir + "'").c_str()); }
    } cleanup{shm}; // rm -rf '' does nothing
    const std::string oldText(60000, 'o'), newText(90000, 'n');
    std::mt19937 random(4711);
    auto run = [&](long delayUs) {
        std::ofstream(target_, std::ios::binary | std::ios::trunc) << oldText;
        auto start = std::chrono::steady_clock::now();
        pid_t pid = fork();
        if (pid == 0) {
            _exit(WriteAll(nullptr, target_, newText) == TCL_OK ? 0 : 1);
        }
        if (delayUs >= 0) {
            usleep(static_cast<useconds_t>(delayUs));
            kill(pid, SIGKILL);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        auto took = std::chrono::steady_clock::now() - start;
        return std::chrono::duration_cast<std::chrono::microseconds>(took).count();
    };
    long full = run(-1); // one whole write sets the range of kill moments
    ASSERT_EQ(Read(target_), newText);
    int sawOld = 0, sawNew = 0;
    for (int i = 0; i < 120; ++i) {
        long delay = std::uniform_int_distribution<long>(0, full + full / 4)(random);
        run(delay);
        std::string now = Read(target_);
        ASSERT_TRUE(now == oldText || now == newText)
            << "kill after " << delay << " us left " << now.size() << " bytes";
        (now == oldText ? sawOld : sawNew)++;
    }
    EXPECT_EQ(sawOld + sawNew, 120);
    RecordProperty("killed_old", sawOld);
    RecordProperty("killed_new", sawNew);
}

TEST_F(SafeWriteTest, FopenNamesAndMessages)
{
    const char *opened = nullptr;
    dir_.Write("report.txt", "t");
    dir_.Write("report.dat", "d");
    std::string base = dir_.path + "/report";
    for (std::string name :
         {base, base + ".dat"}) { // the default extension only when there is none
        FILE *f = Orx_Fopen(interp_, name.c_str(), nullptr, "r", ".txt", &opened, 1);
        ASSERT_NE(f, nullptr) << Result();
        EXPECT_EQ(std::string(opened), name == base ? base + ".txt" : name);
        std::fclose(f);
    }
    std::string missing = dir_.path + "/nope.txt";
    EXPECT_EQ(Orx_Fopen(interp_, missing.c_str(), nullptr, "r", nullptr, &opened, 1), nullptr);
    EXPECT_EQ(Result(), "couldn't open file \"" + missing +
                            "\" with access mode \"r\":no such file or directory");
    EXPECT_EQ(ErrorCode(), "POSIX ENOENT {no such file or directory}");
    std::string longName = dir_.path + "/" + std::string(1100, 'a') + ".txt";
    EXPECT_EQ(Orx_Fopen(interp_, longName.c_str(), nullptr, "w", nullptr, &opened, 1), nullptr);
    EXPECT_EQ(Result(),
              "couldn't open file \"" + longName + "\" with access mode \"w\":file name too long");
    // Searched along a path variable: the directory is found.
    orxtest::EnvGuard env("ORX_SW_TEST_PATH");
    setenv("ORX_SW_TEST_PATH", dir_.path.c_str(), 1);
    FILE *f = Orx_Fopen(interp_, "report", "ORX_SW_TEST_PATH", "r", ".dat", &opened, 0);
    ASSERT_NE(f, nullptr) << Result();
    EXPECT_EQ(Read(opened), "d");
    std::fclose(f);
}
} // namespace
