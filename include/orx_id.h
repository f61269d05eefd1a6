/* Identity and network information: the "id" command family and the
 * orx:netinfo command procedure of the fixed command table. */
#ifndef ORX_ID_H
#define ORX_ID_H

#include <tcl.h>

#include "orx_export.h"

ORX_EXTERN_C_BEGIN

/* Register the "id" command in interp.  Returns TCL_OK. */
ORX_API int OrxXIdInit(Tcl_Interp *interp);

/* String command procedure of "orx:netinfo option arg" (-address or -service),
 * registered by interpreter initialisation in its fixed command table. */
ORX_API int Orx_NetInfoCmd(ClientData clientData, Tcl_Interp *interp, int argc,
                           const char *argv[]);

ORX_EXTERN_C_END

#endif
