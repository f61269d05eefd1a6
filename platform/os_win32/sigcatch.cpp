// Catching signals with the C runtime's signal(), as the product did: Ctrl-C
// arrives in the runtime's console-control thread, raise() in the raising
// thread.  The runtime puts the default back before each call, so the
// handler installs itself again first.  The relay is a thread of its own
// woken through an event, free to take the locks a handler may not.
#include "platform/orxplat.h"

#include "win32.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>

#include <atomic>
#include <mutex>

namespace {

using Handler = void(__cdecl *)(int);

std::atomic<OrxPlat_SigCountProc *> g_processCount{nullptr};
OrxPlat_SigRelayProc *g_processRelay = nullptr;
std::atomic<HANDLE> g_processWakeEvent{nullptr};
std::once_flag g_processStartOnce;
int g_processStartError = 0;
std::atomic<HANDLE> g_processOwner{nullptr};

void Wake()
{
    HANDLE event = g_processWakeEvent.load();
    if (event != nullptr) {
        SetEvent(event);
    }
}

extern "C" void __cdecl CatchingHandler(int signum)
{
    int savedErrno = errno;
    if (std::signal(signum, CatchingHandler) == SIG_ERR) {
        Tcl_Panic("SignalTrap bug");
    }
    OrxPlat_SigCountProc *count = g_processCount.load();
    if (count != nullptr && count(signum)) {
        Wake();
    }
    errno = savedErrno;
}

DWORD WINAPI RelayMain(LPVOID)
{
    HANDLE event = g_processWakeEvent.load();
    unsigned again = 0;
    for (;;) {
        DWORD waitMs = again == 0 ? INFINITE : (again + 999) / 1000;
        DWORD rc = WaitForSingleObject(event, waitMs);
        if (rc == WAIT_FAILED) {
            return 0;
        }
        again = g_processRelay();
    }
}

void Start(OrxPlat_SigCountProc *count, OrxPlat_SigRelayProc *relay)
{
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (event == nullptr) {
        g_processStartError = orx::win::LastErrno();
        return;
    }
    g_processRelay = relay;
    g_processWakeEvent.store(event);
    HANDLE thread = CreateThread(nullptr, 0, RelayMain, nullptr, 0, nullptr);
    if (thread == nullptr) {
        g_processStartError = orx::win::LastErrno();
        g_processWakeEvent.store(nullptr);
        CloseHandle(event);
        return;
    }
    CloseHandle(thread); // it lives until the process ends
    g_processCount.store(count);
}

// SIG_DFL is a null pointer: the answer comes apart from the handler.
bool HandlerOf(OrxPlat_SigDisposition disposition, Handler *handler)
{
    switch (disposition) {
    case ORXPLAT_SIG_DEFAULT: *handler = SIG_DFL; return true;
    case ORXPLAT_SIG_IGNORE: *handler = SIG_IGN; return true;
    case ORXPLAT_SIG_CATCH: *handler = CatchingHandler; return true;
    default: return false;
    }
}

} // namespace

int OrxPlat_SigCatchStart(OrxPlat_SigCountProc *count, OrxPlat_SigRelayProc *relay)
{
    std::call_once(g_processStartOnce, Start, count, relay);
    return g_processStartError;
}

void OrxPlat_SigCatchSetOwner(void)
{
    HANDLE self = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &self,
                         THREAD_QUERY_LIMITED_INFORMATION, FALSE, 0)) {
        self = nullptr;
    }
    HANDLE old = g_processOwner.exchange(self);
    if (old != nullptr) {
        CloseHandle(old);
    }
}

long long OrxPlat_SigCatchOwnerCpuNs(void)
{
    HANDLE owner = g_processOwner.load();
    FILETIME created, exited, kernel, user;
    if (owner == nullptr || !GetThreadTimes(owner, &created, &exited, &kernel, &user)) {
        return -1;
    }
    DWORD code = 0;
    if (GetExitCodeThread(owner, &code) && code != STILL_ACTIVE) {
        return -1;
    }
    auto ticks = [](const FILETIME &t) {
        return (static_cast<long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return (ticks(kernel) + ticks(user)) * 100;
}

void OrxPlat_SigCatchWake(void)
{
    Wake();
}

int OrxPlat_SigSetDisposition(int signum, OrxPlat_SigDisposition disposition)
{
    Handler handler;
    if (!HandlerOf(disposition, &handler)) {
        errno = EINVAL;
        return -1;
    }
    errno = 0;
    if (std::signal(signum, handler) == SIG_ERR) {
        if (errno == 0) {
            errno = EINVAL;
        }
        return -1;
    }
    return 0;
}

int OrxPlat_SigGetDisposition(int signum, OrxPlat_SigDisposition *disposition)
{
    // The runtime has no query: set the default and put back what was there.
    errno = 0;
    Handler old = std::signal(signum, SIG_DFL);
    if (old == SIG_ERR) {
        if (errno == 0) {
            errno = EINVAL;
        }
        return -1;
    }
    std::signal(signum, old);
    *disposition = old == SIG_DFL            ? ORXPLAT_SIG_DEFAULT
                   : old == SIG_IGN          ? ORXPLAT_SIG_IGNORE
                   : old == CatchingHandler  ? ORXPLAT_SIG_CATCH
                                             : ORXPLAT_SIG_FOREIGN;
    return 0;
}

void OrxPlat_SigUnblockAll(void)
{
    // Windows has no signal masks: every thread takes every signal.
}

namespace {

// The console's input mode at start, put back at every end the process
// sees: Windows ends a process whose console closes after its control
// handlers ran, and has no TERM, HUP or QUIT to catch.
std::atomic<bool> g_processConsoleKept{false};
DWORD g_processConsoleMode = 0;

void RestoreConsole()
{
    if (g_processConsoleKept.load()) {
        SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), g_processConsoleMode);
    }
}

void RestoreConsoleAtExit()
{
    RestoreConsole();
}

BOOL WINAPI ConsoleEnding(DWORD event)
{
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT ||
        event == CTRL_SHUTDOWN_EVENT) {
        RestoreConsole();
    }
    return FALSE; // the next handler, or the default end, follows
}

} // namespace

void OrxPlat_SigCleanEnds(void)
{
    static std::once_flag once;
    std::call_once(once, [] {
        HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
        DWORD mode;
        if (in != INVALID_HANDLE_VALUE && in != nullptr && GetConsoleMode(in, &mode)) {
            g_processConsoleMode = mode;
            g_processConsoleKept.store(true);
            atexit(RestoreConsoleAtExit);
        }
        SetConsoleCtrlHandler(ConsoleEnding, TRUE);
    });
}
