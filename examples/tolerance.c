/* tolerance: a loadable package built on the Orx C interface.
 *   package require Orx
 *   load ./libtolerance.so Tolerance
 *   tolerance 470 5      -> {nominal 470.0} {low 446.5} {high 493.5}
 * The result is a keyed list; usage errors are Orx's own. */
#include <tcl.h>

#include "orx_keylist.h"
#include "orx_util.h"

static int ToleranceObjCmd(ClientData clientData, Tcl_Interp *interp, int objc,
                           Tcl_Obj *const objv[])
{
    double nominal, percent;
    (void)clientData;
    if (objc != 3) {
        return OrxX_WrongArgs(interp, objv[0], "nominal percent");
    }
    if (Tcl_GetDoubleFromObj(interp, objv[1], &nominal) != TCL_OK ||
        Tcl_GetDoubleFromObj(interp, objv[2], &percent) != TCL_OK) {
        return TCL_ERROR;
    }
    Tcl_Obj *range = OrxX_NewKeyedListObj();
    Tcl_IncrRefCount(range);
    double delta = nominal * percent / 100.0;
    if (OrxX_KeyedListSet(interp, range, "nominal", Tcl_NewDoubleObj(nominal)) != TCL_OK ||
        OrxX_KeyedListSet(interp, range, "low", Tcl_NewDoubleObj(nominal - delta)) != TCL_OK ||
        OrxX_KeyedListSet(interp, range, "high", Tcl_NewDoubleObj(nominal + delta)) != TCL_OK) {
        Tcl_DecrRefCount(range);
        return TCL_ERROR;
    }
    Tcl_SetObjResult(interp, range);
    Tcl_DecrRefCount(range);
    return TCL_OK;
}

/* What Tcl's load calls for the package name Tolerance. */
int Tolerance_Init(Tcl_Interp *interp)
{
    Tcl_CreateObjCommand(interp, "tolerance", ToleranceObjCmd, NULL, NULL);
    return Tcl_PkgProvide(interp, "Tolerance", "1.0");
}
