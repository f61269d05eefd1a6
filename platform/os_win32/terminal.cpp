// The terminal on Windows: a console handle.  Kept apart from the Tcl-facing
// input wait, so that libtq_cc, which has no Tcl, can take it.
#include "platform/orxplat.h"

#include "win32.h"

#include <io.h>

bool OrxPlat_IsTerminal(int fd)
{
    // _isatty is true for every character device, NUL included.
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    DWORD mode;
    return h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) != 0;
}
