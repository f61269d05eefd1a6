/* The configuration query: the tessarycfg command procedure and the function
 * behind it, which other product libraries may call too. */
#ifndef ORX_TESSARYCFG_H
#define ORX_TESSARYCFG_H

#include <tcl.h>

#include "orx_export.h"

ORX_EXTERN_C_BEGIN

/* String-argument command procedure of "tessarycfg ?application_name
 * ?variable_name??"; no client data is used. */
ORX_API int Orx_TessarycfgCmd(ClientData clientData, Tcl_Interp *interp, int argc,
                              const char *argv[]);

/* Set the interpreter result to the list of the configuration values of
 * application and variable (either may be null); see c_mcfgn. */
ORX_API void Orx_Tessarycfg(Tcl_Interp *interp, const char *application, const char *variable);

ORX_EXTERN_C_END

#endif
