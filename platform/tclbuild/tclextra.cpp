// Extras of the product's Tcl build on top of the stock Tcl 8.6: integer
// formatting, procedure and level queries, and the protected mark, which Tcl
// 8.6 has no field for.  The mark lives in per-interpreter association data;
// rename, proc and interp are wrapped so that scripts cannot take a protected
// command away (a command trace would see it happen but cannot refuse).
#include "orx_tclextra.h"

#include "platform/tclint/tclint.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <unordered_map>

namespace {

const char kProtectKey[] = "orx_protected";

struct ProtectState;

// Client data of one protected command's delete trace.
struct TraceData {
    ProtectState *state;
    Tcl_Command command;
};

struct ProtectState {
    std::unordered_map<Tcl_Command, TraceData *> commands;
    bool guardsInstalled = false;
    // One reference from the association, one per delete trace.
    int refs = 1;
};

// The state is held by the association and by each pending delete trace.
void ReleaseState(ProtectState *state)
{
    if (--state->refs == 0) {
        delete state;
    }
}

// The traces still pending keep the state alive until their commands go.
void DeleteStateProc(ClientData clientData, Tcl_Interp *)
{
    ReleaseState(static_cast<ProtectState *>(clientData));
}

ProtectState *GetState(Tcl_Interp *interp)
{
    return static_cast<ProtectState *>(Tcl_GetAssocData(interp, kProtectKey, nullptr));
}

// The command is going away (deleted from C, or with the interpreter): its
// token may be reused by a new command, so the mark must not outlive it.
void DeleteTraceProc(ClientData clientData, Tcl_Interp *, const char *, const char *, int flags)
{
    if (flags & TCL_TRACE_DELETE) {
        auto *trace = static_cast<TraceData *>(clientData);
        ProtectState *state = trace->state;
        state->commands.erase(trace->command);
        delete trace;
        ReleaseState(state);
    }
}

enum class GuardKind { Rename, Proc, Interp };

struct Guard {
    GuardKind kind;
    Tcl_ObjCmdProc *objProc;
    ClientData objClientData;
    Tcl_CmdDeleteProc *deleteProc;
    ClientData deleteData;
};

// Whether command is marked protected in interp; false for a null token.
bool IsProtected(Tcl_Interp *interp, Tcl_Command command)
{
    ProtectState *state = GetState(interp);
    return state != nullptr && command != nullptr && state->commands.count(command) != 0;
}

// The error for an attempt on a protected command.
int Refuse(Tcl_Interp *interp, const char *verb, const char *name)
{
    Tcl_SetObjResult(interp,
                     Tcl_ObjPrintf("can't %s \"%s\": command is protected", verb, name));
    Tcl_SetErrorCode(interp, "ORX", "PROTECTED", name, nullptr);
    return TCL_ERROR;
}

// The command that a new command of this name (created the way proc does it)
// would replace, or null.  As for proc, any run of two or more colons
// separates, and a relative qualifier is looked up in the current namespace
// only.
Tcl_Command WouldReplace(Tcl_Interp *interp, const char *name)
{
    const char *simple = name;
    const char *qualifierEnd = nullptr;
    for (const char *p = name; *p != '\0';) {
        if (p[0] == ':' && p[1] == ':') {
            qualifierEnd = p;
            while (*p == ':') {
                p++;
            }
            simple = p;
        } else {
            p++;
        }
    }
    if (*simple == '\0') {
        return nullptr;
    }
    Tcl_Namespace *ns = nullptr;
    if (qualifierEnd == nullptr) {
        ns = Tcl_GetCurrentNamespace(interp);
    } else if (qualifierEnd == name) {
        ns = Tcl_GetGlobalNamespace(interp);
    } else {
        Tcl_DString qualifier;
        Tcl_DStringInit(&qualifier);
        Tcl_DStringAppend(&qualifier, name, static_cast<int>(qualifierEnd - name));
        ns = Tcl_FindNamespace(interp, Tcl_DStringValue(&qualifier), nullptr, TCL_NAMESPACE_ONLY);
        Tcl_DStringFree(&qualifier);
    }
    return ns != nullptr ? Tcl_FindCommand(interp, simple, ns, TCL_NAMESPACE_ONLY) : nullptr;
}

// interp alias srcPath srcCmd ... / interp hide path cmd: the interpreter the
// path names, or null when it names none (the wrapped command reports that).
Tcl_Interp *PathInterp(Tcl_Interp *interp, Tcl_Obj *pathObj)
{
    int length = 0;
    if (Tcl_ListObjLength(nullptr, pathObj, &length) != TCL_OK) {
        return nullptr;
    }
    if (length == 0) {
        return interp;
    }
    return Tcl_GetChild(interp, Tcl_GetString(pathObj));
}

// interp alias and interp hide may not replace or hide a protected command of the target.
int CheckInterp(Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc < 4) {
        return TCL_OK;
    }
    const char *sub = Tcl_GetString(objv[1]);
    if (std::strcmp(sub, "alias") == 0 && objc >= 5) {
        Tcl_Interp *target = PathInterp(interp, objv[2]);
        if (target == nullptr) {
            return TCL_OK;
        }
        const char *name = Tcl_GetString(objv[3]);
        std::string global = std::string("::") + name;
        if (IsProtected(target, WouldReplace(target, name)) ||
            IsProtected(target, WouldReplace(target, global.c_str()))) {
            return Refuse(interp, "replace", name);
        }
    } else if (std::strcmp(sub, "hide") == 0) {
        Tcl_Interp *target = PathInterp(interp, objv[2]);
        const char *name = Tcl_GetString(objv[3]);
        if (target != nullptr &&
            IsProtected(target, Tcl_FindCommand(target, name, nullptr, TCL_GLOBAL_ONLY))) {
            return Refuse(interp, "hide", name);
        }
    }
    return TCL_OK;
}

