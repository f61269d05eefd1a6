/* Signals and interrupts: the signal and kill commands, the hooks the command
 * loops and the shell entry use to take part in signal handling, and the
 * signal thread through which another shell process delivers a signal to this
 * one.  Signals are caught by one handler, counted, and processed on the
 * interpreter's thread at its next safe point. */
#ifndef ORX_SIGNAL_H
#define ORX_SIGNAL_H

#include <tcl.h>

#include "orx_export.h"

ORX_EXTERN_C_BEGIN

/* Application signal-error handler: called on the interpreter's thread when a
 * signal whose action is "error" is processed, after the error message and
 * errorCode are in place.  background is 1 when no command was running.  The
 * completion code it returns replaces the error (TCL_OK cancels it). */
typedef int(OrxX_AppSignalErrorHandler)(Tcl_Interp *interp, ClientData clientData,
                                        int background, int signalNum);

/* Signal callback: runs inside the catching handler, on whatever thread the
 * signal arrives, before the interpreter is told.  It must be
 * async-signal-safe. */
typedef void(OrxX_SignalCallback)(int signalNum);

/* Give interp signal support and register the commands signal and kill.  The
 * first interpreter creates the process's asynchronous handler and clears the
 * signal tables; deleting an interpreter withdraws its support, and deleting
 * the last one deletes the handler and frees every trap script (dispositions
 * stay as they are).  Every interpreter with signal support must live on the
 * thread of the first one.  TCL_OK, or TCL_ERROR with a message. */
ORX_API int OrxXSignalInit(Tcl_Interp *interp);

/* Install the catching handler for SIGINT when its disposition is the
 * default; an ignored SIGINT or a foreign handler is left in place. */
ORX_API void OrxX_SetupSigInt(void);

/* Set the application signal-error handler and its client data (one slot,
 * the last call wins); a null proc clears it. */
ORX_API void OrxX_SetAppSignalErrorHandler(OrxX_AppSignalErrorHandler *proc,
                                           ClientData clientData);

/* Store callback for signalNum (null clears it).  Numbers outside the host's
 * signal range are ignored. */
ORX_API void OrxX_SetSignalCB(int signalNum, OrxX_SignalCallback *callback);

/* Body of the signal thread; never returns.  pidPath has the form
 * <dir>/pid_tq/<pid> and is a malloc'ed copy the thread takes over.  The
 * thread opens its message endpoint, appends "<pid> <thread id>\n" to
 * <dir>/pid_tq and then raises, in this process, every signal that a kill
 * from another shell process sends it.  Call it on a thread of its own, or
 * use OrxX_StartSignalThread. */
ORX_API void OrxSignalThread(char *pidPath);

/* Start a detached signal thread for pidPath (copied), once per process and
 * path: a further call for the same path shares the running thread.  Returns
 * once the thread's line is in the pid file and its endpoint receives (or
 * the thread gave up, or after 5 s at most): TCL_OK, or TCL_ERROR when the
 * copy or the thread could not be made (with a message when interp is not
 * null). */
ORX_API int OrxX_StartSignalThread(Tcl_Interp *interp, const char *pidPath);

ORX_EXTERN_C_END

#endif
