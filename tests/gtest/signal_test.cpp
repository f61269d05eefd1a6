// The C side of signal handling: the signal callback and the application signal-error
// handler, interpreter registration and its removal, and real signals from another thread.

#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>
#include <atomic>
#include <chrono>
#include <thread>

#include "orx_signal.h"

namespace {

std::atomic<int> g_delivered{0};
void CountDelivery(int)
{
    g_delivered.fetch_add(1);
}

// What the application signal-error handler was last called with.
struct AppCall {
    int calls = 0, background = -1, signalNum = -1, answer = TCL_ERROR;
    Tcl_Interp *interp = nullptr;
};

int AppHandler(Tcl_Interp *interp, ClientData clientData, int background, int signalNum)
{
    AppCall *call = static_cast<AppCall *>(clientData);
    *call = {call->calls + 1, background, signalNum, call->answer, interp};
    return call->answer;
}

class SignalTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Tcl_FindExecutable(nullptr); }
    static Tcl_Interp *NewInterp()
    {
        Tcl_Interp *interp = Tcl_CreateInterp();
        EXPECT_EQ(OrxXSignalInit(interp), TCL_OK);
        return interp;
    }
    static std::string Eval(Tcl_Interp *interp, const char *script, int expected = TCL_OK)
    {
        int code = Tcl_Eval(interp, script);
        EXPECT_EQ(code, expected) << script << ": " << Tcl_GetStringResult(interp);
        return Tcl_GetStringResult(interp);
    }
    // Raises sig and waits (bounded) until the interpreter thread is told.
    static void RaiseAndWait(int sig)
    {
        raise(sig);
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!Tcl_AsyncReady() && std::chrono::steady_clock::now() < end) {
            std::this_thread::yield();
        }
        ASSERT_TRUE(Tcl_AsyncReady());
    }
    void TearDown() override
    {
        OrxX_SetAppSignalErrorHandler(nullptr, nullptr);
        for (int sig : {SIGUSR1, SIGUSR2, SIGINT}) {
            signal(sig, SIG_DFL);
        }
    }
};

TEST_F(SignalTest, CallbackAndApplicationHandlerInCommandsAndInTheBackground)
{
    Tcl_Interp *interp = NewInterp();
    AppCall call;
    OrxX_SetAppSignalErrorHandler(AppHandler, &call);
    OrxX_SetSignalCB(SIGUSR1, CountDelivery);
    g_delivered = 0;
    Eval(interp, "signal error USR1");
    // What the handler saw: calls, interpreter, background, signal.
    auto seen = [&] {
        return std::make_tuple(call.calls, call.interp, call.background, call.signalNum);
    };
    // The handler keeps the error.
    RaiseAndWait(SIGUSR1);
    EXPECT_EQ(Eval(interp, "set x 1; set y 2", TCL_ERROR), "SIGUSR1 signal received");
    EXPECT_EQ(seen(), std::make_tuple(1, interp, 0, SIGUSR1));
    // TCL_OK from the handler cancels the error and the command goes on.
    call.answer = TCL_OK;
    RaiseAndWait(SIGUSR1);
    EXPECT_EQ(Eval(interp, "set x 1; set y 2"), "2");
    EXPECT_EQ(call.calls, 2);
    EXPECT_EQ(g_delivered.load(), 2);
    // Between commands the event loop processes the signal, in the background.
    RaiseAndWait(SIGUSR1);
    Tcl_DoOneEvent(TCL_ALL_EVENTS | TCL_DONT_WAIT);
    EXPECT_EQ(seen(), std::make_tuple(3, interp, 1, SIGUSR1));
    // Cleared: the signal is an error again, in the background one for bgerror.
    OrxX_SetAppSignalErrorHandler(nullptr, nullptr);
    Eval(interp, "proc reportBg {msg opts} {set ::bg [list $msg [dict get $opts -errorcode]]}; "
                 "interp bgerror {} reportBg");
    RaiseAndWait(SIGUSR1);
    for (int i = 0; i < 10 && Tcl_GetVar(interp, "bg", TCL_GLOBAL_ONLY) == nullptr; i++) {
        Tcl_DoOneEvent(TCL_ALL_EVENTS | TCL_DONT_WAIT);
    }
    EXPECT_EQ(Eval(interp, "set ::bg"), "{SIGUSR1 signal received} {POSIX SIG SIGUSR1}");
    EXPECT_EQ(call.calls, 3);
    Tcl_DeleteInterp(interp);
}