// Stands in for rename, proc and interp: refuses what would touch a protected command,
// then calls the original.
int GuardObjCmd(ClientData clientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    auto *guard = static_cast<Guard *>(clientData);
    ProtectState *state = GetState(interp);
    bool anyProtected = state != nullptr && !state->commands.empty();
    switch (guard->kind) {
    case GuardKind::Rename:
        if (anyProtected && objc == 3) {
            const char *oldName = Tcl_GetString(objv[1]);
            if (IsProtected(interp, Tcl_FindCommand(interp, oldName, nullptr, 0))) {
                return Refuse(interp, *Tcl_GetString(objv[2]) ? "rename" : "delete", oldName);
            }
        }
        break;
    case GuardKind::Proc:
        if (anyProtected && objc == 4) {
            const char *name = Tcl_GetString(objv[1]);
            if (IsProtected(interp, WouldReplace(interp, name))) {
                return Refuse(interp, "redefine", name);
            }
        }
        break;
    case GuardKind::Interp:
        // Protection may be set in a child interpreter, so always look.
        if (CheckInterp(interp, objc, objv) != TCL_OK) {
            return TCL_ERROR;
        }
        break;
    }
    return guard->objProc(guard->objClientData, interp, objc, objv);
}

// Runs the original's delete procedure along with the guard's own.
void GuardDeleteProc(ClientData clientData)
{
    auto *guard = static_cast<Guard *>(clientData);
    if (guard->deleteProc != nullptr) {
        guard->deleteProc(guard->deleteData);
    }
    delete guard;
}

// Puts the guard in front of the named command, once; compiled and NRE forms are dropped.
void Wrap(Tcl_Interp *interp, const char *name, GuardKind kind)
{
    Tcl_Command token = Tcl_FindCommand(interp, name, nullptr, TCL_GLOBAL_ONLY);
    Tcl_CmdInfo info;
    if (token == nullptr || !Tcl_GetCommandInfoFromToken(token, &info) ||
        info.objProc == GuardObjCmd) {
        return;
    }
    auto *guard = new (std::nothrow)
        Guard{kind, info.objProc, info.objClientData, info.deleteProc, info.deleteData};
    if (guard == nullptr) {
        return;
    }
    info.objProc = GuardObjCmd;
    info.objClientData = guard;
    info.deleteProc = GuardDeleteProc;
    info.deleteData = guard;
    Tcl_SetCommandInfoFromToken(token, &info);
    // The NRE and bytecode paths would bypass the object procedure.
    orx::CallOnlyThroughObjProc(interp, token);
}

} // namespace

char *Orx_PrintInteger(long value, char *buffer)
{
    std::snprintf(buffer, TCL_INTEGER_SPACE, "%ld", value);
    return buffer;
}

int Orx_IsProc(Tcl_Interp *interp, const char *name)
{
    if (interp == nullptr || name == nullptr) {
        return 0;
    }
    Tcl_Command command = Tcl_FindCommand(interp, name, nullptr, 0);
    return orx::IsProc(command) ? 1 : 0;
}

int Orx_InterpLevel(Tcl_Interp *interp)
{
    return orx::VarFrameLevel(interp);
}

int Orx_SetCommandProtected(Tcl_Interp *interp, Tcl_Command command, int protect)
{
    if (command == nullptr) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj("no command to protect", -1));
        return TCL_ERROR;
    }
    ProtectState *state = GetState(interp);
    if (state == nullptr) {
        if (!protect) {
            return TCL_OK;
        }
        state = new (std::nothrow) ProtectState;
        if (state == nullptr) {
            Tcl_SetObjResult(interp, Tcl_NewStringObj("out of memory", -1));
            return TCL_ERROR;
        }
        Tcl_SetAssocData(interp, kProtectKey, DeleteStateProc, state);
    }
    if (protect && !state->guardsInstalled) {
        Wrap(interp, "::rename", GuardKind::Rename);
        Wrap(interp, "::proc", GuardKind::Proc);
        Wrap(interp, "::interp", GuardKind::Interp);
        state->guardsInstalled = true;
    }
    auto found = state->commands.find(command);
    if ((protect != 0) == (found != state->commands.end())) {
        return TCL_OK;
    }
    Tcl_Obj *nameObj = Tcl_NewObj();
    Tcl_IncrRefCount(nameObj);
    Tcl_GetCommandFullName(interp, command, nameObj);
    const char *name = Tcl_GetString(nameObj);
    int status = TCL_OK;
    try {
        if (protect) {
            auto *trace = new TraceData{state, command};
            state->commands.emplace(command, trace);
            if (Tcl_TraceCommand(interp, name, TCL_TRACE_DELETE, DeleteTraceProc, trace) ==
                TCL_OK) {
                state->refs++;
            } else {
                state->commands.erase(command);
                delete trace;
                status = TCL_ERROR;
            }
        } else {
            TraceData *trace = found->second;
            Tcl_UntraceCommand(interp, name, TCL_TRACE_DELETE, DeleteTraceProc, trace);
            state->commands.erase(found);
            delete trace;
            ReleaseState(state);
        }
    } catch (const std::exception &) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj("out of memory", -1));
        status = TCL_ERROR;
    }
    Tcl_DecrRefCount(nameObj);
    return status;
}

int Orx_IsCommandProtected(Tcl_Interp *interp, Tcl_Command command)
{
    return IsProtected(interp, command) ? 1 : 0;
}
