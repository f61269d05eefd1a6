// Test package for orx:load/orx:unload, built under several names (PKG_NAME): its entry points
// count their calls in global variables so the tests can see which routine ran, and it registers
// <name>:hello.

#include <tcl.h>
#include <fenv.h>
#define PKG_STR2(x) #x
#define PKG_STR(x) PKG_STR2(x)
#define PKG_CAT2(a, b) a##b
#define PKG_CAT(a, b) PKG_CAT2(a, b)
#define PKG_EXPORT extern "C" DLLEXPORT

namespace {

int HelloObjCmd(ClientData, Tcl_Interp *interp, int, Tcl_Obj *const[])
{
    Tcl_SetObjResult(interp, Tcl_NewStringObj("hello from " PKG_STR(PKG_NAME), -1));
    return TCL_OK;
}

void Count(Tcl_Interp *interp, const char *what)
{
    Tcl_Obj *counter = Tcl_GetVar2Ex(interp, "pkgcalls", what, TCL_GLOBAL_ONLY);
    int n = 0;
    if (counter != nullptr) {
        Tcl_GetIntFromObj(nullptr, counter, &n);
    }
    Tcl_SetVar2Ex(interp, "pkgcalls", what, Tcl_NewIntObj(n + 1), TCL_GLOBAL_ONLY);
}
} // namespace

PKG_EXPORT int PKG_CAT(PKG_NAME, _Init)(Tcl_Interp *interp)
{
    Count(interp, PKG_STR(PKG_NAME) "_Init");
    Tcl_CreateObjCommand(interp, PKG_STR(PKG_NAME) ":hello", HelloObjCmd, nullptr, nullptr);
    return TCL_OK;
}

// An explicit routine for "orx:load name routine".
PKG_EXPORT int PKG_CAT(PKG_NAME, _Other)(Tcl_Interp *interp)
{
    Count(interp, PKG_STR(PKG_NAME) "_Other");
    return TCL_OK;
}

// Leaves the rounding mode changed, as some numeric libraries do.
PKG_EXPORT int PKG_CAT(PKG_NAME, _RoundUp)(Tcl_Interp *interp)
{
    fesetround(FE_UPWARD);
    return PKG_CAT(PKG_NAME, _Init)(interp);
}
#ifndef PKG_NO_TERM
PKG_EXPORT int PKG_CAT(PKG_NAME, _Term)(Tcl_Interp *interp)
{
    Count(interp, PKG_STR(PKG_NAME) "_Term");
    Tcl_DeleteCommand(interp, PKG_STR(PKG_NAME) ":hello");
    return TCL_OK;
}
#endif

// A termination routine that unloads its own package and passes on what that answers.
PKG_EXPORT int PKG_CAT(PKG_NAME, _SelfUnload)(Tcl_Interp *interp)
{
    Count(interp, PKG_STR(PKG_NAME) "_SelfUnload");
    return Tcl_Eval(interp, "orx:unload " PKG_STR(PKG_NAME));
}

// Fails, with a message, for the error paths of both commands.
PKG_EXPORT int PKG_CAT(PKG_NAME, _Fail)(Tcl_Interp *interp)
{
    Count(interp, PKG_STR(PKG_NAME) "_Fail");
    Tcl_SetObjResult(interp, Tcl_NewStringObj(PKG_STR(PKG_NAME) " refuses", -1));
    return TCL_ERROR;
}
