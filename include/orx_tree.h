/* Tree models for tree views: orx:tree creates a named tree of text labels
 * with a command of its own, through which scripts build it, keep open and
 * visible flags per node, filter it and read it back in flattened forms. */
#ifndef ORX_TREE_H
#define ORX_TREE_H

#include <tcl.h>

#include "orx_export.h"

ORX_EXTERN_C_BEGIN

/* orx:tree name ?list?: string-argument command procedure, no client data.
 * Tree names are unique in the process (the registry is process-wide); the
 * tree lives until its command is deleted (destroy, rename to "", or with the
 * interpreter).  All tree commands must run on one thread at a time. */
ORX_API int Orx_TreeCmd(ClientData clientData, Tcl_Interp *interp, int argc, const char *argv[]);

ORX_EXTERN_C_END

#endif
