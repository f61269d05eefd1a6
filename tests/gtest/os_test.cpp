// The OS layer: clocks, directory walking, channel file sizes, the flock
// probe, and kill through the pid file (under a temporary HOME, so the real
// ~/ruvadiredavoz/pid_tq is never touched).
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <tcl.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "orx_os.h"

extern "C" int OrxX_StartSignalThread(Tcl_Interp *interp, const char *pidPath)
    __attribute__((weak));

namespace {

namespace fs = std::filesystem;

class OsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Tcl_FindExecutable(nullptr); }

    void SetUp() override
    {
        interp_ = Tcl_CreateInterp();
        char pattern[] = "/tmp/orx_os_testXXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }

    void TearDown() override
    {
        Tcl_DeleteInterp(interp_);
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    std::string Result() const { return Tcl_GetStringResult(interp_); }

    Tcl_Interp *interp_ = nullptr;
    std::string dir_;
};

// --- elapsed time ----------------------------------------------------------

TEST_F(OsTest, ElapsedTimeIsMonotonicMillisecondsAndCpuTimeAdvances)
{
    long real1 = -1, cpu1 = -1, real2 = -1, cpu2 = -1;
    OrxXOSElapsedTime(&real1, &cpu1);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    OrxXOSElapsedTime(&real2, nullptr);
    EXPECT_GE(real1, 0);
    EXPECT_GE(real2 - real1, 29);
    EXPECT_LT(real2 - real1, 10000);

    // Spin until the process has used measurable CPU time.
    auto start = std::chrono::steady_clock::now();
    volatile unsigned long sink = 0;
    do {
        for (int i = 0; i < 1000000; i++) {
            sink = sink + i;
        }
        OrxXOSElapsedTime(nullptr, &cpu2);
    } while (cpu2 - cpu1 < 20 && std::chrono::steady_clock::now() - start < std::chrono::seconds(5));
    EXPECT_GE(cpu1, 0);
    EXPECT_GE(cpu2 - cpu1, 20);
}

// --- directory walk --------------------------------------------------------

struct Walk {
    std::vector<std::string> names;
    std::set<std::string> paths;
    std::set<int> caseFlags;
    int stopAfter = -1;
    int stopStatus = TCL_BREAK;
    int otherStatus = TCL_OK;
};

int Collect(Tcl_Interp *, const char *path, const char *fileName, int caseSensitive,
            ClientData clientData)
{
    Walk *walk = static_cast<Walk *>(clientData);
    walk->names.push_back(fileName);
    walk->paths.insert(path);
    walk->caseFlags.insert(caseSensitive);
    if (walk->stopAfter >= 0 && static_cast<int>(walk->names.size()) > walk->stopAfter) {
        return walk->stopStatus;
    }
    return walk->otherStatus;
}

std::set<std::string> Sorted(const std::vector<std::string> &names)
{
    return std::set<std::string>(names.begin(), names.end());
}

TEST_F(OsTest, WalkDirSkipsDotEntriesAndHiddenNamesUnlessAsked)
{
    for (const char *name : {"b", "A", ".hidden", "a b"}) {
        std::ofstream(dir_ + "/" + name) << "x";
    }
    fs::create_directory(dir_ + "/sub");
    fs::create_directory(dir_ + "/.cache");

    Walk plain;
    ASSERT_EQ(OrxXOSWalkDir(interp_, dir_.c_str(), 0, Collect, &plain), TCL_OK);
    EXPECT_EQ(Sorted(plain.names), (std::set<std::string>{"A", "a b", "b", "sub"}));
    EXPECT_EQ(plain.names.size(), 4u);
    EXPECT_EQ(plain.paths, std::set<std::string>{dir_});
    EXPECT_EQ(plain.caseFlags, std::set<int>{1});

    Walk all;
    all.otherStatus = TCL_CONTINUE;
    ASSERT_EQ(OrxXOSWalkDir(interp_, (dir_ + "/").c_str(), 1, Collect, &all), TCL_CONTINUE);
    EXPECT_EQ(Sorted(all.names),
              (std::set<std::string>{".cache", ".hidden", "A", "a b", "b", "sub"}));
    EXPECT_EQ(all.paths, std::set<std::string>{dir_ + "/"});
}

TEST_F(OsTest, WalkDirStopsOnCallbackStatusAndReturnsIt)
{
    for (const char *name : {"one", "two", "three"}) {
        std::ofstream(dir_ + "/" + name) << "x";
    }
    for (int status : {TCL_BREAK, TCL_ERROR, TCL_RETURN}) {
        Walk walk;
        walk.stopAfter = 1;
        walk.stopStatus = status;
        EXPECT_EQ(OrxXOSWalkDir(interp_, dir_.c_str(), 0, Collect, &walk), status);
        EXPECT_EQ(walk.names.size(), 2u);
    }
}

TEST_F(OsTest, WalkDirOfFileOrMissingPathVisitsNothing)
{
    std::string file = dir_ + "/plain";
    std::ofstream(file) << "x";
    for (const std::string &path : {file, dir_ + "/missing", dir_ + "/plain/below"}) {
        Walk walk;
        EXPECT_EQ(OrxXOSWalkDir(interp_, path.c_str(), 1, Collect, &walk), TCL_OK) << path;
        EXPECT_TRUE(walk.names.empty()) << path;
        EXPECT_EQ(Result(), "");
    }
}

TEST_F(OsTest, WalkDirOfEmptyPathWalksCurrentDirectory)
{
    std::ofstream(dir_ + "/here") << "x";
    std::string saved = fs::current_path();
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    Walk walk;
    int status = OrxXOSWalkDir(interp_, "", 0, Collect, &walk);
    ASSERT_EQ(chdir(saved.c_str()), 0);
    EXPECT_EQ(status, TCL_OK);
    EXPECT_EQ(walk.names, std::vector<std::string>{"here"});
    EXPECT_EQ(walk.paths, std::set<std::string>{""});
}

// --- file size -------------------------------------------------------------

TEST_F(OsTest, FileSizeKeepsAllSixtyFourBitsOfASparseFile)
{
    // The size's low 32 bits alone would read 1 GiB here.
    const int64_t size = (int64_t{5} << 30) + 123;
    std::string path = dir_ + "/sparse";
    int fd = open(path.c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, size), 0);
    close(fd);

    for (const char *mode : {"r", "a"}) {
        Tcl_Channel channel = Tcl_OpenFileChannel(nullptr, path.c_str(), mode, 0);
        ASSERT_NE(channel, nullptr) << mode;
        int64_t got = -1;
        EXPECT_EQ(OrxXOSGetFileSize(channel, &got), TCL_OK) << mode;
        EXPECT_EQ(got, size) << mode;
        Tcl_Close(nullptr, channel);
    }
}

