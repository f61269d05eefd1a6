// General commands: echo, infox, loop and try_eval, and the application
// information the host records with OrxX_SetAppInfo.  infox reads the
// product version from the configuration store and the flock probe from the
// OS layer.
#include "orx_general.h"

#include <climits>
#include <cstring>

#include "orx_os.h"
#include "tq_tessary.h"
#include "orx_util.h"
#include "base/internal.h"
#include "platform/tclint/tclint.h"

namespace {

// ---- Application information (process-wide, set by the host) -------------

struct AppInfo {
    const char *name = nullptr;
    const char *longName = nullptr;
    const char *version = nullptr;
    int patchlevel = -1;
};

// Process-wide: one application per process, whatever its interpreters.
AppInfo &TheAppInfo()
{
    static AppInfo info;
    return info;
}

// ---- echo -----------------------------------------------------------------

// echo ?word ...?
int EchoObjCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    Tcl_Channel channel = OrxX_GetOpenChannel(interp, "stdout", TCL_WRITABLE);
    if (channel == nullptr) {
        return TCL_ERROR;
    }
    bool ok = true;
    for (int i = 1; i < objc && ok; ++i) {
        ok = Tcl_WriteObj(channel, objv[i]) >= 0 &&
             (i == objc - 1 || Tcl_WriteChars(channel, " ", 1) >= 0);
    }
    if (!ok || Tcl_WriteChars(channel, "\n", 1) < 0) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj(orx::PosixCode(interp, Tcl_GetErrno()), -1));
        return TCL_ERROR;
    }
    return TCL_OK;
}

// ---- infox ----------------------------------------------------------------

enum class Fact { Version, AppName, AppLongName, AppVersion, AppPatchlevel, Flock, Int, Boolean };

struct InfoxOption {
    const char *name;
    Fact fact;
    int value; // for Int and Boolean
};

// The answers describe this command set, as the product's own build gives
// them, not what the host system could do.
const InfoxOption kInfoxOptions[] = {
    {"version", Fact::Version, 0},
    {"patchlevel", Fact::Int, 0},
    {"have_fchown", Fact::Boolean, 0},
    {"have_fchmod", Fact::Boolean, 0},
    {"have_flock", Fact::Flock, 0},
    {"have_fsync", Fact::Boolean, 0},
    {"have_ftruncate", Fact::Boolean, 1},
    {"have_msgcats", Fact::Boolean, 0},
    {"have_posix_signals", Fact::Boolean, 0},
    {"have_signal_restart", Fact::Boolean, 0},
    {"have_truncate", Fact::Boolean, 0},
    {"have_symlink", Fact::Boolean, 1},
    {"have_waitpid", Fact::Boolean, 1},
    {"appname", Fact::AppName, 0},
    {"applongname", Fact::AppLongName, 0},
    {"appversion", Fact::AppVersion, 0},
    {"apppatchlevel", Fact::AppPatchlevel, 0},
};

// The single configured ORX version, else "UNKNOWN".
Tcl_Obj *ConfiguredVersion()
{
    const char *version = nullptr;
    if (c_mcfgn("VERSIONS", "ORX") == 1) {
        version = mcf_getString("VERSIONS", "ORX", 1);
    }
    return Tcl_NewStringObj(version != nullptr ? version : "UNKNOWN", -1);
}

// Tcl_NewStringObj would read a null pointer; an unset field reads as empty.
Tcl_Obj *TextOrEmpty(const char *text)
{
    return text != nullptr ? Tcl_NewStringObj(text, -1) : Tcl_NewObj();
}

// infox option
int InfoxObjCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc != 2) {
        return OrxX_WrongArgs(interp, objv[0], "option");
    }
    const char *option = Tcl_GetString(objv[1]);
    const InfoxOption *found = nullptr;
    for (const InfoxOption &candidate : kInfoxOptions) {
        if (std::strcmp(option, candidate.name) == 0) {
            found = &candidate;
            break;
        }
    }
    if (found == nullptr) {
        orx::AppendResult(interp, "illegal option \"", option,
                          "\", expect one of: version, patchlevel, have_fchown, have_fchmod, have_flock, have_fsync, have_ftruncate, have_msgcats, have_symlink, have_truncate, have_posix_signals, have_waitpid, appname, applongname, appversion, or apppatchlevel");
        return orx::ValueCode(interp, "OPTION", option);
    }
    const AppInfo &app = TheAppInfo();
    Tcl_Obj *result = nullptr;
    switch (found->fact) {
    case Fact::Version:
        result = ConfiguredVersion();
        break;
    case Fact::AppName:
        result = TextOrEmpty(app.name);
        break;
    case Fact::AppLongName:
        result = TextOrEmpty(app.longName);
        break;
    case Fact::AppVersion:
        result = TextOrEmpty(app.version);
        break;
    case Fact::AppPatchlevel:
        result = Tcl_NewIntObj(app.patchlevel < 0 ? 0 : app.patchlevel);
        break;
    case Fact::Flock:
        result = Tcl_NewBooleanObj(OrxXOSHaveFlock());
        break;
    case Fact::Int:
        result = Tcl_NewIntObj(found->value);
        break;
    case Fact::Boolean:
        result = Tcl_NewBooleanObj(found->value);
        break;
    }
    Tcl_SetObjResult(interp, result);
    return TCL_OK;
}

