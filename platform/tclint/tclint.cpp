// Every use of Tcl's private structures, each behind a function that checks
// the running Tcl's version first.  Nothing else in the tree includes
// tclInt.h.
#include "tclint.h"

#include <cstddef>
#include <cstring>

// Tcl's private port header falls back on its compat headers unless told
// that the system has <unistd.h>; not every Tcl install ships them.
#ifndef HAVE_UNISTD_H
#define HAVE_UNISTD_H 1
#endif
#include <tclInt.h>
#include <tclCompile.h>

#if TCL_MAJOR_VERSION != 8 || TCL_MINOR_VERSION != 6
#error "the layouts used here are those of Tcl 8.6"
#endif

namespace orx {

namespace {

bool RunningTclIsKnown()
{
    int major = 0;
    int minor = 0;
    Tcl_GetVersion(&major, &minor, nullptr, nullptr);
    return major == TCL_MAJOR_VERSION && minor == TCL_MINOR_VERSION;
}

// Whether the running Tcl is the 8.6 these layouts come from.  Asked once,
// when the library is loaded (libtcl is loaded before it): several callers
// sit on the paths of every traced command or variable read.
const bool g_known = RunningTclIsKnown();

inline bool Known()
{
    return g_known;
}

Interp *InterpOf(Tcl_Interp *interp)
{
    return reinterpret_cast<Interp *>(interp);
}

Command *CommandOf(Tcl_Command command)
{
    return reinterpret_cast<Command *>(command);
}

// Tcl 8.6's compile step for a command (the CompileProc of tclInt.h).  It
// adds the slot exactly as TclFindCompiledLocal, which libtcl does not
// export, would, then declines: Tcl rewinds and emits the ordinary call, and
// the run-time look-up of the name finds the slot through the name literal.
int CompileVarArgAsLocalProc(Tcl_Interp *, Tcl_Parse *parsePtr, Command *, CompileEnv *envPtr)
{
    Proc *procPtr = envPtr->procPtr;
    if (procPtr == nullptr || parsePtr->numWords < 2) {
        return TCL_ERROR;
    }
    const Tcl_Token *word = parsePtr->tokenPtr + parsePtr->tokenPtr->numComponents + 1;
    if (word->type != TCL_TOKEN_SIMPLE_WORD) {
        return TCL_ERROR;
    }
    const char *name = word[1].start;
    int len = word[1].size;
    if (len <= 0) {
        return TCL_ERROR;
    }
    // Qualified names and array elements keep the run-time look-up.
    for (int i = 0; i < len; i++) {
        if (name[i] == '(' || name[i] == ')' || (name[i] == ':' && i + 1 < len && name[i + 1] == ':')) {
            return TCL_ERROR;
        }
    }
    CompiledLocal *localPtr = procPtr->firstLocalPtr;
    for (int i = 0; i < procPtr->numCompiledLocals; i++, localPtr = localPtr->nextPtr) {
        if (!(localPtr->flags & VAR_TEMPORARY) && localPtr->nameLength == len &&
            std::memcmp(localPtr->name, name, static_cast<size_t>(len)) == 0) {
            return TCL_ERROR;
        }
    }
    localPtr = reinterpret_cast<CompiledLocal *>(
        ckalloc(offsetof(CompiledLocal, name) + 1U + static_cast<unsigned>(len)));
    localPtr->nextPtr = nullptr;
    localPtr->nameLength = len;
    localPtr->frameIndex = procPtr->numCompiledLocals;
    localPtr->flags = 0;
    localPtr->defValuePtr = nullptr;
    localPtr->resolveInfo = nullptr;
    std::memcpy(localPtr->name, name, static_cast<size_t>(len));
    localPtr->name[len] = '\0';
    if (procPtr->firstLocalPtr == nullptr) {
        procPtr->firstLocalPtr = localPtr;
    } else {
        procPtr->lastLocalPtr->nextPtr = localPtr;
    }
    procPtr->lastLocalPtr = localPtr;
    procPtr->numCompiledLocals++;
    return TCL_ERROR;
}

} // namespace

void CompileVarArgAsLocal(Tcl_Command command)
{
    if (command == nullptr || !Known()) {
        return;
    }
    CommandOf(command)->compileProc = CompileVarArgAsLocalProc;
}

bool CallOnlyThroughObjProc(Tcl_Interp *interp, Tcl_Command command)
{
    if (command == nullptr || !Known()) {
        return false;
    }
    Command *cmdPtr = CommandOf(command);
    cmdPtr->nreProc = nullptr;
    if (cmdPtr->compileProc != nullptr) {
        cmdPtr->compileProc = nullptr;
        InterpOf(interp)->compileEpoch++;
    }
    return true;
}

bool IsProc(Tcl_Command command)
{
    return command != nullptr && Known() && TclIsProc(CommandOf(command)) != nullptr;
}

bool IsImported(Tcl_Command command)
{
    return command != nullptr && Known() && TclGetOriginalCommand(command) != nullptr;
}

bool HasCompiler(Tcl_Command command)
{
    return command != nullptr && Known() && CommandOf(command)->compileProc != nullptr;
}

int ProcFrames(Tcl_Interp *interp, ProcFrame *frames, int max)
{
    if (!Known()) {
        return 0;
    }
    int count = 0;
    for (CallFrame *frame = InterpOf(interp)->framePtr; frame != nullptr;
         frame = frame->callerPtr) {
        if (!(frame->isProcCallFrame & FRAME_IS_PROC)) {
            continue;
        }
        if (count < max) {
            ProcFrame &out = frames[count];
            Proc *procPtr = frame->procPtr;
            out.command = procPtr != nullptr ? reinterpret_cast<Tcl_Command>(procPtr->cmdPtr)
                                             : nullptr;
            out.word = frame->objc > 0 ? frame->objv[0] : nullptr;
            out.level = frame->level;
            out.procedure = !(frame->isProcCallFrame & (FRAME_IS_LAMBDA | FRAME_IS_METHOD));
        }
        count++;
    }
    return count;
}

const void *CurrentCoroutine(Tcl_Interp *interp)
{
    if (!Known()) {
        return nullptr;
    }
    ExecEnv *env = InterpOf(interp)->execEnvPtr;
    return env != nullptr ? env->corPtr : nullptr;
}

const void *CoroutineCaller(const void *coroutine)
{
    if (!Known() || coroutine == nullptr) {
        return nullptr;
    }
    const ExecEnv *caller = static_cast<const CoroutineData *>(coroutine)->callerEEPtr;
    return caller != nullptr ? caller->corPtr : nullptr;
}

int VarFrameLevel(Tcl_Interp *interp)
{
    if (!Known()) {
        return 0;
    }
    CallFrame *frame = InterpOf(interp)->varFramePtr;
    return frame != nullptr ? frame->level : 0;
}

ErrorState GetErrorState(Tcl_Interp *interp)
{
    if (!Known()) {
        return ErrorState{false, false, false};
    }
    Interp *iPtr = InterpOf(interp);
    return ErrorState{iPtr->errorInfo != nullptr, (iPtr->flags & ERR_ALREADY_LOGGED) != 0,
                      iPtr->errorCode != nullptr};
}

void SetErrorState(Tcl_Interp *interp, const ErrorState &state, Tcl_Obj *errorInfo,
                   Tcl_Obj *errorCode)
{
    if (!Known()) {
        if (state.codeSet) {
            Tcl_SetObjErrorCode(interp, errorCode);
        }
        return;
    }
    Interp *iPtr = InterpOf(interp);
    if (state.inProgress || iPtr->errorInfo != nullptr) {
        Tcl_IncrRefCount(errorInfo);
        if (iPtr->errorInfo != nullptr) {
            Tcl_DecrRefCount(iPtr->errorInfo);
        }
        iPtr->errorInfo = errorInfo;
        iPtr->flags |= ERR_LEGACY_COPY;
    }
    if (state.codeSet || iPtr->errorCode != nullptr) {
        Tcl_SetObjErrorCode(interp, errorCode);
        iPtr->flags |= ERR_LEGACY_COPY;
    }
    if (state.alreadyLogged) {
        iPtr->flags |= ERR_ALREADY_LOGGED;
    }
}

KeepErrorCode::KeepErrorCode(Tcl_Interp *interp) : interp_(interp), saved_(nullptr)
{
    if (Known()) {
        saved_ = InterpOf(interp)->errorCode;
        if (saved_ != nullptr) {
            Tcl_IncrRefCount(saved_);
        }
    }
}

KeepErrorCode::~KeepErrorCode()
{
    if (!Known()) {
        return;
    }
    Interp *iPtr = InterpOf(interp_);
    if (iPtr->errorCode != saved_) {
        if (iPtr->errorCode != nullptr) {
            Tcl_DecrRefCount(iPtr->errorCode);
        }
        iPtr->errorCode = saved_; // our reference passes to the interpreter
    } else if (saved_ != nullptr) {
        Tcl_DecrRefCount(saved_);
    }
}

bool ErrorInProgress(Tcl_Interp *interp)
{
    if (!Known()) {
        return false;
    }
    Tcl_Obj **field = &InterpOf(interp)->errorInfo;
    return __atomic_load_n(field, __ATOMIC_ACQUIRE) != nullptr;
}

// The head of tclAsync.c's handler record, which no header declares; the
// ready flag has come first in every 8.6 release.
struct AsyncHandlerHead {
    int ready;
};

bool AsyncHandlerReady(Tcl_AsyncHandler handler, bool fallback)
{
    if (!Known()) {
        return fallback;
    }
    return __atomic_load_n(&reinterpret_cast<AsyncHandlerHead *>(handler)->ready,
                           __ATOMIC_ACQUIRE) != 0;
}

int EvalLevels(Tcl_Interp *interp)
{
    if (!Known()) {
        return -1;
    }
    return InterpOf(interp)->numLevels;
}

int SwapReturnCode(Tcl_Interp *interp, int code)
{
    if (!Known()) {
        return TCL_OK;
    }
    Interp *iPtr = InterpOf(interp);
    int previous = iPtr->returnCode;
    iPtr->returnCode = code;
    return previous;
}

Tcl_Obj *PlainScalarValue(Tcl_Interp *interp, Tcl_Obj *name)
{
    if (!Known()) {
        return nullptr;
    }
    Var *arrayPtr;
    Var *varPtr = TclObjLookupVar(interp, name, nullptr, 0, "read", 0, 1, &arrayPtr);
    if (varPtr == nullptr || arrayPtr != nullptr || TclIsVarTraced(varPtr) ||
        !TclIsVarDirectWritable(varPtr)) {
        return nullptr;
    }
    return varPtr->value.objPtr;
}

void *CompiledLocalVar(Tcl_Interp *interp, Tcl_Obj *name)
{
    if (!Known()) {
        return nullptr;
    }
    CallFrame *frame = InterpOf(interp)->varFramePtr;
    if (frame == nullptr || frame->compiledLocals == nullptr) {
        return nullptr;
    }
    Var *arrayPtr;
    Var *varPtr = TclObjLookupVar(interp, name, nullptr, 0, "read", 0, 1, &arrayPtr);
    if (varPtr == nullptr || arrayPtr != nullptr || varPtr < frame->compiledLocals ||
        varPtr >= frame->compiledLocals + frame->numCompiledLocals) {
        return nullptr;
    }
    return varPtr;
}

Tcl_Obj *PlainLocalValue(void *var)
{
    auto *varPtr = static_cast<Var *>(var);
    if (TclIsVarTraced(varPtr) || !TclIsVarDirectWritable(varPtr)) {
        return nullptr;
    }
    return varPtr->value.objPtr;
}

int NextListElement(const char **text, const char *limit, const char **start, int *size,
                    bool *literal)
{
    if (!Known()) {
        return -1;
    }
    const char *next;
    int braced;
    if (TclFindElement(nullptr, *text, static_cast<int>(limit - *text), start, &next, size,
                       &braced) != TCL_OK) {
        return -1;
    }
    if (*start == limit) {
        return 0;
    }
    *literal = braced != 0 || std::memchr(*start, '\\', static_cast<size_t>(*size)) == nullptr;
    *text = next;
    return 1;
}

} // namespace orx