TEST_F(OsTest, FileSizeOfDeviceAndSocketIsZero)
{
    Tcl_Channel device = Tcl_OpenFileChannel(nullptr, "/dev/null", "r", 0);
    ASSERT_NE(device, nullptr);
    int64_t got = -1;
    EXPECT_EQ(OrxXOSGetFileSize(device, &got), TCL_OK);
    EXPECT_EQ(got, 0);
    Tcl_Close(nullptr, device);

    Tcl_Channel server = Tcl_OpenTcpServer(nullptr, 0, "127.0.0.1", nullptr, nullptr);
    ASSERT_NE(server, nullptr);
    got = -1;
    EXPECT_EQ(OrxXOSGetFileSize(server, &got), TCL_OK);
    EXPECT_EQ(got, 0);
    Tcl_Close(nullptr, server);
}

TEST_F(OsTest, FileSizeOfChannelWithoutHandleFailsSilently)
{
    ASSERT_EQ(Tcl_Eval(interp_,
                       "proc h {cmd chan args} {"
                       "  switch $cmd initialize {return {initialize finalize watch read}}"
                       "  return {}"
                       "}; chan create read h"),
              TCL_OK);
    Tcl_Channel channel = Tcl_GetChannel(interp_, Result().c_str(), nullptr);
    ASSERT_NE(channel, nullptr);
    Tcl_ResetResult(interp_);
    int64_t got = 77;
    EXPECT_EQ(OrxXOSGetFileSize(channel, &got), TCL_ERROR);
    EXPECT_EQ(got, 77);
    EXPECT_EQ(Result(), "");
}

// --- flock -----------------------------------------------------------------

TEST_F(OsTest, HaveFlockAgreesWithALockOnATempFile)
{
    std::string path = dir_ + "/lock";
    int fd = open(path.c_str(), O_CREAT | O_RDWR, 0600);
    ASSERT_GE(fd, 0);
    int works = flock(fd, LOCK_EX | LOCK_NB) == 0 ? 1 : 0;
    close(fd);
    EXPECT_EQ(OrxXOSHaveFlock(), works);
    EXPECT_EQ(OrxXOSHaveFlock(), works);
}

// --- kill ------------------------------------------------------------------

// A temporary HOME holding ~/ruvadiredavoz; the real one is put back after.
class KillTest : public OsTest {
protected:
    void SetUp() override
    {
        OsTest::SetUp();
        const char *home = std::getenv("HOME");
        hadHome_ = home != nullptr;
        savedHome_ = hadHome_ ? home : "";
        setenv("HOME", dir_.c_str(), 1);
        fs::create_directory(dir_ + "/ruvadiredavoz");
        pidFile_ = dir_ + "/ruvadiredavoz/pid_tq";
    }

    void TearDown() override
    {
        for (pid_t child : children_) {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
        }
        if (hadHome_) {
            setenv("HOME", savedHome_.c_str(), 1);
        } else {
            unsetenv("HOME");
        }
        OsTest::TearDown();
    }

    // A child that only waits to be signalled; with a signal thread when asked.
    pid_t Child(bool withSignalThread)
    {
        pid_t child = fork();
        if (child == 0) {
            if (withSignalThread) {
                std::string path = pidFile_ + "/" + std::to_string(getpid());
                if (OrxX_StartSignalThread(nullptr, path.c_str()) != TCL_OK) {
                    _exit(3);
                }
            }
            for (;;) {
                pause();
            }
        }
        if (child > 0) {
            children_.push_back(child);
        }
        return child;
    }

