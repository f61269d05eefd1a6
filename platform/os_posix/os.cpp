// The exported OrxXOS functions on POSIX: elapsed and CPU time, signalling
// another shell through the signal thread named in the pid file, directory
// walking, the size of a channel's file, and the flock probe.
#include "orx_os.h"
#include "orx_util.h"
#include "platform/orxplat.h"
#include "base/internal.h"

#include <dirent.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// The interrupt signal: the only one that ends a process without a signal
// thread.
constexpr int kInterruptSignal = 2;

// Further sends after a transient failure of the first one.
constexpr int kSendRetries = 100;

// Milliseconds of the given clock, 0 when it cannot be read.
long ClockMs(clockid_t clock)
{
    struct timespec now;
    if (clock_gettime(clock, &now) != 0) {
        return 0;
    }
    return static_cast<long>(now.tv_sec) * 1000L + now.tv_nsec / 1000000L;
}

// Channel handle for the size query: the read handle, else the write handle.
bool ChannelFd(Tcl_Channel channel, int *fd)
{
    ClientData handle = nullptr;
    if (Tcl_GetChannelHandle(channel, TCL_READABLE, &handle) != TCL_OK &&
        Tcl_GetChannelHandle(channel, TCL_WRITABLE, &handle) != TCL_OK) {
        return false;
    }
    intptr_t value = reinterpret_cast<intptr_t>(handle);
    if (value < 0 || value > INT_MAX) {
        return false;
    }
    *fd = static_cast<int>(value);
    return true;
}

// Whether flock works on this system's temporary files; asked once.
int ProbeFlock()
{
    std::string path = OrxPlat_TempDir() + "/orxflockXXXXXX";
    std::vector<char> name(path.begin(), path.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0) {
        // No file to try on: only a call the system lacks says "no".
        return 1;
    }
    unlink(name.data());
    int have = 1;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        have = (errno == ENOSYS || errno == EOPNOTSUPP || errno == ENOLCK) ? 0 : 1;
    } else {
        flock(fd, LOCK_UN);
    }
    close(fd);
    return have;
}

// Appends Tcl's text for errorCode (and sets errorCode from it).
void AppendPosixError(Tcl_Interp *interp, int error)
{
    orx::AppendResult(interp, orx::PosixCode(interp, error));
}


} // namespace

extern "C" {

void OrxXOSElapsedTime(long *realTime, long *cpuTime)
{
    static const long base = ClockMs(CLOCK_MONOTONIC);
    if (realTime != nullptr) {
        *realTime = ClockMs(CLOCK_MONOTONIC) - base;
    }
    if (cpuTime != nullptr) {
        *cpuTime = ClockMs(CLOCK_PROCESS_CPUTIME_ID);
    }
}

int OrxXOSkill(Tcl_Interp *interp, int pid, int signalNumber, const char *funcName)
{
    (void)funcName;
    if (pid <= 0) {
        orx::AppendResult(interp, "no negative or 0 process ids acceptable in Windows.");
        return orx::ValueCode(interp, "NUMBER", std::to_string(pid));
    }
    unsigned long threadId = 0;
    if (OrxPlat_PidFileThread(pid, &threadId)) {
        // A thread that has gone is not an error: its line just outlived it.
        for (int attempt = 0; attempt <= kSendRetries; attempt++) {
            if (OrxPlat_SigIpcSend(threadId, ORXPLAT_SIGIPC_MESSAGE, signalNumber) == 0) {
                break;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != ENOBUFS && errno != EINTR) {
                break;
            }
        }
    } else if (signalNumber == kInterruptSignal) {
        // No signal thread: end the process, as an interrupt would.
        if (kill(static_cast<pid_t>(pid), SIGTERM) != 0 && errno != ESRCH && errno != EPERM) {
            int error = errno;
            char formatted[32];
            std::snprintf(formatted, sizeof formatted, "%d ", pid);
            orx::AppendResult(interp, "Could not kill process \"", formatted, "\"");
            orx::PosixCode(interp, error);
            return TCL_ERROR;
        }
    }
    Tcl_ResetResult(interp);
    return TCL_OK;
}

int OrxXOSWalkDir(Tcl_Interp *interp, const char *path, int hidden,
                  OrxXOSWalkCallbackProc *callback, ClientData clientData)
{
    const char *given = (path == nullptr || *path == '\0') ? "." : path;
    struct stat info;
    if (stat(given, &info) != 0 || !S_ISDIR(info.st_mode)) {
        return TCL_OK;
    }
    DIR *dir = opendir(given);
    if (dir == nullptr) {
        int error = errno;
        orx::AppendResult(interp, "couldn't read directory \"", given, "\": ");
        AppendPosixError(interp, error);
        return TCL_ERROR;
    }
    int status = TCL_OK;
    for (;;) {
        errno = 0;
        struct dirent *entry = readdir(dir);
        if (entry == nullptr) {
            if (errno != 0) {
                int error = errno;
                orx::AppendResult(interp, "couldn't read directory \"", given, "\": ");
                AppendPosixError(interp, error);
                status = TCL_ERROR;
            }
            break;
        }
        const char *name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) {
            continue;
        }
        if (name[0] == '.' && !hidden) {
            continue;
        }
        // POSIX file systems tell names apart by case.
        status = callback(interp, path == nullptr ? "" : path, name, 1, clientData);
        if (status != TCL_OK && status != TCL_CONTINUE) {
            break;
        }
    }
    closedir(dir);
    return status;
}

int OrxXOSGetFileSize(Tcl_Channel channel, int64_t *fileSize)
{
    int fd = -1;
    if (channel == nullptr || !ChannelFd(channel, &fd)) {
        errno = EINVAL; // a caller's message must not read "Success"
        return TCL_ERROR;
    }
    struct stat info;
    if (fstat(fd, &info) != 0) {
        return TCL_ERROR;
    }
    if (S_ISREG(info.st_mode) || S_ISFIFO(info.st_mode)) {
        *fileSize = static_cast<int64_t>(info.st_size);
    } else if (S_ISCHR(info.st_mode) || S_ISSOCK(info.st_mode)) {
        *fileSize = 0;
    } else if (S_ISBLK(info.st_mode)) {
        uint64_t bytes = 0;
        if (ioctl(fd, BLKGETSIZE64, &bytes) != 0) {
            return TCL_ERROR;
        }
        *fileSize = static_cast<int64_t>(bytes);
    } else {
        errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        return TCL_ERROR;
    }
    return TCL_OK;
}

int OrxXOSHaveFlock(void)
{
    static const int have = ProbeFlock();
    return have;
}

} // extern "C"
