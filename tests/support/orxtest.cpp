// Test-only Tcl extension: lets tcltest files look at objects the way the C
// code sees them (reference count, type, sharing), to catch leaks and values
// changed in place while shared.  Loaded with [load $env(ORX_TESTLIB) Orxtest].

#include <tcl.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif
#include <cstring>

namespace {

const char *TypeName(Tcl_Obj *obj)
{
    return obj->typePtr ? obj->typePtr->name : "";
}

// testobj var name         -- describes the object held by a variable
// testobj same name1 name2 -- 1 when both variables hold the very same object
// testobj type value       -- the type name of a value's object
int TestObjCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc < 3) {
        Tcl_WrongNumArgs(interp, 1, objv, "option arg ?arg?");
        return TCL_ERROR;
    }
    const char *opt = Tcl_GetString(objv[1]);
    if (std::strcmp(opt, "type") == 0 && objc == 3) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj(TypeName(objv[2]), -1));
        return TCL_OK;
    }
    bool var = std::strcmp(opt, "var") == 0 && objc == 3;
    if (!var && (std::strcmp(opt, "same") != 0 || objc != 4)) {
        Tcl_SetObjResult(interp, Tcl_ObjPrintf("bad testobj usage \"%s\"", opt));
        return TCL_ERROR;
    }
    Tcl_Obj *held[2] = {nullptr, nullptr};
    for (int i = 2; i < objc; ++i) {
        if ((held[i - 2] = Tcl_ObjGetVar2(interp, objv[i], nullptr, TCL_LEAVE_ERR_MSG)) ==
            nullptr) {
            return TCL_ERROR;
        }
    }
    Tcl_Obj *obj = held[0];
    Tcl_SetObjResult(interp, var ? Tcl_ObjPrintf("refCount %d type {%s} shared %d hasString %d",
                                                 obj->refCount, TypeName(obj), obj->refCount > 1,
                                                 obj->bytes != nullptr)
                                 : Tcl_NewBooleanObj(held[0] == held[1]));
    return TCL_OK;
}
} // namespace

// A function of the host's libraries, found while it runs.
static void *HostSymbol(const char *name)
{
#ifdef _WIN32
    HMODULE module = GetModuleHandleA("libtq_tclbuild.dll");
    return module != nullptr ? reinterpret_cast<void *>(GetProcAddress(module, name)) : nullptr;
#else
    return dlsym(RTLD_DEFAULT, name);
#endif
}

// testprotect name ?0|1? -- sets or clears the protected mark of a command through the
// host's library (looked up at run time: this helper does not link it); returns the mark.
static int TestProtectCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    using SetProc = int (*)(Tcl_Interp *, Tcl_Command, int);
    using IsProc = int (*)(Tcl_Interp *, Tcl_Command);
    auto set = reinterpret_cast<SetProc>(HostSymbol("Orx_SetCommandProtected"));
    auto is = reinterpret_cast<IsProc>(HostSymbol("Orx_IsCommandProtected"));
    int flag = 1;
    if (objc < 2 || objc > 3 ||
        (objc == 3 && Tcl_GetBooleanFromObj(interp, objv[2], &flag) != TCL_OK)) {
        Tcl_WrongNumArgs(interp, 1, objv, "name ?0|1?");
        return TCL_ERROR;
    }
    if (set == nullptr || is == nullptr) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj("the host has no protected marks", -1));
        return TCL_ERROR;
    }
    Tcl_Command cmd = Tcl_FindCommand(interp, Tcl_GetString(objv[1]), nullptr, 0);
    if (cmd == nullptr) {
        Tcl_SetObjResult(interp, Tcl_ObjPrintf("no command \"%s\"", Tcl_GetString(objv[1])));
        return TCL_ERROR;
    }
    if (set(interp, cmd, flag) != TCL_OK) {
        return TCL_ERROR;
    }
    Tcl_SetObjResult(interp, Tcl_NewIntObj(is(interp, cmd)));
    return TCL_OK;
}

extern "C" DLLEXPORT int Orxtest_Init(Tcl_Interp *interp)
{
    Tcl_CreateObjCommand(interp, "testobj", TestObjCmd, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "testprotect", TestProtectCmd, nullptr, nullptr);
    return Tcl_PkgProvide(interp, "Orxtest", "1.0");
}
