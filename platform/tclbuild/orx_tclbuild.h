/* Services that the product's own Tcl build adds to the Tcl interface: the
 * record of the process's main interpreter, file search along a path
 * variable (C and the Tcl command spath), the splitting of path lists, and
 * the coverage-recording hook of the shell entry. */
#ifndef ORX_TCLBUILD_H
#define ORX_TCLBUILD_H

#include <tcl.h>

#include "tclbuild_export.h"

TQ_TCLBUILD_EXTERN_C_BEGIN

/* Flags of Orx_Spath. */
#define ORX_SPATH_PATH_FIRST 2 /* try the path directories before the name as given */

/* Record interp as the process's main interpreter (null forgets it) and give
 * it the commands of the Tcl build (spath).  A main interpreter that is
 * deleted is forgotten. */
TQ_TCLBUILD_API void Orx_SetMainInterp(Tcl_Interp *interp);

/* The interpreter last recorded by Orx_SetMainInterp, or null. */
TQ_TCLBUILD_API Tcl_Interp *Orx_GetMainInterp(void);

/* Register the Tcl build's commands (spath) in interp.  Returns TCL_OK. */
TQ_TCLBUILD_API int Orx_TclBuildInit(Tcl_Interp *interp);

/* Find a file for fileName that grants the access of mode ("r", "w", "x",
 * combined, or an fopen mode such as "rb" or "a+") along the directories of
 * the environment variable searchSpec (":"-separated; null or empty searchSpec
 * means no search).  Names beginning with "/", "~", "./" or "../" are only
 * checked as given; other names are checked as given (relative to the current
 * directory) and below each path directory, the name as given first unless
 * flags holds ORX_SPATH_PATH_FIRST.  Only regular files match, so that no
 * FIFO or device that a search comes upon can hold the caller up; a name
 * given as an explicit path may be any file but a directory.  For a mode that
 * writes, a name that does not exist yet is accepted as given when its
 * directory may be written.  Returns the name to open, valid until the next
 * call for the same interp, or null with a message in the interpreter
 * result. */
TQ_TCLBUILD_API const char *Orx_Spath(Tcl_Interp *interp, const char *fileName, const char *searchSpec,
                              const char *mode, int flags);

/* Split a ":"-separated path list into its directories; empty elements are
 * dropped.  *dirsPtr gets one Tcl_Alloc'ed block (free it with Tcl_Free) of
 * *countPtr pointers followed by a null pointer.  TCL_ERROR with a message
 * (when interp is not null) when pathValue is null. */
TQ_TCLBUILD_API int Orx_SplitPathVar(Tcl_Interp *interp, const char *pathValue, int *countPtr,
                             char ***dirsPtr);

/* Coverage-recording hook, called by the shell entry once the interpreter is
 * initialised.  This build records no coverage; returns 0. */
TQ_TCLBUILD_API int OrxCoverage_Init(void);

/* Coverage hook of command tracing: called with 1 when an interpreter's
 * cmdtrace is set up and with 0 when that interpreter is deleted.  This build
 * records no coverage; it counts those interpreters and returns the count. */
TQ_TCLBUILD_API int OrxCoverage_CmdTraceCB(int enable);

TQ_TCLBUILD_EXTERN_C_END

#endif
