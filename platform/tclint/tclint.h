// Functions that reach into Tcl's private structures, for the layers above
// that must not include Tcl's private headers.  Each checks the running Tcl's
// version and does nothing (or reports failure) on one it does not know.
#ifndef ORX_PLATFORM_TCLINT_H
#define ORX_PLATFORM_TCLINT_H

#include <tcl.h>

namespace orx {

// Lets procedures that call command keep the variable its first argument
// names (a literal, unqualified scalar name) in a frame slot, as Tcl does
// for the variables of its own compiled commands, so the command's look-up
// of that name no longer hashes it on every call.  Tcl still emits the
// ordinary call: nothing else changes.  Does nothing on a Tcl other than
// 8.6, whose internal layouts this relies on.
void CompileVarArgAsLocal(Tcl_Command command);

} // namespace orx

#endif
