// Input wait for the command loops on Windows: a blocking read of the
// console or a pipe cannot be broken by an interrupt, so the loops wait
// here, in short slices, and give up the wait as soon as Tcl has
// asynchronous work (Ctrl-C, a signal from kill).
#include "platform/orxplat.h"

#include "win32.h"

#include <cerrno>

namespace {

bool ConsoleReady(HANDLE h, DWORD waitMs)
{
    // Signalled while any input record is queued; the read then blocks until
    // the console's line input has a whole line.
    DWORD rc = WaitForSingleObject(h, waitMs);
    return rc != WAIT_TIMEOUT;
}

bool PipeReady(HANDLE h, DWORD waitMs)
{
    DWORD available = 0;
    if (!PeekNamedPipe(h, nullptr, 0, nullptr, &available, nullptr)) {
        return true; // broken pipe: the read sees the end of input
    }
    if (available > 0) {
        return true;
    }
    Sleep(waitMs);
    return false;
}

} // namespace

int OrxPlat_WaitForInput(Tcl_Channel channel)
{
    if (Tcl_InputBuffered(channel) > 0) {
        return 0;
    }
    ClientData handle;
    if (Tcl_GetChannelHandle(channel, TCL_READABLE, &handle) != TCL_OK) {
        return 0;
    }
    HANDLE h = static_cast<HANDLE>(handle);
    DWORD mode;
    bool console = GetConsoleMode(h, &mode) != 0;
    if (!console && GetFileType(h) != FILE_TYPE_PIPE) {
        return 0; // a disk file is always ready
    }
    // Right after an interrupt the mark may still be on its way, so the
    // next look comes sooner; a pipe is looked at often while it is quiet.
    DWORD waitMs = console ? 100 : 10;
    for (;;) {
        if (Tcl_AsyncReady()) {
            return EINTR;
        }
        if (console ? ConsoleReady(h, waitMs) : PipeReady(h, waitMs)) {
            return 0;
        }
    }
}
