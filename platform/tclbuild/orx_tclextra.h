/* Extras that the product's Tcl build offers besides the Tcl interface:
 * integer formatting, procedure and call-level queries, and the protected
 * mark of a command (a protected command cannot be renamed, deleted or
 * redefined by scripts; C code may still delete it). */
#ifndef ORX_TCLEXTRA_H
#define ORX_TCLEXTRA_H

#include <tcl.h>

#include "tclbuild_export.h"

TQ_TCLBUILD_EXTERN_C_BEGIN

/* Write the decimal text of value into buffer, which holds at least
 * TCL_INTEGER_SPACE bytes.  Returns buffer. */
TQ_TCLBUILD_API char *Orx_PrintInteger(long value, char *buffer);

/* 1 when name (resolved as a command name is in the current namespace)
 * names a Tcl procedure, imported procedures included; 0 otherwise. */
TQ_TCLBUILD_API int Orx_IsProc(Tcl_Interp *interp, const char *name);

/* The current procedure call level, as "info level" reports it (0 at top
 * level). */
TQ_TCLBUILD_API int Orx_InterpLevel(Tcl_Interp *interp);

/* Set (protect non-zero) or clear the protected mark of a command.  While it
 * is set, scripts cannot rename, delete or redefine the command through
 * rename, proc, interp alias or interp hide; Tcl_DeleteCommand from C still
 * deletes it (and the mark goes with it).  Returns TCL_OK, or TCL_ERROR with
 * a message when command is null. */
TQ_TCLBUILD_API int Orx_SetCommandProtected(Tcl_Interp *interp, Tcl_Command command, int protect);

/* 1 when the command carries the protected mark in interp, else 0. */
TQ_TCLBUILD_API int Orx_IsCommandProtected(Tcl_Interp *interp, Tcl_Command command);

TQ_TCLBUILD_EXTERN_C_END

#endif
