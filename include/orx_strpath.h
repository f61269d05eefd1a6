/* String join/split and path split for the product's scripts and libraries:
 * the orx:StrJoin, orx:StrSplit, orx:pathsplit, tmpname, tempname and
 * orx:GetPlatform command procedures, and the path helpers other product
 * libraries call. */
#ifndef ORX_STRPATH_H
#define ORX_STRPATH_H

#include <tcl.h>

#include "orx_export.h"

ORX_EXTERN_C_BEGIN

/* String-argument command procedures; no client data is used. */
ORX_API int Orx_StrJoinCmd(ClientData clientData, Tcl_Interp *interp, int argc,
                           const char *argv[]);
ORX_API int Orx_StrSplitCmd(ClientData clientData, Tcl_Interp *interp, int argc,
                            const char *argv[]);
ORX_API int Orx_PathsplitCmd(ClientData clientData, Tcl_Interp *interp, int argc,
                             const char *argv[]);
ORX_API int Orx_TmpnamCmd(ClientData clientData, Tcl_Interp *interp, int argc,
                          const char *argv[]);
ORX_API int Orx_TempnamCmd(ClientData clientData, Tcl_Interp *interp, int argc,
                           const char *argv[]);
ORX_API int Orx_GetPlatformCmd(ClientData clientData, Tcl_Interp *interp, int argc,
                               const char *argv[]);

/* Append the pieces of path between unquoted splitChar characters to out (an
 * initialised dynamic string) as list elements; a leading splitChar is
 * skipped, double quotes protect separators and stay in the pieces.  With
 * unquote set each piece goes through Orx_UnQuoteName first.  path is not
 * changed.  Returns 0. */
ORX_API int Orx_Pathsplit(const char *path, char splitChar, int unquote, Tcl_DString *out);

/* Remove quote marks of the form @"text" from name, in place, keeping the
 * text.  Returns name (null for null). */
ORX_API char *Orx_UnQuoteName(char *name);

ORX_EXTERN_C_END

#endif
