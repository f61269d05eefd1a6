// Signals as Tcl events: what the catching handler counts (the handler and its
// relay thread are the OS layer's, platform/orxplat.h), the
// asynchronous procedure that turns counted signals into errors or trap
// scripts on the interpreter's thread, the signal and kill commands, and the
// hooks of the command loops.
#include "orx_signal.h"
#include "shell/sighooks.h"

#include <climits>
#include <csignal>
#include <cstdint>
#include <cstring>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "orx_keylist.h"
#include "orx_os.h"
#include "orx_util.h"
#include "base/internal.h"
#include "platform/orxplat.h"
#include "platform/tclint/tclint.h"

namespace {

static_assert(std::atomic<int>::is_always_lock_free, "signal counts must be lock-free");
static_assert(std::atomic<OrxX_SignalCallback *>::is_always_lock_free,
              "signal callbacks must be lock-free");

const char *const kAssocKey = "OrxSignal";

// ---- Process-wide signal state (one copy for all interpreters) -------------
// Touched by the catching handler, on any thread: only these atomics.
std::atomic<int> g_processReceived[NSIG];
std::atomic<OrxX_SignalCallback *> g_processCallbacks[NSIG];
std::atomic<bool> g_processAsyncLive{false};

// Interpreter thread only.
char *g_processTraps[NSIG];
// Changed under g_processRegistryLock, which also covers the test of the
// owner: an interpreter on another thread may be initialised or deleted
// at any time, and is refused support.
std::mutex g_processRegistryLock;
std::vector<Tcl_Interp *> *g_processInterps = nullptr;
Tcl_ThreadId g_processOwner = nullptr;
OrxX_AppSignalErrorHandler *g_processAppErrorProc = nullptr;
ClientData g_processAppErrorData = nullptr;

// The asynchronous handler; the relay thread marks it under this lock, and
// the interpreter thread deletes it under the same lock.
std::mutex g_processAsyncLock;
Tcl_AsyncHandler g_processAsync = nullptr;

// Keeping marks out of a caught error.  Once the bytecode engine of Tcl 8.6
// has caught an error, it runs the catch's own instructions with the stale
// completion code TCL_ERROR, and an asynchronous handler called there re-raises
// the caught error whatever it does: TCL_ERROR is what it must hand back after
// a command that really failed, and anything else changes what catch returns.
// So no mark may be pending while a caught error is being taken.  Tcl logs
// each error into ::errorInfo just before it catches it (ErrorLogged, a write
// trace): a pending mark is taken off there, and the relay holds new marks
// back while the error is in progress, until the catch resets it.  See
// docs/platform.md.
//
// The catch takes an error within microseconds of CPU time, but under memory
// pressure its allocations can fault for hundreds of microseconds more: an
// error still in progress after the thread has run kHoldCpuNs since it was
// logged was left so (kSettleNs of wall time when the thread's CPU time is
// unknown).  A thread that does not run (preempted, or asleep with an error
// left) is waited for up to kHardCapNs.
const int64_t kRetryNs = 20000;
const int64_t kHoldCpuNs = 20000000;
const int64_t kSettleNs = 50000;
const int64_t kHardCapNs = 100000000;
std::atomic<int64_t> g_processLoggedAt{0};
// The interpreter that logged last; cleared under g_processAsyncLock when it
// is deleted, and read by the relay under the same lock.
std::atomic<Tcl_Interp *> g_processLoggedInterp{nullptr};
std::atomic<bool> g_processMarked{false};
// Relay thread only: when the current hold began (0: none), and the log it
// last saw with the interpreters' thread's CPU time when it saw it.
int64_t g_relayHeldSince = 0;
int64_t g_relaySeenLog = 0;
int64_t g_relaySeenCpu = 0;
bool g_processInAsync = false;
bool g_processDeferring = false;

// Names Tcl gives to signal numbers; "" for the numbers it does not know.
struct SignalNames {
    std::string name[NSIG];
    SignalNames()
    {
        const std::string unknown = Tcl_SignalId(20000);
        for (int sig = 1; sig < NSIG; sig++) {
            const char *id = Tcl_SignalId(sig);
            if (id != nullptr && unknown != id) {
                name[sig] = id;
            }
        }
    }
};

// The name tables, built once on first use.
const SignalNames &Names()
{
    static const SignalNames names;
    return names;
}

// The six signals "*" stands for.
const int kStarSignals[] = {SIGINT, SIGILL, SIGABRT, SIGFPE, SIGSEGV, SIGTERM};

// In the catching handler: count the delivery and call the signal's callback.
bool CountSignal(int signalNum)
{
    if (signalNum <= 0 || signalNum >= NSIG || !g_processAsyncLive.load()) {
        return false;
    }
    g_processReceived[signalNum].fetch_add(1);
    OrxX_SignalCallback *callback = g_processCallbacks[signalNum].load();
    if (callback != nullptr) {
        callback(signalNum);
    }
    return true;
}

// Monotonic: the wall clock may step back.
int64_t NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool AnyPending();

// Whether the interpreter that logged last still has its error in progress
// (the catch that takes an error resets it).  Read from the relay thread
// while the interpreter thread runs: one aligned pointer, read atomically.
bool ErrorInProgress()
{
    Tcl_Interp *interp = g_processLoggedInterp.load();
    return interp != nullptr && orx::ErrorInProgress(interp);
}

// On the relay thread: Tcl_AsyncMark takes locks and so may not run inside
// the handler.  Returns how long to wait before the next try, in microseconds.
unsigned MarkAsync()
{
    if (!AnyPending()) {
        g_relayHeldSince = 0;
        return 0;
    }
    // Whether our mark may be pending, for ErrorLogged on a Tcl whose
    // handler record it cannot read.
    g_processMarked.store(true);
    int64_t now = NowNs();
    std::lock_guard<std::mutex> lock(g_processAsyncLock);
    if (g_processAsync == nullptr) {
        g_processMarked.store(false);
        return 0;
    }
    if (ErrorInProgress()) {
        int64_t cpu = OrxPlat_SigCatchOwnerCpuNs();
        int64_t logged = g_processLoggedAt.load();
        if (g_relayHeldSince == 0) {
            g_relayHeldSince = now;
        }
        if (logged != g_relaySeenLog) {
            g_relaySeenLog = logged;
            g_relaySeenCpu = cpu;
        }
        bool left = cpu < 0 ? now - logged >= kSettleNs : cpu - g_relaySeenCpu >= kHoldCpuNs;
        if (!left && now - g_relayHeldSince < kHardCapNs) {
            g_processMarked.store(false);
            return static_cast<unsigned>(kRetryNs / 1000);
        }
    }
    g_relayHeldSince = 0;
    Tcl_AsyncMark(g_processAsync);
    return 0;
}

// Whether any signal is still waiting for the async handler.
bool AnyPending()
{
    for (int sig = 1; sig < NSIG; sig++) {
        if (g_processReceived[sig].load() > 0) {
            return true;
        }
    }
    return false;
}

// Take one delivery off the count; false when none was waiting.
bool TakeOne(int sig)
{
    int count = g_processReceived[sig].load();
    while (count > 0) {
        if (g_processReceived[sig].compare_exchange_weak(count, count - 1)) {
            return true;
        }
    }
    return false;
}

// The trap script with every "%S" replaced by the signal name.
int FormatTrap(Tcl_Interp *interp, const char *trap, const char *name, Tcl_DString *out)
{
    const char *p = trap;
    for (;;) {
        const char *pct = strchr(p, '%');
        if (pct == nullptr) {
            Tcl_DStringAppend(out, p, -1);
            return TCL_OK;
        }
        Tcl_DStringAppend(out, p, static_cast<int>(pct - p));
        if (pct[1] == 'S') {
            Tcl_DStringAppend(out, name, -1);
            p = pct + 2;
        } else if (pct[1] == '%') {
            Tcl_DStringAppend(out, "%%", 2);
            p = pct + 2;
        } else {
            std::string spec(pct, pct[1] == '\0' ? 1 : 1 + (Tcl_UtfNext(pct + 1) - (pct + 1)));
            Tcl_ResetResult(interp);
            orx::AppendResult(interp, "bad signal trap command formatting specification \"",
                              spec.c_str(), "\", expected one of \"%%\" or \"%S\"");
            return orx::ValueCode(interp, "SIGNAL", spec);
        }
    }
}

// Runs the signal's trap once per delivery, or turns the deliveries into one error when untrapped.
int ProcessSignal(Tcl_Interp *interp, int sig, int background)
{
    const char *name = Tcl_SignalId(sig);
    while (g_processReceived[sig].load() > 0) {
        if (g_processTraps[sig] == nullptr) {
            // Several deliveries make one error.
            g_processReceived[sig].store(0);
            Tcl_ResetResult(interp);
            Tcl_SetErrorCode(interp, "POSIX", "SIG", name, static_cast<char *>(nullptr));
            orx::AppendResult(interp, name, " signal received");
            Tcl_SetVar2(interp, "errorInfo", nullptr, "", TCL_GLOBAL_ONLY);
            if (g_processAppErrorProc != nullptr) {
                return g_processAppErrorProc(interp, g_processAppErrorData, background, sig);
            }
            return TCL_ERROR;
        }
        if (!TakeOne(sig)) {
            break;
        }
        // The trap may replace its own script: work on a copy.
        Tcl_DString script;
        Tcl_DStringInit(&script);
        Tcl_Obj *saved = OrxX_SaveResultErrorInfo(interp);
        Tcl_ResetResult(interp);
        int code = FormatTrap(interp, g_processTraps[sig], name, &script);
        if (code == TCL_OK) {
            code = Tcl_EvalEx(interp, Tcl_DStringValue(&script), Tcl_DStringLength(&script),
                              TCL_EVAL_GLOBAL);
        }
        Tcl_DStringFree(&script);
        if (code == TCL_ERROR) {
            std::string context = std::string("\n    while executing signal trap code for ") +
                                  name + " signal";
            Tcl_AddErrorInfo(interp, context.c_str());
            Tcl_DecrRefCount(saved);
            return TCL_ERROR;
        }
        OrxX_RestoreResultErrorInfo(interp, saved);
        if (Tcl_InterpDeleted(interp)) {
            // The trap deleted its interpreter: the rest wait for another.
            break;
        }
    }
    return TCL_OK;
}

// Process-wide, set from the interpreter's thread by the line editor.
void (*g_displayBefore)() = nullptr;
void (*g_displayAfter)() = nullptr;

// Tcl async handler: runs the pending signals in the current interpreter or,
// with none, in the first one registered, as a background error.
int AsyncProc(ClientData, Tcl_Interp *interp, int code)
{
    g_processMarked.store(false);
    if (g_processDeferring) {
        // Called from ErrorLogged: leave the signals to the relay's next mark.
        return code;
    }
    int background = 0;
    if (interp == nullptr) {
        if (g_processInterps == nullptr || g_processInterps->empty()) {
            return code;
        }
        interp = g_processInterps->front();
        background = 1;
    }
    Tcl_Preserve(interp);
    bool wasInAsync = g_processInAsync;
    g_processInAsync = true;
    Tcl_Obj *saved = OrxX_SaveResultErrorInfo(interp);
    int result = TCL_OK;
    if (background && g_displayBefore != nullptr) {
        g_displayBefore();
    }
    for (int sig = 1; sig < NSIG && result != TCL_ERROR; sig++) {
        if (g_processReceived[sig].load() > 0) {
            result = ProcessSignal(interp, sig, background);
        }
    }
    if (background && g_displayAfter != nullptr) {
        g_displayAfter();
    }
    if (result == TCL_ERROR) {
        Tcl_DecrRefCount(saved);
        if (background && orx::EvalLevels(interp) > 0) {
            // The event loop of a running command (vwait, update): the
            // command stops with the error, as a long loop would.
            // Tcl_CancelEval releases the message it is given.
            Tcl_CancelEval(interp, Tcl_DuplicateObj(Tcl_GetObjResult(interp)), nullptr, 0);
            Tcl_ResetResult(interp);
        } else if (background) {
            Tcl_BackgroundException(interp, TCL_ERROR);
        }
        code = TCL_ERROR;
    } else {
        OrxX_RestoreResultErrorInfo(interp, saved);
    }
    g_processInAsync = wasInAsync;
    // A delivery that raced with this pass is handled by the next one.
    if (AnyPending() && g_processAsync != nullptr) {
        g_processMarked.store(true);
        Tcl_AsyncMark(g_processAsync);
    }
    Tcl_Release(interp);
    return code;
}

// Write trace on ::errorInfo.  Being the newest trace on the variable makes
// Tcl write it each time it logs an error, which in bytecode is just before
// the error is caught or leaves the bytecode.  An error with an empty message
// is not told from a reset and goes without this protection.
char *ErrorLogged(ClientData, Tcl_Interp *interp, const char *, const char *, int flags)
{
    if (flags & TCL_INTERP_DESTROYED) {
        return nullptr;
    }
    if (flags & TCL_TRACE_UNSETS) {
        Tcl_TraceVar2(interp, "errorInfo", nullptr,
                      TCL_GLOBAL_ONLY | TCL_TRACE_WRITES | TCL_TRACE_UNSETS, ErrorLogged, nullptr);
        return nullptr;
    }
    // Tcl_ResetResult writes the variable too, once the result is emptied.
    int length;
    Tcl_GetStringFromObj(Tcl_GetObjResult(interp), &length);
    if (length == 0) {
        return nullptr;
    }
    g_processLoggedInterp.store(interp);
    g_processLoggedAt.store(NowNs());
    if (g_processInAsync || g_processDeferring) {
        return nullptr;
    }
    // The relay looks at the interpreter and marks in one step under this
    // lock: either it looks after this error was set and holds its mark, or
    // its mark is made by now.  Only our own mark is taken off: a mark of
    // another handler (cmdtrace's failing callback) must reach its command.
    bool ours;
    {
        std::lock_guard<std::mutex> lock(g_processAsyncLock);
        ours = g_processAsync != nullptr &&
               orx::AsyncHandlerReady(g_processAsync, g_processMarked.load());
    }
    if (ours && Tcl_AsyncReady()) {
        g_processDeferring = true;
        Tcl_AsyncInvoke(interp, TCL_OK);
        g_processDeferring = false;
        OrxPlat_SigCatchWake();
    }
    return nullptr;
}

// ---- Signal specifications --------------------------------------------------

// Names with or without "SIG", in any case.
bool LookupName(const char *word, int *sigPtr)
{
    size_t len = strlen(word);
    if (len == 0 || len > 9) {
        return false;
    }
    if (len > 3 && strncasecmp(word, "SIG", 3) == 0) {
        word += 3;
    }
    const SignalNames &names = Names();
    for (int sig = 1; sig < NSIG; sig++) {
        if (!names.name[sig].empty() && strcasecmp(names.name[sig].c_str() + 3, word) == 0) {
            *sigPtr = sig;
            return true;
        }
    }
    return false;
}

// The LOOKUP error for a word that names no signal.
int InvalidSignal(Tcl_Interp *interp, const char *word)
{
    orx::AppendResult(interp, "invalid signal \"", word, "\"");
    return orx::LookupCode(interp, "SIGNAL", word);
}

// A signal by number or name; 0 only where allowZero.
int ParseSignal(Tcl_Interp *interp, Tcl_Obj *wordObj, bool allowZero, int *sigPtr)
{
    const char *word = Tcl_GetString(wordObj);
    long value;
    // The reader wraps at 32 bits: a "-" that gives a positive value had a
    // magnitude beyond 2^31 (-4294967294 reads as 2) and is no signal.
    const char *sign = word + strspn(word, " \t\n\v\f\r");
    if (OrxX_StrToInt(word, 0, &value) && !(value > 0 && *sign == '-')) {
        if (value == 0 && allowZero) {
            *sigPtr = 0;
            return TCL_OK;
        }
        if (value > 0 && value < NSIG && !Names().name[value].empty()) {
            *sigPtr = static_cast<int>(value);
            return TCL_OK;
        }
    }
    if (LookupName(word, sigPtr)) {
        return TCL_OK;
    }
    return InvalidSignal(interp, word);
}

// Marks the chosen signals; "*" stands for the usual six.
int ParseSignalList(Tcl_Interp *interp, Tcl_Obj *listObj, std::vector<bool> &chosen)
{
    int count;
    Tcl_Obj **elems;
    if (Tcl_ListObjGetElements(interp, listObj, &count, &elems) != TCL_OK) {
        return TCL_ERROR;
    }
    if (count == 0) {
        orx::AppendResult(interp, "signal list may not be empty");
        return orx::ValueCode(interp, "SIGNAL", Tcl_GetString(listObj));
    }
    for (int i = 0; i < count; i++) {
        if (strcmp(Tcl_GetString(elems[i]), "*") == 0) {
            if (count != 1) {
                orx::AppendResult(interp,
                                  "when \"*\" is specified in the signal list, no other signals may be specified");
                return orx::ValueCode(interp, "SIGNAL", Tcl_GetString(listObj));
            }
            for (int sig : kStarSignals) {
                chosen[sig] = true;
            }
            return TCL_OK;
        }
    }
    for (int i = 0; i < count; i++) {
        int sig;
        if (ParseSignal(interp, elems[i], false, &sig) != TCL_OK) {
            return TCL_ERROR;
        }
        chosen[sig] = true;
    }
    return TCL_OK;
}

// ---- Dispositions -----------------------------------------------------------

enum Action { kDefault, kIgnore, kError, kTrap, kUnknown };

const char *const kActionNames[] = {"default", "ignore", "error", "trap", "unknown"};

// The action named word, from kDefault up to last; -1 when none is.
int FindAction(const char *word, Action last)
{
    for (int a = kDefault; a <= last; a++) {
        if (strcmp(word, kActionNames[a]) == 0) {
            return a;
        }
    }
    return -1;
}

// "message while ... SIGNAME" with the errno of the failed call.
int PosixFailure(Tcl_Interp *interp, const char *what, int sig)
{
    const char *msg = orx::PosixCode(interp, errno);
    orx::AppendResult(interp, msg, what, Tcl_SignalId(sig));
    return TCL_ERROR;
}

// Set one signal's disposition and trap script (command for kTrap only).
int SetSignalAction(Tcl_Interp *interp, int sig, Action action, const char *command)
{
    char *copy = nullptr;
    if (action == kTrap) {
        size_t len = strlen(command);
        copy = static_cast<char *>(Tcl_AttemptAlloc(static_cast<unsigned>(len + 1)));
        if (copy == nullptr) {
            orx::AppendResult(interp, "Failed to allocate memory in SetSignalActions");
            return TCL_ERROR;
        }
        memcpy(copy, command, len + 1);
    }
    OrxPlat_SigDisposition disposition = action == kDefault  ? ORXPLAT_SIG_DEFAULT
                                          : action == kIgnore ? ORXPLAT_SIG_IGNORE
                                                              : ORXPLAT_SIG_CATCH;
    if (OrxPlat_SigSetDisposition(sig, disposition) != 0) {
        Tcl_Free(copy);
        return PosixFailure(interp, " while setting ", sig);
    }
    Tcl_Free(g_processTraps[sig]);
    g_processTraps[sig] = copy;
    // Deliveries still waiting were caught under the old action; a signal
    // that is no longer caught must not turn them into an error later (a
    // trap that ignores its own signal would otherwise fail on the next one).
    if (action == kDefault || action == kIgnore) {
        g_processReceived[sig].store(0);
    }
    return TCL_OK;
}

// The current disposition as one of the command's actions.
int GetSignalAction(Tcl_Interp *interp, int sig, Action *actionPtr)
{
    OrxPlat_SigDisposition disposition;
    if (OrxPlat_SigGetDisposition(sig, &disposition) != 0) {
        return PosixFailure(interp, " while getting ", sig);
    }
    switch (disposition) {
    case ORXPLAT_SIG_DEFAULT:
        *actionPtr = kDefault;
        break;
    case ORXPLAT_SIG_IGNORE:
        *actionPtr = kIgnore;
        break;
    case ORXPLAT_SIG_CATCH:
        *actionPtr = g_processTraps[sig] != nullptr ? kTrap : kError;
        break;
    default:
        *actionPtr = kUnknown;
        break;
    }
    return TCL_OK;
}

// A keyed list entry that is not of a known form.
int EntryFormError(Tcl_Interp *interp, const char *key)
{
    orx::AppendResult(interp, "invalid signal keyed list entry form ", key);
    return orx::ValueCode(interp, "SIGNAL", key);
}

// signal set keyedList
int ApplySignalSettings(Tcl_Interp *interp, Tcl_Obj *keylObj)
{
    Tcl_Obj *keysObj;
    if (OrxX_KeyedListGetKeys(interp, keylObj, nullptr, &keysObj) != TCL_OK) {
        return TCL_ERROR;
    }
    ObjRef keys(keysObj);
    int count;
    Tcl_Obj **keyv;
    int code = Tcl_ListObjGetElements(interp, keys.get(), &count, &keyv);
    for (int i = 0; code == TCL_OK && i < count; i++) {
        const char *key = Tcl_GetString(keyv[i]);
        Tcl_Obj *value;
        code = OrxX_KeyedListGet(interp, keylObj, key, &value);
        if (code != TCL_OK) {
            if (code == TCL_BREAK) {
                code = InvalidSignal(interp, key);
            }
            break;
        }
        int n;
        Tcl_Obj **elems;
        if ((code = Tcl_ListObjGetElements(interp, value, &n, &elems)) != TCL_OK) {
            break;
        }
        if (n < 2 || n > 4) {
            code = EntryFormError(interp, key);
            break;
        }
        int sig;
        if (!LookupName(key, &sig)) {
            code = InvalidSignal(interp, key);
            break;
        }
        int flag;
        if ((code = Tcl_GetBooleanFromObj(interp, elems[1], &flag)) != TCL_OK ||
            (n == 4 && (code = Tcl_GetBooleanFromObj(interp, elems[3], &flag)) != TCL_OK)) {
            break;
        }
        int action = FindAction(Tcl_GetString(elems[0]), kUnknown);
        const char *script = n >= 3 ? Tcl_GetString(elems[2]) : "";
        // An unknown action word would leave a trap script behind a default
        // disposition; refuse it like any other malformed entry.  A trap
        // needs its script element, which may be empty: "signal trap SIG {}"
        // is a trap, and signal get reports it so.
        if (action < 0 || (action == kTrap ? n < 3 : *script != '\0')) {
            code = EntryFormError(interp, key);
            break;
        }
        if (action != kUnknown) {
            code = SetSignalAction(interp, sig, static_cast<Action>(action), script);
        }
    }
    return code;
}

// signal ?-restart? action signalList ?command?
int SignalObjCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    int first = 1;
    bool restart = false;
    for (; first < objc; first++) {
        const char *word = Tcl_GetString(objv[first]);
        if (word[0] != '-') {
            break;
        }
        if (strcmp(word, "-restart") != 0) {
            orx::AppendResult(interp, "invalid option \"", word, "\", expected -restart");
            return orx::ValueCode(interp, "OPTION", word);
        }
        restart = true;
    }
    int rest = objc - first;
    if (rest < 2 || rest > 3) {
        return OrxX_WrongArgs(interp, objv[0], "?-restart? action signalList ?command?");
    }
    if (restart) {
        orx::AppendResult(interp,
                          "restarting of system calls from signals is not available on this system");
        return TCL_ERROR;
    }
    const char *action = Tcl_GetString(objv[first]);
    Tcl_Obj *command = rest == 3 ? objv[first + 2] : nullptr;
    if (strcmp(action, "set") == 0) {
        if (command != nullptr) {
            orx::AppendResult(interp, "command may not be specified for \"set\" action");
            return orx::UsageCode(interp);
        }
        return ApplySignalSettings(interp, objv[first + 1]);
    }
    std::vector<bool> chosen(NSIG, false);
    if (ParseSignalList(interp, objv[first + 1], chosen) != TCL_OK) {
        return TCL_ERROR;
    }
    bool trap = strcmp(action, "trap") == 0;
    if (trap && command == nullptr) {
        orx::AppendResult(interp, "command required for trapping signals");
        return orx::UsageCode(interp);
    }
    if (!trap && command != nullptr) {
        orx::AppendResult(interp, "command may not be specified for \"", action, "\" action");
        return orx::UsageCode(interp);
    }
    int settable = FindAction(action, kTrap);
    if (settable >= 0) {
        const char *script = command != nullptr ? Tcl_GetString(command) : nullptr;
        for (int sig = 1; sig < NSIG; sig++) {
            if (chosen[sig] &&
                SetSignalAction(interp, sig, static_cast<Action>(settable), script) != TCL_OK) {
                return TCL_ERROR;
            }
        }
        return TCL_OK;
    }
    if (strcmp(action, "get") == 0) {
        ObjRef keyl(OrxX_NewKeyedListObj());
        for (int sig = 1; sig < NSIG; sig++) {
            Action current{};
            if (!chosen[sig]) {
                continue;
            }
            if (GetSignalAction(interp, sig, &current) != TCL_OK) {
                return TCL_ERROR;
            }
            const char *trapScript = current == kTrap ? g_processTraps[sig] : "";
            Tcl_Obj *entry[4] = {Tcl_NewStringObj(kActionNames[current], -1), Tcl_NewBooleanObj(0),
                                 Tcl_NewStringObj(trapScript, -1), Tcl_NewBooleanObj(0)};
            if (OrxX_KeyedListSet(interp, keyl.get(), Tcl_SignalId(sig),
                                  Tcl_NewListObj(4, entry)) != TCL_OK) {
                return TCL_ERROR;
            }
        }
        Tcl_SetObjResult(interp, keyl.get());
        return TCL_OK;
    }
    if (strcmp(action, "block") == 0 || strcmp(action, "unblock") == 0) {
        orx::AppendResult(interp,
                          "Posix signals are not available on this system, can not block signals");
        return TCL_ERROR;
    }
    orx::AppendResult(interp, "invalid signal action specified: ", action,
                      ": expected one of \"default\", \"ignore\", \"error\", \"trap\", \"get\", \"set\", \"block\", or \"unblock\"");
    return orx::ValueCode(interp, "OPTION", action);
}

