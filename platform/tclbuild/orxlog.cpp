// Command logging: a level-1 command trace that writes each top-level command
// to a channel while logging is on.  The state lives in the interpreter's
// association data; the trace exists only while logging is on.

#include "orx_log.h"

#include <cstring>
#include <exception>
#include <string>

#include "base/internal.h"

namespace {

const char kLogAssoc[] = "orx_log";
const char kEnable[] = "enable";
const char kDisable[] = "disable";

struct LogState {
    std::string channelName;
    bool enabled = false;
    Tcl_Trace trace = nullptr;
};

// Writes each top-level command to the log channel, one per line.
int LogTraceProc(ClientData clientData, Tcl_Interp *interp, int, const char *command,
                 Tcl_Command, int, Tcl_Obj *const[])
{
    auto *state = static_cast<LogState *>(clientData);
    int mode;
    Tcl_Channel channel = Tcl_GetChannel(interp, state->channelName.c_str(), &mode);
    if (channel == nullptr || !(mode & TCL_WRITABLE)) {
        // The log was closed under us: stop quietly, keep the script's result.
        Tcl_ResetResult(interp);
        return TCL_OK;
    }
    size_t len = strlen(command);
    Tcl_Write(channel, command, static_cast<int>(len));
    if (len == 0 || command[len - 1] != '\n') {
        Tcl_Write(channel, "\n", 1);
    }
    return TCL_OK;
}

// Creates or removes the trace to match the enabled flag and channel.
void Apply(Tcl_Interp *interp, LogState *state)
{
    bool want = state->enabled && !state->channelName.empty();
    if (want && state->trace == nullptr) {
        // No inline compilation: compiled commands would bypass the trace.
        state->trace = Tcl_CreateObjTrace(interp, 1, 0, LogTraceProc, state, nullptr);
    } else if (!want && state->trace != nullptr) {
        Tcl_DeleteTrace(interp, state->trace);
        state->trace = nullptr;
    }
}

// Association delete procedure.
void FreeLogState(ClientData clientData, Tcl_Interp *)
{
    // The interpreter removes its traces itself when it goes.
    delete static_cast<LogState *>(clientData);
}

LogState *GetState(Tcl_Interp *interp)
{
    return static_cast<LogState *>(Tcl_GetAssocData(interp, kLogAssoc, nullptr));
}

} // namespace

extern "C" {

int OrxLog_SetChannel(Tcl_Interp *interp, const char *channelName)
{
    LogState *state = GetState(interp);
    if (channelName == nullptr) {
        if (state != nullptr) {
            state->channelName.clear();
            state->enabled = false;
            Apply(interp, state);
        }
        return TCL_OK;
    }
    int mode;
    if (Tcl_GetChannel(interp, channelName, &mode) == nullptr) {
        return TCL_ERROR;
    }
    if (!(mode & TCL_WRITABLE)) {
        Tcl_SetObjResult(interp, Tcl_ObjPrintf("channel \"%s\" wasn't opened for writing",
                                               channelName));
        return orx::ValueCode(interp, "CHANNEL", channelName);
    }
    try {
        if (state == nullptr) {
            state = new LogState;
            Tcl_SetAssocData(interp, kLogAssoc, FreeLogState, state);
        }
        state->channelName = channelName;
    } catch (const std::exception &) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj("out of memory setting the log channel", -1));
        return TCL_ERROR;
    }
    state->enabled = true;
    Apply(interp, state);
    return TCL_OK;
}

const char *OrxLog_State(Tcl_Interp *interp, const char *newState)
{
    LogState *state = interp != nullptr ? GetState(interp) : nullptr;
    if (state == nullptr || state->channelName.empty()) {
        return nullptr;
    }
    const char *before = state->enabled ? kEnable : kDisable;
    if (newState != nullptr) {
        if (strcmp(newState, kDisable) == 0) {
            state->enabled = false;
        } else if (strcmp(newState, kEnable) == 0) {
            state->enabled = true;
        }
        Apply(interp, state);
    }
    return before;
}

} // extern "C"
