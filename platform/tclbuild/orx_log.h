/* Command logging of the product's Tcl build: the top-level commands an
 * interpreter evaluates can be written to a channel.  The command loops
 * switch logging off while they evaluate prompt and end scripts. */
#ifndef ORX_LOG_H
#define ORX_LOG_H

#include <tcl.h>

#include "tclbuild_export.h"

TQ_TCLBUILD_EXTERN_C_BEGIN

/* Log every top-level command that interp evaluates to the writable channel
 * channelName (looked up on each write; logging stops once it is closed), and
 * switch logging on.  A null name stops logging.  TCL_OK, or TCL_ERROR with a
 * message when the channel is unknown or not writable. */
TQ_TCLBUILD_API int OrxLog_SetChannel(Tcl_Interp *interp, const char *channelName);

/* Read or change the logging state of interp.  With null: the current state,
 * "enable" or "disable", without changing it; null when no log channel is set
 * (nothing to restore).  With "disable" or "enable" (a state returned
 * earlier): switch logging off or on and return the state before.  Other
 * texts change nothing.  The strings returned are static. */
TQ_TCLBUILD_API const char *OrxLog_State(Tcl_Interp *interp, const char *state);

TQ_TCLBUILD_EXTERN_C_END

#endif
