// Waiting for command input on a channel in a way an interrupt can break:
// the channel layer of Tcl retries reads that a signal interrupts, so the
// command loops wait for input here first.
#ifndef ORX_PLATFORM_CMDINPUT_H
#define ORX_PLATFORM_CMDINPUT_H

#include <tcl.h>

namespace orx::cmdinput {

// Block until channel has input (or end of file, or an error) to read.
// Returns 0 when reading can go on, or EINTR when Tcl has asynchronous
// handlers ready (a signal arrived) first.
// Channels with buffered input, and those without an OS handle, return 0.
int WaitForInput(Tcl_Channel channel);

} // namespace orx::cmdinput

#endif
