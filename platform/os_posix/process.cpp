// The process on POSIX: its identifier, its environment and the system's
// random source.
#include "platform/orxplat.h"

#include <signal.h>
#include <sys/random.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cfenv>
#include <cstdlib>

long OrxPlat_ProcessId(void)
{
    return static_cast<long>(getpid());
}

bool OrxPlat_ProcessExists(long pid)
{
    pid_t id = static_cast<pid_t>(pid);
    if (pid <= 0 || id != pid) {
        return false;
    }
    // EPERM: it exists but belongs to someone else.
    return kill(id, 0) == 0 || errno == EPERM;
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
