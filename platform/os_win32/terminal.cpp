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

bool OrxPlat_TerminalSize(int fd, int *columns, int *rows)
{
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (h == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(h, &info)) {
        return false;
    }
    // The window, not the buffer: the buffer may be thousands of rows.
    *columns = info.srWindow.Right - info.srWindow.Left + 1;
    *rows = info.srWindow.Bottom - info.srWindow.Top + 1;
    return *columns > 0 && *rows > 0;
}
