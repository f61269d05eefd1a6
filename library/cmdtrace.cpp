// cmdtrace: every command up to a nesting level printed as one line on a
// channel or handed to a callback, procs-only mode, and silence while
// encrypted library code runs unless secure tracing is on.
#include "orx_library.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/internal.h"
#include "orx_tclbuild.h"
#include "orx_tclextra.h"
#include "orx_util.h"

namespace {

constexpr char kUsage[] =
    "level | on ?noeval? ?notruncate? ?procs? ?fileid? ?command cmd? | off | depth | "
    "secure ?on? ?off?";
constexpr char kSecureAssoc[] = "secure";
constexpr char kSecureTraceAssoc[] = "orx_enableSecureTrace";
constexpr int kMaxIndentLevels = 20;
constexpr size_t kWordLimit = 40;
constexpr size_t kSourceLimit = 60;

struct TraceInfo {
    Tcl_Interp *interp = nullptr;
    Tcl_Trace trace = nullptr;
    int inTrace = 0;
    int noEval = 0;
    int noTruncate = 0;
    int procs = 0;
    int depth = 0;
    char *callback = nullptr;
    Tcl_Obj *callbackError = nullptr;
    Tcl_AsyncHandler asyncHandler = nullptr;
    Tcl_Channel channel = nullptr;
};

void ChannelClosed(ClientData clientData);

// Forgets the output channel, and the close handler that watches it.
void DropChannel(TraceInfo *info)
{
    if (info->channel != nullptr) {
        Tcl_DeleteCloseHandler(info->channel, ChannelClosed, info);
        info->channel = nullptr;
    }
}

// Stops tracing and drops its settings; the record stays with the interpreter.
void StopTrace(TraceInfo *info)
{
    if (info->trace != nullptr) {
        Tcl_DeleteTrace(info->interp, info->trace);
        info->trace = nullptr;
    }
    info->depth = 0;
    if (info->callback != nullptr) {
        Tcl_Free(info->callback);
        info->callback = nullptr;
    }
    if (info->asyncHandler != nullptr) {
        Tcl_AsyncDelete(info->asyncHandler);
        info->asyncHandler = nullptr;
    }
    // With its handler gone, a pending callback error has nobody to report it.
    if (info->callbackError != nullptr) {
        Tcl_DecrRefCount(info->callbackError);
        info->callbackError = nullptr;
    }
    DropChannel(info);
}

// Closing the trace channel ends tracing rather than leaving the trace
// writing to a channel that is gone.
void ChannelClosed(ClientData clientData)
{
    auto *info = static_cast<TraceInfo *>(clientData);
    info->channel = nullptr; // the handler list goes with the channel
    StopTrace(info);
}

// The secure flags are association data whose mere presence means on.
bool AssocSet(Tcl_Interp *interp, const char *name)
{
    return Tcl_GetAssocData(interp, name, nullptr) != nullptr;
}

// Keeps the delete procedure already registered under the name.
void SetAssocFlag(Tcl_Interp *interp, const char *name, int value)
{
    Tcl_InterpDeleteProc *deleteProc = nullptr;
    Tcl_GetAssocData(interp, name, &deleteProc);
    Tcl_SetAssocData(interp, name, deleteProc, reinterpret_cast<ClientData>(static_cast<intptr_t>(value)));
}

// At most limit bytes, cut back to a character boundary so that no broken
// UTF-8 reaches the channel.
size_t CutLength(const char *text, size_t length, size_t limit)
{
    if (length <= limit) {
        return length;
    }
    size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xc0) == 0x80) {
        --cut;
    }
    return cut;
}

// Newlines shown as \n keep each traced command on one line.
void AppendEscaped(std::string *line, const char *text, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        if (text[i] == '\n') {
            line->append("\\n");
        } else {
            line->push_back(text[i]);
        }
    }
}

