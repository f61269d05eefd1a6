// Input wait for the command loops on POSIX: poll(2) is never restarted after
// a signal handler runs, whatever SA_RESTART says, so Ctrl-C at the prompt
// comes back as EINTR instead of being swallowed by a retried read(2).

#include "platform/cmdinput.h"

#include <poll.h>

#include <cerrno>
#include <cstdint>

namespace orx::cmdinput {

int WaitForInput(Tcl_Channel channel)
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
    pfd.revents = 0;
    if (poll(&pfd, 1, -1) < 0) {
        return errno == EINTR ? EINTR : 0;
    }
    return 0;
}

} // namespace orx::cmdinput
