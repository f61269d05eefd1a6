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
