/* Script libraries: the encrypted text format with DecryptString and the
 * encrypt/decrypt commands, library indexes with on-demand loading of script
 * packages (OrxX_LibraryInit), and command tracing (OrxXDebugInit). */
#ifndef ORX_LIBRARY_H
#define ORX_LIBRARY_H

#include <tcl.h>

#include "orx_export.h"

ORX_EXTERN_C_BEGIN

/* Name of the interpreter association holding the base key of the encrypted
 * text format: its client data points at two unsigned 32-bit words, K0
 * first.  The host installs it; encrypt, decrypt and encrypted library
 * packages fail without it. */
#define ORX_KEY_ASSOC "key"

/* Replace the "%ENCRYPTED%" text held in *textPtr by its plain text.  token
 * must be the process-wide decryption call token that this library set just
 * before the call (the library's own callers do); any other value fails with
 * "Illegal use of encryption.".  A token serves one call.  TCL_OK, or
 * TCL_ERROR with the message in the interpreter result and *textPtr
 * unchanged. */
ORX_API int DecryptString(Tcl_Interp *interp, int token, Tcl_DString *textPtr);

/* String command procedures of "encrypt key text" and "decrypt ?-morva?
 * text", registered by the interpreter initialisation's fixed command
 * table. */
ORX_API int Orx_EncryptCmd(ClientData clientData, Tcl_Interp *interp, int argc,
                           const char *argv[]);
ORX_API int Orx_DecryptCmd(ClientData clientData, Tcl_Interp *interp, int argc,
                           const char *argv[]);

/* Source the installation's lib/orx/autoload.tcl (found with spath along
 * MORVA_HOME), then register loadlibindex, orxx_load_tndxs, auto_load_pkg and
 * the OrxPackage: commands of the library builder.  TCL_ERROR, with nothing
 * registered and the message in the result, when the script fails. */
ORX_API int OrxX_LibraryInit(Tcl_Interp *interp);

/* Register cmdtrace in interp.  TCL_ERROR when its state cannot be
 * allocated. */
ORX_API int OrxXDebugInit(Tcl_Interp *interp);

ORX_EXTERN_C_END

#endif
