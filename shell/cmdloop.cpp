// The command loops of the shell: the blocking read-evaluate-print loop, its
// event-driven twin, the commandloop command that starts either, and the
// result printer they share.  Interrupts reach the loops through the
// application signal-error handler of the signal family.

#include "orx_shell.h"

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <new>
#include <string>

#include "orx_init.h"
#include "orx_signal.h"
#include "orx_util.h"
#include "platform/orxplat.h"
#include "orx_log.h"
#include "base/internal.h"
#include "shell/cmdedit.h"
#include "shell/stacked.h"
#include "tq_cc.h"

namespace {

// Evaluate script with command logging off, putting logging back afterwards.
int EvalUnlogged(Tcl_Interp *interp, const char *script, int flags)
{
    const char *saved = OrxLog_State(interp, "disable");
    int code = Tcl_EvalEx(interp, script, -1, flags);
    if (saved != nullptr) {
        OrxLog_State(interp, saved);
    }
    return code;
}

// Record cmd in the history, then evaluate it.  Tcl 8.6 turns break and
// continue at level 0 into errors ("invoked "break" outside of a loop"); the
// loops report them with their own codes instead.
int RecordAndEval(Tcl_Interp *interp, const char *cmd, int flags)
{
    int code = Tcl_RecordAndEval(interp, cmd, TCL_NO_EVAL);
    if (code != TCL_OK) {
        return code;
    }
    ObjRef script(Tcl_NewStringObj(cmd, -1));
    Tcl_AllowExceptions(interp);
    return Tcl_EvalObjEx(interp, script.get(), flags);
}

// Output of the loop ignores a standard channel that was closed.
void WriteText(Tcl_Channel channel, const char *text)
{
    if (channel != nullptr) {
        Tcl_WriteChars(channel, text, -1);
    }
}

// A closed standard channel is passed over.
void FlushChannel(int type)
{
    Tcl_Channel channel = Tcl_GetStdChannel(type);
    if (channel != nullptr) {
        Tcl_Flush(channel);
    }
}

// Write the top-level or continuation prompt.  prompt1/prompt2 are scripts
// whose result is the prompt; the tcl_prompt variables print by themselves.
void OutputPrompt(Tcl_Interp *interp, bool topLevel, const char *prompt1, const char *prompt2)
{
    if (Tcl_AsyncReady()) {
        Tcl_AsyncInvoke(interp, TCL_OK);
    }
    FlushChannel(TCL_STDERR);

    const char *param = topLevel ? prompt1 : prompt2;
    Tcl_Obj *script = nullptr;
    if (param != nullptr) {
        script = Tcl_NewStringObj(param, -1);
    } else {
        script = Tcl_GetVar2Ex(interp, topLevel ? "tcl_prompt1" : "tcl_prompt2", nullptr,
                               TCL_GLOBAL_ONLY);
    }
    bool written = false;
    if (script != nullptr) {
        ObjRef hold(script); // the script may change the variable it came from
        int code = EvalUnlogged(interp, Tcl_GetString(script), 0);
        if (code == TCL_ERROR) {
            Tcl_Channel err = Tcl_GetStdChannel(TCL_STDERR);
            if (err != nullptr) {
                Tcl_WriteChars(err, "Error in prompt hook: ", -1);
                Tcl_WriteObj(err, Tcl_GetObjResult(interp));
                Tcl_WriteChars(err, "\n", 1);
                Tcl_Flush(err);
            }
        } else {
            written = true;
        }
    }
    Tcl_Channel out = Tcl_GetStdChannel(TCL_STDOUT);
    if (out != nullptr) {
        if (!written) {
            Tcl_WriteChars(out, topLevel ? "%" : ">", -1);
        } else if (param != nullptr) {
            Tcl_WriteObj(out, Tcl_GetObjResult(interp));
        }
        Tcl_Flush(out);
    }
    Tcl_ResetResult(interp);
}

// The prompt as text for the line editor: what the prompt output would write.
std::string PromptText(Tcl_Interp *interp, bool topLevel, const char *prompt1,
                       const char *prompt2)
{
    return orx::cmdedit::CapturePrompt(
        interp, [&] { OutputPrompt(interp, topLevel, prompt1, prompt2); });
}

// A line from the editor, in the locale's encoding, appended to a command
// buffer in Tcl's.
void AppendEditedLine(Tcl_DString *buffer, const std::string &line)
{
    Tcl_DString utf;
    Tcl_ExternalToUtfDString(nullptr, line.data(), static_cast<int>(line.size()), &utf);
    Tcl_DStringAppend(buffer, Tcl_DStringValue(&utf), Tcl_DStringLength(&utf));
    Tcl_DStringFree(&utf);
}

// The command as the user typed it (without the loop's prefix), for history.
void RememberCommand(const char *buffer, const char *command)
{
    size_t skip = command != nullptr ? std::strlen(command) + 1 : 0;
    if (std::strlen(buffer) >= skip) {
        orx::cmdedit::Remember(buffer + skip);
    }
}

// After a complete command the buffer starts again with the loop's command prefix.
void RestartBuffer(Tcl_DString *buffer, const char *command)
{
    Tcl_DStringSetLength(buffer, 0);
    if (command != nullptr) {
        Tcl_DStringAppend(buffer, command, -1);
        Tcl_DStringAppend(buffer, " ", 1);
    }
}

// The terminal echoed ^C, or Ctrl-D left the cursor after the prompt: what
// comes next starts on a line of its own.
void EndPromptLine()
{
    WriteText(Tcl_GetStdChannel(TCL_STDOUT), "\n");
    FlushChannel(TCL_STDOUT);
}

// At the end of the input: only a terminal left the cursor after the last
// prompt; a file's output ends with the prompt as written.
void EndInputPromptLine(bool interactive)
{
    if (interactive && OrxPlat_IsTerminal(0)) {
        EndPromptLine();
    }
}

// ---------------------------------------------------------------------------
// Standard input that gives way to Ctrl-C.  Tcl's file channels retry a read
// that a signal interrupts, so "gets stdin" would wait through Ctrl-C for a
// whole line and then lose it.  A thin layer on the terminal waits where an
// interrupt can break the wait and then fails the read with EINTR; the
// signal's error follows when the command returns.

struct InputLayer {
    Tcl_Channel below;
    int mode = TCL_MODE_BLOCKING;
};

int LayerBlockMode(ClientData data, int mode)
{
    static_cast<InputLayer *>(data)->mode = mode;
    return 0;
}

int LayerClose(ClientData data, Tcl_Interp *)
{
    delete static_cast<InputLayer *>(data);
    return 0;
}

int LayerInput(ClientData data, char *buf, int toRead, int *errorCodePtr)
{
    auto *layer = static_cast<InputLayer *>(data);
    if (layer->mode == TCL_MODE_BLOCKING && OrxPlat_WaitForInput(layer->below) == EINTR) {
        *errorCodePtr = EINTR;
        return -1;
    }
    int n = Tcl_ReadRaw(layer->below, buf, toRead);
    if (n < 0) {
        *errorCodePtr = Tcl_GetErrno();
    }
    return n;
}

int LayerOutput(ClientData data, const char *buf, int toWrite, int *errorCodePtr)
{
    int n = Tcl_WriteRaw(static_cast<InputLayer *>(data)->below, buf, toWrite);
    if (n < 0) {
        *errorCodePtr = Tcl_GetErrno();
    }
    return n;
}

// The options and file events are the terminal's.
int LayerSetOption(ClientData data, Tcl_Interp *interp, const char *name, const char *value)
{
    return orx::stacked::SetOptionBelow(static_cast<InputLayer *>(data)->below, interp, name, value);
}

int LayerGetOption(ClientData data, Tcl_Interp *interp, const char *name, Tcl_DString *value)
{
    return orx::stacked::GetOptionBelow(static_cast<InputLayer *>(data)->below, interp, name, value);
}

void LayerWatch(ClientData data, int mask)
{
    orx::stacked::WatchBelow(static_cast<InputLayer *>(data)->below, mask);
}

int LayerHandle(ClientData data, int direction, ClientData *handlePtr)
{
    return Tcl_GetChannelHandle(static_cast<InputLayer *>(data)->below, direction, handlePtr);
}

const Tcl_ChannelType kInputLayerType = {
    "orxinput", TCL_CHANNEL_VERSION_5, LayerClose, LayerInput, LayerOutput,
    nullptr, LayerSetOption, LayerGetOption, LayerWatch, LayerHandle,
    nullptr, LayerBlockMode, nullptr, nullptr, nullptr, nullptr, nullptr,
};

// Puts the layer on standard input when it is a terminal; once.
void InterruptibleInput(Tcl_Interp *interp)
{
    Tcl_Channel in = Tcl_GetStdChannel(TCL_STDIN);
    if (in == nullptr || !OrxPlat_IsTerminal(0) ||
        Tcl_GetChannelType(Tcl_GetTopChannel(in)) == &kInputLayerType) {
        return;
    }
    auto *layer = new (std::nothrow) InputLayer;
    if (layer == nullptr) {
        return; // reads then wait for a whole line, as before
    }
    layer->below = Tcl_GetTopChannel(in);
    int blocking = 1;
    Tcl_DString value;
    Tcl_DStringInit(&value);
    if (Tcl_GetChannelOption(nullptr, in, "-blocking", &value) == TCL_OK) {
        Tcl_GetBoolean(nullptr, Tcl_DStringValue(&value), &blocking);
    }
    Tcl_DStringFree(&value);
    layer->mode = blocking ? TCL_MODE_BLOCKING : TCL_MODE_NONBLOCKING;
    if (Tcl_StackChannel(interp, &kInputLayerType, layer, TCL_READABLE, in) == nullptr) {
        delete layer;
        Tcl_ResetResult(interp);
    }
}

// Signal-error handler of the blocking loop: an interrupt resets the command
// being collected; the error itself stands.
int CommandLoopSignalHandler(Tcl_Interp *, ClientData clientData, int, int signalNum)
{
    if (signalNum == SIGINT) {
        *static_cast<int *>(clientData) = 1;
    }
    return TCL_ERROR;
}

// ---------------------------------------------------------------------------
// The asynchronous loop.

struct AsyncLoop {
    Tcl_Interp *interp;
    Tcl_Channel channel;
    int options;
    Tcl_DString line;
    bool partial = false;
    bool ended = false;
    bool running = false;     // one of its commands is being evaluated
    bool interrupted = false; // ... and Ctrl-C stopped it
    char *command = nullptr;
    char *endCommand = nullptr;
    char *prompt1 = nullptr;
    char *prompt2 = nullptr;
    OrxPlat_LineEditor *editor = nullptr; // the terminal's, when editing
};

// Process-wide: set once Tcl_Exit has begun, when no script may run any more
// (finalisation closes standard input and would run the teardown).
bool processExiting = false;

// Exit handler: from here on the loop must not run scripts.
void MarkExiting(ClientData)
{
    processExiting = true;
}

// Tcl_EventuallyFree procedure: a running handler may still use the loop.
void FreeAsyncLoop(char *blockPtr)
{
    auto *loop = reinterpret_cast<AsyncLoop *>(blockPtr);
    Tcl_DStringFree(&loop->line);
    Tcl_Free(loop->command);
    Tcl_Free(loop->endCommand);
    Tcl_Free(loop->prompt1);
    Tcl_Free(loop->prompt2);
    delete loop;
}

void AsyncInputHandler(ClientData clientData, int mask);
void AsyncCloseHandler(ClientData clientData);

// Show the prompt: through the editor when the loop edits lines.
void AsyncPrompt(AsyncLoop *loop, bool topLevel)
{
    if (loop->editor != nullptr) {
        loop->editor->Begin(PromptText(loop->interp, topLevel, loop->prompt1, loop->prompt2));
    } else {
        OutputPrompt(loop->interp, topLevel, loop->prompt1, loop->prompt2);
    }
}
void AsyncInterpDeleted(ClientData clientData, Tcl_Interp *interp);

// Remove the loop; runScript says whether the end script may still run.
void AsyncTeardown(AsyncLoop *loop, bool runScript)
{
    if (loop->ended) {
        return;
    }
    loop->ended = true;
    if (loop->editor != nullptr) {
        loop->editor->End();
    }
    Tcl_DeleteChannelHandler(loop->channel, AsyncInputHandler, loop);
    Tcl_DeleteCloseHandler(loop->channel, AsyncCloseHandler, loop);
    Tcl_DontCallWhenDeleted(loop->interp, AsyncInterpDeleted, loop);
    OrxX_SetAppSignalErrorHandler(nullptr, nullptr);
    Tcl_Interp *interp = loop->interp;
    if (runScript && loop->endCommand != nullptr && !processExiting &&
        !Tcl_InterpDeleted(interp)) {
        Tcl_Preserve(interp);
        if (EvalUnlogged(interp, loop->endCommand, TCL_EVAL_GLOBAL) == TCL_ERROR) {
            Tcl_AddErrorInfo(interp, "\n    (\"commandloop\" end command)");
            Tcl_BackgroundError(interp);
        }
        Tcl_ResetResult(interp);
        Tcl_Release(interp);
    }
    Tcl_EventuallyFree(loop, FreeAsyncLoop);
}

// The loop ends when its channel closes or its interpreter goes, whichever is first.
void AsyncCloseHandler(ClientData clientData)
{
    AsyncTeardown(static_cast<AsyncLoop *>(clientData), true);
}

void AsyncInterpDeleted(ClientData clientData, Tcl_Interp *)
{
    AsyncTeardown(static_cast<AsyncLoop *>(clientData), false);
}

// End of the loop through its input: the process ends when asked to.
void AsyncEndOfInput(AsyncLoop *loop)
{
    EndInputPromptLine((loop->options & ORXX_CMDLOOP_INTERACTIVE) != 0);
    if (loop->options & ORXX_CMDLOOP_EXIT_AT_END) {
        Tcl_Exit(0);
    }
    AsyncTeardown(loop, true);
}

// Drops the partial command on SIGINT at the prompt; TCL_ERROR leaves other
// cases to the usual handling.  A command of the loop waiting in the event
// loop (vwait) is not at the prompt: it stops.
int AsyncSignalHandler(Tcl_Interp *interp, ClientData clientData, int background,
                       int signalNum)
{
    auto *loop = static_cast<AsyncLoop *>(clientData);
    if (signalNum != SIGINT || !background || loop->ended || loop->running) {
        if (signalNum == SIGINT && loop->running) {
            loop->interrupted = true;
        }
        return TCL_ERROR;
    }
    Tcl_DStringSetLength(&loop->line, 0);
    loop->partial = false;
    Tcl_ResetResult(interp);
    if (loop->editor != nullptr) {
        // The half-typed line stays on screen, as without the editor.
        loop->editor->Redraw();
        loop->editor->End();
    }
    if (loop->options & ORXX_CMDLOOP_INTERACTIVE) {
        WriteText(Tcl_GetStdChannel(TCL_STDOUT), "\n");
        FlushChannel(TCL_STDOUT);
        AsyncPrompt(loop, true);
    }
    return TCL_OK;
}

// A read error other than an interrupt ends the loop, reported in the
// background.
void AsyncInputFailed(AsyncLoop *loop)
{
    Tcl_Interp *interp = loop->interp;
    Tcl_SetObjResult(interp, Tcl_NewStringObj("command input error on stdin: ", -1));
    orx::AppendResult(interp, orx::PosixCode(interp, Tcl_GetErrno()));
    Tcl_BackgroundError(interp);
    Tcl_ResetResult(interp);
    AsyncEndOfInput(loop);
}

// Add the next line of input to the loop's buffer; false when there is
// none yet (or the loop ended).
bool AsyncReadLine(AsyncLoop *loop)
{
    if (loop->editor != nullptr) {
        std::string edited;
        // An interrupt while a key sequence is read: the event loop runs
        // the signals once this handler returns.
        auto previous = orx::cmdedit::SetInterrupted([] { return false; });
        OrxPlat_EditStatus status = loop->editor->Feed(&edited);
        orx::cmdedit::SetInterrupted(std::move(previous));
        switch (status) {
        case ORXPLAT_EDIT_LINE: AppendEditedLine(&loop->line, edited); return true;
        case ORXPLAT_EDIT_END_OF_INPUT: AsyncEndOfInput(loop); return false;
        case ORXPLAT_EDIT_FAILED: AsyncInputFailed(loop); return false;
        default: return false;
        }
    }
    Tcl_SetErrno(0);
    if (Tcl_Gets(loop->channel, &loop->line) >= 0) {
        return true;
    }
    int error = Tcl_GetErrno();
    if (Tcl_Eof(loop->channel)) {
        // Readable for ever at end of file: stay installed and the event
        // loop would spin, so the loop ends here.
        AsyncEndOfInput(loop);
    } else if (Tcl_InputBlocked(loop->channel)) {
        // Part of a line has arrived; the channel keeps it until the rest
        // comes.
    } else if (error == EINTR) {
        Tcl_AsyncInvoke(nullptr, TCL_OK);
    } else {
        AsyncInputFailed(loop);
    }
    return false;
}

// Channel handler: reads what is there and runs each complete command.
void AsyncInputHandler(ClientData clientData, int)
{
    auto *loop = static_cast<AsyncLoop *>(clientData);
    if (loop->ended) {
        return;
    }
    Tcl_Interp *interp = loop->interp;
    OrxX_SetAppSignalErrorHandler(AsyncSignalHandler, loop);
    if (!AsyncReadLine(loop)) {
        return;
    }

    bool interactive = (loop->options & ORXX_CMDLOOP_INTERACTIVE) != 0;
    Tcl_DStringAppend(&loop->line, "\n", 1);
    if (!Tcl_CommandComplete(Tcl_DStringValue(&loop->line))) {
        loop->partial = true;
    } else {
        loop->partial = false;
        Tcl_DString text;
        Tcl_DStringInit(&text);
        RestartBuffer(&text, loop->command);
        Tcl_DStringAppend(&text, Tcl_DStringValue(&loop->line), Tcl_DStringLength(&loop->line));

        // The command may end the loop (closing stdin) or delete the
        // interpreter; the record and the interpreter stay until we are done.
        Tcl_Preserve(loop);
        Tcl_Preserve(interp);
        Tcl_CreateChannelHandler(loop->channel, 0, AsyncInputHandler, loop);
        if (loop->editor != nullptr) {
            orx::cmdedit::Remember(Tcl_DStringValue(&loop->line));
        }
        loop->running = true;
        loop->interrupted = false;
        int code = RecordAndEval(interp, Tcl_DStringValue(&text), TCL_EVAL_GLOBAL);
        loop->running = false;
        Tcl_DStringFree(&text);
        bool gone = loop->ended || Tcl_InterpDeleted(interp);
        if (!gone) {
            Tcl_CreateChannelHandler(loop->channel, TCL_READABLE, AsyncInputHandler, loop);
            if (interactive && loop->interrupted && code == TCL_ERROR) {
                EndPromptLine();
            }
            // A loop without a terminal still reports failures.
            if (*Tcl_GetStringResult(interp) != '\0' && (interactive || code != TCL_OK)) {
                OrxX_PrintResult(interp, code, Tcl_DStringValue(&loop->line));
            }
            Tcl_DStringSetLength(&loop->line, 0);
        }
        Tcl_Release(interp);
        Tcl_Release(loop);
        if (gone) {
            return;
        }
    }
    if (interactive) {
        AsyncPrompt(loop, !loop->partial);
    }
    Tcl_ResetResult(interp);
}

// ---------------------------------------------------------------------------
// The commandloop command.

const char kCommandLoopUsage[] =
    "?-async? ?-command? ?-interactive on|off|tty? ?-prompt1 cmd? ?-prompt2 cmd? "
    "?-endcommand cmd?";

// commandloop ?-async? ?-command cmd? ?-interactive on|off|tty? ?-prompt1 cmd?
//             ?-prompt2 cmd? ?-endcommand cmd?
int CommandloopObjCmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    bool async = false;
    bool interactive = tq_isatty(0) != 0;
    // Private copies: the loop runs commands that may change these objects.
    std::string texts[4];
    bool given[4] = {false, false, false, false};
    enum { kCommand, kEndCommand, kPrompt1, kPrompt2 };