TEST_F(SignalTest, RegistrationIsRemovedWhenAnInterpreterIsDeleted)
{
    Tcl_Interp *first = NewInterp(), *second = NewInterp();
    Eval(second, "signal trap USR1 {set ::hit %S}");
    // The second interpreter takes over background processing.
    Tcl_DeleteInterp(first);
    RaiseAndWait(SIGUSR1);
    Tcl_DoOneEvent(TCL_ALL_EVENTS | TCL_DONT_WAIT);
    EXPECT_EQ(Eval(second, "set ::hit"), "SIGUSR1");
    // With the last one gone the handler stays installed but does nothing, not even call the
    // callback.
    g_delivered = 0;
    OrxX_SetSignalCB(SIGUSR1, CountDelivery);
    Tcl_DeleteInterp(second);
    raise(SIGUSR1);
    EXPECT_EQ(g_delivered.load(), 0);
    // A new first interpreter starts from clean tables: no trap script, no callback.
    Tcl_Interp *third = NewInterp();
    EXPECT_EQ(Eval(third, "signal get USR1"), "{SIGUSR1 {error 0 {} 0}}");
    Eval(third, "signal trap USR1 {incr ::n}; set ::n 0");
    RaiseAndWait(SIGUSR1);
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
    RaiseAndWait(SIGINT);
    EXPECT_EQ(Eval(interp, "set x 1; set y 2", TCL_ERROR), "SIGINT signal received");
    Tcl_DeleteInterp(interp);
}

void ForeignHandler(int, siginfo_t *, void *) {}
TEST_F(SignalTest, ForeignHandlerIsUnknownAndErrorLeftInProgressDelaysNoTrap)
{
    Tcl_Interp *interp = NewInterp();
    struct sigaction act = {};
    act.sa_sigaction = ForeignHandler;
    act.sa_flags = SA_SIGINFO;
    sigemptyset(&act.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR2, &act, nullptr), 0);
    EXPECT_EQ(Eval(interp, "signal get USR2"), "{SIGUSR2 {unknown 0 {} 0}}");
    signal(SIGUSR2, SIG_DFL);
    // An error nobody resets stays in progress; marks are held back only a bounded while.
    Eval(interp, "signal trap USR1 {incr ::n}; set ::n 0");
    Eval(interp, "error left", TCL_ERROR);
    auto start = std::chrono::steady_clock::now();
    RaiseAndWait(SIGUSR1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(Eval(interp, "set x 1; set ::n"), "1");
    Tcl_DeleteInterp(interp);
}

std::atomic<int> g_senderDone{0};
int SenderDoneCmd(ClientData, Tcl_Interp *interp, int, Tcl_Obj *const[])
{
    Tcl_SetObjResult(interp, Tcl_NewIntObj(g_senderDone.load()));
    return TCL_OK;
}

// 10,000 signals from another thread, half directed at the interpreter's thread, while
// commands run; each sent after the previous one reached the handler, so none merge.
TEST_F(SignalTest, StressTenThousandSignals)
{
    const int kSignals = 10000;
    Tcl_Interp *interp = NewInterp();
    Tcl_CreateObjCommand(interp, "senderDone", SenderDoneCmd, nullptr, nullptr);
    Eval(interp, "signal trap USR1 {incr ::n}; set ::n 0; set ::i 0");
    OrxX_SetSignalCB(SIGUSR1, CountDelivery);
    g_delivered = g_senderDone = 0;
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
            while (g_delivered.load() <= i && !lost) {
                lost = std::chrono::steady_clock::now() > end;
                sched_yield();
            }
        }
        g_senderDone = 1;
    });
    Eval(interp, "set end [expr {[clock milliseconds] + 60000}]\n"
                 "while {![senderDone] && [clock milliseconds] < $end} {incr ::i; lappend l $::i; "
                 "if {[llength $l] > 100} {set l {}}}");
    sender.join();
    EXPECT_FALSE(lost.load()) << "a signal never reached the handler";
    EXPECT_EQ(g_delivered.load(), kSignals);
    for (int round = 0; round < 5000 && atoi(Eval(interp, "set ::n").c_str()) < kSignals; round++) {
        Tcl_DoOneEvent(TCL_ALL_EVENTS | TCL_DONT_WAIT);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(Eval(interp, "set ::n"), std::to_string(kSignals));
    Tcl_DeleteInterp(interp);
}
} // namespace
