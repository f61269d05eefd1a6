// The OS layer: clocks, directory walking, channel file sizes, and kill through
// the pid file and the signal thread (under a temporary HOME, so the real ~/ruvadiredavoz/pid_tq is
// never touched).

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <set>

#include "orx_os.h"
#include "orx_signal.h"
#include "tests/support/interp_fixture.h"
#include "tests/support/tessary_fixture.h"

namespace {

namespace fs = std::filesystem;

// Polls pred every 10 ms for at most ms milliseconds; true once it holds.
template <typename Pred>
bool Poll(int ms, Pred pred)
{
    for (int waited = 0; !pred(); waited += 10) {
        if (waited >= ms) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// A temporary directory that is also HOME, holding ~/ruvadiredavoz.
class OsTest : public orxtest::InterpTest {
protected:
    static void SetUpTestSuite() { Tcl_FindExecutable(nullptr); }
    void SetUp() override
    {
        InterpTest::SetUp();
        setenv("HOME", dir_.c_str(), 1);
        fs::create_directory(userDir_);
    }
    void TearDown() override
    {
        for (pid_t child : children_) {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
        }
        InterpTest::TearDown();
    }
    // A child that only waits to be signalled, with a signal thread when asked.
    pid_t Child(bool withSignalThread)
    {
        pid_t child = fork();
        if (child == 0) {
            std::string path = pidFile_ + "/" + std::to_string(getpid());
            if (withSignalThread && OrxX_StartSignalThread(nullptr, path.c_str()) != TCL_OK) {
                _exit(3);
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
        std::string prefix = std::to_string(child) + " ", found;
        Poll(5000, [&] {
            std::ifstream in(pidFile_);
            for (std::string line; found.empty() && std::getline(in, line);) {
                if (line.compare(0, prefix.size(), prefix) == 0) {
                    found = line.substr(prefix.size());
                }
            }
            return !found.empty();
        });
        return found;
    }
    // The signal that ended the child, 0 when it still runs after ms.
    int EndedBy(pid_t child, int ms)
    {
        int status = 0;
        if (!Poll(ms, [&] { return waitpid(child, &status, WNOHANG) == child; })) {
            return 0;
        }
        children_.erase(std::find(children_.begin(), children_.end(), child));
        return WIFSIGNALED(status) ? WTERMSIG(status) : -1;
    }
    void WritePidFile(const std::string &text) { std::ofstream(pidFile_) << text; }
    orxtest::EnvGuard home_{"HOME"};
    orxtest::TempDir tmp_;
    std::string dir_ = tmp_.path, userDir_ = dir_ + "/ruvadiredavoz",
                pidFile_ = userDir_ + "/pid_tq";
    std::vector<pid_t> children_;
};

TEST_F(OsTest, ElapsedTimeIsMonotonicMillisecondsAndCpuTimeAdvances)
{
    long real1 = -1, cpu1 = -1, real2 = -1, cpu2 = -1;
    OrxXOSElapsedTime(&real1, &cpu1);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    OrxXOSElapsedTime(&real2, nullptr);
    EXPECT_GE(real2 - real1, 29);
    EXPECT_LT(real2 - real1, 10000); // milliseconds, not microseconds
    EXPECT_TRUE(Poll(5000, [&] {
        for (volatile int i = 0; i < 3000000; i = i + 1) {
        }
        OrxXOSElapsedTime(nullptr, &cpu2);
        return cpu2 - cpu1 >= 20;
    }));
}

// What a walk saw; the callback answers status from the stopAfter-th name on (never when 0).
struct Walk {
    std::multiset<std::string> names;
    std::set<std::string> paths;
    size_t stopAfter = 0;
    int status = TCL_OK;
};

int Collect(Tcl_Interp *, const char *path, const char *fileName, int, ClientData clientData)
{
    Walk *walk = static_cast<Walk *>(clientData);
    walk->names.insert(fileName);
    walk->paths.insert(path);
    return walk->stopAfter == 0 || walk->names.size() >= walk->stopAfter ? walk->status : TCL_OK;
}

TEST_F(OsTest, WalkDirSkipsHiddenNamesUnlessAskedAndStopsOnStatus)
{
    for (const char *name : {"b", "A", ".hidden", "a b"}) {
        std::ofstream(dir_ + "/" + name) << "x";
    }
    fs::create_directory(dir_ + "/.cache");
    Walk plain;
    ASSERT_EQ(OrxXOSWalkDir(interp_, dir_.c_str(), 0, Collect, &plain), TCL_OK);
    EXPECT_EQ(plain.names, (std::multiset<std::string>{"A", "a b", "b", "ruvadiredavoz"}));
    EXPECT_EQ(plain.paths, std::set<std::string>{dir_});
    // TCL_CONTINUE goes on and is what the walk returns; any other status stops it.
    Walk all{{}, {}, 0, TCL_CONTINUE};
    ASSERT_EQ(OrxXOSWalkDir(interp_, (dir_ + "/").c_str(), 1, Collect, &all), TCL_CONTINUE);
    EXPECT_EQ(all.names,
              (std::multiset<std::string>{".cache", ".hidden", "A", "a b", "b", "ruvadiredavoz"}));
    EXPECT_EQ(all.paths, std::set<std::string>{dir_ + "/"});
    for (int status : {TCL_BREAK, TCL_ERROR, TCL_RETURN}) {
        Walk walk{{}, {}, 2, status};
        EXPECT_EQ(OrxXOSWalkDir(interp_, dir_.c_str(), 0, Collect, &walk), status);
        EXPECT_EQ(walk.names.size(), 2u);
    }
    // An empty path is the current directory, and is handed on as given.
    std::string saved = fs::current_path();
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    Walk here;
    EXPECT_EQ(OrxXOSWalkDir(interp_, "", 0, Collect, &here), TCL_OK);
    ASSERT_EQ(chdir(saved.c_str()), 0);
    EXPECT_EQ(here.names, plain.names);
    EXPECT_EQ(here.paths, std::set<std::string>{""});
    // A file or a missing path is no directory: nothing to visit, no error.
    for (const std::string &path : {dir_ + "/b", dir_ + "/missing", dir_ + "/b/below"}) {
        Walk walk;
        EXPECT_EQ(OrxXOSWalkDir(interp_, path.c_str(), 1, Collect, &walk), TCL_OK) << path;
        EXPECT_TRUE(walk.names.empty() && Result().empty()) << path;
    }
}

TEST_F(OsTest, FileSizeKeepsAllSixtyFourBitsOfASparseFile)
{
    const int64_t size = (int64_t{5} << 30) + 123;
    std::string path = dir_ + "/sparse";
    std::ofstream(path).close();
    ASSERT_EQ(truncate(path.c_str(), size), 0);
    // Through the read or the write handle (the low 32 bits alone read 1 GiB); a device has 0.
    struct {
        const char *path, *mode;
        int64_t size;
    } const cases[] = {{path.c_str(), "r", size}, {path.c_str(), "a", size}, {"/dev/null", "r", 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.path) + " " + c.mode);
        Tcl_Channel channel = Tcl_OpenFileChannel(nullptr, c.path, c.mode, 0);
        ASSERT_NE(channel, nullptr);
        int64_t got = -1;
        EXPECT_EQ(OrxXOSGetFileSize(channel, &got), TCL_OK);
        EXPECT_EQ(got, c.size);
        Tcl_Close(nullptr, channel);
    }
    // A reflected channel has no file: an error, the size untouched, no message.
    ASSERT_EQ(
        Tcl_Eval(interp_,
                 "proc h {cmd chan args} {switch $cmd initialize {return {initialize finalize "
                 "watch read}}}; chan create read h"),
        TCL_OK);
    Tcl_Channel channel = Tcl_GetChannel(interp_, Result().c_str(), nullptr);
    ASSERT_NE(channel, nullptr);
    Tcl_ResetResult(interp_);
    Tcl_Channel directory = Tcl_OpenFileChannel(nullptr, dir_.c_str(), "r", 0);
    ASSERT_NE(directory, nullptr);
    // A directory left errno at 0: auto_load_pkg's message read "error accessing: ...: Success".
    for (auto [chan, err] : {std::make_pair(channel, EINVAL), std::make_pair(directory, EISDIR)}) {
        int64_t got = 77;
        errno = 0;
        EXPECT_EQ(OrxXOSGetFileSize(chan, &got), TCL_ERROR);
        EXPECT_EQ(std::make_pair(got, errno), std::make_pair(int64_t{77}, err));
        EXPECT_EQ(Result(), "");
    }
    Tcl_Close(nullptr, directory);
}

TEST_F(OsTest, KillOfPidWithoutLineIgnoresTerminateButEndsOnInterrupt)
{
    pid_t child = Child(false);
    ASSERT_GT(child, 0);
    // A longer pid that begins with the same digits is another process.
    WritePidFile("1 1\n" + std::to_string(child) + "0 1\n");
    Tcl_SetObjResult(interp_, Tcl_NewStringObj("stale", -1));
    EXPECT_EQ(OrxXOSkill(interp_, child, 15, "kill"), TCL_OK);
    EXPECT_EQ(Result(), "");
    EXPECT_EQ(EndedBy(child, 100), 0);
    EXPECT_EQ(OrxXOSkill(interp_, child, 2, "kill"), TCL_OK);
    EXPECT_EQ(EndedBy(child, 5000), SIGTERM);
    // The process has gone: interrupting it again is no error.
    EXPECT_EQ(OrxXOSkill(interp_, child, 2, "kill"), TCL_OK);
    EXPECT_EQ(Result(), "");
}

// A starting signal thread removes socket files nobody listens on; kill reaches it through
// the last well-formed line for its pid, and a malformed line ends the search.
TEST_F(OsTest, SignalThreadSweepsStaleEndpointsAndKillUsesTheLastWellFormedLine)
{
    auto bindAt = [&](const std::string &name) {
        int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
        struct sockaddr_un addr = {};
        addr.sun_family = AF_UNIX;
        snprintf(addr.sun_path, sizeof addr.sun_path, "%s/%s", userDir_.c_str(), name.c_str());
        EXPECT_EQ(bind(fd, reinterpret_cast<struct sockaddr *>(&addr), sizeof addr), 0);
        return fd;
    };
    close(bindAt("sig-999999991"));
    int live = bindAt("sig-999999992");
    pid_t target = Child(true);
    std::string thread = target > 0 ? WaitForLine(target) : "";
    ASSERT_FALSE(thread.empty());
    EXPECT_FALSE(fs::exists(fs::symlink_status(userDir_ + "/sig-999999991")));
    EXPECT_TRUE(fs::is_socket(userDir_ + "/sig-999999992"));
    close(live);
    std::string pid = std::to_string(target);
    WritePidFile(pid + " 12x\n" + pid + " " + thread + "\n");
    EXPECT_EQ(OrxXOSkill(interp_, target, 15, "kill"), TCL_OK);
    EXPECT_EQ(EndedBy(target, 200), 0);
    // A thread that does not exist, then the child's own line, then a bad one.
    WritePidFile(pid + " 2147483000\n" + pid + " " + thread + "\n" + pid + " 12x\n");
    EXPECT_EQ(OrxXOSkill(interp_, target, 15, "kill"), TCL_OK);
    EXPECT_EQ(Result(), "");
    EXPECT_EQ(EndedBy(target, 5000), SIGTERM);
}

// The fault: a line was added at every start and none ever removed.  Lines of ended
// processes (and bad lines) go when a line is added; those of running ones stay.
TEST_F(OsTest, PidFileIsPrunedWhenALineIsAdded)
{
    pid_t ended = fork();
    if (ended == 0) {
        _exit(0);
    }
    ASSERT_GT(ended, 0);
    waitpid(ended, nullptr, 0);
    std::string text = "1 77\n";
    for (int i = 0; i < 1000; ++i) {
        text += std::to_string(ended) + " " + std::to_string(i) + "\n";
    }
    WritePidFile(text + "garbage\n");
    pid_t child = Child(true);
    std::string thread = child > 0 ? WaitForLine(child) : "";
    ASSERT_FALSE(thread.empty());
    std::ifstream in(pidFile_);
    std::string now((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(now, "1 77\n" + std::to_string(child) + " " + thread + "\n");
    EXPECT_EQ(fs::status(pidFile_).permissions(), fs::perms::owner_read | fs::perms::owner_write);
}

// The fault: kill opened a FIFO planted at the pid file and waited for ever.
TEST_F(OsTest, KillPassesOverAPidFileThatIsAFifo)
{
    orxtest::FifoWatch watch({pidFile_});
    ASSERT_TRUE(watch.Made());
    EXPECT_EQ(OrxXOSkill(interp_, getpid(), 0, "kill"), TCL_OK) << Result();
    EXPECT_TRUE(watch.Finish()) << "kill waited on a FIFO";
}

TEST_F(OsTest, SignalThreadWithUnusableNamesEndsWithoutALine)
{
    // Malformed pid paths: nothing is written anywhere.
    for (const char *bad : {"no-separator", "/tmp/x/pid_tq/12a", "/tmp/x/pid_tq/"}) {
        OrxSignalThread(strdup(bad));
    }
    // A socket path too long for a socket address: the thread gives up before naming itself.
    std::string longHome = dir_ + "/" + std::string(100, 'h');
    ASSERT_TRUE(fs::create_directory(longHome));
    setenv("HOME", longHome.c_str(), 1);
    OrxSignalThread(strdup((pidFile_ + "/" + std::to_string(getpid())).c_str()));
    EXPECT_FALSE(fs::exists(pidFile_));
    EXPECT_FALSE(fs::exists(longHome + "/ruvadiredavoz"));
}
} // namespace
