// The two ways the shell ends the process: the normal exit, which may delete
// the interpreter first, and the fatal-error exit, which prints the message
// and, unless the user asked for quiet errors, the error trace.

#include "orx_shell.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

extern "C" {

void OrxX_ShellExit(Tcl_Interp *interp, int exitCode)
{
    Tcl_Obj *flag = Tcl_GetVar2Ex(interp, "ORXXENV", "deleteInterpAtShellExit", TCL_GLOBAL_ONLY);
    int deleteInterp = 0;
    if (flag != nullptr && Tcl_GetBooleanFromObj(nullptr, flag, &deleteInterp) != TCL_OK) {
        deleteInterp = 0;
    }
    if (deleteInterp) {
        Tcl_DeleteInterp(interp);
    }
    Tcl_Exit(exitCode);
}

void OrxX_ErrorExit(Tcl_Interp *interp, int exitCode, const char *format, ...)
{
    if (format != nullptr) {
        va_list args;
        va_start(args, format);
        char small[256];
        va_list again;
        va_copy(again, args);
        int len = vsnprintf(small, sizeof small, format, args);
        va_end(args);
        if (len >= 0 && static_cast<size_t>(len) < sizeof small) {
            Tcl_AddErrorInfo(interp, small);
        } else if (len >= 0) {
            char *big = Tcl_AttemptAlloc(static_cast<unsigned>(len) + 1);
            if (big != nullptr) {
                vsnprintf(big, static_cast<size_t>(len) + 1, format, again);
                Tcl_AddErrorInfo(interp, big);
                Tcl_Free(big);
            }
        }
        va_end(again);
    }

    Tcl_Obj *result = Tcl_GetObjResult(interp);
    Tcl_IncrRefCount(result);
    const char *message = Tcl_GetString(result);

    Tcl_Channel out = Tcl_GetStdChannel(TCL_STDOUT);
    if (out != nullptr) {
        Tcl_Flush(out);
    }
    Tcl_Channel err = Tcl_GetStdChannel(TCL_STDERR);
    if (err != nullptr) {
        const char *noDump = Tcl_GetVar2(interp, "ORXXENV", "noDump", TCL_GLOBAL_ONLY);
        const char *errorInfo = nullptr;
        if (noDump == nullptr || strcmp(noDump, "0") == 0) {
            errorInfo = Tcl_GetVar2(interp, "errorInfo", nullptr, TCL_GLOBAL_ONLY);
        }
        bool hasTrace = errorInfo != nullptr && *errorInfo != '\0';
        // A trace that begins with the message says it already.
        if (!hasTrace || strncmp(errorInfo, message, strlen(message)) != 0) {
            Tcl_WriteChars(err, message, -1);
            Tcl_WriteChars(err, "\n", 1);
        }
        if (hasTrace) {
            Tcl_WriteChars(err, errorInfo, -1);
            Tcl_WriteChars(err, "\n", 1);
        }
        Tcl_Flush(err);
    }
    Tcl_DecrRefCount(result);
    Tcl_Exit(exitCode);
}

} // extern "C"
