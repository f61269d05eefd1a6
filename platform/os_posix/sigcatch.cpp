// Catching signals with sigaction, and the relay: the handler writes one byte
// to a non-blocking pipe, and a thread of its own reads it and calls the
// relay procedure, which may take locks that a signal handler may not.
#include "platform/orxplat.h"
#include "posix.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

namespace {

static_assert(std::atomic<OrxPlat_SigCountProc *>::is_always_lock_free,
              "the handler reads the count procedure");

std::atomic<OrxPlat_SigCountProc *> g_processCount{nullptr};
OrxPlat_SigRelayProc *g_processRelay = nullptr;
std::atomic<int> g_processWakeFd{-1};
int g_processWakeRead = -1;
std::once_flag g_processStartOnce;
int g_processStartError = 0;
std::atomic<bool> g_processOwnerKnown{false};
std::atomic<clockid_t> g_processOwnerClock{CLOCK_MONOTONIC};

void Wake();

// ---- Clean ends -------------------------------------------------------------
// Set once by OrxPlat_SigCleanEnds, then only read (the handler reads them).
std::atomic<bool> g_processCleanEnds{false};
std::atomic<bool> g_processTerminalKept{false};
struct termios g_processTerminalMode;
long g_processCleanPid = 0;

// The signals whose default action would end the process with the terminal
// in the line editor's mode and the endpoint files left behind.
const int kEndingSignals[] = {SIGTERM, SIGHUP, SIGQUIT, SIGINT};

bool IsEndingSignal(int signum)
{
    for (int sig : kEndingSignals) {
        if (sig == signum) {
            return true;
        }
    }
    return false;
}

// Puts back line mode and echo when something (the line editor) took them
// away.  Async-signal-safe; a process in the background leaves the terminal
// alone (changing it would stop the process).
void RestoreTerminal()
{
    if (!g_processTerminalKept.load() || static_cast<long>(getpid()) != g_processCleanPid ||
        tcgetpgrp(STDIN_FILENO) != getpgrp()) {
        return;
    }
    struct termios now;
    const tcflag_t kept = ICANON | ECHO;
    if (tcgetattr(STDIN_FILENO, &now) == 0 &&
        (now.c_lflag & kept) != (g_processTerminalMode.c_lflag & kept)) {
        tcsetattr(STDIN_FILENO, TCSANOW, &g_processTerminalMode);
    }
}

// atexit handler.
void RestoreTerminalAtExit()
{
    RestoreTerminal();
}

// The default action of an ending signal, after the clean-up: the process
// still ends by the signal, as its parent expects.
extern "C" void EndingHandler(int signum)
{
    RestoreTerminal();
    if (static_cast<long>(getpid()) == g_processCleanPid) {
        orx::posix::RemoveEndpointsAtSignal();
    }
    struct sigaction act;
    memset(&act, 0, sizeof act);
    sigemptyset(&act.sa_mask);
    act.sa_handler = SIG_DFL;
    sigaction(signum, &act, nullptr);
    // Blocked while this handler runs: delivered, and fatal, on return.
    raise(signum);
}

// The signal handler: async-signal-safe, it counts and wakes the relay thread.
extern "C" void CatchingHandler(int signum)
{
    int savedErrno = errno;
    OrxPlat_SigCountProc *count = g_processCount.load();
    if (count != nullptr && count(signum)) {
        Wake();
    }
    errno = savedErrno;
}

// Relay thread: calls the relay on each wake-up, and again after the delay it asks for.
void *RelayMain(void *)
{
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    unsigned again = 0;
    for (;;) {
        struct pollfd pfd = {g_processWakeRead, POLLIN, 0};
        struct timespec timeout = {static_cast<time_t>(again / 1000000),
                                   static_cast<long>(again % 1000000) * 1000};
        int ready = ppoll(&pfd, 1, again == 0 ? nullptr : &timeout, nullptr);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0) {
            return nullptr;
        }
        if (ready > 0) {
            char buf[256];
            ssize_t n = read(g_processWakeRead, buf, sizeof buf);
            if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
                return nullptr;
            }
        }
        again = g_processRelay();
    }
}

