/* Display attributes of enumerated types: orx:setEtpType sets the colours
 * and line styles of many literals of one type of the enumerated-type
 * registry (reference page etp.md) from parallel lists. */
#ifndef ORX_ETPTYPE_H
#define ORX_ETPTYPE_H

#include <tcl.h>

#include "orx_export.h"

ORX_EXTERN_C_BEGIN

/* orx:setEtpType typeName -literals literalList option valueList ?option
 * valueList?: string-argument command procedure, no client data. */
ORX_API int Orx_SetEtpTypeCmd(ClientData clientData, Tcl_Interp *interp, int argc,
                              const char *argv[]);

ORX_EXTERN_C_END

#endif