    try {
        for (int i = 1; i < objc; i++) {
            const char *arg = Tcl_GetString(objv[i]);
            if (arg[0] != '-') {
                return OrxX_WrongArgs(interp, objv[0], kCommandLoopUsage);
            }
            if (strcmp(arg, "-async") == 0) {
                async = true;
                continue;
            }
            int slot;
            if (strcmp(arg, "-command") == 0) {
                slot = kCommand;
            } else if (strcmp(arg, "-endcommand") == 0) {
                slot = kEndCommand;
            } else if (strcmp(arg, "-prompt1") == 0) {
                slot = kPrompt1;
            } else if (strcmp(arg, "-prompt2") == 0) {
                slot = kPrompt2;
            } else if (strcmp(arg, "-interactive") == 0) {
                slot = -1;
            } else {
                Tcl_SetObjResult(interp,
                                 Tcl_ObjPrintf("unknown option \"%s\", expected one of "
                                               "\"-async\", \"-command\", \"-interactive\", "
                                               "\"-prompt1\", \"-prompt2\", or \"-endcommand\"",
                                               arg));
                return orx::ValueCode(interp, "OPTION", arg);
            }
            if (i + 1 >= objc) {
                Tcl_SetObjResult(interp,
                                 Tcl_ObjPrintf("argument required for %s option", arg));
                return orx::UsageCode(interp);
            }
            i++;
            if (slot < 0) {
                const char *value = Tcl_GetString(objv[i]);
                int flag;
                if (strcmp(value, "tty") == 0) {
                    interactive = true;
                } else if (Tcl_GetBooleanFromObj(interp, objv[i], &flag) != TCL_OK) {
                    return TCL_ERROR;
                } else {
                    interactive = flag != 0;
                }
            } else {
                texts[slot] = Tcl_GetString(objv[i]);
                given[slot] = true;
            }
        }
    } catch (const std::exception &) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj("out of memory in commandloop", -1));
        return TCL_ERROR;
    }

    auto text = [&](int slot) { return given[slot] ? texts[slot].c_str() : nullptr; };
    int options = interactive ? ORXX_CMDLOOP_INTERACTIVE : 0;
    if (async) {
        return OrxX_AsyncCommandLoop(interp, options, text(kCommand), text(kEndCommand),
                                     text(kPrompt1), text(kPrompt2));
    }
    return OrxX_CommandLoop(interp, options, text(kCommand), text(kEndCommand), text(kPrompt1),
                            text(kPrompt2));
}

