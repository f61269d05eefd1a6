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

Tcl_Obj *DescribeObj(Tcl_Obj *obj, int extraRefs)
{
    Tcl_Obj *res = Tcl_NewListObj(0, nullptr);
    Tcl_ListObjAppendElement(nullptr, res, Tcl_NewStringObj("refCount", -1));
    Tcl_ListObjAppendElement(nullptr, res, Tcl_NewIntObj(obj->refCount - extraRefs));
    Tcl_ListObjAppendElement(nullptr, res, Tcl_NewStringObj("type", -1));
    Tcl_ListObjAppendElement(nullptr, res,
                             Tcl_NewStringObj(obj->typePtr ? obj->typePtr->name : "", -1));
    Tcl_ListObjAppendElement(nullptr, res, Tcl_NewStringObj("shared", -1));
    Tcl_ListObjAppendElement(nullptr, res, Tcl_NewBooleanObj(obj->refCount - extraRefs > 1));
    Tcl_ListObjAppendElement(nullptr, res, Tcl_NewStringObj("hasString", -1));
    Tcl_ListObjAppendElement(nullptr, res, Tcl_NewBooleanObj(obj->bytes != nullptr));
    return res;
}

// testobj var name      -- describes the object held by a variable
// testobj same name1 name2 -- 1 when both variables hold the very same object
// testobj type value    -- the type name of a value's object
int TestObjCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc < 3) {
        Tcl_WrongNumArgs(interp, 1, objv, "option arg ?arg?");
        return TCL_ERROR;
    }
    const char *opt = Tcl_GetString(objv[1]);
    if (std::strcmp(opt, "var") == 0 && objc == 3) {
        Tcl_Obj *val = Tcl_ObjGetVar2(interp, objv[2], nullptr, TCL_LEAVE_ERR_MSG);
        if (val == nullptr) {
            return TCL_ERROR;
        }
        Tcl_SetObjResult(interp, DescribeObj(val, 0));
        return TCL_OK;
    }
    if (std::strcmp(opt, "same") == 0 && objc == 4) {
        Tcl_Obj *a = Tcl_ObjGetVar2(interp, objv[2], nullptr, TCL_LEAVE_ERR_MSG);
        if (a == nullptr) {
            return TCL_ERROR;
        }
        Tcl_Obj *b = Tcl_ObjGetVar2(interp, objv[3], nullptr, TCL_LEAVE_ERR_MSG);
        if (b == nullptr) {
            return TCL_ERROR;
        }
        Tcl_SetObjResult(interp, Tcl_NewBooleanObj(a == b));
        return TCL_OK;
    }
    if (std::strcmp(opt, "type") == 0 && objc == 3) {
        Tcl_Obj *o = objv[2];
        Tcl_SetObjResult(interp, Tcl_NewStringObj(o->typePtr ? o->typePtr->name : "", -1));
        return TCL_OK;
    }
    Tcl_SetObjResult(interp, Tcl_ObjPrintf("bad testobj usage \"%s\"", opt));
    return TCL_ERROR;
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

// testprotect name ?0|1? -- sets or clears the protected mark of a command
// through the host's library (looked up at run time: this helper does not
// link it); returns the mark afterwards.
static int TestProtectCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    using SetProc = int (*)(Tcl_Interp *, Tcl_Command, int);
    using IsProc = int (*)(Tcl_Interp *, Tcl_Command);
    auto set = reinterpret_cast<SetProc>(HostSymbol("Orx_SetCommandProtected"));
    auto is = reinterpret_cast<IsProc>(HostSymbol("Orx_IsCommandProtected"));
    int flag = 1;
    if (objc < 2 || objc > 3 || (objc == 3 && Tcl_GetBooleanFromObj(interp, objv[2], &flag) != TCL_OK)) {
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
