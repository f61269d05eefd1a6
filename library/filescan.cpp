// File scanning: scan contexts (patterns with match commands, a default
// command and a copy channel) kept in a handle table per interpreter, and
// scanfile, which runs them over a channel line by line.  Close handlers on
// both channels keep a context consistent when a match command closes one.
#include "orx_filescan.h"

#include "orx_handles.h"
#include "orx_util.h"
#include "base/internal.h"

#include <cstring>
#include <new>
#include <string>

namespace {

constexpr int kRegexpFlags = TCL_REG_ADVANCED;

// A pattern that is plain text (optionally anchored with "^") is matched by
// comparing bytes, as Tcl's compiler turns such a regexp into a string
// match: UTF-8 text compares equal exactly where its characters do.
enum class Literal { No, Prefix, Anywhere };

struct MatchEntry {
    Tcl_RegExp regexp;
    Tcl_Obj *pattern; // a private copy, so no script can shimmer the regexp away
    Tcl_Obj *command;
    MatchEntry *next;
    Literal literal;
    std::string text; // the plain text of a literal pattern
};

// Whether a pattern can be matched as plain text without the regexp engine, and that text.
Literal LiteralKind(Tcl_Obj *pattern, bool nocase, std::string *text)
{
    int length = 0;
    const char *p = Tcl_GetStringFromObj(pattern, &length);
    if (nocase) {
        return Literal::No;
    }
    bool anchored = length > 0 && p[0] == '^';
    std::string_view rest(p + (anchored ? 1 : 0), static_cast<size_t>(length - (anchored ? 1 : 0)));
    if (rest.empty() || rest.find_first_of("\\^$.[]()|*+?{}") != std::string_view::npos) {
        return Literal::No;
    }
    text->assign(rest);
    return anchored ? Literal::Prefix : Literal::Anywhere;
}

// Whether a literal pattern occurs in the line's bytes.
bool LiteralMatch(const MatchEntry *entry, const char *line, int length)
{
    std::string_view text(line, static_cast<size_t>(length));
    if (entry->literal == Literal::Prefix) {
        return text.compare(0, entry->text.size(), entry->text) == 0;
    }
    return text.find(entry->text) != std::string_view::npos;
}

struct ScanContext {
    MatchEntry *first;
    MatchEntry *last;
    Tcl_Obj *defaultCommand;
    char handle[ORXX_HANDLE_NAME_MAX];
    Tcl_Channel copyChannel;
    int activeScans; // scanfile calls running on this context
};

// Per interpreter: the context table and the element names of matchInfo.
struct ScanState {
    void *table;
    Tcl_Obj *arrayName;
    Tcl_Obj *lineName;
    Tcl_Obj *offsetName;
    Tcl_Obj *linenumName;
    Tcl_Obj *contextName;
    Tcl_Obj *handleName;
    Tcl_Obj *copyHandleName;
};

// A new object with its reference taken, for the context to keep.
Tcl_Obj *HeldString(const char *text)
{
    Tcl_Obj *obj = Tcl_NewStringObj(text, -1);
    Tcl_IncrRefCount(obj);
    return obj;
}

ScanContext **Slot(void *entry)
{
    return static_cast<ScanContext **>(entry);
}

// Close handler: the context forgets a copy channel closed under it.
void CopyChannelClosed(ClientData clientData)
{
    static_cast<ScanContext *>(clientData)->copyChannel = nullptr;
}

// Make channel (or none) the context's copy channel, moving the close handler.
void SetCopyChannel(ScanContext *context, Tcl_Channel channel)
{
    if (context->copyChannel != nullptr) {
        Tcl_DeleteCloseHandler(context->copyChannel, CopyChannelClosed, context);
    }
    context->copyChannel = channel;
    if (channel != nullptr) {
        Tcl_CreateCloseHandler(channel, CopyChannelClosed, context);
    }
}

// Releases the patterns and commands; the copy channel's close handler goes too.
void FreeContext(ScanContext *context)
{
    MatchEntry *entry = context->first;
    while (entry != nullptr) {
        MatchEntry *next = entry->next;
        Tcl_DecrRefCount(entry->pattern);
        Tcl_DecrRefCount(entry->command);
        delete entry;
        entry = next;
    }
    if (context->defaultCommand != nullptr) {
        Tcl_DecrRefCount(context->defaultCommand);
    }
    SetCopyChannel(context, nullptr);
    delete context;
}

// Null, with the message set, for an unknown handle.
ScanContext *LookUp(Tcl_Interp *interp, ScanState *state, Tcl_Obj *handle)
{
    void *entry = OrxX_HandleXlateObj(interp, state->table, handle);
    return entry != nullptr ? *Slot(entry) : nullptr;
}

// Association delete procedure: frees every context still open.
void DeleteState(ClientData clientData, Tcl_Interp *)
{
    auto *state = static_cast<ScanState *>(clientData);
    int key = -1;
    while (void *entry = OrxX_HandleWalk(state->table, &key)) {
        FreeContext(*Slot(entry));
        OrxX_HandleFree(state->table, entry);
    }
    OrxX_HandleTblRelease(state->table);
    for (Tcl_Obj *name : {state->arrayName, state->lineName, state->offsetName,
                          state->linenumName, state->contextName, state->handleName,
                          state->copyHandleName}) {
        Tcl_DecrRefCount(name);
    }
    delete state;
}

// ---- scancontext ------------------------------------------------------------

// scancontext create: a new context, its handle the result.
int ContextCreate(Tcl_Interp *interp, ScanState *state)
{
    auto *context = new (std::nothrow) ScanContext{};
    void *entry = context != nullptr ? OrxX_HandleAlloc(state->table, context->handle) : nullptr;
    if (entry == nullptr) {
        delete context;
        return orx::SetError(interp, "Failed to allocate memory in ScanContextCreate");
    }
    *Slot(entry) = context;
    Tcl_SetObjResult(interp, Tcl_NewStringObj(context->handle, -1));
    return TCL_OK;
}

// scancontext delete: refused while a scan of the context runs.
int ContextDelete(Tcl_Interp *interp, ScanState *state, Tcl_Obj *handle)
{
    void *entry = OrxX_HandleXlateObj(interp, state->table, handle);
    if (entry == nullptr) {
        return TCL_ERROR;
    }
    ScanContext *context = *Slot(entry);
    if (context->activeScans > 0) {
        // The running scan still walks this context's patterns.
        return orx::SetError(interp, "can't delete scan context \"", context->handle,
                             "\" while scanfile is using it");
    }
    FreeContext(context);
    OrxX_HandleFree(state->table, entry);
    return TCL_OK;
}

// scancontext copyfile: reports, sets or clears the channel unmatched lines are copied to.
int ContextCopyfile(Tcl_Interp *interp, ScanState *state, int objc, Tcl_Obj *const objv[])
{
    ScanContext *context = LookUp(interp, state, objv[2]);
    if (context == nullptr) {
        return TCL_ERROR;
    }
    if (objc == 3) {
        if (context->copyChannel != nullptr) {
            Tcl_SetObjResult(interp,
                             Tcl_NewStringObj(Tcl_GetChannelName(context->copyChannel), -1));
        }
        return TCL_OK;
    }
    Tcl_Channel channel = OrxX_GetOpenChannelObj(interp, objv[3], TCL_WRITABLE);
    if (channel == nullptr) {
        return TCL_ERROR;
    }
    SetCopyChannel(context, channel);
    return TCL_OK;
}

// scancontext option ...
int ScancontextObjCmd(ClientData clientData, Tcl_Interp *interp, int objc,
                      Tcl_Obj *const objv[])
{
    auto *state = static_cast<ScanState *>(clientData);
    if (objc < 2) {
        return OrxX_WrongArgs(interp, objv[0], "option ...");
    }
    const char *option = Tcl_GetString(objv[1]);
    if (std::strcmp(option, "create") == 0) {
        if (objc != 2) {
            return OrxX_WrongArgs(interp, objv[0], "create");
        }
        return ContextCreate(interp, state);
    }
    if (std::strcmp(option, "delete") == 0) {
        if (objc != 3) {
            return OrxX_WrongArgs(interp, objv[0], "delete contexthandle");
        }
        return ContextDelete(interp, state, objv[2]);
    }
    if (std::strcmp(option, "copyfile") == 0) {
        if (objc < 3 || objc > 4) {
            return OrxX_WrongArgs(interp, objv[0], "copyfile contexthandle ?filehandle?");
        }
        return ContextCopyfile(interp, state, objc, objv);
    }
    orx::SetError(interp,
                  "invalid argument, expected one of: \"create\", \"delete\", or \"copyfile\"");
    return orx::ValueCode(interp, "OPTION", option);
}

// ---- scanmatch --------------------------------------------------------------

// scanmatch ?-nocase? contexthandle ?regexp? command
int ScanmatchObjCmd(ClientData clientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    auto *state = static_cast<ScanState *>(clientData);
    const char *usage = "?-nocase? contexthandle ?regexp? command";
    if (objc < 3) {
        return OrxX_WrongArgs(interp, objv[0], usage);
    }
    int first = 1;
    int flags = kRegexpFlags;
    if (std::strcmp(Tcl_GetString(objv[1]), "-nocase") == 0) {
        if (objc != 5) {
            return OrxX_WrongArgs(interp, objv[0], usage);
        }
        first = 2;
        flags |= TCL_REG_NOCASE;
    } else if (objc > 4) {
        return OrxX_WrongArgs(interp, objv[0], usage);
    }
    ScanContext *context = LookUp(interp, state, objv[first]);
    if (context == nullptr) {
        return TCL_ERROR;
    }
    if (objc - first == 2) {
        if (context->defaultCommand != nullptr) {
            return orx::SetError(interp, Tcl_GetString(objv[0]),
                                 ": default match already specified in this scan context");
        }
        context->defaultCommand = objv[first + 1];
        Tcl_IncrRefCount(context->defaultCommand);
        return TCL_OK;
    }
    Tcl_Obj *pattern = Tcl_DuplicateObj(objv[first + 1]);
    Tcl_IncrRefCount(pattern);
    Tcl_RegExp regexp = Tcl_GetRegExpFromObj(interp, pattern, flags);
    if (regexp == nullptr) {
        Tcl_DecrRefCount(pattern);
        return TCL_ERROR;
    }
    MatchEntry *entry = nullptr;
    try {
        entry = new MatchEntry{regexp, pattern, objv[first + 2], nullptr, Literal::No, {}};
        entry->literal = LiteralKind(pattern, (flags & TCL_REG_NOCASE) != 0, &entry->text);
    } catch (const std::bad_alloc &) {
        delete entry;
        Tcl_DecrRefCount(pattern);
        return orx::SetError(interp, "Failed to allocate memory in OrxX_ScanmatchObjCmd");
    }
    Tcl_IncrRefCount(entry->command);
    if (context->last == nullptr) {
        context->first = entry;
    } else {
        context->last->next = entry;
    }
    context->last = entry;
    return TCL_OK;
}

// ---- scanfile ---------------------------------------------------------------

// The channel position before each line.  Tcl_Tell asks the driver every
// time (a system call per line, the bulk of a scan's cost); instead the
// driver's position is taken once and each line's start is that position
// less the bytes Tcl still holds buffered.  That stays exact while Tcl reads
// nothing from the driver, which is certain when more bytes were buffered
// before the line than the line can take in the channel's encoding.
// Anything else goes back to Tcl_Tell.  Scripts run between lines (match
// commands, a copy channel's handlers) may read or seek the channel; either
// changes what Tcl holds buffered, so the position is only asked again when
// that count is not what the line left.
class LinePositions {
public:
    LinePositions() = default;
    explicit LinePositions(Tcl_Channel channel) : channel_(channel) {}