// kill ?-pgroup? ?signal? idlist
int KillObjCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    int first = 1;
    bool pgroup = false;
    if (objc > 1 && strcmp(Tcl_GetString(objv[1]), "-pgroup") == 0) {
        pgroup = true;
        first = 2;
    }
    int rest = objc - first;
    if (rest < 1 || rest > 2) {
        return OrxX_WrongArgs(interp, objv[0], "?-pgroup? ?signal? idlist");
    }
    int sig = SIGTERM;
    if (rest == 2 && ParseSignal(interp, objv[first], true, &sig) != TCL_OK) {
        return TCL_ERROR;
    }
    int count;
    Tcl_Obj **elems;
    if (Tcl_ListObjGetElements(interp, objv[objc - 1], &count, &elems) != TCL_OK) {
        return TCL_ERROR;
    }
    // Check every identifier before signalling any process.
    std::vector<int> ids;
    try {
        ids.resize(static_cast<size_t>(count));
    } catch (...) {
        orx::AppendResult(interp, "not enough memory for the process id list");
        return TCL_ERROR;
    }
    for (int i = 0; i < count; i++) {
        // Never wrapped: as an int, -4294967295 would be process 1.
        if (orx::GetInt(interp, elems[i], &ids[i]) != TCL_OK) {
            return TCL_ERROR;
        }
        if (pgroup && ids[i] != INT_MIN) {
            ids[i] = -ids[i];
        }
    }
    const char *commandName = Tcl_GetString(objv[0]);
    for (int id : ids) {
        if (OrxXOSkill(interp, id, sig, commandName) != TCL_OK) {
            return TCL_ERROR;
        }
    }
    Tcl_ResetResult(interp);
    return TCL_OK;
}

