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

namespace orx {

namespace {

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
    int major;
    int minor;
    Tcl_GetVersion(&major, &minor, nullptr, nullptr);
    if (command == nullptr || major != 8 || minor != 6) {
        return;
    }
    reinterpret_cast<Command *>(command)->compileProc = CompileVarArgAsLocalProc;
}

} // namespace orx
