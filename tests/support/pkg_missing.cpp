// Test package whose initialisation calls a function that no library defines: the loader must
// refuse to open it, rather than map it and let the first call end the process.  A Windows DLL
// cannot leave a name undefined: there it imports the function from a DLL that is nowhere to be
// found.

#include <tcl.h>

extern "C" int orxtest_defined_nowhere(Tcl_Interp *interp);
extern "C" DLLEXPORT int pkgmissing_Init(Tcl_Interp *interp)
{
    return orxtest_defined_nowhere(interp);
}