// ---- loop -----------------------------------------------------------------

// TCL_OK or TCL_ERROR with the write's own message (array name, read-only trace).
int StoreValue(Tcl_Interp *interp, Tcl_Obj *varName, Tcl_Obj *value)
{
    return Tcl_ObjSetVar2(interp, varName, nullptr, value, TCL_LEAVE_ERR_MSG) != nullptr
               ? TCL_OK
               : TCL_ERROR;
}

// The counter goes into the variable's own object when nobody else holds it,
// sparing an allocation per iteration; an untraced plain scalar needs no
// write at all then.
// local is the variable's frame slot, when it has one: no look-up then.
int StoreCounter(Tcl_Interp *interp, Tcl_Obj *varName, long value, void *local = nullptr)
{
    Tcl_Obj *current =
        local != nullptr ? orx::PlainLocalValue(local) : orx::PlainScalarValue(interp, varName);
    if (current != nullptr && !Tcl_IsShared(current)) {
        Tcl_SetLongObj(current, value);
        return TCL_OK;
    }
    current = Tcl_ObjGetVar2(interp, varName, nullptr, 0);
    if (current != nullptr && !Tcl_IsShared(current)) {
        Tcl_SetLongObj(current, value);
        return StoreValue(interp, varName, current);
    }
    return StoreValue(interp, varName, Tcl_NewLongObj(value));
}

// a + b, which does not fit a long, as decimal text (Tcl reads it back as a
// big integer).
Tcl_Obj *NewWideSum(long a, long b)
{
    __int128 sum = static_cast<__int128>(a) + b;
    bool negative = sum < 0;
    unsigned __int128 magnitude =
        negative ? -static_cast<unsigned __int128>(sum) : static_cast<unsigned __int128>(sum);
    char digits[48];
    char *p = digits + sizeof digits;
    do {
        *--p = static_cast<char>('0' + static_cast<int>(magnitude % 10));
        magnitude /= 10;
    } while (magnitude != 0);
    if (negative) {
        *--p = '-';
    }
    return Tcl_NewStringObj(p, static_cast<int>(digits + sizeof digits - p));
}

// loop var first limit ?incr? command
int LoopObjCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc < 5 || objc > 6) {
        return OrxX_WrongArgs(interp, objv[0], "var first limit ?incr? command");
    }
    // A limit beyond 64 bits lies beyond every counter value (the loop then
    // ends when a step leaves the range); first and incr must fit.
    Tcl_WideInt first;
    Tcl_WideInt limit;
    Tcl_WideInt incr = 1;
    int limitBeyond;
    if (orx::ExprWideInt(interp, objv[2], &first) != TCL_OK ||
        orx::ExprWideInt(interp, objv[3], &limit, &limitBeyond) != TCL_OK ||
        (objc == 6 && orx::ExprWideInt(interp, objv[4], &incr) != TCL_OK)) {
        return TCL_ERROR;
    }
    if (first < LONG_MIN || first > LONG_MAX || incr < LONG_MIN || incr > LONG_MAX) {
        return orx::IntegerTooLarge(interp);
    }
    if (limit < LONG_MIN || limit > LONG_MAX) {
        limitBeyond = limit < 0 ? -1 : 1;
    }
    Tcl_Obj *varName = objv[1];
    Tcl_Obj *body = objv[objc - 1];
    long i = static_cast<long>(first);
    // A step past the range of a long ends the loop (its value lies beyond
    // any limit); the variable then gets the exact value.
    bool overflowed = false;
    int status = TCL_OK;
    auto inRange = [&] {
        if (limitBeyond != 0) {
            return (incr >= 0) == (limitBeyond > 0);
        }
        return incr >= 0 ? i < limit : i > limit;
    };
    void *local = orx::CompiledLocalVar(interp, varName);
    while (inRange()) {
        if (StoreCounter(interp, varName, i, local) != TCL_OK) {
            return TCL_ERROR;
        }
        status = Tcl_EvalObjEx(interp, body, 0);
        if (status == TCL_OK || status == TCL_CONTINUE) {
            status = TCL_OK;
            long next;
            if (__builtin_add_overflow(i, static_cast<long>(incr), &next)) {
                overflowed = true;
                break;
            }
            i = next;
            continue;
        }
        if (status == TCL_BREAK) {
            status = TCL_OK;
        } else if (status == TCL_ERROR) {
            Tcl_AppendObjToErrorInfo(
                interp, Tcl_ObjPrintf("\n    (\"loop\" body line %d)", Tcl_GetErrorLine(interp)));
        }
        break;
    }
    int stored = overflowed ? StoreValue(interp, varName, NewWideSum(i, static_cast<long>(incr)))
                            : StoreCounter(interp, varName, i);
    return stored == TCL_OK ? status : TCL_ERROR;
}

