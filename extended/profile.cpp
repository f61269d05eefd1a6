// The profile command: while profiling is on, an interpreter-wide command
// trace sees each procedure (and, with -commands, each other command that is
// not compiled inline) just before it runs, pushes an entry for it, and
// schedules a callback that pops it when the command is done.  Entries are
// recorded per call stack (or scope chain) into a tree of counts and times
// that "profile off" writes into an array.  Call frames, procedure records
// and compile procedures come from Tcl's private structures, through
// platform/tclint.
#include "orx_profile.h"

#include "orx_util.h"
#include "base/internal.h"
#include "platform/tclint/tclint.h"

#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

// Internal inconsistencies: the numbers of the profiler's bug report.
enum Bug { kScopeExhaustedPushing = 1, kScopeExhaustedTurningOn = 6 };

[[noreturn]] void ProfileBug(int id)
{
    Tcl_Panic("OrxX profile bug id = %d\n", id);
    std::abort();
}

// Clicks: microseconds of a clock that never goes back, the unit of Tcl's
// click counter on this platform.
long Clicks()
{
    using namespace std::chrono;
    return static_cast<long>(
        duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}

// One recorded call stack: the entry's name below the stack of its parent.
struct Node {
    Node *parent = nullptr;
    std::string name;
    long count = 0;
    long time = 0;
    std::unordered_map<std::string, std::unique_ptr<Node>> children;
    // Children by the command last seen under each name: a cache, checked
    // against the name on every use (a rename keeps the token).
    std::unordered_map<Tcl_Command, Node *> byToken;

    Node *Child(const std::string &childName)
    {
        auto &slot = children[childName];
        if (!slot) {
            slot = std::make_unique<Node>();
            slot->parent = this;
            slot->name = childName;
        }
        return slot.get();
    }
};

struct Entry {
    bool isProc;
    int procLevel;  // procedure call frames, counted at entry
    int scopeLevel; // variable-scope level
    int evalLevel;  // trace level, -1 for frames active when profiling began
    long evalTime = 0;
    long scopeTime = 0;
    Entry *prevEntry = nullptr;
    Entry *prevScope = nullptr;
    Node *node = nullptr; // where this entry is recorded
    const void *context = nullptr; // the coroutine it runs in, null outside any
};

// The open entries of one coroutine, or of the code outside any, kept while
// another runs: a coroutine's frames are not its resumer's.
struct Context {
    Entry *stackTop = nullptr;
    Entry *scopeChainTop = nullptr;
    Node *base = nullptr; // where what runs below its first entry is recorded
};

struct Profiler {
    Tcl_Interp *interp = nullptr;
    Tcl_Trace trace = nullptr;
    bool commandMode = false;
    bool evalMode = false;
    long realTime = 0;
    long prevTime = 0;
    bool updatedTimes = false;
    Entry *stackTop = nullptr;
    int stackSize = 0;
    Entry *scopeChainTop = nullptr;
    const void *context = nullptr; // the coroutine whose entries are the stack
    Node *base = nullptr;          // the current context's
    std::unordered_map<const void *, Context> suspended;
    int activeFrames = 0;          // entries with evalLevel -1 on the stack
    std::unique_ptr<Node> data;    // the (empty-named) root of every stack
    unsigned session = 0;          // changes whenever the stack is emptied
    int refs = 1;                  // the interpreter's, plus one per pending callback
};

// The profiler is shared by the command and the trace; the last holder frees it.
void Release(Profiler *profiler)
{
    if (--profiler->refs == 0) {
        delete profiler;
    }
}

// Charges time since the last update to the current entry, once per trace step.
void UpdateTimes(Profiler *p)
{
    if (p->updatedTimes) {
        return;
    }
    p->prevTime = p->realTime;
    p->realTime = Clicks();
    long elapsed = p->realTime - p->prevTime;
    if (p->stackTop != nullptr) {
        p->stackTop->evalTime += elapsed;
    } else if (p->evalMode) {
        p->base->time += elapsed;
    }
    if (p->scopeChainTop != nullptr) {
        p->scopeChainTop->scopeTime += elapsed;
    } else if (!p->evalMode) {
        p->base->time += elapsed;
    }
    p->updatedTimes = true;
}

// Opens an entry for a command or procedure call, finding its scope in the
// chain; the name is given, or made by childOf from the entry's parent.
template <typename ChildOf>
void PushWith(Profiler *p, ChildOf childOf, bool isProc, int procLevel, int scopeLevel,
              int evalLevel)
{
    auto *entry = new Entry{isProc, procLevel, scopeLevel, evalLevel};
    entry->prevEntry = p->stackTop;
    Entry *scope = p->scopeChainTop;
    while (scope != nullptr && scope->procLevel > 0 &&
           (isProc ? scope->scopeLevel >= scopeLevel : scope->scopeLevel > scopeLevel)) {
        scope = scope->prevScope;
    }
    // Outside coroutines the chain ends in <global>; a coroutine's ends in
    // its base.
    if (scope == nullptr && p->context == nullptr && p->stackTop != nullptr) {
        delete entry;
        ProfileBug(kScopeExhaustedPushing);
    }
    entry->prevScope = scope;
    entry->context = p->context;
    Entry *parent = p->evalMode ? entry->prevEntry : entry->prevScope;
    entry->node = childOf(parent != nullptr ? parent->node : p->base);
    p->stackTop = entry;
    p->scopeChainTop = entry;
    p->stackSize++;
    if (evalLevel < 0) {
        p->activeFrames++;
    }
}

void Push(Profiler *p, const std::string &name, bool isProc, int procLevel, int scopeLevel,
          int evalLevel)
{
    PushWith(p, [&](Node *parent) { return parent->Child(name); }, isProc, procLevel, scopeLevel,
             evalLevel);
}

// Adds the entry's time, eval or scope as the mode asks, to its node.
void Record(Profiler *p, Entry *entry)
{
    entry->node->count++;
    entry->node->time += p->evalMode ? entry->evalTime : entry->scopeTime;
}

// Closes the innermost entry and records it.
void Pop(Profiler *p)
{
    Entry *entry = p->stackTop;
    Record(p, entry);
    p->stackTop = entry->prevEntry;
    p->scopeChainTop = entry->prevEntry;
    p->stackSize--;
    if (entry->evalLevel < 0) {
        p->activeFrames--;
    }
    delete entry;
}

// Pops an entry that is not on top: a command of a coroutine that yielded
// and ended after its resumer pushed entries of its own.
void Unlink(Profiler *p, Entry *entry)
{
    Record(p, entry);
    for (Entry *e = p->stackTop; e != nullptr; e = e->prevEntry) {
        if (e->prevEntry == entry) {
            e->prevEntry = entry->prevEntry;
        }
        if (e->prevScope == entry) {
            e->prevScope = entry->prevScope;
        }
    }
    if (p->scopeChainTop == entry) {
        p->scopeChainTop = entry->prevScope;
    }
    p->stackSize--;
    delete entry;
}

// Where a coroutine seen for the first time is recorded: below the open
// entry of the nearest context that resumed it.  Called with the current
// context already set aside.
Node *ResumerNode(Profiler *p, const void *coroutine)
{
    for (const void *c = orx::CoroutineCaller(coroutine);; c = orx::CoroutineCaller(c)) {
        auto it = p->suspended.find(c);
        if (it != p->suspended.end()) {
            Entry *below = p->evalMode ? it->second.stackTop : it->second.scopeChainTop;
            return below != nullptr ? below->node : it->second.base;
        }
        if (c == nullptr) {
            return p->data.get();
        }
    }
}

// Makes context's entries the stack, keeping the current ones aside.  A
// coroutine seen for the first time runs below the current top; one whose
// entries have all closed is forgotten, so its next resumer is its base.
void Activate(Profiler *p, const void *context)
{
    if (p->stackTop != nullptr || p->context == nullptr) {
        p->suspended[p->context] = Context{p->stackTop, p->scopeChainTop, p->base};
    }
    auto it = p->suspended.find(context);
    if (it != p->suspended.end()) {
        p->stackTop = it->second.stackTop;
        p->scopeChainTop = it->second.scopeChainTop;
        p->base = it->second.base;
        p->suspended.erase(it);
    } else {
        p->base = ResumerNode(p, context);
        p->stackTop = nullptr;
        p->scopeChainTop = nullptr;
    }
    p->context = context;
}

// Follows the interpreter into or out of a coroutine; the time so far
// belongs to the context left.
void SwitchContext(Profiler *p, Tcl_Interp *interp)
{
    const void *now = orx::CurrentCoroutine(interp);
    if (now != p->context) {
        UpdateTimes(p);
        Activate(p, now);
    }
}

// Closes every open entry of every context; the new session makes late
// callbacks of the old one ignored.
void PopAll(Profiler *p)
{
    for (;;) {
        while (p->stackTop != nullptr) {
            Pop(p);
        }
        if (p->suspended.empty()) {
            break;
        }
        auto it = p->suspended.begin();
        p->stackTop = it->second.stackTop;
        p->scopeChainTop = it->second.scopeChainTop;
        p->suspended.erase(it);
    }
    p->scopeChainTop = nullptr;
    p->context = nullptr;
    p->session++;
}

std::string FullName(Tcl_Interp *interp, Tcl_Command token)
{
    Tcl_Obj *name = Tcl_NewObj();
    Tcl_IncrRefCount(name);
    Tcl_GetCommandFullName(interp, token, name);
    std::string text = Tcl_GetString(name);
    Tcl_DecrRefCount(name);
    return text;
}

// Whether name is the full name Tcl gives a command of namespace ns (null
// for none) named tail.
bool IsFullName(const std::string &name, const Tcl_Namespace *ns, const char *tail)
{
    size_t at = 0;
    if (ns != nullptr) {
        const char *prefix = ns->fullName;
        size_t length = std::strlen(prefix);
        if (name.compare(0, length, prefix) != 0) {
            return false;
        }
        at = length;
        if (!(length == 2 && prefix[0] == ':' && prefix[1] == ':')) {
            if (name.compare(at, 2, "::") != 0) {
                return false;
            }
            at += 2;
        }
    }
    return name.compare(at, std::string::npos, tail) == 0;
}

// The child of parent for the command's full name, built only for a command
// new under parent or renamed since.
Node *CommandChild(Tcl_Interp *interp, Node *parent, Tcl_Command token)
{
    Tcl_CmdInfo info;
    if (!Tcl_GetCommandInfoFromToken(token, &info)) {
        return parent->Child(FullName(interp, token));
    }
    auto it = parent->byToken.find(token);
    if (it != parent->byToken.end() &&
        IsFullName(it->second->name, info.namespacePtr, Tcl_GetCommandName(interp, token))) {
        return it->second;
    }
    Node *child = parent->Child(FullName(interp, token));
    parent->byToken[token] = child;
    return child;
}

// Frames that were active when profiling began and have returned since:
// their entries have no callback to pop them.
void PopReturnedFrames(Profiler *p, int procLevel)
{
    bool updated = false;
    while (p->activeFrames > 0 && p->stackTop != nullptr && p->stackTop->evalLevel < 0 &&
           p->stackTop->procLevel > procLevel) {
        if (!updated) {
            UpdateTimes(p);
            updated = true;
        }
        Pop(p);
    }
}

// Post-command callback: closes the entry unless profiling stopped or restarted since.
int CommandDone(ClientData data[], Tcl_Interp *interp, int result)
{
    auto *p = static_cast<Profiler *>(data[0]);
    auto *entry = static_cast<Entry *>(data[1]);
    auto session = static_cast<unsigned>(reinterpret_cast<uintptr_t>(data[2]));
    if (p->trace != nullptr && session == p->session) {
        SwitchContext(p, interp);
        UpdateTimes(p);
        const void *running = p->context;
        if (entry->context != running) {
            Activate(p, entry->context);
        }
        if (p->stackTop == entry) {
            Pop(p);
        } else {
            Unlink(p, entry);
        }
        if (p->context != running) {
            Activate(p, running);
        }
        p->updatedTimes = false;
    }
    Release(p);
    return result;
}

// Command trace: opens an entry per procedure call, and per command in command mode.
int TraceCommand(ClientData clientData, Tcl_Interp *interp, int level, const char *,
                 Tcl_Command token, int objc, Tcl_Obj *const objv[])
{
    auto *p = static_cast<Profiler *>(clientData);
    // An earlier trace may have deleted the command (a redefinition, a
    // rename); Tcl then runs what the first word names now, untraced.
    if (objc > 0 && *Tcl_GetCommandName(interp, token) == '\0') {
        token = Tcl_GetCommandFromObj(interp, objv[0]);
    }
    // An imported procedure runs its original, which is traced itself.
    bool isProc = orx::IsProc(token) && !orx::IsImported(token);
    bool measured = isProc || (p->commandMode && token != nullptr && !orx::HasCompiler(token));
    if (!measured && p->activeFrames == 0) {
        return TCL_OK;
    }
    SwitchContext(p, interp);
    int procLevel = orx::ProcFrames(interp, nullptr, 0);
    PopReturnedFrames(p, procLevel);
    if (measured) {
        UpdateTimes(p);
        int varLevel = orx::VarFrameLevel(interp);
        PushWith(p, [&](Node *parent) { return CommandChild(interp, parent, token); }, isProc,
                 isProc ? procLevel + 1 : procLevel, isProc ? varLevel + 1 : varLevel, level);
        p->refs++;
        Tcl_NRAddCallback(interp, CommandDone, p, p->stackTop,
                          reinterpret_cast<ClientData>(static_cast<uintptr_t>(p->session)),
                          nullptr);
    }
    p->updatedTimes = false;
    return TCL_OK;
}

// The name of an active frame, as the trace would have given its call: the
// procedure's full name, or for a lambda or method the command of the first
// word ("::apply", the object); the word itself when that is gone.
std::string FrameName(Tcl_Interp *interp, const orx::ProcFrame &frame)
{
    if (frame.procedure && frame.command != nullptr) {
        return FullName(interp, frame.command);
    }
    if (frame.word == nullptr) {
        return "";
    }
    Tcl_Command command = Tcl_GetCommandFromObj(interp, frame.word);
    return command != nullptr ? FullName(interp, command) : Tcl_GetString(frame.word);
}

// Starts a session with fresh data, entering the procedures already on the call stack.
void TurnOn(Profiler *p, bool commandMode, bool evalMode)
{
    Tcl_Interp *interp = p->interp;
    p->data = std::make_unique<Node>();
    p->commandMode = commandMode;
    p->evalMode = evalMode;
    p->realTime = 0;
    p->prevTime = 0;
    p->updatedTimes = false;
    p->session++;
    p->suspended.clear();
    p->context = nullptr;
    p->base = p->data.get();
    Push(p, "<global>", true, 0, 0, 0);
    if (const void *coroutine = orx::CurrentCoroutine(interp)) {
        Activate(p, coroutine);
    }
    // Lambdas and methods are commands, not procedures: entered only when
    // commands are counted.
    std::vector<orx::ProcFrame> frames(static_cast<size_t>(orx::ProcFrames(interp, nullptr, 0)));
    orx::ProcFrames(interp, frames.data(), static_cast<int>(frames.size()));
    int procLevel = 0;
    for (auto it = frames.rbegin(); it != frames.rend(); ++it) {
        ++procLevel;
        if (it->procedure || commandMode) {
            Push(p, FrameName(interp, *it), it->procedure, procLevel,
                 it->procedure ? it->level : it->level - 1, -1);
        }
    }
    // A profile begun through uplevel runs in an outer scope.
    int varLevel = orx::VarFrameLevel(interp);
    Entry *scope = p->scopeChainTop;
    while (scope != nullptr && scope->procLevel > 0 && scope->scopeLevel > varLevel) {
        scope = scope->prevScope;
    }
    if (scope == nullptr && p->context == nullptr) {
        ProfileBug(kScopeExhaustedTurningOn);
    }
    p->scopeChainTop = scope;
    p->trace = Tcl_CreateObjTrace(interp, INT_MAX, TCL_ALLOW_INLINE_COMPILATION, TraceCommand, p,
                                  nullptr);
    p->realTime = Clicks();
}

// Charges the last interval before closing the open entries.
void StopTracing(Profiler *p)
{
    Tcl_DeleteTrace(p->interp, p->trace);
    p->trace = nullptr;
    p->updatedTimes = false;
    UpdateTimes(p);
    PopAll(p);
    p->updatedTimes = false;
}

// The array element name of a node: its stack, innermost first.
std::string KeyOf(const Node *node)
{
    std::vector<const char *> names;
    for (; node != nullptr && node->parent != nullptr; node = node->parent) {
        names.push_back(node->name.c_str());
    }
    char *merged = Tcl_Merge(static_cast<int>(names.size()), names.data());
    std::string key = merged;
    Tcl_Free(merged);
    return key;
}

// Writes and frees the records below node; false (with Tcl's message) when
// an element cannot be set, leaving the rest for the next "profile on".
bool WriteRecords(Tcl_Interp *interp, Node *node, const char *arrayName)
{
    for (auto it = node->children.begin(); it != node->children.end();) {
        Node *child = it->second.get();
        if (!WriteRecords(interp, child, arrayName)) {
            return false;
        }
        if (child->count > 0) {
            Tcl_Obj *value = Tcl_ObjPrintf("%ld %ld", child->count, child->time);
            if (Tcl_SetVar2Ex(interp, arrayName, KeyOf(child).c_str(), value,
                              TCL_LEAVE_ERR_MSG) == nullptr) {
                return false;
            }
            if (Tcl_InterpDeleted(interp)) {
                return true;
            }
            child->count = 0;
        }
        it = node->children.erase(it);
    }
    return true;
}

// Stops and writes the records into the array, replacing what it held.
int TurnOff(Profiler *p, Tcl_Obj *arrayVar)
{
    StopTracing(p);
    // Traces on the array may turn profiling on again (which empties the
    // records) or delete the interpreter: write from records of our own.
    std::unique_ptr<Node> data = std::move(p->data);
    Tcl_Interp *interp = p->interp;
    Tcl_Preserve(interp);
    Tcl_Obj *name = Tcl_DuplicateObj(arrayVar);
    Tcl_IncrRefCount(name);
    const char *arrayName = Tcl_GetString(name);
    Tcl_UnsetVar(interp, arrayName, 0);
    int code = WriteRecords(interp, data.get(), arrayName) ? TCL_OK : TCL_ERROR;
    if (code == TCL_OK) {
        Tcl_ResetResult(interp);
    }
    Tcl_DecrRefCount(name);
    Tcl_Release(interp);
    return code;
}

// profile ?-commands? ?-eval? on|off arrayVar
int ProfileObjCmd(ClientData clientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    auto *p = static_cast<Profiler *>(clientData);
    const char *usage = "?-commands? ?-eval? on|off arrayVar";
    bool commandMode = false;
    bool evalMode = false;
    int i = 1;
    for (; i < objc; ++i) {
        const char *word = Tcl_GetString(objv[i]);
        if (word[0] != '-') {
            break;
        }
        if (std::strcmp(word, "-commands") == 0) {
            commandMode = true;
        } else if (std::strcmp(word, "-eval") == 0) {
            evalMode = true;
        } else {
            orx::SetError(interp, "expected one of \"-commands\", or \"-eval\", got \"", word,
                          "\"");
            return orx::ValueCode(interp, "OPTION", word);
        }
    }
    if (i >= objc) {
        Tcl_WrongNumArgs(interp, 0, objv, usage);
        return TCL_ERROR;
    }
    const char *mode = Tcl_GetString(objv[i]);
    if (std::strcmp(mode, "on") == 0) {
        if (i != objc - 1) {
            Tcl_WrongNumArgs(interp, 0, objv, usage);
            return TCL_ERROR;
        }
        if (p->trace != nullptr) {
            return orx::SetError(interp, "profiling is already enabled");
        }
        return orx::Guard(interp, [&] {
            TurnOn(p, commandMode, evalMode);
            return TCL_OK;
        });
    }
    if (std::strcmp(mode, "off") == 0) {
        if (i != objc - 2) {
            Tcl_WrongNumArgs(interp, 0, objv, usage);
            return TCL_ERROR;
        }
        if (commandMode || evalMode) {
            orx::SetError(interp, "option \"", commandMode ? "-command" : "-eval",
                          "\" not valid when turning off ", "profiling");
            return orx::ValueCode(interp, "OPTION", commandMode ? "-commands" : "-eval");
        }
        if (p->trace == nullptr) {
            return orx::SetError(interp, "profiling is not currently enabled");
        }
        return orx::Guard(interp, [&] { return TurnOff(p, objv[i + 1]); });
    }
    orx::SetError(interp, "expected one of \"on\" or \"off\", got \"", mode, "\"");
    return orx::ValueCode(interp, "OPTION", mode);
}

// Command delete procedure: stops a running trace before dropping the reference.
void DeleteProfiler(ClientData clientData, Tcl_Interp *)
{
    auto *p = static_cast<Profiler *>(clientData);
    if (p->trace != nullptr) {
        StopTracing(p);
    }
    p->data.reset();
    Release(p);
}

} // namespace

int OrxX_ProfileInit(Tcl_Interp *interp)
{
    auto *p = new (std::nothrow) Profiler;
    if (p == nullptr) {
        return orx::OutOfMemory(interp);
    }
    p->interp = interp;
    Tcl_CallWhenDeleted(interp, DeleteProfiler, p);
    Tcl_CreateObjCommand(interp, "profile", ProfileObjCmd, p, nullptr);
    return TCL_OK;
}
