/* Math commands of the extended command library: max and min over any
 * number of numeric arguments. */
#ifndef ORX_MATH_H
#define ORX_MATH_H

#include <tcl.h>

#include "orx_export.h"

ORX_EXTERN_C_BEGIN

/* Register the commands max and min in interp.  Tcl 8.6 has max() and min() expression functions of its own, so none are
 * added.  Always TCL_OK. */
ORX_API int OrxXMathInit(Tcl_Interp *interp);

ORX_EXTERN_C_END

#endif
