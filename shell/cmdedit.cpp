// Line editing for the command loops: the editor on the terminal, prompts
// captured for it, history across sessions, and Tab completion.  Completion
// reads the interpreter's tables directly (no command, trace or script of
// the user runs while the user types).

#include "shell/cmdedit.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <set>

#include <tclInt.h>

#include "base/internal.h"
#include "platform/orxplat.h"
#include "shell/sighooks.h"

namespace orx::cmdedit {

namespace {

// Process-wide: there is one terminal, read from the interpreter's thread.
struct EditState {
    std::unique_ptr<OrxPlat_LineEditor> editor;
    Tcl_Interp *interp = nullptr;
    std::function<bool()> interrupted;
    std::string historyPath;
    bool tried = false;
};
// Built on first use, so it exists whenever an exit handler asks.
EditState &State()
{
    static EditState state;
    return state;
}

constexpr size_t kHistoryKept = 1000;

// Exit handler: the terminal goes back to its own mode and the history is trimmed.
void CloseEditor(ClientData)
{
    EditState &state = State();
    if (state.editor == nullptr) {
        return;
    }
    state.editor.reset(); // puts the terminal back
    if (!state.historyPath.empty()) {
        OrxPlat_TrimHistoryFile(state.historyPath, kHistoryKept);
    }
}

// Signal traps that run from the event loop write where the user is typing:
// the line makes way for their output and comes back after it.
// The line cleared for the output, if any; it is redrawn only when it is
// still the line being edited (an interrupt may have begun a new one).
unsigned clearedLine = 0;

// Background output (signal traps) clears the line being edited first.
void ClearForOutput()
{
    EditState &state = State();
    clearedLine = 0;
    if (state.editor != nullptr && state.editor->Editing()) {
        state.editor->ClearLine();
        clearedLine = state.editor->LineSerial();
    }
}

// Redraws only the line that was cleared; a newer one was drawn already.
void RedrawAfterOutput()
{
    EditState &state = State();
    if (state.editor != nullptr && state.editor->Editing() && clearedLine != 0 &&
        state.editor->LineSerial() == clearedLine) {
        state.editor->Redraw();
    }
    clearedLine = 0;
}

// The editor must not complete in an interpreter that is gone.
void ForgetInterp(ClientData, Tcl_Interp *interp)
{
    if (State().interp == interp) {
        State().interp = nullptr;
    }
}

// ---- Completion -------------------------------------------------------------

bool StartsWith(const std::string &text, const std::string &prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// Names of the string-keyed table that begin with prefix.
void TableNames(Tcl_HashTable *table, const std::string &prefix, const std::string &qualifier,
                const char *suffix, std::set<std::string> *out)
{
    if (table == nullptr) {
        return;
    }
    Tcl_HashSearch search;
    for (Tcl_HashEntry *h = Tcl_FirstHashEntry(table, &search); h != nullptr;
         h = Tcl_NextHashEntry(&search)) {
        std::string name = static_cast<const char *>(Tcl_GetHashKey(table, h));
        if (StartsWith(name, prefix)) {
            out->insert(qualifier + name + suffix);
        }
    }
}

// Defined variables of a variable table (keys are objects) beginning with
// prefix; for arrays, with a "(" after them when asked.
void VarTableNames(TclVarHashTable *table, const std::string &prefix, const std::string &qualifier,
                   std::set<std::string> *out)
{
    if (table == nullptr) {
        return;
    }
    Tcl_HashSearch search;
    for (Tcl_HashEntry *h = Tcl_FirstHashEntry(&table->table, &search); h != nullptr;
         h = Tcl_NextHashEntry(&search)) {
        Var *var = reinterpret_cast<Var *>(reinterpret_cast<char *>(h) -
                                           offsetof(VarInHash, entry));
        if (!TclIsVarArray(var) && !TclIsVarLink(var) && TclIsVarUndefined(var)) {
            continue;
        }
        // Variable tables keep their keys as objects.
        std::string name = Tcl_GetString(h->key.objPtr);
        if (StartsWith(name, prefix)) {
            out->insert(qualifier + name);
        }
    }
}

// Completion reads namespace tables directly, through the private structures.
Namespace *CurrentNamespace(Tcl_Interp *interp)
{
    return reinterpret_cast<Namespace *>(Tcl_GetCurrentNamespace(interp));
}

// Split "a::b::c" into the qualifier "a::b::" and the tail "c".
void SplitQualified(const std::string &name, std::string *qualifier, std::string *tail)
{
    size_t sep = name.rfind("::");
    if (sep == std::string::npos) {
        qualifier->clear();
        *tail = name;
        return;
    }
    *qualifier = name.substr(0, sep + 2);
    *tail = name.substr(sep + 2);
}

// The qualifier ends in "::"; an empty name means the global namespace.
Tcl_Namespace *FindNamespace(Tcl_Interp *interp, const std::string &qualifier)
{
    std::string nsName = qualifier.substr(0, qualifier.size() - 2);
    if (nsName.empty()) {
        return Tcl_GetGlobalNamespace(interp);
    }
    return Tcl_FindNamespace(interp, nsName.c_str(), nullptr, 0);
}

// Commands and child namespaces of the qualifier, or of the current and global namespaces.
void CommandCandidates(Tcl_Interp *interp, const std::string &stem, std::set<std::string> *out)
{
    std::string qualifier, tail;
    SplitQualified(stem, &qualifier, &tail);
    if (!qualifier.empty()) {
        Tcl_Namespace *ns = FindNamespace(interp, qualifier);
        if (ns != nullptr) {
            TableNames(TclGetNamespaceCommandTable(ns), tail, qualifier, "", out);
            TableNames(TclGetNamespaceChildTable(ns), tail, qualifier, "::", out);
        }
    } else {
        Tcl_Namespace *current = Tcl_GetCurrentNamespace(interp);
        Tcl_Namespace *global = Tcl_GetGlobalNamespace(interp);
        TableNames(TclGetNamespaceCommandTable(current), stem, "", "", out);
        if (current != global) {
            TableNames(TclGetNamespaceCommandTable(global), stem, "", "", out);
        }
    }
    // Procedures the auto-loader knows but has not loaded yet.
    Var *array = nullptr;
    Var *index = TclLookupVar(interp, "auto_index", nullptr, TCL_GLOBAL_ONLY, nullptr, 0, 0,
                              &array);
    if (index != nullptr && TclIsVarArray(index)) {
        std::set<std::string> names;
        VarTableNames(index->value.tablePtr, "", "", &names);
        for (const std::string &name : names) {
            std::string shown = name;
            if (qualifier.empty() && StartsWith(shown, "::") && shown.find("::", 2) == std::string::npos) {
                shown = shown.substr(2); // a global procedure, as typed
            }
            if (StartsWith(shown, stem)) {
                out->insert(shown);
            }
        }
    }
}

// Variables of the current frame and globals, or elements of an array.
void VariableCandidates(Tcl_Interp *interp, const std::string &stem, std::set<std::string> *out)
{
    size_t paren = stem.find('(');
    if (paren != std::string::npos) {
        // Elements of an array: "name(el" becomes "name(element)".
        std::string name = stem.substr(0, paren);
        std::string element = stem.substr(paren + 1);
        Var *array = nullptr;
        Var *var = TclLookupVar(interp, name.c_str(), nullptr, 0, nullptr, 0, 0, &array);
        if (var != nullptr && TclIsVarArray(var)) {
            std::set<std::string> names;
            VarTableNames(var->value.tablePtr, element, "", &names);
            for (const std::string &n : names) {
                out->insert(name + "(" + n + ")");
            }
        }
        return;
    }
    std::string qualifier, tail;
    SplitQualified(stem, &qualifier, &tail);
    if (!qualifier.empty()) {
        Tcl_Namespace *ns = FindNamespace(interp, qualifier);
        if (ns != nullptr) {
            VarTableNames(&reinterpret_cast<Namespace *>(ns)->varTable, tail, qualifier, out);
            TableNames(TclGetNamespaceChildTable(ns), tail, qualifier, "::", out);
        }
        return;
    }
    Interp *iPtr = reinterpret_cast<Interp *>(interp);
    CallFrame *frame = iPtr->varFramePtr;
    if (frame != nullptr && frame != iPtr->rootFramePtr && (frame->isProcCallFrame & FRAME_IS_PROC)) {
        // Locals of the procedure the loop runs in.
        for (int i = 0; i < frame->numCompiledLocals; i++) {
            Tcl_Obj *nameObj = frame->localCachePtr != nullptr
                                   ? (&frame->localCachePtr->varName0)[i]
                                   : nullptr;
            Var *var = &frame->compiledLocals[i];
            if (nameObj != nullptr && !(TclIsVarUndefined(var) && !TclIsVarArray(var) &&
                                        !TclIsVarLink(var))) {
                std::string name = Tcl_GetString(nameObj);
                if (StartsWith(name, stem)) {
                    out->insert(name);
                }
            }
        }
        VarTableNames(frame->varTablePtr, stem, "", out);
        return;
    }
    VarTableNames(&CurrentNamespace(interp)->varTable, stem, "", out);
}

// Entries of the stem's directory, with "~" expanded; directories get a "/".
void FileCandidates(const std::string &stem, std::set<std::string> *out)
{
    size_t slash = stem.rfind('/');
    std::string shownDir = slash == std::string::npos ? "" : stem.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? stem : stem.substr(slash + 1);
    std::string dir = shownDir.empty() ? "." : shownDir;
    std::string why;
    if (!OrxPlat_ExpandTilde(dir, &dir, &why)) {
        return;
    }
    std::vector<std::string> names;
    OrxPlat_ListDirectory(dir, &names); // whatever could be read
    for (const std::string &name : names) {
        if ((name[0] == '.' && (base.empty() || base[0] != '.')) || !StartsWith(name, base)) {
            continue;
        }
        bool isDir = OrxPlat_IsDirectory(dir + "/" + name);
        out->insert(shownDir + name + (isDir ? "/" : ""));
    }
}

// Characters that end a word for completion.
bool IsWordBreak(char c)
{
    return std::strchr(" \t\n;[]{}\"$", c) != nullptr;
}

// ---- Prompt capture ----------------------------------------------------------

// A write-only channel that collects what the prompt script prints.
int CaptureClose(ClientData, Tcl_Interp *)
{
    return 0;
}

int CaptureInput(ClientData, char *, int, int *errorCodePtr)
{
    *errorCodePtr = EINVAL;
    return -1;
}

int CaptureOutput(ClientData instanceData, const char *buf, int toWrite, int *)
{
    static_cast<std::string *>(instanceData)->append(buf, static_cast<size_t>(toWrite));
    return toWrite;
}

void CaptureWatch(ClientData, int) {}

int CaptureBlockMode(ClientData, int)
{
    return 0;
}

const Tcl_ChannelType kCaptureType = {
    "orxprompt",          TCL_CHANNEL_VERSION_5, CaptureClose, CaptureInput, CaptureOutput,
    nullptr,              nullptr,               nullptr,      CaptureWatch, nullptr,
    nullptr,              CaptureBlockMode,      nullptr,      nullptr,      nullptr,
    nullptr,              nullptr,
};

} // namespace

std::function<bool()> SetInterrupted(std::function<bool()> interrupted)
{
    std::swap(State().interrupted, interrupted);
    return interrupted;
}

OrxPlat_LineEditor *EditorFor(Tcl_Interp *interp)
{
    EditState &state = State();
    if (state.editor != nullptr) {
        if (state.interp != interp) {
            if (state.interp != nullptr) {
                Tcl_DontCallWhenDeleted(state.interp, ForgetInterp, nullptr);
            }
            state.interp = interp;
            Tcl_CallWhenDeleted(interp, ForgetInterp, nullptr);
        }
        return state.editor.get();
    }
    if (state.tried || !OrxPlat_EditingWanted()) {
        return nullptr;
    }
    state.tried = true;
    try {
        OrxPlat_EditHooks hooks;
        hooks.wait = [] {
            Tcl_Channel in = Tcl_GetStdChannel(TCL_STDIN);
            return in != nullptr ? OrxPlat_WaitForInput(in) : 0;
        };
        hooks.interrupted = [] {
            EditState &s = State();
            return s.interrupted ? s.interrupted() : false;
        };
        hooks.complete = [](const std::string &before, size_t *stem) {
            Tcl_Interp *current = State().interp;
            return current != nullptr ? Complete(current, before, stem)
                                      : std::vector<std::string>();
        };
        state.editor = OrxPlat_LineEditor::Open("orxsh", std::move(hooks));
        if (state.editor == nullptr) {
            return nullptr;
        }
        state.interp = interp;
        Tcl_CallWhenDeleted(interp, ForgetInterp, nullptr);
        state.historyPath = HistoryPath();
        if (!state.historyPath.empty()) {
            for (const std::string &entry : OrxPlat_LoadHistoryFile(state.historyPath)) {
                state.editor->AddHistory(entry);
            }
        }
        Tcl_CreateExitHandler(CloseEditor, nullptr);
        orx::signals::SetBackgroundDisplayHooks(ClearForOutput, RedrawAfterOutput);
    } catch (...) {
        state.editor.reset();
        return nullptr;
    }
    return state.editor.get();
}

void Remember(const std::string &command)
{
    EditState &state = State();
    if (state.editor == nullptr) {
        return;
    }
    try {
        std::string entry = command;
        while (!entry.empty() && (entry.back() == '\n' || entry.back() == '\r')) {
            entry.pop_back();
        }
        if (state.editor->AddHistory(entry) && !state.historyPath.empty()) {
            OrxPlat_AppendHistoryFile(state.historyPath, entry);
        }
    } catch (...) {
        // History is a convenience: losing an entry must not stop the loop.
    }
}

std::string HistoryPath()
{
    std::string dir = OrxPlat_UserDirName();
    return dir.empty() ? dir : dir + "/history";
}

std::vector<std::string> Complete(Tcl_Interp *interp, const std::string &before, size_t *stem)
{
    *stem = 0;
    try {
        size_t start = before.size();
        while (start > 0 && !IsWordBreak(before[start - 1])) {
            start--;
        }
        std::string word = before.substr(start);
        std::set<std::string> found;
        bool isCommand = false;
        if (start > 0 && before[start - 1] == '$') {
            VariableCandidates(interp, word, &found);
        } else {
            size_t p = start;
            while (p > 0 && (before[p - 1] == ' ' || before[p - 1] == '\t')) {
                p--;
            }
            isCommand = p == 0 || std::strchr("[;\n", before[p - 1]) != nullptr;
            if (isCommand) {
                CommandCandidates(interp, word, &found);
            } else {
                FileCandidates(word, &found);
            }
        }
        std::vector<std::string> candidates(found.begin(), found.end());
        if (candidates.size() == 1) {
            const std::string &only = candidates.front();
            bool open = only.empty() || only.back() == '/' || only.back() == ':' ||
                        only.back() == ')';
            if (!open) {
                candidates.front() += ' ';
            }
        }
        *stem = word.size();
        return candidates;
    } catch (...) {
        return {};
    }
}

std::string CapturePrompt(Tcl_Interp *interp, const std::function<void()> &body)
{
    Tcl_Channel out = Tcl_GetStdChannel(TCL_STDOUT);
    if (out == nullptr) {
        body();
        return std::string();
    }
    Tcl_Flush(out);
    std::string captured;
    Tcl_Channel top = Tcl_StackChannel(interp, &kCaptureType, &captured, TCL_WRITABLE, out);
    if (top == nullptr) {
        body();
        return std::string();
    }
    // Held, so a prompt script that closes standard output frees nothing here.
    Tcl_RegisterChannel(nullptr, out);
    body();
    if (Tcl_GetStdChannel(TCL_STDOUT) == out && Tcl_GetTopChannel(out) == top) {
        Tcl_Flush(top);
        Tcl_Obj *saved = Tcl_GetObjResult(interp);
        Tcl_IncrRefCount(saved);
        Tcl_UnstackChannel(interp, top);
        Tcl_SetObjResult(interp, saved);
        Tcl_DecrRefCount(saved);
    }
    Tcl_UnregisterChannel(nullptr, out);
    size_t nl = captured.rfind('\n');
    if (nl == std::string::npos) {
        return captured;
    }
    Tcl_Channel real = Tcl_GetStdChannel(TCL_STDOUT);
    if (real != nullptr) {
        Tcl_Write(real, captured.data(), static_cast<int>(nl + 1));
        Tcl_Flush(real);
    }
    return captured.substr(nl + 1);
}

} // namespace orx::cmdedit
