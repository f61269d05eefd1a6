// Input wait for the command loops on POSIX: the channel layer retries a
// read(2) that a signal interrupts, so the loops wait here, in poll(2), and
// give up the wait as soon as Tcl has asynchronous work (an interrupt).
#include "platform/orxplat.h"

#include <poll.h>

#include <cerrno>
#include <cstdint>

int OrxPlat_WaitForInput(Tcl_Channel channel)
{
    if (Tcl_InputBuffered(channel) > 0) {
        return 0;
    }
    ClientData handle;
    if (Tcl_GetChannelHandle(channel, TCL_READABLE, &handle) != TCL_OK) {
        return 0;
    }
    struct pollfd pfd;
    pfd.fd = static_cast<int>(reinterpret_cast<intptr_t>(handle));
    pfd.events = POLLIN;
    // The catching handler may run on another thread (the signal thread, or
    // any thread the kernel picks for Ctrl-C), and the interpreter is told
    // through Tcl_AsyncMark, which does not break a poll: look at the
    // asynchronous state between short waits.  Right after an interrupt the
    // mark may still be on its way, so the next look comes sooner.
    int waitMs = 100;
    for (;;) {
        if (Tcl_AsyncReady()) {
            return EINTR;
        }
        pfd.revents = 0;
        int ready = poll(&pfd, 1, waitMs);
        if (ready > 0 || (ready < 0 && errno != EINTR)) {
            return 0;
        }
        waitMs = ready < 0 ? 5 : 100;
    }
}