// End the blocking loop on a read error other than an interrupt.
int InputError(Tcl_Interp *interp, Tcl_DString *buffer, std::function<bool()> &previousInterrupt)
{
    Tcl_DStringFree(buffer);
    OrxX_SetAppSignalErrorHandler(nullptr, nullptr);
    orx::cmdedit::SetInterrupted(std::move(previousInterrupt));
    Tcl_ResetResult(interp);
    orx::AppendResult(interp, "command input error on stdin: ",
                      orx::PosixCode(interp, Tcl_GetErrno()));
    return TCL_ERROR;
}

// Number of words of the first command in script, or -1 when it does not
// parse.
int FirstCommandWords(const char *script)
{
    Tcl_Parse parse;
    if (Tcl_ParseCommand(nullptr, script, -1, 0, &parse) != TCL_OK) {
        return -1;
    }
    int words = parse.numWords;
    Tcl_FreeParse(&parse);
    return words;
}

} // namespace

extern "C" {

int OrxX_CommandLoop(Tcl_Interp *interp, int options, const char *command,
                     const char *endCommand, const char *prompt1, const char *prompt2)
{
    bool interactive = (options & ORXX_CMDLOOP_INTERACTIVE) != 0;
    if (interactive) {
        InterruptibleInput(interp);
    }
    Tcl_DString buffer;
    Tcl_DStringInit(&buffer);
    RestartBuffer(&buffer, command);
    bool partial = false;
    bool interruptedRead = false;
    int reset = 0;
    // While the user edits a line, an interrupt runs the signals at once;
    // an interrupt (Ctrl-C) drops the line, anything else leaves it.
    auto previousInterrupt = orx::cmdedit::SetInterrupted([&] {
        OrxPlat_LineEditor *editor = orx::cmdedit::EditorFor(interp);
        editor->ClearLine();
        int code = Tcl_AsyncInvoke(interp, TCL_OK);
        if (code != TCL_OK && !reset) {
            OrxX_PrintResult(interp, code, nullptr);
            Tcl_ResetResult(interp);
        }
        editor->Redraw();
        return reset != 0;
    });

    // A prompt hook or a command may delete the interpreter: the loop ends.
    Tcl_Preserve(interp);
    for (;;) {
        if (Tcl_InterpDeleted(interp)) {
            break;
        }
        OrxX_SetAppSignalErrorHandler(CommandLoopSignalHandler, &reset);
        if (Tcl_AsyncReady()) {
            int code = Tcl_AsyncInvoke(interp, TCL_OK);
            if (code != TCL_OK && !reset) {
                OrxX_PrintResult(interp, code, nullptr);
            }
        }
        if (reset) {
            RestartBuffer(&buffer, command);
            partial = false;
            WriteText(Tcl_GetStdChannel(TCL_STDOUT), "\n");
        }
        Tcl_Channel in = Tcl_GetStdChannel(TCL_STDIN);
        if (in == nullptr) {
            break;
        }
        OrxPlat_LineEditor *editor = interactive ? orx::cmdedit::EditorFor(interp) : nullptr;
        if (editor != nullptr) {
            std::string prompt = PromptText(interp, !partial, prompt1, prompt2);
            if (Tcl_InterpDeleted(interp)) {
                break;
            }
            reset = 0;
            std::string line;
            OrxPlat_EditStatus status = editor->ReadLine(prompt, &line);
            if (status == ORXPLAT_EDIT_ABANDONED) {
                continue;
            }
            if (status == ORXPLAT_EDIT_END_OF_INPUT) {
                EndPromptLine();
                break;
            }
            if (status == ORXPLAT_EDIT_FAILED) {
                int code = InputError(interp, &buffer, previousInterrupt);
                Tcl_Release(interp);
                return code;
            }
            AppendEditedLine(&buffer, line);
        } else {
            if (interactive && !(interruptedRead && !reset)) {
                OutputPrompt(interp, !partial, prompt1, prompt2);
                if (Tcl_InterpDeleted(interp)) {
                    break;
                }
            }
            reset = 0;
            interruptedRead = false;

            Tcl_SetErrno(0);
            int error = OrxPlat_WaitForInput(in);
            if (error == 0 && Tcl_Gets(in, &buffer) < 0) {
                if (Tcl_Eof(in) || Tcl_InputBlocked(in)) {
                    EndInputPromptLine(interactive);
                    break;
                }
                error = Tcl_GetErrno();
                if (error != EINTR) {
                    int code = InputError(interp, &buffer, previousInterrupt);
                    Tcl_Release(interp);
                    return code;
                }
            }
            if (error == EINTR) {
                interruptedRead = true;
                continue;
            }
        }

        Tcl_DStringAppend(&buffer, "\n", 1);
        if (!Tcl_CommandComplete(Tcl_DStringValue(&buffer))) {
            partial = true;
            continue;
        }
        RememberCommand(Tcl_DStringValue(&buffer), command);
        int code = RecordAndEval(interp, Tcl_DStringValue(&buffer), 0);
        if (reset && code == TCL_ERROR) {
            // Ctrl-C stopped the command: its message goes below the ^C,
            // and no half-typed line needs ending.
            if (interactive) {
                EndPromptLine();
            }
            reset = 0;
        }
        if (interactive || code != TCL_OK) {
            OrxX_PrintResult(interp, code, Tcl_DStringValue(&buffer));
        }
        RestartBuffer(&buffer, command);
        partial = false;
    }

    Tcl_DStringFree(&buffer);
    // The handler's client data lives on this stack frame.
    OrxX_SetAppSignalErrorHandler(nullptr, nullptr);
    orx::cmdedit::SetInterrupted(std::move(previousInterrupt));
    int code = TCL_OK;
    if (!Tcl_InterpDeleted(interp) && endCommand != nullptr &&
        EvalUnlogged(interp, endCommand, 0) == TCL_ERROR) {
        code = TCL_ERROR;
    } else {
        Tcl_ResetResult(interp);
    }
    Tcl_Release(interp);
    return code;
}

int OrxX_AsyncCommandLoop(Tcl_Interp *interp, int options, const char *command,
                          const char *endCommand, const char *prompt1, const char *prompt2)
{
    Tcl_Channel channel = OrxX_GetOpenChannel(interp, "stdin", TCL_READABLE);
    if (channel == nullptr) {
        return TCL_ERROR;
    }
    if (Tcl_SetChannelOption(interp, channel, "-blocking", "no") != TCL_OK) {
        return TCL_ERROR;
    }
    static bool exitHandlerSet = false;
    if (!exitHandlerSet) {
        Tcl_CreateExitHandler(MarkExiting, nullptr);
        exitHandlerSet = true;
    }

    AsyncLoop *loop;
    try {
        loop = new AsyncLoop;
    } catch (const std::exception &) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj("out of memory in commandloop", -1));
        return TCL_ERROR;
    }
    loop->interp = interp;
    loop->channel = channel;
    loop->options = options;
    Tcl_DStringInit(&loop->line);
    bool copied = true;
    auto copy = [&copied](const char *text) {
        char *result = Orx_Ckstrdup(text);
        copied = copied && (text == nullptr || result != nullptr);
        return result;
    };
    loop->command = copy(command);
    loop->endCommand = copy(endCommand);
    loop->prompt1 = copy(prompt1);
    loop->prompt2 = copy(prompt2);
    if (!copied) {
        FreeAsyncLoop(reinterpret_cast<char *>(loop));
        Tcl_SetObjResult(interp, Tcl_NewStringObj("out of memory in commandloop", -1));
        return TCL_ERROR;
    }

    Tcl_CreateCloseHandler(channel, AsyncCloseHandler, loop);
    Tcl_CreateChannelHandler(channel, TCL_READABLE, AsyncInputHandler, loop);
    Tcl_CallWhenDeleted(interp, AsyncInterpDeleted, loop);
    OrxX_SetAppSignalErrorHandler(AsyncSignalHandler, loop);

    if (options & ORXX_CMDLOOP_INTERACTIVE) {
        loop->editor = orx::cmdedit::EditorFor(interp);
        AsyncPrompt(loop, true);
    }
    return TCL_OK;
}

