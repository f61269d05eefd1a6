/* Profiling: the command profile counts the calls of procedures (and, on
 * request, of every command) and accumulates their times per call stack,
 * writing the figures into a Tcl array when profiling is turned off. */
#ifndef ORX_PROFILE_H
#define ORX_PROFILE_H

#include <tcl.h>

#include "orx_export.h"

ORX_EXTERN_C_BEGIN

/* Create the interpreter's profiler (freed with the interpreter, stopping a
 * profile still running) and the command profile.  TCL_OK, or TCL_ERROR
 * when the profiler cannot be allocated. */
ORX_API int OrxX_ProfileInit(Tcl_Interp *interp);

ORX_EXTERN_C_END

#endif
