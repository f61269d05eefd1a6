// The C side of signal handling: the signal callback and the application
// signal-error handler, interpreter registration and its removal, a stress
// run of real signals from another thread, and the signal thread.
#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include <tcl.h>

#include "orx_os.h"
#include "orx_signal.h"

namespace {

std::atomic<int> g_delivered{0};
void CountDelivery(int) { g_delivered.fetch_add(1); }

struct AppCall {
    int calls = 0;
    Tcl_Interp *interp = nullptr;
    int background = -1;
    int signalNum = -1;
    int answer = TCL_ERROR;
};

int AppHandler(Tcl_Interp *interp, ClientData clientData, int background, int signalNum)
{
    AppCall *call = static_cast<AppCall *>(clientData);
    call->calls++;
    call->interp = interp;
    call->background = background;
    call->signalNum = signalNum;
    return call->answer;
}

std::atomic<int> *g_watched = nullptr;
int WatchedCmd(ClientData, Tcl_Interp *interp, int, Tcl_Obj *const[])
{
    Tcl_SetObjResult(interp, Tcl_NewIntObj(g_watched != nullptr ? g_watched->load() : 0));
    return TCL_OK;
}

// Wait (bounded) until the interpreter thread has been told of a signal.
bool WaitAsyncReady()
{
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!Tcl_AsyncReady()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::yield();
    }
    return true;
}

class SignalTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Tcl_FindExecutable(nullptr); }

    Tcl_Interp *NewInterp()
    {
        Tcl_Interp *interp = Tcl_CreateInterp();
        EXPECT_EQ(OrxXSignalInit(interp), TCL_OK);
        Tcl_CreateObjCommand(interp, "watched", WatchedCmd, nullptr, nullptr);
        return interp;
    }

    static std::string Eval(Tcl_Interp *interp, const char *script, int expected = TCL_OK)
    {
        int code = Tcl_Eval(interp, script);
        EXPECT_EQ(code, expected) << script << ": " << Tcl_GetStringResult(interp);
        return Tcl_GetStringResult(interp);
    }

    void TearDown() override
    {
        OrxX_SetAppSignalErrorHandler(nullptr, nullptr);
        g_watched = nullptr;
        struct sigaction dfl;
        memset(&dfl, 0, sizeof dfl);
        dfl.sa_handler = SIG_DFL;
        sigaction(SIGUSR1, &dfl, nullptr);
        sigaction(SIGUSR2, &dfl, nullptr);
        sigaction(SIGINT, &dfl, nullptr);
    }
};

// Spins in Tcl until "watched" reaches n or five seconds pass.
const char *const kSpinScript =
    "set end [expr {[clock milliseconds] + 5000}]\n"
    "while {[watched] < $::want && [clock milliseconds] < $end} {}\n"
    "set done done";

TEST_F(SignalTest, CallbackAndApplicationHandlerWhileACommandRuns)
{
    Tcl_Interp *interp = NewInterp();
    AppCall call;
    OrxX_SetAppSignalErrorHandler(AppHandler, &call);
    OrxX_SetSignalCB(SIGUSR1, CountDelivery);
    g_delivered = 0;
    Eval(interp, "signal error USR1");
    Tcl_SetVar(interp, "want", "1", TCL_GLOBAL_ONLY);

    // The handler keeps the error.
    std::atomic<int> handled{0};
    g_watched = &handled;
    raise(SIGUSR1);
    EXPECT_EQ(g_delivered.load(), 1);
    ASSERT_TRUE(WaitAsyncReady());
    EXPECT_EQ(Eval(interp, kSpinScript, TCL_ERROR), "SIGUSR1 signal received");
    EXPECT_STREQ(Tcl_GetVar(interp, "errorCode", TCL_GLOBAL_ONLY), "POSIX SIG SIGUSR1");
    EXPECT_EQ(call.calls, 1);
    EXPECT_EQ(call.interp, interp);
    EXPECT_EQ(call.background, 0);
    EXPECT_EQ(call.signalNum, SIGUSR1);

    // TCL_OK from the handler cancels the error and the command goes on.
    call.answer = TCL_OK;
    raise(SIGUSR1);
    ASSERT_TRUE(WaitAsyncReady());
    EXPECT_EQ(Eval(interp, "set x 1; set y 2"), "2");
    EXPECT_EQ(call.calls, 2);
    EXPECT_EQ(g_delivered.load(), 2);

    // Cleared: the signal is an error again.
    OrxX_SetAppSignalErrorHandler(nullptr, nullptr);
    raise(SIGUSR1);
    ASSERT_TRUE(WaitAsyncReady());
    EXPECT_EQ(Eval(interp, "set x 1; set y 2", TCL_ERROR), "SIGUSR1 signal received");
    EXPECT_EQ(call.calls, 2);
    Tcl_DeleteInterp(interp);
}