// ---- try_eval -------------------------------------------------------------

// Link errorResult, errorInfo and errorCode in the current scope to the
// globals through the interpreter's own "global" command, whatever it is
// now.  Its status is not consulted: a local of one of these names keeps
// the catch script running on that local.
int LinkErrorGlobals(Tcl_Interp *interp)
{
    Tcl_CmdInfo info;
    if (!Tcl_GetCommandInfo(interp, "global", &info) || info.objProc == nullptr) {
        orx::AppendResult(interp, "can't find \"global\" command");
        return orx::LookupCode(interp, "COMMAND", "global");
    }
    ObjRef words[] = {ObjRef(Tcl_NewStringObj("global", -1)),
                      ObjRef(Tcl_NewStringObj("errorResult", -1)),
                      ObjRef(Tcl_NewStringObj("errorInfo", -1)),
                      ObjRef(Tcl_NewStringObj("errorCode", -1))};
    Tcl_Obj *objv[] = {words[0].get(), words[1].get(), words[2].get(), words[3].get()};
    ObjRef saved(Tcl_GetObjResult(interp));
    info.objProc(info.objClientData, interp, 4, objv);
    Tcl_SetObjResult(interp, saved.get());
    return TCL_OK;
}

// Run the catch script on the error that code left.
int HandleError(Tcl_Interp *interp, Tcl_Obj *catchScript)
{
    ObjRef errorResult(Tcl_DuplicateObj(Tcl_GetObjResult(interp)));
    Tcl_ResetResult(interp);
    ObjRef name(Tcl_NewStringObj("errorResult", -1));
    if (LinkErrorGlobals(interp) != TCL_OK ||
        Tcl_ObjSetVar2(interp, name.get(), nullptr, errorResult.get(), TCL_LEAVE_ERR_MSG) ==
            nullptr) {
        return TCL_ERROR;
    }
    return Tcl_EvalObjEx(interp, catchScript, 0);
}

// try_eval code catch ?finally?
int TryEvalObjCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc < 3 || objc > 4) {
        return OrxX_WrongArgs(interp, objv[0], "code catch ?finally?");
    }
    Tcl_Obj *finally = objc == 4 && !OrxX_IsNullObj(objv[3]) ? objv[3] : nullptr;
    int status = Tcl_EvalObjEx(interp, objv[1], 0);
    if (status != TCL_ERROR && finally == nullptr) {
        return status;
    }
    if (status == TCL_ERROR && !OrxX_IsNullObj(objv[2])) {
        status = HandleError(interp, objv[2]);
    }
    if (finally == nullptr) {
        return status;
    }
    // A return passes its options (-code, -level) to the caller through the
    // interpreter, and running finally resets them: keep them too, or
    // "return -code error" would reach the caller as a plain return.
    ObjRef returnOptions;
    if (status == TCL_RETURN) {
        returnOptions = ObjRef(Tcl_GetReturnOptions(interp, status));
    }
    Tcl_Obj *saved = OrxX_SaveResultErrorInfo(interp);
    Tcl_ResetResult(interp);
    if (Tcl_EvalObjEx(interp, finally, 0) == TCL_ERROR) {
        Tcl_DecrRefCount(saved);
        return TCL_ERROR;
    }
    OrxX_RestoreResultErrorInfo(interp, saved);
    if (returnOptions.get() != nullptr) {
        status = Tcl_SetReturnOptions(interp, returnOptions.get());
    }
    return status;
}

} // namespace

void OrxX_SetAppInfo(int defaultValues, const char *appName, const char *appLongName,
                     const char *appVersion, int appPatchlevel)
{
    AppInfo &app = TheAppInfo();
    auto update = [defaultValues](const char *&stored, const char *given) {
        if (given != nullptr && (defaultValues == 0 || stored == nullptr)) {
            stored = given;
        }
    };
    update(app.name, appName);
    update(app.longName, appLongName);
    update(app.version, appVersion);
    if (appPatchlevel >= 0 && (defaultValues == 0 || app.patchlevel < 0)) {
        app.patchlevel = appPatchlevel;
    }
}

int OrxXGeneralInit(Tcl_Interp *interp)
{
    const struct {
        const char *name;
        Tcl_ObjCmdProc *proc;
    } commands[] = {{"echo", EchoObjCmd},
                    {"infox", InfoxObjCmd},
                    {"loop", LoopObjCmd},
                    {"try_eval", TryEvalObjCmd}};
    Tcl_Command last = nullptr;
    for (const auto &command : commands) {
        last = Tcl_CreateObjCommand(interp, command.name, command.proc, nullptr, nullptr);
        // The loop variable then sits in a frame slot, where the body's
        // bytecode reaches it by index rather than by name.
        if (command.proc == LoopObjCmd) {
            orx::CompileVarArgAsLocal(last);
        }
    }
    return last != nullptr ? TCL_OK : TCL_ERROR;
}
