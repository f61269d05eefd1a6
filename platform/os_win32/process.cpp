// The process on Windows: its identifier, its environment (the system's and
// the C runtime's copy, which getenv reads), the system's random source and
// the floating-point reset.
#include "platform/orxplat.h"

#include "win32.h"

#include <bcrypt.h>
#include <float.h>

#include <cerrno>
#include <cstdlib>

long OrxPlat_ProcessId(void)
{
    return static_cast<long>(GetCurrentProcessId());
}

bool OrxPlat_ProcessExists(long pid)
{
    if (pid <= 0) {
        return false;
    }
    HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (h == nullptr) {
        // It exists but belongs to someone else.
        return GetLastError() == ERROR_ACCESS_DENIED;
    }
    // A handle still open somewhere keeps an ended process's identifier.
    DWORD code = 0;
    bool running = GetExitCodeProcess(h, &code) && code == STILL_ACTIVE;
    CloseHandle(h);
    return running;
}

int OrxPlat_SetEnv(const char *name, const char *value)
{
    if (!SetEnvironmentVariableA(name, value)) {
        return orx::win::LastErrno();
    }
    return _putenv_s(name, value) == 0 ? 0 : EINVAL;
}

bool OrxPlat_RandomBytes(void *buffer, size_t size)
{
    return size <= 0xFFFFFFFFu &&
           BCryptGenRandom(nullptr, static_cast<PUCHAR>(buffer), static_cast<ULONG>(size),
                           BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0;
}

void OrxPlat_ResetFloatingPoint(void)
{
    _fpreset();
}
