// Minimal host for the tests: a plain Tcl 8.6 interpreter with the command families of the library
// initialised from the library's own table, plus the Tcl-build services and the fixed command
// table, evaluating the script given as argument.  No start-up packages, no signal thread;
// MORVA_HOME defaults to the build's installation, whose script library the start-up needs.

#include <tcl.h>
#include <cstdlib>

#include "orx_etp.h"
#include "orx_init.h"
#include "orx_tclbuild.h"

namespace {

int AppInit(Tcl_Interp *interp)
{
    if (Tcl_Init(interp) != TCL_OK || Orx_TclBuildInit(interp) != TCL_OK ||
        etpCreateTclCommands(interp) != TCL_OK || Orx_TclCmdInit(interp) != TCL_OK) {
        return TCL_ERROR;
    }
    return OrxX_InitFamilies(interp);
}
} // namespace

int main(int argc, char **argv)
{
    if (getenv("MORVA_HOME") == nullptr) {
#ifdef _WIN32
        _putenv_s("MORVA_HOME", Orx_DefaultMorvaHome());
#else
        setenv("MORVA_HOME", Orx_DefaultMorvaHome(), 1);
#endif
    }
    Tcl_Main(argc, argv, AppInit);
    return 0;
}
