// orxsh: the Orx shell.  The host's part is the start-up callback; the shell
// itself (options, command loop, exits) is OrxSh_Main in the library.
#include <tcl.h>

#include "orx_init.h"
#include "orx_shell.h"

namespace {

int AppInit(Tcl_Interp *interp)
{
    if (Tcl_Init(interp) != TCL_OK) {
        return TCL_ERROR;
    }
    Tcl_SetVar2(interp, "tcl_rcFileName", nullptr, "~/.orxshrc", TCL_GLOBAL_ONLY);
    if (Orx_Init(interp) != TCL_OK) {
        return TCL_ERROR;
    }
    // Linked in: "load {} Orx child" makes a further Orx interpreter.
    Tcl_StaticPackage(interp, "Orx", Orx_Init, nullptr);
    return TCL_OK;
}

} // namespace

int main(int argc, char **argv)
{
    OrxSh_Main(argc, argv, AppInit);
}
