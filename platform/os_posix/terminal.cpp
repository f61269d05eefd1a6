// The terminal on POSIX.  Kept apart from the Tcl-facing input wait, so
// that libtq_cc, which has no Tcl, can take it.
#include "platform/orxplat.h"

#include <sys/ioctl.h>
#include <unistd.h>

bool OrxPlat_IsTerminal(int fd)
{
    return isatty(fd) != 0;
}

bool OrxPlat_TerminalSize(int fd, int *columns, int *rows)
{
    struct winsize size;
    if (ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0) {
        return false;
    }
    *columns = size.ws_col;
    *rows = size.ws_row;
    return true;
}