// Safe in a signal handler: a write to a non-blocking pipe.
void Wake()
{
    int fd = g_processWakeFd.load();
    if (fd >= 0) {
        // A full pipe already holds a wake-up.
        ssize_t ignored = write(fd, "s", 1);
        (void)ignored;
    }
}

// Run once: the wake-up pipe and the detached relay thread; a failure is kept for the caller.
void Start(OrxPlat_SigCountProc *count, OrxPlat_SigRelayProc *relay)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        g_processStartError = errno;
        return;
    }
    g_processWakeRead = fds[0];
    g_processRelay = relay;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    int rc = pthread_create(&thread, &attr, RelayMain, nullptr);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        close(fds[0]);
        close(fds[1]);
        g_processWakeRead = -1;
        g_processStartError = rc;
        return;
    }
    g_processWakeFd.store(fds[1]);
    g_processCount.store(count);
}

} // namespace

int OrxPlat_SigCatchStart(OrxPlat_SigCountProc *count, OrxPlat_SigRelayProc *relay)
{
    std::call_once(g_processStartOnce, Start, count, relay);
    return g_processStartError;
}

void OrxPlat_SigCatchSetOwner(void)
{
    clockid_t clock;
    bool known = pthread_getcpuclockid(pthread_self(), &clock) == 0;
    if (known) {
        g_processOwnerClock.store(clock);
    }
    g_processOwnerKnown.store(known);
}

long long OrxPlat_SigCatchOwnerCpuNs(void)
{
    struct timespec ts;
    if (!g_processOwnerKnown.load() || clock_gettime(g_processOwnerClock.load(), &ts) != 0) {
        return -1;
    }
    return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

void OrxPlat_SigCatchWake(void)
{
    Wake();
}

int OrxPlat_SigSetDisposition(int signum, OrxPlat_SigDisposition disposition)
{
    struct sigaction act;
    memset(&act, 0, sizeof act);
    sigemptyset(&act.sa_mask);
    switch (disposition) {
    case ORXPLAT_SIG_DEFAULT:
        act.sa_handler = g_processCleanEnds.load() && IsEndingSignal(signum) ? EndingHandler
                                                                             : SIG_DFL;
        break;
    case ORXPLAT_SIG_IGNORE:
        act.sa_handler = SIG_IGN;
        break;
    case ORXPLAT_SIG_CATCH:
        act.sa_handler = CatchingHandler;
        break;
    default:
        errno = EINVAL;
        return -1;
    }
    return sigaction(signum, &act, nullptr);
}

int OrxPlat_SigGetDisposition(int signum, OrxPlat_SigDisposition *disposition)
{
    struct sigaction old;
    if (sigaction(signum, nullptr, &old) != 0) {
        return -1;
    }
    if (old.sa_flags & SA_SIGINFO) {
        *disposition = ORXPLAT_SIG_FOREIGN;
    } else if (old.sa_handler == SIG_DFL || old.sa_handler == EndingHandler) {
        *disposition = ORXPLAT_SIG_DEFAULT;
    } else if (old.sa_handler == SIG_IGN) {
        *disposition = ORXPLAT_SIG_IGNORE;
    } else if (old.sa_handler == CatchingHandler) {
        *disposition = ORXPLAT_SIG_CATCH;
    } else {
        *disposition = ORXPLAT_SIG_FOREIGN;
    }
    return 0;
}

void OrxPlat_SigUnblockAll(void)
{
    sigset_t none;
    sigemptyset(&none);
    pthread_sigmask(SIG_SETMASK, &none, nullptr);
}

void OrxPlat_SigCleanEnds(void)
{
    if (g_processCleanEnds.exchange(true)) {
        return;
    }
    g_processCleanPid = static_cast<long>(getpid());
    if (isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &g_processTerminalMode) == 0) {
        g_processTerminalKept.store(true);
        atexit(RestoreTerminalAtExit);
    }
    for (int sig : kEndingSignals) {
        struct sigaction old;
        // Ignored (nohup) or someone else's handler: left as it is.
        if (sigaction(sig, nullptr, &old) == 0 && !(old.sa_flags & SA_SIGINFO) &&
            old.sa_handler == SIG_DFL) {
            OrxPlat_SigSetDisposition(sig, ORXPLAT_SIG_DEFAULT);
        }
    }
}
