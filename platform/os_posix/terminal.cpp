// The terminal on POSIX.  Kept apart from the Tcl-facing input wait, so
// that libtq_cc, which has no Tcl, can take it.
#include "platform/orxplat.h"

#include <unistd.h>

bool OrxPlat_IsTerminal(int fd)
{
    return isatty(fd) != 0;
}
