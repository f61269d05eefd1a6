// The process on POSIX: its identifier, its environment and the system's
// random source.
#include "platform/orxplat.h"

#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cfenv>
#include <cstdlib>

long OrxPlat_ProcessId(void)
{
    return static_cast<long>(getpid());
}

int OrxPlat_SetEnv(const char *name, const char *value)
{
    return setenv(name, value, 1) == 0 ? 0 : errno;
}

void OrxPlat_ResetFloatingPoint(void)
{
    std::fesetenv(FE_DFL_ENV);
}

bool OrxPlat_RandomBytes(void *buffer, size_t size)
{
    return getrandom(buffer, size, 0) == static_cast<ssize_t>(size);
}
