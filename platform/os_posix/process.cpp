// The process on POSIX: its identifier and the system's random source.
#include "platform/orxplat.h"

#include <sys/random.h>
#include <unistd.h>

long OrxPlat_ProcessId(void)
{
    return static_cast<long>(getpid());
}

bool OrxPlat_RandomBytes(void *buffer, size_t size)
{
    return getrandom(buffer, size, 0) == static_cast<ssize_t>(size);
}
