// Test-only commands for the signal tests, loaded with "load $lib Sigtest":
//   sigtest start pidPath  start a signal thread (the test host has none)
//   sigtest raise signal ?n? ?wait?  raise a signal n times inside one command, so that the
//                          deliveries wait together; with wait, return only once the
//                          interpreter has been told (at most 5 s)
//   sigtest console        whether the process has a console (Windows)
//   sigtest ctrlc          CTRL_C_EVENT to every process attached to that console

#include <signal.h>
#include <string.h>
#include <tcl.h>
#ifdef _WIN32
#include <windows.h>
#endif
#include "orx_signal.h"

namespace {

int SigtestObjCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
#ifdef _WIN32
    if (objc == 2 && strcmp(Tcl_GetString(objv[1]), "console") == 0) {
        DWORD mode;
        Tcl_SetObjResult(interp,
                         Tcl_NewBooleanObj(GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) ||
                                           GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode)));
        return TCL_OK;
    }
    if (objc == 2 && strcmp(Tcl_GetString(objv[1]), "ctrlc") == 0) {
        if (!GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) {
            Tcl_SetObjResult(interp, Tcl_ObjPrintf("no console event: error %lu", GetLastError()));
            return TCL_ERROR;
        }
        return TCL_OK;
    }
#endif
    if (objc < 3) {
        Tcl_WrongNumArgs(interp, 1, objv, "start pidPath | raise signal ?count? ?wait?");
        return TCL_ERROR;
    }
    const char *sub = Tcl_GetString(objv[1]);
    if (strcmp(sub, "start") == 0 && objc == 3) {
        return OrxX_StartSignalThread(interp, Tcl_GetString(objv[2]));
    }
    if (strcmp(sub, "raise") == 0 && objc <= 5) {
        int sig, count = 1, wait = 0;
        if (Tcl_GetIntFromObj(interp, objv[2], &sig) != TCL_OK ||
            (objc >= 4 && Tcl_GetIntFromObj(interp, objv[3], &count) != TCL_OK) ||
            (objc == 5 && Tcl_GetBooleanFromObj(interp, objv[4], &wait) != TCL_OK)) {
            return TCL_ERROR;
        }
        for (int i = 0; i < count; i++) {
            if (raise(sig) != 0) {
                Tcl_SetObjResult(interp, Tcl_NewStringObj(Tcl_PosixError(interp), -1));
                return TCL_ERROR;
            }
        }
        for (int waited = 0; wait && !Tcl_AsyncReady() && waited < 5000; waited++) {
            Tcl_Sleep(1);
        }
        Tcl_SetObjResult(interp, Tcl_NewStringObj("raised", -1));
        return TCL_OK;
    }
    Tcl_SetObjResult(
        interp, Tcl_NewStringObj("usage: sigtest start pidPath | raise signal ?count? ?wait?", -1));
    return TCL_ERROR;
}
} // namespace

extern "C" DLLEXPORT int Sigtest_Init(Tcl_Interp *interp)
{
    Tcl_CreateObjCommand(interp, "sigtest", SigtestObjCmd, nullptr, nullptr);
    return TCL_OK;
}
