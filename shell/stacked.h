// The shell's channels stacked on standard input and output pass what they
// do not handle themselves to the channel below: its options, its file
// events, its blocking mode.  Internal to the shell.
#ifndef ORX_SHELL_STACKED_H
#define ORX_SHELL_STACKED_H

#include <tcl.h>

namespace orx::stacked {

// The option procedures of below, or Tcl's "bad option" when it has none.
int SetOptionBelow(Tcl_Channel below, Tcl_Interp *interp, const char *name, const char *value);
int GetOptionBelow(Tcl_Channel below, Tcl_Interp *interp, const char *name, Tcl_DString *value);

// The watch and blocking-mode procedures of below, where it has them.
void WatchBelow(Tcl_Channel below, int mask);
int BlockModeBelow(Tcl_Channel below, int mode);

} // namespace orx::stacked

#endif