// Association delete procedure; the last interpreter takes the async handler with it.
void InterpDeleted(ClientData, Tcl_Interp *interp)
{
    {
        std::lock_guard<std::mutex> lock(g_processAsyncLock);
        Tcl_Interp *expected = interp;
        g_processLoggedInterp.compare_exchange_strong(expected, nullptr);
    }
    std::lock_guard<std::mutex> registryLock(g_processRegistryLock);
    std::vector<Tcl_Interp *> *list = g_processInterps;
    auto it = list == nullptr ? std::vector<Tcl_Interp *>::iterator()
                              : std::find(list->begin(), list->end(), interp);
    if (list == nullptr || it == list->end()) {
        Tcl_Panic("signal interp lost");
    }
    list->erase(it);
    if (!list->empty()) {
        return;
    }
    delete list;
    g_processInterps = nullptr;
    Tcl_AsyncHandler async;
    {
        std::lock_guard<std::mutex> lock(g_processAsyncLock);
        g_processAsyncLive.store(false);
        async = g_processAsync;
        g_processAsync = nullptr;
    }
    if (async != nullptr) {
        Tcl_AsyncDelete(async);
    }
    for (char *&trap : g_processTraps) {
        Tcl_Free(trap);
        trap = nullptr;
    }
    g_processOwner = nullptr;
}