TEST_F(SignalTest, BackgroundSignalsUseTheFirstInterpreter)
{
    Tcl_Interp *interp = NewInterp();
    AppCall call;
    call.answer = TCL_OK;
    OrxX_SetAppSignalErrorHandler(AppHandler, &call);
    Eval(interp, "signal error USR1");
    raise(SIGUSR1);
    ASSERT_TRUE(WaitAsyncReady());
    // No command runs: the event loop processes the signal.
    Tcl_DoOneEvent(TCL_ALL_EVENTS | TCL_DONT_WAIT);
    EXPECT_EQ(call.calls, 1);
    EXPECT_EQ(call.background, 1);
    EXPECT_EQ(call.interp, interp);

    // Without a handler the error goes to bgerror.
    OrxX_SetAppSignalErrorHandler(nullptr, nullptr);
    Eval(interp, "proc reportBg {msg opts} {set ::bg [list $msg [dict get $opts -errorcode]]}; "
                 "interp bgerror {} reportBg");
    raise(SIGUSR1);
    ASSERT_TRUE(WaitAsyncReady());
    for (int i = 0; i < 10 && Tcl_GetVar(interp, "bg", TCL_GLOBAL_ONLY) == nullptr; i++) {
        Tcl_DoOneEvent(TCL_ALL_EVENTS | TCL_DONT_WAIT);
    }
    EXPECT_EQ(Eval(interp, "set ::bg"), "{SIGUSR1 signal received} {POSIX SIG SIGUSR1}");
    Tcl_DeleteInterp(interp);
}

TEST_F(SignalTest, RegistrationIsRemovedWhenAnInterpreterIsDeleted)
{
    Tcl_Interp *first = NewInterp();
    Tcl_Interp *second = NewInterp();
    Eval(second, "signal trap USR1 {set ::hit %S}");

    // The second interpreter takes over background processing.
    Tcl_DeleteInterp(first);
    raise(SIGUSR1);
    ASSERT_TRUE(WaitAsyncReady());
    Tcl_DoOneEvent(TCL_ALL_EVENTS | TCL_DONT_WAIT);
    EXPECT_EQ(Eval(second, "set ::hit"), "SIGUSR1");

    // With the last one gone the handler stays installed but does nothing,
    // not even call the callback.
    g_delivered = 0;
    OrxX_SetSignalCB(SIGUSR1, CountDelivery);
    Tcl_DeleteInterp(second);
    raise(SIGUSR1);
    EXPECT_EQ(g_delivered.load(), 0);

    // A new first interpreter starts from clean tables: the trap script is
    // gone and the callback cleared.
    Tcl_Interp *third = NewInterp();
    EXPECT_EQ(Eval(third, "signal get USR1"), "{SIGUSR1 {error 0 {} 0}}");
    Eval(third, "signal trap USR1 {incr ::n}; set ::n 0");
    raise(SIGUSR1);
    ASSERT_TRUE(WaitAsyncReady());
    EXPECT_EQ(Eval(third, "set x 1; set ::n"), "1");
    EXPECT_EQ(g_delivered.load(), 0);
    Tcl_DeleteInterp(third);
}