    // Position of the line about to be read; call just before reading it.
    Tcl_WideInt BeforeLine()
    {
        bufferedBefore_ = Tcl_InputBuffered(channel_);
        if (known_) {
            return driverPos_ - bufferedBefore_;
        }
        Tcl_WideInt pos = Tcl_Tell(channel_);
        if (pos >= 0 && BoundedEncoding()) {
            driverPos_ = pos + bufferedBefore_;
            known_ = true;
        }
        return pos;
    }
    // Just after the line was read (without its terminator).
    void AfterLine(Tcl_Obj *line)
    {
        if (!known_) {
            return;
        }
        int bytes = 0;
        const char *text = Tcl_GetStringFromObj(line, &bytes);
        // External bytes of a character never exceed its UTF-8 bytes plus
        // one in these encodings; a terminator is at most two bytes.
        long most = static_cast<long>(bytes) + Tcl_NumUtfChars(text, bytes) + 3;
        if (bufferedBefore_ < most) {
            known_ = false;
        }
        bufferedAfter_ = Tcl_InputBuffered(channel_);
    }
    // After a script ran: a seek empties Tcl's buffer and a read shrinks or
    // refills it.  An empty buffer proves nothing, and a write moves the
    // driver without touching it, so those are asked again.
    void Check()
    {
        int buffered = Tcl_InputBuffered(channel_);
        if (buffered != bufferedAfter_ || buffered == 0 ||
            (Tcl_GetChannelMode(channel_) & TCL_WRITABLE) != 0) {
            known_ = false;
        }
    }

private:
    bool BoundedEncoding() const
    {
        Tcl_DString value;
        Tcl_DStringInit(&value);
        bool bounded = false;
        if (Tcl_GetChannelOption(nullptr, channel_, "-encoding", &value) == TCL_OK) {
            const char *name = Tcl_DStringValue(&value);
            bounded = std::strcmp(name, "utf-8") == 0 || std::strcmp(name, "binary") == 0 ||
                      std::strcmp(name, "ascii") == 0 || std::strcmp(name, "iso8859-1") == 0;
        }
        Tcl_DStringFree(&value);
        return bounded;
    }

