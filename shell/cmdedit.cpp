// Line editing for the command loops: the editor on the terminal, prompts
// captured for it, history across sessions, and Tab completion.  Completion
// asks Tcl's introspection commands without going through the interpreter
// (no trace or script of the user runs while the user types).

#include "shell/cmdedit.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <set>

#include "base/internal.h"
#include "platform/orxplat.h"
#include "shell/sighooks.h"
#include "shell/stacked.h"

namespace orx::cmdedit {

namespace {

// Process-wide: there is one terminal, read from the interpreter's thread.
struct EditState {
    std::unique_ptr<OrxPlat_LineEditor> editor;
    Tcl_Interp *interp = nullptr;
    std::function<bool()> interrupted;
    std::string historyPath;
    bool tried = false;
    bool feedQueued = false; // an event to feed held input is on its way
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

// ---- Output of events while a line is edited ----------------------------------
// Standard output and error carry a channel of ours that passes all through,
// but while the async loop edits a line, clears the line before the first
// output and has it drawn again once the events are done.

struct Passage {
    Tcl_Channel self = nullptr;
};

void RedrawWhenIdle(ClientData)
{
    RedrawAfterOutput();
}

Tcl_Channel Below(const Passage *passage)
{
    return Tcl_GetStackedChannel(passage->self);
}

int PassageClose(ClientData instanceData, Tcl_Interp *)
{
    delete static_cast<Passage *>(instanceData);
    return 0;
}

int PassageInput(ClientData, char *, int, int *errorCodePtr)
{
    *errorCodePtr = EINVAL;
    return -1;
}

int PassageOutput(ClientData instanceData, const char *buf, int toWrite, int *errorCodePtr)
{
    auto *passage = static_cast<Passage *>(instanceData);
    EditState &state = State();
    if (state.editor != nullptr && state.editor->Editing() && clearedLine == 0) {
        ClearForOutput();
        Tcl_DoWhenIdle(RedrawWhenIdle, nullptr);
    }
    int written = Tcl_WriteRaw(Below(passage), buf, toWrite);
    if (written < 0) {
        *errorCodePtr = Tcl_GetErrno();
    }
    return written;
}

void PassageWatch(ClientData instanceData, int mask)
{
    orx::stacked::WatchBelow(Below(static_cast<Passage *>(instanceData)), mask);
}

int PassageBlockMode(ClientData instanceData, int mode)
{
    return orx::stacked::BlockModeBelow(Below(static_cast<Passage *>(instanceData)), mode);
}

int PassageGetHandle(ClientData instanceData, int direction, ClientData *handlePtr)
{
    return Tcl_GetChannelHandle(Below(static_cast<Passage *>(instanceData)), direction, handlePtr);
}

// Options are those of the terminal's channel.
int PassageGetOption(ClientData instanceData, Tcl_Interp *interp, const char *name,
                     Tcl_DString *value)
{
    return orx::stacked::GetOptionBelow(Below(static_cast<Passage *>(instanceData)), interp, name,
                                        value);
}

int PassageSetOption(ClientData instanceData, Tcl_Interp *interp, const char *name,
                     const char *value)
{
    return orx::stacked::SetOptionBelow(Below(static_cast<Passage *>(instanceData)), interp, name,
                                        value);
}

const Tcl_ChannelType kPassageType = {
    "orxedit",        TCL_CHANNEL_VERSION_5, PassageClose,     PassageInput,
    PassageOutput,    nullptr,               PassageSetOption, PassageGetOption,
    PassageWatch,     PassageGetHandle,      nullptr,          PassageBlockMode,
    nullptr,          nullptr,               nullptr,          nullptr,
    nullptr,
};

void StackPassage(Tcl_Interp *interp, int which)
{
    Tcl_Channel channel = Tcl_GetStdChannel(which);
    if (channel == nullptr) {
        return;
    }
    auto *passage = new Passage;
    passage->self = Tcl_StackChannel(interp, &kPassageType, passage, TCL_WRITABLE, channel);
    if (passage->self == nullptr) {
        delete passage;
    }
}

// ---- The event loop while a line is edited -----------------------------------
// Input the editor holds (the rest of a paste) is fed as if the terminal had
// it; and without keys the editor is looked at every 100 ms (window size).

int FeedHeldInput(Tcl_Event *, int flags)
{
    if (!(flags & TCL_FILE_EVENTS)) {
        return 0;
    }
    EditState &state = State();
    state.feedQueued = false;
    Tcl_Channel in = Tcl_GetStdChannel(TCL_STDIN);
    if (in != nullptr && state.editor != nullptr && state.editor->Editing() &&
        state.editor->Pending()) {
        Tcl_NotifyChannel(in, TCL_READABLE);
    }
    return 1;
}

void EditSetup(ClientData, int flags)
{
    EditState &state = State();
    if (!(flags & TCL_FILE_EVENTS) || state.editor == nullptr || !state.editor->Editing()) {
        return;
    }
    Tcl_Time wait = {0, state.editor->Pending() ? 0 : 100000};
    Tcl_SetMaxBlockTime(&wait);
}

void EditCheck(ClientData, int flags)
{
    EditState &state = State();
    if (!(flags & TCL_FILE_EVENTS) || state.editor == nullptr || !state.editor->Editing()) {
        return;
    }
    if (!state.editor->Pending()) {
        state.editor->Idle();
    } else if (!state.feedQueued) {
        state.feedQueued = true;
        Tcl_Event *event = static_cast<Tcl_Event *>(ckalloc(sizeof(Tcl_Event)));
        event->proc = FeedHeldInput;
        Tcl_QueueEvent(event, TCL_QUEUE_TAIL);
    }
}

// The editor must not complete in an interpreter that is gone.
void ForgetInterp(ClientData, Tcl_Interp *interp)
{
    if (State().interp == interp) {
        State().interp = nullptr;
    }
}

// ---- Completion -------------------------------------------------------------
// Candidates come from Tcl's own info, array and namespace commands, called
// directly (orx::CallQuietly): no trace fires and the result stays as it was.

bool StartsWith(const std::string &text, const std::string &prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// A glob pattern for the names that begin with text.
Tcl_Obj *PrefixPattern(const std::string &head, const std::string &text)
{
    std::string pattern = head;
    for (char c : text) {
        if (std::strchr("*?[]\\", c) != nullptr) {
            pattern += '\\';
        }
        pattern += c;
    }
    pattern += '*';
    return orx::NewStringObj(pattern);
}

// Call visit(name) for each element of a list that a call answered.
template <typename Visit>
void ForEachName(const ObjRef &list, Visit visit)
{
    int count = 0;
    Tcl_Obj **names = nullptr;
    if (list.get() == nullptr ||
        Tcl_ListObjGetElements(nullptr, list.get(), &count, &names) != TCL_OK) {
        return;
    }
    for (int i = 0; i < count; i++) {
        visit(std::string(Tcl_GetString(names[i])));
    }
}

// What Tcl puts before the simple names of namespace ns in full names.
std::string FullPrefix(Tcl_Namespace *ns)
{
    std::string name = ns->fullName;
    return name == "::" ? name : name + "::";
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

// The names in ns that infoCommand (::tcl::info::commands or vars) lists
// and the child namespaces of ns, those beginning with tail, each as
// qualifier and the simple name.
void NamespaceCandidates(Tcl_Interp *interp, Tcl_Namespace *ns, const char *infoCommand,
                         const std::string &qualifier, const std::string &tail,
                         std::set<std::string> *out)
{
    // Both commands answer full names.
    std::string prefix = FullPrefix(ns);
    auto add = [&](const std::string &name, const char *suffix) {
        if (StartsWith(name, prefix) && StartsWith(name.substr(prefix.size()), tail)) {
            out->insert(qualifier + name.substr(prefix.size()) + suffix);
        }
    };
    ForEachName(orx::CallQuietly(interp, infoCommand, {PrefixPattern(prefix, tail)}),
                [&](const std::string &name) { add(name, ""); });
    ForEachName(orx::CallQuietly(interp, "::tcl::namespace::children",
                                 {Tcl_NewStringObj(ns->fullName, -1)}),
                [&](const std::string &name) { add(name, "::"); });
}

void CommandCandidates(Tcl_Interp *interp, const std::string &stem, std::set<std::string> *out)
{
    std::string qualifier, tail;
    SplitQualified(stem, &qualifier, &tail);
    auto insert = [out](const std::string &name) { out->insert(name); };
    if (!qualifier.empty()) {
        Tcl_Namespace *ns = FindNamespace(interp, qualifier);
        if (ns != nullptr) {
            NamespaceCandidates(interp, ns, "::tcl::info::commands", qualifier, tail, out);
        }
    } else {
        // The current namespace's commands and the global ones.
        ForEachName(orx::CallQuietly(interp, "::tcl::info::commands", {PrefixPattern("", stem)}),
                    insert);
    }
    // Procedures the auto-loader knows but has not loaded yet.
    auto indexed = [&](const std::string &name) {
        std::string shown = name;
        if (qualifier.empty() && StartsWith(shown, "::") && shown.find("::", 2) == std::string::npos) {
            shown = shown.substr(2); // a global procedure, as typed
        }
        if (StartsWith(shown, stem)) {
            out->insert(shown);
        }
    };
    const char *const kArrayNames = "::tcl::array::names";
    ForEachName(orx::CallQuietly(interp, kArrayNames,
                                 {Tcl_NewStringObj("::auto_index", -1),
                                  Tcl_NewStringObj("-glob", -1), PrefixPattern("", stem)}),
                indexed);
    if (qualifier.empty()) {
        ForEachName(orx::CallQuietly(interp, kArrayNames,
                                     {Tcl_NewStringObj("::auto_index", -1),
                                      Tcl_NewStringObj("-glob", -1), PrefixPattern("::", stem)}),
                    indexed);
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
        ForEachName(orx::CallQuietly(interp, "::tcl::array::names",
                                     {orx::NewStringObj(name), Tcl_NewStringObj("-glob", -1),
                                      PrefixPattern("", element)}),
                    [&](const std::string &n) { out->insert(name + "(" + n + ")"); });
        return;
    }
    std::string qualifier, tail;
    SplitQualified(stem, &qualifier, &tail);
    if (!qualifier.empty()) {
        Tcl_Namespace *ns = FindNamespace(interp, qualifier);
        if (ns != nullptr) {
            NamespaceCandidates(interp, ns, "::tcl::info::vars", qualifier, tail, out);
        }
        return;
    }
    // The locals of the procedure the loop runs in, else the variables of
    // the current namespace (and the global ones).
    ForEachName(orx::CallQuietly(interp, "::tcl::info::vars", {PrefixPattern("", stem)}),
                [out](const std::string &name) { out->insert(name); });
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

// The word a file name is typed in: where it starts, how it was opened ('"',
// '{' or neither) and the name it spells.  False when it is no plain name
// (a substitution in it, or already closed).
bool FileWordAt(const std::string &before, size_t *start, char *open, std::string *name)
{
    size_t begin = std::string::npos;
    char opener = 0;
    int depth = 0;
    bool closed = false;
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == ';'; };
    for (size_t i = 0; i < before.size(); i++) {
        char c = before[i];
        if (begin == std::string::npos) {
            if (blank(c)) {
                continue;
            }
            begin = i;
            opener = c == '"' || c == '{' ? c : 0;
            depth = opener == '{' ? 1 : 0;
            closed = false;
            if (opener != 0) {
                continue;
            }
        }
        if (closed) {
            if (blank(c)) {
                begin = std::string::npos;
            }
            continue;
        }
        if (c == '\\') {
            i++;
        } else if (opener == '{') {
            depth += c == '{' ? 1 : c == '}' ? -1 : 0;
            closed = depth == 0;
        } else if (opener == '"') {
            closed = c == '"';
        } else if (blank(c) || c == '[') {
            begin = std::string::npos; // a word, or a command, begins after it
        }
    }
    if (closed) {
        return false;
    }
    if (begin == std::string::npos) {
        begin = before.size();
        opener = 0;
    }
    std::string spelled;
    for (size_t i = begin + (opener != 0 ? 1 : 0); i < before.size(); i++) {
        char c = before[i];
        if (opener != '{' && (c == '$' || c == '[')) {
            return false;
        }
        if (opener != '{' && c == '\\' && i + 1 < before.size()) {
            c = before[++i];
        }
        spelled += c;
    }
    *start = begin;
    *open = opener;
    *name = spelled;
    return true;
}

// A file name written as Tcl reads it back in a word opened with open.
std::string QuoteFileName(const std::string &name, char open)
{
    const char *needBackslash = open == '"' ? "\"\\$[" : open == '{' ? "" : " \t;[]{}\"$\\";
    std::string quoted(open != 0 ? 1 : 0, open);
    for (char c : name) {
        if (open != '{' && c == '\n') {
            quoted += "\\n";
            continue;
        }
        if (c != '\0' && std::strchr(needBackslash, c) != nullptr) {
            quoted += '\\';
        }
        quoted += c;
    }
    return quoted;
}

// File names for the word before the cursor, quoted as it began.
std::vector<std::string> QuotedFileCandidates(const std::string &before, size_t *stem)
{
    size_t start;
    char open;
    std::string name;
    if (!FileWordAt(before, &start, &open, &name)) {
        return {};
    }
    std::set<std::string> found;
    FileCandidates(name, &found);
    std::vector<std::string> candidates;
    for (const std::string &candidate : found) {
        candidates.push_back(QuoteFileName(candidate, open));
    }
    if (candidates.size() == 1 && open != 0 && candidates.front().back() != '/') {
        candidates.front() += open == '"' ? '"' : '}';
    }
    *stem = before.size() - start;
    return candidates;
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
        StackPassage(interp, TCL_STDOUT);
        StackPassage(interp, TCL_STDERR);
        Tcl_CreateEventSource(EditSetup, EditCheck, nullptr);
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
            }
        }
        std::vector<std::string> candidates(found.begin(), found.end());
        size_t replaced = word.size();
        if (!isCommand && found.empty() && !(start > 0 && before[start - 1] == '$')) {
            candidates = QuotedFileCandidates(before, &replaced);
        }
        if (candidates.size() == 1) {
            const std::string &only = candidates.front();
            bool open = only.empty() || only.back() == '/' || only.back() == ':' ||
                        only.back() == ')';
            if (!open) {
                candidates.front() += ' ';
            }
        }
        *stem = replaced;
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