    // Waits for the child's line in the pid file; returns the thread id text.
    std::string WaitForLine(pid_t child)
    {
        std::string prefix = std::to_string(child) + " ";
        for (int i = 0; i < 500; i++) {
            std::ifstream in(pidFile_);
            std::string line;
            while (std::getline(in, line)) {
                if (line.compare(0, prefix.size(), prefix) == 0) {
                    return line.substr(prefix.size());
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return std::string();
    }

    // The signal that ended the child, 0 when it still runs after waitMs.
    int EndedBy(pid_t child, int waitMs)
    {
        for (int waited = 0;; waited += 10) {
            int status = 0;
            if (waitpid(child, &status, WNOHANG) == child) {
                children_.erase(std::find(children_.begin(), children_.end(), child));
                return WIFSIGNALED(status) ? WTERMSIG(status) : -1;
            }
            if (waited >= waitMs) {
                return 0;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    void WritePidFile(const std::string &text) { std::ofstream(pidFile_) << text; }

    bool hadHome_ = false;
    std::string savedHome_;
    std::string pidFile_;
    std::vector<pid_t> children_;
};

TEST_F(KillTest, RefusesZeroAndNegativePids)
{
    for (int pid : {0, -1, -2147483647}) {
        Tcl_ResetResult(interp_);
        EXPECT_EQ(OrxXOSkill(interp_, pid, 15, "kill"), TCL_ERROR);
        EXPECT_EQ(Result(), "no negative or 0 process ids acceptable in Windows.");
    }
}

TEST_F(KillTest, PidWithoutLineIgnoresTerminateButEndsOnInterrupt)
{
    pid_t child = Child(false);
    ASSERT_GT(child, 0);
    // A longer pid that begins with the same digits is another process.
    WritePidFile("1 1\n" + std::to_string(child) + "0 1\n");

    Tcl_SetObjResult(interp_, Tcl_NewStringObj("stale", -1));
    EXPECT_EQ(OrxXOSkill(interp_, child, 15, "kill"), TCL_OK);
    EXPECT_EQ(Result(), "");
    EXPECT_EQ(EndedBy(child, 100), 0);

    fs::remove(pidFile_);
    EXPECT_EQ(OrxXOSkill(interp_, child, 15, "kill"), TCL_OK);
    EXPECT_EQ(EndedBy(child, 100), 0);

    EXPECT_EQ(OrxXOSkill(interp_, child, 2, "kill"), TCL_OK);
    EXPECT_EQ(EndedBy(child, 5000), SIGTERM);
}

TEST_F(KillTest, InterruptOfVanishedProcessIsNoError)
{
    pid_t child = Child(false);
    ASSERT_GT(child, 0);
    kill(child, SIGKILL);
    ASSERT_EQ(EndedBy(child, 5000), SIGKILL);
    EXPECT_EQ(OrxXOSkill(interp_, child, 2, "kill"), TCL_OK);
    EXPECT_EQ(Result(), "");
}

TEST_F(KillTest, SignalReachesTheThreadOfTheLastMatchingLine)
{
    if (OrxX_StartSignalThread == nullptr) {
        GTEST_SKIP() << "signal thread not in this build";
    }
    // The first line names a thread that does not exist: only the child's own
    // line, appended after it, reaches the child.
    pid_t target = Child(true);
    ASSERT_GT(target, 0);
    std::string thread = WaitForLine(target);
    ASSERT_FALSE(thread.empty());
    std::string lines = std::to_string(target) + " 2147483000\n" + std::to_string(target) + " " +
                        thread + "\n";
    WritePidFile(lines);

    EXPECT_EQ(OrxXOSkill(interp_, target, 15, "kill"), TCL_OK);
    EXPECT_EQ(Result(), "");
    EXPECT_EQ(EndedBy(target, 5000), SIGTERM);
}

TEST_F(KillTest, MalformedThreadIdStopsTheSearch)
{
    if (OrxX_StartSignalThread == nullptr) {
        GTEST_SKIP() << "signal thread not in this build";
    }
    pid_t target = Child(true);
    ASSERT_GT(target, 0);
    std::string thread = WaitForLine(target);
    ASSERT_FALSE(thread.empty());
    std::string pid = std::to_string(target);
    WritePidFile(pid + " 12x\n" + pid + " " + thread + "\n");

    EXPECT_EQ(OrxXOSkill(interp_, target, 15, "kill"), TCL_OK);
    EXPECT_EQ(EndedBy(target, 200), 0);

    // Behind the child's good line, the bad one no longer hides it.
    WritePidFile(pid + " " + thread + "\n" + pid + " 12x\n");
    EXPECT_EQ(OrxXOSkill(interp_, target, 15, "kill"), TCL_OK);
    EXPECT_EQ(EndedBy(target, 5000), SIGTERM);
}

} // namespace
