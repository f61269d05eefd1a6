// The exported OrxXOS functions on Windows, the calls the product made:
// tick counts, thread message 2024 to the signal thread named in the pid
// file (TerminateProcess for an interrupt to a process without one),
// FindFirstFile walks with the volume's case rule, GetFileType and
// GetFileSizeEx for a channel, and the LockFileEx probe.
#include "orx_os.h"
#include "orx_util.h"
#include "platform/orxplat.h"
#include "base/internal.h"

#include "win32.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// The interrupt signal: the only one that ends a process without a signal
// thread.
constexpr int kInterruptSignal = 2;

// Further posts after a transient failure (a full message queue).
constexpr int kSendRetries = 100;

long long Ticks100ns(const FILETIME &t)
{
    return (static_cast<long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

// Appends Tcl's text for errorCode (and sets errorCode from it).
void AppendPosixError(Tcl_Interp *interp, int error)
{
    orx::AppendResult(interp, orx::PosixCode(interp, error));
}


// A pipe-type handle that answers the socket-type query is a socket.
bool IsSocket(HANDLE h)
{
    int type = 0;
    int size = sizeof type;
    return getsockopt(reinterpret_cast<SOCKET>(h), SOL_SOCKET, SO_TYPE,
                      reinterpret_cast<char *>(&type), &size) == 0;
}

} // namespace

extern "C" {

void OrxXOSElapsedTime(long *realTime, long *cpuTime)
{
    static const ULONGLONG base = GetTickCount64();
    if (realTime != nullptr) {
        *realTime = static_cast<long>(GetTickCount64() - base);
    }
    if (cpuTime != nullptr) {
        // The process's CPU time, as on POSIX: more use to a profiler than 0.
        FILETIME created, exited, kernel, user;
        *cpuTime = GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)
                       ? static_cast<long>((Ticks100ns(kernel) + Ticks100ns(user)) / 10000)
                       : 0;
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
        // Only a full queue is worth another post: one signal, one delivery.
        for (int attempt = 0; attempt <= kSendRetries; attempt++) {
            if (OrxPlat_SigIpcSend(threadId, ORXPLAT_SIGIPC_MESSAGE, signalNumber) == 0 ||
                errno != EAGAIN) {
                break;
            }
            Sleep(1);
        }
    } else if (signalNumber == kInterruptSignal) {
        // No signal thread: end the process, as an interrupt would.
        HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, TRUE, static_cast<DWORD>(pid));
        if (process != nullptr) {
            BOOL ended = TerminateProcess(process, 0);
            int error = ended ? 0 : orx::win::LastErrno();
            CloseHandle(process);
            if (!ended) {
                char formatted[32];
                std::snprintf(formatted, sizeof formatted, "%d ", pid);
                orx::AppendResult(interp, "Could not kill process \"", formatted, "\"");
                orx::PosixCode(interp, error);
                return TCL_ERROR;
            }
        }
    }
    Tcl_ResetResult(interp);
    return TCL_OK;
}

int OrxXOSWalkDir(Tcl_Interp *interp, const char *path, int hidden,
                  OrxXOSWalkCallbackProc *callback, ClientData clientData)
{
    std::string dir = (path == nullptr || *path == '\0') ? "." : path;
    for (char &c : dir) {
        if (c == '/') {
            c = '\\';
        }
    }
    if (dir.back() != '\\' && dir.back() != ':') {
        dir += '\\';
    }
    DWORD attributes = GetFileAttributesA(dir.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return TCL_OK;
    }
    DWORD flags = 0;
    if (!orx::win::VolumeFlags(dir, &flags)) {
        int error = orx::win::LastErrno();
        orx::AppendResult(interp, "couldn't read volume information for \"", path, "\": ");
        AppendPosixError(interp, error);
        return TCL_ERROR;
    }
    int caseSensitive = (flags & FILE_CASE_SENSITIVE_SEARCH) ? 1 : 0;
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((dir + "*.*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_FILE_NOT_FOUND) {
            return TCL_OK; // nothing matches in an empty root
        }
        int error = orx::win::LastErrno();
        orx::AppendResult(interp, "couldn't read directory \"", path, "\": ");
        AppendPosixError(interp, error);
        return TCL_ERROR;
    }
    int status = TCL_OK;
    do {
        const char *name = entry.cFileName;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) {
            continue;
        }
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) && !hidden) {
            continue;
        }
        status = callback(interp, path == nullptr ? "" : path, name, caseSensitive, clientData);
        if (status != TCL_OK && status != TCL_CONTINUE) {
            break;
        }
    } while (FindNextFileA(find, &entry));
    FindClose(find);
    return status;
}

int OrxXOSGetFileSize(Tcl_Channel channel, int64_t *fileSize)
{
    ClientData handle = nullptr;
    if (channel == nullptr || (Tcl_GetChannelHandle(channel, TCL_READABLE, &handle) != TCL_OK &&
                               Tcl_GetChannelHandle(channel, TCL_WRITABLE, &handle) != TCL_OK)) {
        return TCL_ERROR;
    }
    HANDLE h = static_cast<HANDLE>(handle);
    switch (GetFileType(h)) {
    case FILE_TYPE_DISK: {
        // All 64 bits: the low word alone would wrap at 4 GB.
        LARGE_INTEGER size;
        if (!GetFileSizeEx(h, &size)) {
            return TCL_ERROR;
        }
        *fileSize = size.QuadPart;
        return TCL_OK;
    }
    case FILE_TYPE_PIPE: {
        DWORD available = 0;
        if (IsSocket(h) || !PeekNamedPipe(h, nullptr, 0, nullptr, &available, nullptr)) {
            available = 0;
        }
        *fileSize = available;
        return TCL_OK;
    }
    case FILE_TYPE_CHAR:
        *fileSize = 0;
        return TCL_OK;
    default:
        return TCL_ERROR;
    }
}

int OrxXOSHaveFlock(void)
{
    // A lock call on no file: only "not implemented" (error 120) says no.
    OVERLAPPED at = {};
    if (LockFileEx(nullptr, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 0, 0, &at)) {
        return 1;
    }
    return GetLastError() == ERROR_CALL_NOT_IMPLEMENTED ? 0 : 1;
}

} // extern "C"