void OrxX_PrintResult(Tcl_Interp *interp, int intResult, const char *checkCmd)
{
    if (checkCmd != nullptr && intResult == TCL_OK && strncmp(checkCmd, "set", 3) == 0 &&
        isspace(static_cast<unsigned char>(checkCmd[3])) && FirstCommandWords(checkCmd) > 2) {
        return;
    }
    Tcl_Obj *result = Tcl_GetObjResult(interp);
    Tcl_IncrRefCount(result);
    if (intResult == TCL_OK) {
        Tcl_Channel out = Tcl_GetStdChannel(TCL_STDOUT);
        if (out != nullptr && *Tcl_GetString(result) != '\0') {
            FlushChannel(TCL_STDERR);
            Tcl_WriteObj(out, result);
            Tcl_WriteChars(out, "\n", 1);
            Tcl_Flush(out);
        }
    } else {
        Tcl_Channel err = Tcl_GetStdChannel(TCL_STDERR);
        if (err != nullptr) {
            FlushChannel(TCL_STDOUT);
            if (intResult != TCL_ERROR) {
                char prefix[40];
                snprintf(prefix, sizeof prefix, "Bad return code (%d): ", intResult);
                Tcl_WriteChars(err, prefix, -1);
            }
            Tcl_WriteObj(err, result);
            Tcl_WriteChars(err, "\n", 1);
            Tcl_Flush(err);
        }
    }
    Tcl_DecrRefCount(result);
}

int OrxXCmdloopInit(Tcl_Interp *interp)
{
    Tcl_CreateObjCommand(interp, "commandloop", CommandloopObjCmd, nullptr, nullptr);
    return TCL_OK;
}

} // extern "C"