// Braces words that are empty or hold blanks; long words are cut with "..." unless notruncate.
void AppendWord(std::string *line, const char *text, size_t length, bool noTruncate)
{
    size_t shown = noTruncate ? length : CutLength(text, length, kWordLimit);
    bool cut = shown < length;
    bool braces = length == 0;
    for (size_t i = 0; i < shown && !braces; ++i) {
        braces = std::isspace(static_cast<unsigned char>(text[i])) != 0;
    }
    if (braces) {
        line->push_back('{');
    }
    AppendEscaped(line, text, shown);
    if (cut) {
        line->append("...");
    }
    if (braces) {
        line->push_back('}');
    }
}

// One trace line: level, indentation, then the command as written (noeval) or its words.
void PrintLine(TraceInfo *info, int level, const char *command, int objc, Tcl_Obj *const objv[])
{
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "%2d:", level);
    std::string line = prefix;
    int indent = level < kMaxIndentLevels ? level : kMaxIndentLevels;
    line.append(static_cast<size_t>(indent > 0 ? indent : 0) * 2, ' ');
    if (info->noEval) {
        size_t length = std::strlen(command);
        size_t shown = info->noTruncate ? length : CutLength(command, length, kSourceLimit);
        AppendEscaped(&line, command, shown);
        if (shown < length) {
            line.append("...");
        }
    } else {
        for (int i = 0; i < objc; ++i) {
            if (i > 0) {
                line.push_back(' ');
            }
            int length;
            const char *word = Tcl_GetStringFromObj(objv[i], &length);
            AppendWord(&line, word, static_cast<size_t>(length), info->noTruncate != 0);
        }
    }
    line.push_back('\n');
    Tcl_WriteChars(info->channel, line.data(), static_cast<int>(line.size()));
    Tcl_Flush(info->channel);
}

// Evaluates the callback with the command and its words; its first error stops tracing.
void RunCallback(TraceInfo *info, int level, const char *command, int objc, Tcl_Obj *const objv[])
{
    Tcl_Interp *interp = info->interp;
    Tcl_DString script;
    Tcl_DStringInit(&script);
    Tcl_DStringAppend(&script, info->callback, -1);
    Tcl_DStringStartSublist(&script);
    Tcl_DStringAppendElement(&script, command);
    Tcl_DStringEndSublist(&script);
    ObjRef words(Tcl_NewListObj(objc, objv));
    Tcl_DStringStartSublist(&script);
    Tcl_DStringAppendElement(&script, Tcl_GetString(words.get()));
    Tcl_DStringEndSublist(&script);
    char number[TCL_INTEGER_SPACE];
    std::snprintf(number, sizeof number, "%d", level);
    Tcl_DStringAppendElement(&script, number);
    std::snprintf(number, sizeof number, "%d", Orx_InterpLevel(interp));
    Tcl_DStringAppendElement(&script, number);

    // The callback may delete the interpreter.
    Tcl_Preserve(interp);
    Tcl_Obj *saved = OrxX_SaveResultErrorInfo(interp);
    if (Tcl_EvalEx(interp, Tcl_DStringValue(&script), Tcl_DStringLength(&script), 0) ==
        TCL_ERROR) {
        Tcl_AddErrorInfo(interp, "\n    (\"cmdtrace\" callback command)");
        // Tracing pauses until the handler has reported this error.
        if (info->callbackError == nullptr && info->asyncHandler != nullptr) {
            info->callbackError = OrxX_SaveResultErrorInfo(interp);
            Tcl_AsyncMark(info->asyncHandler);
        }
    }
    OrxX_RestoreResultErrorInfo(interp, saved);
    Tcl_DStringFree(&script);
    Tcl_Release(interp);
}