    Tcl_Channel channel_ = nullptr;
    bool known_ = false;
    Tcl_WideInt driverPos_ = 0;
    int bufferedBefore_ = 0;
    int bufferedAfter_ = 0;
};

// One scanfile call: what its close handlers clear.
struct ScanRun {
    ScanState *state;
    ScanContext *context;
    Tcl_Channel channel;
    bool channelOpen;
    Tcl_Channel savedCopy; // the context's copy channel during -copyfile
    Tcl_Obj *channelName;
    Tcl_Obj *line;
    Tcl_WideInt offset;
    LinePositions positions;
    long lineNumber;
    bool infoSet; // matchInfo already holds this line's elements
};

// Close handlers for the channels of a running scan, so it notices a close from a match command.
void ScannedChannelClosed(ClientData clientData)
{
    static_cast<ScanRun *>(clientData)->channelOpen = false;
}

void SavedCopyClosed(ClientData clientData)
{
    static_cast<ScanRun *>(clientData)->savedCopy = nullptr;
}

// One element of the matchInfo array.
int SetInfo(Tcl_Interp *interp, ScanState *state, Tcl_Obj *name, Tcl_Obj *value)
{
    return Tcl_ObjSetVar2(interp, state->arrayName, name, value, TCL_LEAVE_ERR_MSG) != nullptr
               ? TCL_OK
               : TCL_ERROR;
}

// matchInfo for the line (once per line) and for a pattern's submatches.
int SetMatchInfo(Tcl_Interp *interp, ScanRun *run, Tcl_RegExp regexp)
{
    ScanState *state = run->state;
    if (!run->infoSet) {
        Tcl_UnsetVar2(interp, "matchInfo", nullptr, 0);
        if (SetInfo(interp, state, state->lineName, run->line) != TCL_OK ||
            SetInfo(interp, state, state->offsetName, Tcl_NewWideIntObj(run->offset)) != TCL_OK ||
            SetInfo(interp, state, state->linenumName, Tcl_NewLongObj(run->lineNumber)) !=
                TCL_OK ||
            SetInfo(interp, state, state->contextName,
                    Tcl_NewStringObj(run->context->handle, -1)) != TCL_OK ||
            SetInfo(interp, state, state->handleName, run->channelName) != TCL_OK) {
            return TCL_ERROR;
        }
        run->infoSet = true;
    }
    if (run->context->copyChannel != nullptr &&
        SetInfo(interp, state, state->copyHandleName,
                Tcl_NewStringObj(Tcl_GetChannelName(run->context->copyChannel), -1)) != TCL_OK) {
        return TCL_ERROR;
    }
    if (regexp == nullptr) {
        return TCL_OK;
    }
    Tcl_RegExpInfo info;
    Tcl_RegExpGetInfo(regexp, &info);
    for (int i = 1; i <= info.nsubs; ++i) {
        long start = info.matches[i].start;
        long end = info.matches[i].end;
        Tcl_Obj *range[2];
        Tcl_Obj *text;
        if (start < 0) {
            range[0] = Tcl_NewIntObj(-1);
            range[1] = Tcl_NewIntObj(-1);
            text = Tcl_NewObj();
        } else {
            range[0] = Tcl_NewLongObj(start);
            range[1] = Tcl_NewLongObj(end - 1);
            // Tcl_GetRange reads a last index of -1 as the end of the string.
            text = end > start ? Tcl_GetRange(run->line, static_cast<int>(start),
                                              static_cast<int>(end - 1))
                               : Tcl_NewObj();
        }
        char name[32];
        std::snprintf(name, sizeof name, "subindex%d", i - 1);
        if (Tcl_SetVar2Ex(interp, "matchInfo", name, Tcl_NewListObj(2, range),
                          TCL_LEAVE_ERR_MSG) == nullptr) {
            Tcl_DecrRefCount(text);
            return TCL_ERROR;
        }
        std::snprintf(name, sizeof name, "submatch%d", i - 1);
        if (Tcl_SetVar2Ex(interp, "matchInfo", name, text, TCL_LEAVE_ERR_MSG) == nullptr) {
            return TCL_ERROR;
        }
    }
    return TCL_OK;
}

enum class Step { Next, Done, Failed };

// Evaluates a match or default command; Done ends the scan successfully.
Step RunCommand(Tcl_Interp *interp, Tcl_Obj *command, const char *errorContext, bool *skipRest)
{
    int code = Tcl_EvalObjEx(interp, command, 0);
    switch (code) {
    case TCL_ERROR:
        Tcl_AddErrorInfo(interp, errorContext);
        return Step::Failed;
    case TCL_BREAK:
    case TCL_RETURN:
        return Step::Done;
    case TCL_CONTINUE:
        *skipRest = true;
        return Step::Next;
    default:
        return Step::Next;
    }
}

// The errno of the failed channel call, as Tcl's POSIX error.
int PosixFailure(Tcl_Interp *interp)
{
    Tcl_SetObjResult(interp, Tcl_NewStringObj(orx::PosixCode(interp, Tcl_GetErrno()), -1));
    return TCL_ERROR;
}

// Reads and matches line by line until end of file, an error or a continue/break from a command.
int ScanLines(Tcl_Interp *interp, ScanRun *run)
{
    ScanContext *context = run->context;
    if (context->first == nullptr) {
        return orx::SetError(interp, "no patterns in current scan context");
    }
    for (;;) {
        run->offset = run->positions.BeforeLine();
        ObjRef lineRef(Tcl_NewObj());
        Tcl_Obj *line = lineRef.get();
        int got = Tcl_GetsObj(run->channel, line);
        run->positions.AfterLine(line);
        if (got < 0) {
            if (Tcl_Eof(run->channel) || Tcl_InputBlocked(run->channel)) {
                return TCL_OK;
            }
            return PosixFailure(interp);
        }
        run->line = line;
        run->lineNumber++;
        run->infoSet = false;
        bool matched = false;
        bool skipRest = false;
        for (MatchEntry *entry = context->first; entry != nullptr && !skipRest;
             entry = entry->next) {
            int found;
            if (entry->literal != Literal::No) {
                int length = 0;
                const char *text = Tcl_GetStringFromObj(line, &length);
                found = LiteralMatch(entry, text, length) ? 1 : 0;
            } else {
                found = Tcl_RegExpExecObj(interp, entry->regexp, line, 0, -1, 0);
            }
            if (found < 0) {
                return TCL_ERROR;
            }
            if (found == 0) {
                continue;
            }
            matched = true;
            if (SetMatchInfo(interp, run,
                             entry->literal == Literal::No ? entry->regexp : nullptr) != TCL_OK) {
                return TCL_ERROR;
            }
            Step step = RunCommand(interp, entry->command, "\n    while executing a match command",
                                   &skipRest);
            if (run->channelOpen) {
                run->positions.Check();
            }
            if (step != Step::Next) {
                return step == Step::Done ? TCL_OK : TCL_ERROR;
            }
        }
        if (!matched && context->defaultCommand != nullptr) {
            if (SetMatchInfo(interp, run, nullptr) != TCL_OK) {
                return TCL_ERROR;
            }
            bool ignored = false;
            ObjRef command(context->defaultCommand);
            Step step = RunCommand(interp, command.get(),
                                   "\n    while executing a match default command", &ignored);
            if (run->channelOpen) {
                run->positions.Check();
            }
            if (step != Step::Next) {
                return step == Step::Done ? TCL_OK : TCL_ERROR;
            }
        }
        if (!matched && context->copyChannel != nullptr) {
            int length = 0;
            const char *text = Tcl_GetStringFromObj(line, &length);
            if (Tcl_Write(context->copyChannel, text, length) < 0 ||
                Tcl_Write(context->copyChannel, "\n", 1) < 0) {
                return PosixFailure(interp);
            }
            if (run->channelOpen) {
                run->positions.Check();
            }
        }
        if (!run->channelOpen) {
            return TCL_OK;
        }
    }
}

// scanfile ?-copyfile filehandle? contexthandle filehandle
int ScanfileObjCmd(ClientData clientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    auto *state = static_cast<ScanState *>(clientData);
    bool withCopy = objc == 5 && std::strcmp(Tcl_GetString(objv[1]), "-copyfile") == 0;
    if (objc != 3 && !withCopy) {
        return OrxX_WrongArgs(interp, objv[0], "?-copyfile filehandle? contexthandle filehandle");
    }
    int first = withCopy ? 3 : 1;
    ScanContext *context = LookUp(interp, state, objv[first]);
    if (context == nullptr) {
        return TCL_ERROR;
    }
    Tcl_Channel channel = OrxX_GetOpenChannelObj(interp, objv[first + 1], TCL_READABLE);
    if (channel == nullptr) {
        return TCL_ERROR;
    }
    Tcl_Channel copy = nullptr;
    if (withCopy && (copy = OrxX_GetOpenChannelObj(interp, objv[2], TCL_WRITABLE)) == nullptr) {
        return TCL_ERROR;
    }

    ScanRun run{};
    run.state = state;
    run.context = context;
    run.channel = channel;
    run.channelOpen = true;
    run.positions = LinePositions(channel);
    ObjRef channelName(Tcl_NewStringObj(Tcl_GetChannelName(channel), -1));
    run.channelName = channelName.get();
    if (withCopy) {
        // The context's own copy channel comes back after this call.
        run.savedCopy = context->copyChannel;
        if (run.savedCopy != nullptr) {
            SetCopyChannel(context, nullptr);
            Tcl_CreateCloseHandler(run.savedCopy, SavedCopyClosed, &run);
        }
        SetCopyChannel(context, copy);
    }
    Tcl_CreateCloseHandler(channel, ScannedChannelClosed, &run);
    context->activeScans++;

    int code = ScanLines(interp, &run);

    context->activeScans--;
    if (run.channelOpen) {
        Tcl_DeleteCloseHandler(channel, ScannedChannelClosed, &run);
    }
    if (withCopy) {
        SetCopyChannel(context, nullptr);
        if (run.savedCopy != nullptr) {
            Tcl_DeleteCloseHandler(run.savedCopy, SavedCopyClosed, &run);
            SetCopyChannel(context, run.savedCopy);
        }
    }
    return code;
}

} // namespace

int OrxXFilescanInit(Tcl_Interp *interp)
{
    void *table = OrxX_HandleTblInit("context", sizeof(ScanContext *), 10);
    auto *state = table != nullptr ? new (std::nothrow) ScanState{} : nullptr;
    if (state == nullptr) {
        OrxX_HandleTblRelease(table);
        return orx::OutOfMemory(interp);
    }
    state->table = table;
    state->arrayName = HeldString("matchInfo");
    state->lineName = HeldString("line");
    state->offsetName = HeldString("offset");
    state->linenumName = HeldString("linenum");
    state->contextName = HeldString("context");
    state->handleName = HeldString("handle");
    state->copyHandleName = HeldString("copyHandle");
    Tcl_CallWhenDeleted(interp, DeleteState, state);
    Tcl_CreateObjCommand(interp, "scanfile", ScanfileObjCmd, state, nullptr);
    Tcl_CreateObjCommand(interp, "scanmatch", ScanmatchObjCmd, state, nullptr);
    Tcl_CreateObjCommand(interp, "scancontext", ScancontextObjCmd, state, nullptr);
    return TCL_OK;
}