// Create the asynchronous handler and clear the tables (first interpreter).
int StartSignalSupport(Tcl_Interp *interp)
{
    if (int error = OrxPlat_SigCatchStart(CountSignal, MarkAsync); error != 0) {
        orx::AppendResult(interp, "couldn't start the signal relay thread");
        orx::PosixCode(interp, error);
        return TCL_ERROR;
    }
    try {
        g_processInterps = new std::vector<Tcl_Interp *>();
        g_processInterps->reserve(4);
    } catch (...) {
        delete g_processInterps;
        g_processInterps = nullptr;
        orx::AppendResult(interp, "not enough memory for signal support");
        return TCL_ERROR;
    }
    for (int sig = 0; sig < NSIG; sig++) {
        g_processReceived[sig].store(0);
        g_processCallbacks[sig].store(nullptr);
        Tcl_Free(g_processTraps[sig]);
        g_processTraps[sig] = nullptr;
    }
    Names();
    g_processOwner = Tcl_GetCurrentThread();
    OrxPlat_SigCatchSetOwner();
    Tcl_AsyncHandler async = Tcl_AsyncCreate(AsyncProc, nullptr);
    std::lock_guard<std::mutex> lock(g_processAsyncLock);
    g_processAsync = async;
    g_processAsyncLive.store(true);
    return TCL_OK;
}

} // namespace