// Tcl trace procedure; not re-entered from the callback, and off after a
// callback error or in a safe interpreter unless allowed.
int TraceProc(ClientData clientData, Tcl_Interp *interp, int level, const char *command,
              Tcl_Command, int objc, Tcl_Obj *const objv[])
{
    auto *info = static_cast<TraceInfo *>(clientData);
    if (info->inTrace || info->callbackError != nullptr) {
        return TCL_OK;
    }
    if (!AssocSet(interp, kSecureTraceAssoc) && AssocSet(interp, kSecureAssoc)) {
        return TCL_OK;
    }
    if (info->procs && (objc < 1 || !Orx_IsProc(interp, Tcl_GetString(objv[0])))) {
        return TCL_OK;
    }
    Tcl_Preserve(info);
    info->inTrace = 1;
    try {
        if (info->callback != nullptr) {
            RunCallback(info, level, command, objc, objv);
        } else if (info->channel != nullptr) {
            PrintLine(info, info->procs ? Orx_InterpLevel(interp) : level, command, objc, objv);
        }
    } catch (const std::bad_alloc &) {
        // A trace line that cannot be built is dropped; the command still runs.
    }
    info->inTrace = 0;
    Tcl_Release(info);
    return TCL_OK;
}

// Runs when Tcl next services asynchronous events after a callback failed:
// the failure becomes the running command's error and tracing stops.
int CallbackErrorHandler(ClientData clientData, Tcl_Interp *interp, int)
{
    auto *info = static_cast<TraceInfo *>(clientData);
    Tcl_Obj *error = info->callbackError;
    info->callbackError = nullptr;
    if (error != nullptr) {
        OrxX_RestoreResultErrorInfo(info->interp, error);
    }
    if (interp == nullptr) {
        Tcl_BackgroundError(info->interp);
    }
    StopTrace(info);
    return TCL_ERROR;
}

// Tcl_EventuallyFree procedure: a running callback may still hold the record.
void FreeTraceInfo(char *memory)
{
    delete reinterpret_cast<TraceInfo *>(memory);
}

// Association delete procedure of the per-interpreter record.
void InterpDeleted(ClientData clientData, Tcl_Interp *)
{
    auto *info = static_cast<TraceInfo *>(clientData);
    StopTrace(info);
    OrxCoverage_CmdTraceCB(0);
    Tcl_EventuallyFree(info, FreeTraceInfo);
}

// Every form of cmdtrace shares one usage text.
int WrongArgs(Tcl_Interp *interp, Tcl_Obj *name)
{
    return OrxX_WrongArgs(interp, name, kUsage);
}

// cmdtrace secure ?on|off?: whether tracing works in a safe interpreter.
int SecureForm(Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc == 2) {
        Tcl_SetObjResult(interp,
                         Tcl_NewStringObj(AssocSet(interp, kSecureTraceAssoc) ? "on" : "off", -1));
        return TCL_OK;
    }
    const char *word = objc == 3 ? Tcl_GetString(objv[2]) : "";
    if (std::strcmp(word, "on") == 0 || std::strcmp(word, "off") == 0) {
        SetAssocFlag(interp, kSecureTraceAssoc, word[1] == 'n');
        return TCL_OK;
    }
    return WrongArgs(interp, objv[0]);
}

