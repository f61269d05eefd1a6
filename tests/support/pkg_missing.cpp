// Test package whose initialisation calls a function that no library
// defines: the loader must refuse to open it, rather than map it and let the
// first call end the process.
#include <tcl.h>

extern "C" int orxtest_defined_nowhere(Tcl_Interp *interp);

extern "C" __attribute__((visibility("default"))) int pkgmissing_Init(Tcl_Interp *interp)
{
    return orxtest_defined_nowhere(interp);
}
