/* File scanning: scancontext, scanmatch and scanfile read a channel line by
 * line and run the Tcl commands whose regular expressions match, with the
 * array matchInfo describing the line and the match. */
#ifndef ORX_FILESCAN_H
#define ORX_FILESCAN_H

#include <tcl.h>

#include "orx_export.h"

ORX_EXTERN_C_BEGIN

/* Create the interpreter's table of scan contexts (handles "context0", ...)
 * and the commands scanfile, scanmatch and scancontext; the contexts are
 * freed with the interpreter.  TCL_OK, or TCL_ERROR when the table cannot be
 * had. */
ORX_API int OrxXFilescanInit(Tcl_Interp *interp);

ORX_EXTERN_C_END

#endif