void orx::signals::SetBackgroundDisplayHooks(void (*before)(), void (*after)())
{
    g_displayBefore = before;
    g_displayAfter = after;
}

int OrxXSignalInit(Tcl_Interp *interp)
{
    if (Tcl_GetAssocData(interp, kAssocKey, nullptr) == nullptr) {
        std::lock_guard<std::mutex> registryLock(g_processRegistryLock);
        if (g_processInterps == nullptr) {
            if (StartSignalSupport(interp) != TCL_OK) {
                return TCL_ERROR;
            }
        } else if (Tcl_GetCurrentThread() != g_processOwner) {
            orx::AppendResult(interp,
                              "signal support is only available in the thread of the first interpreter");
            return TCL_ERROR;
        }
        try {
            g_processInterps->push_back(interp);
        } catch (...) {
            orx::AppendResult(interp, "not enough memory for signal support");
            return TCL_ERROR;
        }
        Tcl_SetAssocData(interp, kAssocKey, InterpDeleted, g_processInterps);
        Tcl_TraceVar2(interp, "errorInfo", nullptr,
                      TCL_GLOBAL_ONLY | TCL_TRACE_WRITES | TCL_TRACE_UNSETS, ErrorLogged, nullptr);
    }
    Tcl_CreateObjCommand(interp, "signal", SignalObjCmd, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "kill", KillObjCmd, nullptr, nullptr);
    return TCL_OK;
}

void OrxX_SetupSigInt(void)
{
    OrxPlat_SigDisposition disposition;
    if (OrxPlat_SigGetDisposition(SIGINT, &disposition) == 0 &&
        disposition == ORXPLAT_SIG_DEFAULT) {
        OrxPlat_SigSetDisposition(SIGINT, ORXPLAT_SIG_CATCH);
    }
}

void OrxX_SetAppSignalErrorHandler(OrxX_AppSignalErrorHandler *proc, ClientData clientData)
{
    g_processAppErrorProc = proc;
    g_processAppErrorData = proc != nullptr ? clientData : nullptr;
}

void OrxX_SetSignalCB(int signalNum, OrxX_SignalCallback *callback)
{
    if (signalNum >= 0 && signalNum < NSIG) {
        g_processCallbacks[signalNum].store(callback);
    }
}
