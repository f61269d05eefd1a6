// The signal thread: the receiving end of kill between shell processes.  It
// names itself in the pid file and raises, in this process, each signal that
// another process sends it through the signal-message endpoint.
#include "orx_signal.h"

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>

#include "orx_util.h"
#include "platform/orxplat.h"
#include "base/internal.h"

namespace {

// The hand-over between a start and its thread: the thread reports once its
// line is written and its endpoint bound (serving), or once it gave up.
struct Launch {
    std::string pidPath;
    std::mutex lock;
    std::condition_variable changed;
    bool reported = false;
    bool serving = false;

    void Report(bool nowServing)
    {
        std::lock_guard<std::mutex> hold(lock);
        if (!reported) {
            reported = true;
            serving = nowServing;
            changed.notify_all();
        }
    }
};

// Process-wide: one signal thread per pid-file path, whichever interpreter
// asks for it.  A further interpreter of the process shares the thread and
// its line; a thread that gave up leaves room for a new try.
std::mutex g_processLaunchLock;
std::map<std::string, std::shared_ptr<Launch>> *g_processLaunches = nullptr;

// How long a start waits for its thread (a directory lock held elsewhere
// could delay it); the line still appears when the thread gets on.
const auto kReadyTimeout = std::chrono::seconds(5);

// Drops the launch from the table unless a newer one took its place.
void Forget(const std::shared_ptr<Launch> &launch)
{
    std::lock_guard<std::mutex> hold(g_processLaunchLock);
    if (g_processLaunches == nullptr) {
        return;
    }
    auto it = g_processLaunches->find(launch->pidPath);
    if (it != g_processLaunches->end() && it->second == launch) {
        g_processLaunches->erase(it);
    }
}

bool AllDigits(const std::string &text)
{
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// Pid files larger than this are started afresh (a line is some 20 bytes).
constexpr size_t kPidFileLimit = 16u << 20;

// The process id that begins a pid-file line, or -1.
long LinePid(std::string_view line)
{
    size_t digits = 0;
    long pid = 0;
    while (digits < line.size() && digits < 10 && line[digits] >= '0' && line[digits] <= '9') {
        pid = pid * 10 + (line[digits++] - '0');
    }
    return digits > 0 && digits < line.size() && line[digits] == ' ' ? pid : -1;
}

// Add this process's line to the pid file, dropping the lines of processes
// that no longer exist (and earlier ones of this process id), so that the
// file stays as long as the shells running and kill reads it quickly.
// Rewritten under the file's lock, the safe way: a reader sees the old or
// the new file.
void AddPidLine(const std::string &pidFile, const std::string &line)
{
    OrxPlat_FileLock lock(pidFile);
    std::string text, why, kept;
    // What cannot be read (too large, not a regular file) is started afresh.
    if (OrxPlat_ReadWholeFile(pidFile, kPidFileLimit, &text, &why) == ORXPLAT_READ_OK) {
        long self = OrxPlat_ProcessId();
        orx::ForEachLine(text, [&](std::string_view old, int) {
            long pid = LinePid(old);
            if (pid > 0 && pid != self && OrxPlat_ProcessExists(pid)) {
                kept.append(old).push_back('\n');
            }
        });
    }
    kept += line;
    // Not synced: the file lists running shells, so a crash leaves its lines
    // stale whatever it holds, and the sync cost every start-up milliseconds.
    (void)OrxPlat_RewriteFile(pidFile, kept, false);
}

// Thread body: names itself in the pid file, then raises each signal it is sent.
void Serve(const char *pidPath, Launch *launch)
{
    std::string path(pidPath);
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return;
    }
    std::string pidText = path.substr(slash + 1);
    if (!AllDigits(pidText)) {
        return;
    }
    std::string pidFile = path.substr(0, slash);

    // raise() must reach the catching handler on this thread.
    OrxPlat_SigUnblockAll();

    unsigned long threadId = OrxPlat_SigIpcThreadId();
    // Listen before naming ourselves, so a kill that finds the line gets
    // through; without an endpoint the line would only mislead kill.
    OrxPlat_SigIpc *ipc = OrxPlat_SigIpcListen(threadId);
    if (ipc == nullptr) {
        return;
    }
    std::string line = pidText + " " + std::to_string(threadId) + "\n";
    // A line that cannot be written is no reason to stop start-up.
    AddPidLine(pidFile, line);
    if (launch != nullptr) {
        launch->Report(true);
    }

    int message, signalNum;
    while (OrxPlat_SigIpcReceive(ipc, &message, &signalNum) == 0) {
        if (message == ORXPLAT_SIGIPC_MESSAGE && signalNum > 0 && signalNum < NSIG) {
            std::raise(signalNum);
        }
    }
    OrxPlat_SigIpcClose(ipc);
}

// The thread's entry point; its report wakes the starter whatever happened.
void SignalThreadMain(std::shared_ptr<Launch> launch)
{
    try {
        Serve(launch->pidPath.c_str(), launch.get());
    } catch (...) {
        // Out of memory while forming names: as if the endpoint could not
        // be opened.
    }
    launch->Report(false);
    Forget(launch);
}

// The start failure message; without an interpreter, just the status.
int StartFailed(Tcl_Interp *interp, const char *why)
{
    if (interp != nullptr) {
        orx::AppendResult(interp, "couldn't start the signal thread: ", why);
    }
    return TCL_ERROR;
}

} // namespace

void OrxSignalThread(char *pidPath)
{
    if (pidPath == nullptr) {
        return;
    }
    try {
        Serve(pidPath, nullptr);
    } catch (...) {
        // Out of memory while forming names: no signal thread, as if the
        // endpoint could not be opened.
    }
    std::free(pidPath);
}

int OrxX_StartSignalThread(Tcl_Interp *interp, const char *pidPath)
{
    if (pidPath == nullptr) {
        return StartFailed(interp, "no pid file name");
    }
    std::shared_ptr<Launch> launch;
    try {
        std::lock_guard<std::mutex> hold(g_processLaunchLock);
        if (g_processLaunches == nullptr) {
            g_processLaunches = new std::map<std::string, std::shared_ptr<Launch>>();
        }
        auto it = g_processLaunches->find(pidPath);
        if (it != g_processLaunches->end()) {
            launch = it->second;
        } else {
            launch = std::make_shared<Launch>();
            launch->pidPath = pidPath;
            (*g_processLaunches)[launch->pidPath] = launch;
            try {
                std::thread(SignalThreadMain, launch).detach();
            } catch (const std::system_error &e) {
                g_processLaunches->erase(launch->pidPath);
                StartFailed(interp, e.code().message().c_str());
                orx::PosixCode(interp, e.code().value());
                return TCL_ERROR;
            } catch (...) {
                g_processLaunches->erase(launch->pidPath);
                throw;
            }
        }
    } catch (const std::bad_alloc &) {
        return StartFailed(interp, "not enough memory");
    }
    // Back only once a kill from anywhere finds the line and its endpoint.
    std::unique_lock<std::mutex> hold(launch->lock);
    launch->changed.wait_for(hold, kReadyTimeout, [&] { return launch->reported; });
    return TCL_OK;
}
