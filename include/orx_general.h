/* General commands of the extended command library: echo, infox, loop and
 * try_eval, registered by OrxXGeneralInit, and the application information
 * that the host records with OrxX_SetAppInfo and infox reports. */
#ifndef ORX_GENERAL_H
#define ORX_GENERAL_H

#include <tcl.h>

#include "orx_export.h"

ORX_EXTERN_C_BEGIN

/* Register echo, infox, loop and try_eval in interp (in that order, no
 * client data).  Returns the status of the last registration (TCL_OK). */
ORX_API int OrxXGeneralInit(Tcl_Interp *interp);

/* Record the host application's name, long name, version and patch level for
 * "infox appname", "applongname", "appversion" and "apppatchlevel".  A null
 * string or a negative patch level changes nothing.  With defaultValues 0
 * each given item replaces the stored one; otherwise it is stored only when
 * nothing is stored yet (a null string, a negative patch level).  The strings
 * are not copied: the caller keeps them alive for the life of the process.
 * Process-wide and unlocked: call it before interpreters run on other
 * threads. */
ORX_API void OrxX_SetAppInfo(int defaultValues, const char *appName, const char *appLongName,
                             const char *appVersion, int appPatchlevel);

ORX_EXTERN_C_END

#endif
