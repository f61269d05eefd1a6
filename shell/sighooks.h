// Hooks of the signal family for the shell's line editor: signal traps run
// from the event loop (no command running) may write while the user types.
// Internal to the shell.
#ifndef ORX_SHELL_SIGHOOKS_H
#define ORX_SHELL_SIGHOOKS_H

namespace orx::signals {

// before runs just ahead of processing signals in the background, after
// just behind; null clears.  One pair, process-wide.
void SetBackgroundDisplayHooks(void (*before)(), void (*after)());

} // namespace orx::signals

#endif
