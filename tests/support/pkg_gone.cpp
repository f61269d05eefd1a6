// What libtq_pkgmissing.dll imports, built where no search finds it.

#include <tcl.h>

extern "C" DLLEXPORT int orxtest_defined_nowhere(Tcl_Interp *)
{
    return TCL_OK;
}
