// Internal side of the Tcl-build services (include/orx_tclbuild.h): the
// access-mode parsing that the path search and its tests share.
#ifndef ORX_PLATFORM_TCLBUILD_H
#define ORX_PLATFORM_TCLBUILD_H

#include "orx_tclbuild.h"

namespace orx::tclbuild {

// Turn an access or fopen mode ("r", "wb", "a+", "rx" ...) into access()
// bits; *writes tells whether the mode may create the file.  False for a
// character outside "rwax+bt".  A null or empty mode asks for existence only.
bool ParseAccessMode(const char *mode, int *amodePtr, bool *writesPtr);

} // namespace orx::tclbuild

#endif
