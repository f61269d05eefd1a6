/* List commands of the extended command library: lvarcat, lvarpop, lvarpush
 * and lassign change variables holding lists; lempty, lmatch and lcontain
 * query a list. */
#ifndef ORX_LIST_H
#define ORX_LIST_H

#include <tcl.h>

#include "orx_export.h"

ORX_EXTERN_C_BEGIN

/* Register the list commands in interp; lassign replaces Tcl's own command
 * of that name.  Always TCL_OK. */
ORX_API int OrxXListInit(Tcl_Interp *interp);

ORX_EXTERN_C_END

#endif
