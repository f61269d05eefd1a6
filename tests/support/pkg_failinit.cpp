// Test package whose initialisation fails with a message and an odd code,
// after registering a command: the loader must keep it mapped.

#include <tcl.h>

namespace {

int StillHereObjCmd(ClientData, Tcl_Interp *interp, int, Tcl_Obj *const[])
{
    Tcl_SetObjResult(interp, Tcl_NewStringObj("still mapped", -1));
    return TCL_OK;
}
} // namespace

extern "C" DLLEXPORT int pkgfail_Init(Tcl_Interp *interp)
{
    Tcl_CreateObjCommand(interp, "pkgfail:stillhere", StillHereObjCmd, nullptr, nullptr);
    Tcl_SetObjResult(interp, Tcl_NewStringObj("pkgfail cannot start", -1));
    return TCL_BREAK;
}
