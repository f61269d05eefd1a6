/* Extension package loader: orx:load and orx:unload map product extension
 * packages (shared libraries found along PATH) into the process and run their
 * initialisation and termination entry points.  The table of loaded packages
 * is process-wide and locked: interpreters of several threads may load and
 * unload at once (one at a time, entry points included).  Call the commands
 * on the interpreter's own thread. */
#ifndef ORX_LOADER_H
#define ORX_LOADER_H

#include <tcl.h>

#include "orx_export.h"

ORX_EXTERN_C_BEGIN

/* Entry point of an extension package: <name>_Init registers the package's
 * commands in interp, <name>_Term removes them.  TCL_OK means success; any
 * message goes to the interpreter result. */
typedef int(Orx_PackageProc)(Tcl_Interp *interp);

/* String command procedure of "orx:load ?packageName ?routine? ?-exact??".
 * Without arguments the result is the sorted list of loaded package names.
 * Otherwise loads libtq_<packageName>.so (<packageName>.so with -exact),
 * searched along PATH, and calls routine (default <packageName>_Init). */
ORX_API int Orx_LoadCmd(ClientData clientData, Tcl_Interp *interp, int argc, const char *argv[]);

/* String command procedure of "orx:unload packageName ?routine?": forgets the
 * package, calls routine (default <packageName>_Term) and unmaps the library
 * when the routine succeeds. */
ORX_API int Orx_UnloadCmd(ClientData clientData, Tcl_Interp *interp, int argc,
                          const char *argv[]);

ORX_EXTERN_C_END

#endif