// cmdtrace level|on ?option ...?: the options replace those of an earlier trace.
int StartTrace(TraceInfo *info, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    info->noEval = info->noTruncate = info->procs = 0;
    info->channel = nullptr;
    int depth;
    if (std::strcmp(Tcl_GetString(objv[1]), "on") == 0) {
        depth = INT_MAX;
    } else if (orx::GetInt(interp, objv[1], &depth) != TCL_OK) {  // 4294967295 is no -1
        return TCL_ERROR;
    }
    Tcl_Obj *channelId = nullptr;
    Tcl_Obj *callback = nullptr;
    for (int i = 2; i < objc; ++i) {
        const char *word = Tcl_GetString(objv[i]);
        int *flag = nullptr;
        if (std::strcmp(word, "notruncate") == 0) {
            flag = &info->noTruncate;
        } else if (std::strcmp(word, "noeval") == 0) {
            flag = &info->noEval;
        } else if (std::strcmp(word, "procs") == 0) {
            flag = &info->procs;
        } else if (std::strncmp(word, "std", 3) == 0 || std::strncmp(word, "file", 4) == 0) {
            if (channelId != nullptr) {
                return WrongArgs(interp, objv[0]);
            }
            channelId = objv[i];
            continue;
        } else if (std::strcmp(word, "command") == 0) {
            if (callback != nullptr) {
                return WrongArgs(interp, objv[0]);
            }
            if (i + 1 >= objc) {
                orx::SetError(interp, "command option requires an argument");
                return orx::UsageCode(interp);
            }
            callback = objv[++i];
            continue;
        } else {
            orx::SetError(interp,
                          "invalid option: expected one of \"noeval\", \"notruncate\", "
                          "\"procs\", \"command\", or a file id");
            return orx::ValueCode(interp, "OPTION", word);
        }
        if (*flag) {
            return WrongArgs(interp, objv[0]);
        }
        *flag = 1;
    }
    if (callback != nullptr && channelId != nullptr) {
        orx::SetError(interp, "can not specify both the command option and a file handle");
        return orx::UsageCode(interp);
    }
    if (callback != nullptr) {
        int length;
        const char *text = Tcl_GetStringFromObj(callback, &length);
        info->callback = static_cast<char *>(attemptckalloc(static_cast<unsigned>(length) + 1));
        if (info->callback == nullptr) {
            return orx::SetError(interp, "Failed to allocate memory in OrxX_CmdtraceObjCmd");
        }
        std::memcpy(info->callback, text, static_cast<size_t>(length) + 1);
        info->asyncHandler = Tcl_AsyncCreate(CallbackErrorHandler, info);
    } else {
        Tcl_Channel channel = channelId != nullptr
                                  ? OrxX_GetOpenChannelObj(interp, channelId, TCL_WRITABLE)
                                  : OrxX_GetOpenChannel(interp, "stdout", TCL_WRITABLE);
        if (channel == nullptr) {
            return TCL_ERROR;
        }
        info->channel = channel;
        Tcl_CreateCloseHandler(channel, ChannelClosed, info);
    }
    info->depth = depth;
    // No command runs at level 0 or below; Tcl would read such a limit as
    // no limit at all.
    if (depth > 0) {
        info->trace = Tcl_CreateObjTrace(interp, depth, 0, TraceProc, info, nullptr);
    }
    return TCL_OK;
}

// cmdtrace level|on ?options? | off | depth | secure ?on|off?
int CmdtraceObjCmd(ClientData clientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    auto *info = static_cast<TraceInfo *>(clientData);
    if (objc < 2) {
        return WrongArgs(interp, objv[0]);
    }
    const char *first = Tcl_GetString(objv[1]);
    if (std::strcmp(first, "depth") == 0) {
        if (objc != 2) {
            return WrongArgs(interp, objv[0]);
        }
        Tcl_SetObjResult(interp, Tcl_NewIntObj(info->depth));
        return TCL_OK;
    }
    if (std::strcmp(first, "secure") == 0) {
        return SecureForm(interp, objc, objv);
    }
    // Every other form stops first, so a failing call leaves tracing off.
    StopTrace(info);
    if (std::strcmp(first, "off") == 0) {
        return objc == 2 ? TCL_OK : WrongArgs(interp, objv[0]);
    }
    int code = StartTrace(info, interp, objc, objv);
    if (code != TCL_OK) {
        StopTrace(info);
    }
    return code;
}

} // namespace

int OrxXDebugInit(Tcl_Interp *interp)
{
    auto *info = new (std::nothrow) TraceInfo;
    if (info == nullptr) {
        return orx::OutOfMemory(interp);
    }
    info->interp = interp;
    Tcl_CallWhenDeleted(interp, InterpDeleted, info);
    Tcl_CreateObjCommand(interp, "cmdtrace", CmdtraceObjCmd, info, nullptr);
    OrxCoverage_CmdTraceCB(1);
    return TCL_OK;
}
