/* Character-string commands of the extended command library: cindex,
 * clength, cconcat, crange, csubstr, ccollate, replicate, translit, ctype,
 * ctoken and cequal.  Positions count characters, not bytes. */
#ifndef ORX_STRING_H
#define ORX_STRING_H

#include <tcl.h>

#include "orx_export.h"

ORX_EXTERN_C_BEGIN

/* Register the string commands in interp.  Always TCL_OK. */
ORX_API int OrxXStringInit(Tcl_Interp *interp);

ORX_EXTERN_C_END

#endif
