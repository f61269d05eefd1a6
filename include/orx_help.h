/* The help command of the shell: the synopsis and description of a command
 * from the reference pages installed with the shell. */
#ifndef ORX_HELP_H
#define ORX_HELP_H

#include <tcl.h>

#include "orx_export.h"

ORX_EXTERN_C_BEGIN

/* Register help.  Always TCL_OK. */
ORX_API int OrxXHelpInit(Tcl_Interp *interp);

ORX_EXTERN_C_END

#endif
