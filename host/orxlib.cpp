// orxlib: the build's library builder.  Runs OrxPackage:MakeLibrary of
// lib/orx/autoload.tcl (found along MORVA_HOME) on its arguments in an
// interpreter holding only what the builder needs, so that a script library
// can be made before any shell can start:
//   orxlib ?-encrypt seed? library.tlib source.tcl ?source.tcl ...?
#include <tcl.h>

#include <cstdio>

#include "orx_init.h"
#include "orx_library.h"
#include "orx_tclbuild.h"

// Only the families the builder needs: no shell, no start-up scripts; 1 on failure.
int main(int argc, char **argv)
{
    Tcl_FindExecutable(argv[0]);
    Tcl_Interp *interp = Tcl_CreateInterp();
    Tcl_Init(interp); // Tcl's own script library is welcome, not needed
    Tcl_Obj *args = Tcl_NewListObj(0, nullptr);
    for (int i = 1; i < argc; ++i) {
        Tcl_ListObjAppendElement(nullptr, args, Tcl_NewStringObj(argv[i], -1));
    }
    Tcl_SetVar2Ex(interp, "argv", nullptr, args, TCL_GLOBAL_ONLY);
    int code = Orx_TclBuildInit(interp);
    if (code == TCL_OK) {
        code = Orx_TclCmdInit(interp);
    }
    if (code == TCL_OK) {
        code = OrxX_LibraryInit(interp);
    }
    if (code == TCL_OK) {
        code = Tcl_EvalEx(interp, "OrxPackage:MakeLibrary {*}$argv", -1, TCL_EVAL_GLOBAL);
    }
    int status = 0;
    if (code != TCL_OK) {
        const char *info = Tcl_GetVar(interp, "errorInfo", TCL_GLOBAL_ONLY);
        std::fprintf(stderr, "orxlib: %s\n", info != nullptr ? info : Tcl_GetStringResult(interp));
        status = 1;
    }
    Tcl_DeleteInterp(interp);
    Tcl_Finalize();
    return status;
}