TEST_F(SignalTest, SetupSigIntKeepsForeignDispositions)
{
    Tcl_Interp *interp = NewInterp();
    signal(SIGINT, SIG_IGN);
    OrxX_SetupSigInt();
    EXPECT_EQ(Eval(interp, "signal get INT"), "{SIGINT {ignore 0 {} 0}}");
    signal(SIGINT, SIG_DFL);
    OrxX_SetupSigInt();
    EXPECT_EQ(Eval(interp, "signal get INT"), "{SIGINT {error 0 {} 0}}");
    raise(SIGINT);
    ASSERT_TRUE(WaitAsyncReady());
    EXPECT_EQ(Eval(interp, "set x 1; set y 2", TCL_ERROR), "SIGINT signal received");
    Tcl_DeleteInterp(interp);
}

// 10,000 signals from another thread, half directed at the interpreter's
// thread itself, while commands run.  Each is sent only after the previous
// one reached the handler, so the kernel merges none of them: every delivery
// must run the trap exactly once.
TEST_F(SignalTest, StressTenThousandSignals)
{
    const int kSignals = 10000;
    Tcl_Interp *interp = NewInterp();
    Eval(interp, "signal trap USR1 {incr ::n}; set ::n 0; set ::i 0");
    OrxX_SetSignalCB(SIGUSR1, CountDelivery);
    g_delivered = 0;
    std::atomic<int> senderDone{0};
    std::atomic<bool> lost{false};
    pthread_t target = pthread_self();
    std::thread sender([&] {
        for (int i = 0; i < kSignals && !lost; i++) {
            if (i % 2 == 0) {
                pthread_kill(target, SIGUSR1);
            } else {
                kill(getpid(), SIGUSR1);
            }
            auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (g_delivered.load() <= i) {
                if (std::chrono::steady_clock::now() > end) {
                    lost = true;
                    break;
                }
                sched_yield();
            }
        }
        senderDone = 1;
    });
    g_watched = &senderDone;
    Tcl_SetVar(interp, "want", "1", TCL_GLOBAL_ONLY);
    // Commands run while the signals arrive.
    Eval(interp, "set end [expr {[clock milliseconds] + 60000}]\n"
                 "while {![watched] && [clock milliseconds] < $end} {incr ::i; lappend l $::i; "
                 "if {[llength $l] > 100} {set l {}}}");
    sender.join();
    EXPECT_FALSE(lost.load()) << "a signal never reached the handler";
    EXPECT_EQ(g_delivered.load(), kSignals);
    // Let the last deliveries be processed.
    std::atomic<int> trapped{0};
    g_watched = &trapped;
    for (int round = 0; round < 5000; round++) {
        trapped = atoi(Eval(interp, "set ::n").c_str());
        if (trapped.load() >= kSignals) {
            break;
        }
        Tcl_DoOneEvent(TCL_ALL_EVENTS | TCL_DONT_WAIT);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(Eval(interp, "set ::n"), std::to_string(kSignals));
    Tcl_DeleteInterp(interp);
}

class SignalThreadTest : public SignalTest {
protected:
    std::string home_;
    std::string oldHome_;
    bool hadHome_ = false;

    void SetUp() override
    {
        const char *old = getenv("HOME");
        hadHome_ = old != nullptr;
        oldHome_ = old != nullptr ? old : "";
        char tmpl[] = "/tmp/orxsigXXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        home_ = tmpl;
        setenv("HOME", home_.c_str(), 1);
    }

    void TearDown() override
    {
        if (hadHome_) {
            setenv("HOME", oldHome_.c_str(), 1);
        } else {
            unsetenv("HOME");
        }
        std::string cmd = "rm -rf '" + home_ + "'";
        EXPECT_EQ(system(cmd.c_str()), 0);
        SignalTest::TearDown();
    }

    std::string PidPath() const
    {
        return home_ + "/ruvadiredavoz/pid_tq/" + std::to_string(getpid());
    }

    // The thread id of our line in the pid file, waiting at most 10 s.
    std::string WaitForLine() const
    {
        std::string prefix = std::to_string(getpid()) + " ";
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < end) {
            std::ifstream in(home_ + "/ruvadiredavoz/pid_tq");
            std::string line, found;
            while (std::getline(in, line)) {
                if (line.compare(0, prefix.size(), prefix) == 0) {
                    found = line.substr(prefix.size());
                }
            }
            if (!found.empty()) {
                return found;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return std::string();
    }
};

TEST_F(SignalThreadTest, KillReachesTheTrapThroughTheSignalThread)
{
    Tcl_Interp *interp = NewInterp();
    Eval(interp, "signal trap USR2 {lappend ::got %S}; set ::got {}");
    // The per-user directory does not exist yet: the thread makes it.
    ASSERT_EQ(OrxX_StartSignalThread(interp, PidPath().c_str()), TCL_OK);
    std::string threadId = WaitForLine();
    ASSERT_FALSE(threadId.empty());
    EXPECT_EQ(threadId.find_first_not_of("0123456789"), std::string::npos);

    struct stat st;
    ASSERT_EQ(stat((home_ + "/ruvadiredavoz").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(stat((home_ + "/ruvadiredavoz/pid_tq").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u);
    ASSERT_EQ(lstat((home_ + "/ruvadiredavoz/sig-" + threadId).c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));

    ASSERT_EQ(OrxXOSkill(interp, getpid(), SIGUSR2, "kill"), TCL_OK);
    ASSERT_TRUE(WaitAsyncReady());
    EXPECT_EQ(Eval(interp, "set x 1; set ::got"), "SIGUSR2");
    // The Tcl command goes the same way.
    // The trap may already run as kill returns, so wait on its effect.
    EXPECT_EQ(Eval(interp, "kill USR2 [pid]\n"
                           "set end [expr {[clock milliseconds] + 5000}]\n"
                           "while {[llength $::got] < 2 && [clock milliseconds] < $end} {}\n"
                           "set ::got"),
              "SIGUSR2 SIGUSR2");
    Tcl_DeleteInterp(interp);
}

// A socket file whose owner has ended is removed when the next signal thread
// starts; one with a listener stays.
TEST_F(SignalThreadTest, StaleEndpointsAreSweptAway)
{
    std::string dir = home_ + "/ruvadiredavoz";
    ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
    auto bindAt = [&](const std::string &name) {
        int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
        struct sockaddr_un addr;
        memset(&addr, 0, sizeof addr);
        addr.sun_family = AF_UNIX;
        snprintf(addr.sun_path, sizeof addr.sun_path, "%s/%s", dir.c_str(), name.c_str());
        EXPECT_EQ(bind(fd, reinterpret_cast<struct sockaddr *>(&addr), sizeof addr), 0);
        return fd;
    };
    close(bindAt("sig-999999991"));
    int live = bindAt("sig-999999992");
    Tcl_Interp *interp = NewInterp();
    ASSERT_EQ(OrxX_StartSignalThread(interp, PidPath().c_str()), TCL_OK);
    ASSERT_FALSE(WaitForLine().empty());
    struct stat st;
    EXPECT_NE(lstat((dir + "/sig-999999991").c_str(), &st), 0);
    EXPECT_EQ(lstat((dir + "/sig-999999992").c_str(), &st), 0);
    close(live);
    Tcl_DeleteInterp(interp);
}

TEST_F(SignalThreadTest, UnusableNamesEndTheThreadWithoutALine)
{
    // Malformed pid paths: nothing is written anywhere.
    for (const char *bad : {"no-separator", "/tmp/x/pid_tq/12a", "/tmp/x/pid_tq/"}) {
        OrxSignalThread(strdup(bad));
    }
    std::string path = PidPath();
    std::string dir = home_ + "/ruvadiredavoz";
    mkdir(dir.c_str(), 0700);
    // A home whose socket path cannot fit in a socket address: the thread
    // gives up before naming itself, so kill never finds a dead end.
    std::string longHome = home_ + "/" + std::string(100, 'h');
    ASSERT_EQ(mkdir(longHome.c_str(), 0700), 0);
    setenv("HOME", longHome.c_str(), 1);
    OrxSignalThread(strdup(path.c_str()));
    struct stat st;
    EXPECT_NE(stat((dir + "/pid_tq").c_str(), &st), 0);
    EXPECT_NE(stat((longHome + "/ruvadiredavoz").c_str(), &st), 0);
}

} // namespace
