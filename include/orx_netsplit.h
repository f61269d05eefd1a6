/* Netlist line splitting: orx:MorvaListSplit splits simulator netlist
 * statements into instance path, instance name, node list and arguments. */
#ifndef ORX_NETSPLIT_H
#define ORX_NETSPLIT_H

#include <tcl.h>

#include "orx_export.h"

ORX_EXTERN_C_BEGIN

/* orx:MorvaListSplit ?-netlist? ?-fullpath | -path -instance? ?-nodes?
 * ?-arguments? morvaList: string-argument command procedure, no client
 * data. */
ORX_API int Orx_MorvaListSplitCmd(ClientData clientData, Tcl_Interp *interp, int argc,
                                  const char *argv[]);

ORX_EXTERN_C_END

#endif
