/* File, path and drive commands: drive letters and the neutral/native forms
 * of file names that the product's scripts carry, with their meaning on this
 * system (no drive letters; mount points stand for drives). */
#ifndef ORX_FILES_H
#define ORX_FILES_H

#include <tcl.h>

#include "orx_export.h"

ORX_EXTERN_C_BEGIN

/* String-argument command procedures; no client data is used. */
ORX_API int Orx_GetDrivesCmd(ClientData clientData, Tcl_Interp *interp, int argc,
                             const char *argv[]);
ORX_API int Orx_GetCurrentDriveCmd(ClientData clientData, Tcl_Interp *interp, int argc,
                                   const char *argv[]);
ORX_API int Orx_FileDriveCmd(ClientData clientData, Tcl_Interp *interp, int argc,
                             const char *argv[]);
ORX_API int Orx_FilePathCmd(ClientData clientData, Tcl_Interp *interp, int argc,
                            const char *argv[]);
ORX_API int Orx_FileComposeCmd(ClientData clientData, Tcl_Interp *interp, int argc,
                               const char *argv[]);
ORX_API int Orx_FileNativeCmd(ClientData clientData, Tcl_Interp *interp, int argc,
                              const char *argv[]);
ORX_API int Orx_FileNeutralCmd(ClientData clientData, Tcl_Interp *interp, int argc,
                               const char *argv[]);
ORX_API int Orx_FileVerifyDriveCmd(ClientData clientData, Tcl_Interp *interp, int argc,
                                   const char *argv[]);
ORX_API int Orx_FileExpandCmd(ClientData clientData, Tcl_Interp *interp, int argc,
                              const char *argv[]);

ORX_EXTERN_C_END

#endif
