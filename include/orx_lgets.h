/* Reading lists from channels: the command lgets reads one Tcl list from a
 * channel however many lines it spans. */
#ifndef ORX_LGETS_H
#define ORX_LGETS_H

#include <tcl.h>

#include "orx_export.h"

ORX_EXTERN_C_BEGIN

/* Create the command lgets in interp.  Returns TCL_OK. */
ORX_API int OrxXLgetsInit(Tcl_Interp *interp);

ORX_EXTERN_C_END

#endif
