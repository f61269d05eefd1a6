// Functions that reach into Tcl's private structures, for the layers above,
// which must not include Tcl's private headers.  Whether the running Tcl is
// the 8.6 whose layouts these were compiled against is asked once, when the
// library is loaded; on any other each does what its comment says instead.
#ifndef ORX_PLATFORM_TCLINT_H
#define ORX_PLATFORM_TCLINT_H

#include <tcl.h>

namespace orx {

// ---- Commands -----------------------------------------------------------

// Lets procedures that call command keep the variable its first argument
// names (a literal, unqualified scalar name) in a frame slot, as Tcl does
// for the variables of its own compiled commands, so the command's look-up
// of that name no longer hashes it on every call.  Tcl still emits the
// ordinary call: nothing else changes.  Needs the command record's compile
// procedure and the procedure's compiled locals, which Tcl keeps private.
// Does nothing on another Tcl.
void CompileVarArgAsLocal(Tcl_Command command);

// Makes every call of command go through the object procedure that
// Tcl_SetCommandInfoFromToken installed: drops the command's NRE procedure
// and its bytecode compiler (invalidating code compiled with it), which the
// public interface cannot reach.  Returns false, changing nothing, on
// another Tcl: calls from bytecode may then bypass the object procedure.
bool CallOnlyThroughObjProc(Tcl_Interp *interp, Tcl_Command command);

// Whether command is a Tcl procedure, or an import of one.  Tcl marks a
// procedure only by the private delete procedure of its command record.
// False on another Tcl.
bool IsProc(Tcl_Command command);

// Whether command is an import of a command of another namespace (the
// origin of an import is private).  False on another Tcl.
bool IsImported(Tcl_Command command);

// Whether command has a bytecode compiler, so that calls from compiled code
// run inline and no command trace sees them unless it asks to.  The
// compiler lives in the private command record.  False on another Tcl.
bool HasCompiler(Tcl_Command command);

// ---- Call frames ----------------------------------------------------------

// A procedure (or lambda) call frame, as the profiler reads the stack.
struct ProcFrame {
    Tcl_Command command; // the procedure's command record for
                         // Tcl_GetCommandFullName, or null
    Tcl_Obj *word;       // the frame's first word, or null
    int level;           // its variable-scope level ("info level")
    bool procedure;      // a procedure's body, not a lambda's or a method's
};

// Fills frames[0..max) with the procedure call frames on the interpreter's
// call stack, innermost first, and returns how many there are (which may be
// more than max; frames may be null when max is 0).  The call-frame chain is
// private.  Returns 0 on another Tcl.
int ProcFrames(Tcl_Interp *interp, ProcFrame *frames, int max);

// The coroutine running now, or null outside any: an identity only, valid
// while the coroutine lives.  Inside a coroutine the call-frame chain holds
// only the coroutine's own frames.  The execution environment is private.
// Null on another Tcl.
const void *CurrentCoroutine(Tcl_Interp *interp);

// The coroutine that resumed (or created) coroutine, which must be running,
// or null when that was code outside any.  Null on another Tcl.
const void *CoroutineCaller(const void *coroutine);

// The level of the current variable scope, as "info level" answers it (0
// at global level), without running a command.  The frame is private.
// Returns 0 on another Tcl.
int VarFrameLevel(Tcl_Interp *interp);

// ---- Interpreter state ----------------------------------------------------

// The parts of an interpreter's error state that Tcl 8.6 keeps in the
// interpreter itself rather than in ::errorInfo and ::errorCode.
struct ErrorState {
    bool inProgress;    // an error is being logged: errorInfo is the
                        // interpreter's own and grows with each level
    bool alreadyLogged; // the current level has logged its error already
    bool codeSet;       // errorCode was set for this error
};

// Reads those parts (private fields and flags).  All false on another Tcl.
ErrorState GetErrorState(Tcl_Interp *interp);

// Puts them back after the variables have been restored: errorInfo and
// errorCode become the interpreter's own values again (so that they read as
// restored and later additions extend them) when the state had them or the
// interpreter has them now; the logged mark is set when the state had it.
// On another Tcl only errorCode is put back, through Tcl_SetObjErrorCode.
void SetErrorState(Tcl_Interp *interp, const ErrorState &state, Tcl_Obj *errorInfo,
                   Tcl_Obj *errorCode);

// Holds the interpreter's own errorCode (a private field; Tcl 8.6 sets it on
// a failed variable look-up even when no message is asked for) and puts it
// back when it goes.  Keeps nothing on another Tcl.
class KeepErrorCode {
public:
    explicit KeepErrorCode(Tcl_Interp *interp);
    ~KeepErrorCode();
    KeepErrorCode(const KeepErrorCode &) = delete;
    KeepErrorCode &operator=(const KeepErrorCode &) = delete;

private:
    Tcl_Interp *interp_;
    Tcl_Obj *saved_;
};

// Whether the interpreter has an error in progress (its own errorInfo is
// set), read atomically so that another thread may ask while the
// interpreter's thread runs.  False on another Tcl.
bool ErrorInProgress(Tcl_Interp *interp);

// Whether this asynchronous handler is marked and not yet invoked (Tcl keeps
// the flag in its private handler record).  fallback on another Tcl.  Read
// while a thread other than the handler's may mark it: the caller serialises
// its own marks.
bool AsyncHandlerReady(Tcl_AsyncHandler handler, bool fallback);

// How many evaluations the interpreter has under way (0 when it runs none,
// as at a prompt); the count is private.  -1 on another Tcl.
int EvalLevels(Tcl_Interp *interp);

// Replaces the code that a pending "return -code" left in the interpreter
// (private) with code and returns the one it had.  On another Tcl changes
// nothing and returns TCL_OK.
int SwapReturnCode(Tcl_Interp *interp, int code);

// ---- Variables ------------------------------------------------------------

// The value of name when it is a set, untraced scalar that is no array
// element, or null (the caller then reads and writes through Tcl as usual).
// Looks up only: nothing runs, no message is left.  Needs the variable
// record's flags.  Null on another Tcl.
Tcl_Obj *PlainScalarValue(Tcl_Interp *interp, Tcl_Obj *name);

// ---- Lists ----------------------------------------------------------------

// Finds the next element of the list text [*text, limit) as Tcl's own list
// parser does (the parser is private).  Returns 1 with [*start, *start +
// *size) the element's text, *literal whether it reads as exactly that text
// (braced, or no backslash to substitute), and *text moved past it; 0 when
// no element is left; -1 when the text is no list, leaving no message.
// Returns -1 on another Tcl: callers then parse through Tcl_ListObjGetElements.
int NextListElement(const char **text, const char *limit, const char **start, int *size,
                    bool *literal);

// The variable record name stands for in the current frame when it is one
// of the frame's compiled locals, which live as long as the frame (a caller
// that stays within the frame may keep it), else null.  Looks up only.
// Null on another Tcl.
void *CompiledLocalVar(Tcl_Interp *interp, Tcl_Obj *name);

// The value of var (from CompiledLocalVar, its frame still live) when it is
// a set, untraced scalar and no link, or null.
Tcl_Obj *PlainLocalValue(void *var);

} // namespace orx

#endif
